#pragma once

#include <QString>
#include <QStringList>

class QListWidget;

// Sorted list widgets (the id lists and the picked list) changed by their
// texts. Such a list sorts by plain comparison of its texts, as QString's
// operator< compares, so a text is found by bisection.

// The first row whose text is not less than text (the count when none is).
int SortedLowerBound(const QListWidget *list, const QString &text);
bool SortedContains(const QListWidget *list, const QString &text);

// Removes every entry with a text of removed, then adds each text of added
// that is not listed yet, keeping the list sorted. Entries that stay keep
// their selection when few texts change.
void ChangeSortedList(QListWidget *list, const QStringList &added, const QStringList &removed);
