#include "review/tformstrandsight.h"

#include "edit/sortedlist.h"
#include "edit/trackeditor.h"
#include "review/tformstrandsightform.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QItemSelection>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QSet>
#include <algorithm>

namespace {

// The pick texts (prefix + id) of the selected entries of source that picks
// does not hold yet. The duplicate test ignores letter case and sees the
// picks found earlier in the same call. A set rather than a search of the
// list per entry: picking thousands of tracks must not take quadratic time.
QStringList NewPicks(const QListWidget *source, const QListWidget *picks, const QString &prefix)
{
    QSet<QString> present;
    for (int row = 0; row < picks->count(); ++row)
        present.insert(picks->item(row)->text().toCaseFolded());
    QStringList added;
    const QList<QListWidgetItem *> selected = source->selectedItems();
    for (const QListWidgetItem *item : selected) {
        const QString pick = prefix + item->text();
        if (!present.contains(pick.toCaseFolded())) {
            present.insert(pick.toCaseFolded());
            added << pick;
        }
    }
    return added;
}

QStringList Texts(const QList<QListWidgetItem *> &items)
{
    QStringList texts;
    texts.reserve(items.size());
    for (const QListWidgetItem *item : items)
        texts << item->text();
    return texts;
}

template <typename Predicate> void DeletePicksWhere(QListWidget *picks, Predicate matches)
{
    for (int row = picks->count() - 1; row >= 0; --row) {
        if (matches(picks->item(row)->text()))
            delete picks->takeItem(row);
    }
}

// Selects exactly the entries whose text is one of ids, in one selection
// change for the whole list, with neighbouring rows joined into one range: the
// view's cost grows with the number of ranges.
void SelectExactly(QListWidget *list, std::vector<unsigned int> ids)
{
    std::sort(ids.begin(), ids.end());
    QItemSelection selection;
    int first = -1;
    for (int row = 0; row <= list->count(); ++row) {
        bool ok = false;
        const unsigned int id = row < list->count() ? list->item(row)->text().toUInt(&ok) : 0;
        const bool selected = ok && std::binary_search(ids.begin(), ids.end(), id);
        if (selected && first < 0) {
            first = row;
        } else if (!selected && first >= 0) {
            selection.select(list->model()->index(first, 0), list->model()->index(row - 1, 0));
            first = -1;
        }
    }
    // Clearing first is the same result as ClearAndSelect, but the model then
    // compares the new ranges with an empty selection instead of the old one,
    // which costs seconds with thousands of ranges.
    list->selectionModel()->clearSelection();
    list->selectionModel()->select(selection, QItemSelectionModel::Select);
}

void ClearSelectionAndCurrent(QListWidget *list) { list->selectionModel()->clear(); }

} // namespace

void TFormStrandsight::DeleteCorrPicks()
{
    DeletePicksWhere(form->lwPick, [](const QString &text) {
        return !text.isEmpty() && text.front() >= u'0' && text.front() <= u'9';
    });
}

void TFormStrandsight::DeleteErrPicks()
{
    DeletePicksWhere(form->lwPick, [](const QString &text) {
        return text.startsWith(u'E', Qt::CaseInsensitive);
    });
}

// Changes of the picked list are steps of the view window's undo history.
void TFormStrandsight::ChangePicks(const QString &name, const QStringList &added,
                                   const QStringList &removed)
{
    if (!added.isEmpty() || !removed.isEmpty())
        viewWindow->Editor()->Apply(PlanPickChange(name, added, removed));
}

void TFormStrandsight::PickCorr()
{
    ChangePicks(tr("Pick"), NewPicks(form->lwCorr, form->lwPick, QString()), {});
}

void TFormStrandsight::PickErr()
{
    ChangePicks(tr("Pick"), NewPicks(form->lwErr, form->lwPick, QStringLiteral("E")), {});
}

void TFormStrandsight::Remove()
{
    ChangePicks(tr("Remove"), {}, Texts(form->lwPick->selectedItems()));
}

void TFormStrandsight::RemoveAll()
{
    QList<QListWidgetItem *> all;
    for (int row = 0; row < form->lwPick->count(); ++row)
        all << form->lwPick->item(row);
    ChangePicks(tr("Remove All"), {}, Texts(all));
}

void TFormStrandsight::SelectAllCorr() { form->lwCorr->selectAll(); }

void TFormStrandsight::SelectAllError() { form->lwErr->selectAll(); }

void TFormStrandsight::SelectAllPick() { form->lwPick->selectAll(); }

void TFormStrandsight::UnselectCorr() { ClearSelectionAndCurrent(form->lwCorr); }

void TFormStrandsight::UnselectError() { ClearSelectionAndCurrent(form->lwErr); }

void TFormStrandsight::UnselectPick() { ClearSelectionAndCurrent(form->lwPick); }

void TFormStrandsight::ShowPick()
{
    std::vector<unsigned int> norms;
    std::vector<unsigned int> errs;
    SplitPickedIds(norms, errs);
    // ShowOnlyFibers searches both lists by bisection; SplitPickedIds sorts them.
    viewWindow->scene->ShowOnlyFibers(norms, errs);
    ShowViewForm();
}

QStringList TFormStrandsight::PickedTexts() const
{
    QStringList texts;
    for (int row = 0; row < form->lwPick->count(); ++row)
        texts << form->lwPick->item(row)->text();
    return texts;
}

void TFormStrandsight::SetPickedTexts(const QStringList &texts)
{
    form->lwPick->clear();
    form->lwPick->addItems(texts);
}

void TFormStrandsight::AddNewLabel(unsigned int label, bool error)
{
    (error ? form->lwErr : form->lwCorr)->addItem(QString::number(label));
}

void TFormStrandsight::FollowEditedIds(bool error, const std::vector<unsigned int> &ids)
{
    const TrackTable &tracks = error ? viewWindow->errTracks : viewWindow->corrTracks;
    QListWidget *list = error ? form->lwErr : form->lwCorr;
    QStringList added;
    QStringList removed;
    for (unsigned int id : ids) {
        const QString text = QString::number(id);
        const bool present = tracks.count(id) > 0;
        if (present != SortedContains(list, text))
            (present ? added : removed) << text;
    }
    ChangeSortedList(list, added, removed);
}

void TFormStrandsight::ShowMaskedSelection(const std::vector<unsigned int> &norms,
                                           const std::vector<unsigned int> &errs)
{
    SelectExactly(form->lwCorr, norms);
    SelectExactly(form->lwErr, errs);
}
