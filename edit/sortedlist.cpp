#include "edit/sortedlist.h"

#include <QListWidget>
#include <QSet>
#include <algorithm>

namespace {

// Above this many texts changed at once the list is filled anew, as loading
// fills the id lists: inserting one by one into a sorted list of tens of
// thousands of entries costs time quadratic in their number.
const qsizetype kChangedOneByOne = 64;

} // namespace

int SortedLowerBound(const QListWidget *list, const QString &text)
{
    int low = 0;
    int high = list->count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (list->item(middle)->text() < text)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

bool SortedContains(const QListWidget *list, const QString &text)
{
    const int row = SortedLowerBound(list, text);
    return row < list->count() && list->item(row)->text() == text;
}

void ChangeSortedList(QListWidget *list, const QStringList &added, const QStringList &removed)
{
    if (added.isEmpty() && removed.isEmpty())
        return;
    if (added.size() + removed.size() <= kChangedOneByOne) {
        for (const QString &text : removed) {
            const int row = SortedLowerBound(list, text);
            while (row < list->count() && list->item(row)->text() == text)
                delete list->takeItem(row);
        }
        for (const QString &text : added) {
            if (!SortedContains(list, text))
                list->addItem(text);
        }
        return;
    }
    const QSet<QString> gone(removed.begin(), removed.end());
    QSet<QString> present;
    QStringList texts;
    texts.reserve(list->count() + added.size());
    for (int row = 0; row < list->count(); ++row) {
        const QString text = list->item(row)->text();
        if (!gone.contains(text)) {
            texts << text;
            present.insert(text);
        }
    }
    for (const QString &text : added) {
        if (!present.contains(text)) {
            texts << text;
            present.insert(text);
        }
    }
    std::sort(texts.begin(), texts.end());
    list->clear();
    list->setSortingEnabled(false);
    list->setUpdatesEnabled(false);
    list->addItems(texts);
    list->setUpdatesEnabled(true);
    list->setSortingEnabled(true);
}
