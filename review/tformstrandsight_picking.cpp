#include "review/tformstrandsight.h"

#include "review/tformstrandsightform.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QItemSelection>
#include <QItemSelectionModel>
#include <QListWidget>
#include <algorithm>

namespace {

// Adds the selected entries of source to picks, each under its pick text
// (prefix + id). The duplicate test ignores letter case and sees the picks
// added earlier in the same call.
void PickSelected(QListWidget* source, QListWidget* picks, const QString& prefix)
{
    const QList<QListWidgetItem*> selected = source->selectedItems();
    for (const QListWidgetItem* item : selected) {
        const QString pick = prefix + item->text();
        if (picks->findItems(pick, Qt::MatchFixedString).isEmpty())
            picks->addItem(pick);
    }
}

template <typename Predicate> void DeletePicksWhere(QListWidget* picks, Predicate matches)
{
    for (int row = picks->count() - 1; row >= 0; --row) {
        if (matches(picks->item(row)->text()))
            delete picks->takeItem(row);
    }
}

// Selects exactly the entries whose text is one of ids; one selection change
// for the whole list rather than one per entry.
void SelectExactly(QListWidget* list, std::vector<unsigned int> ids)
{
    std::sort(ids.begin(), ids.end());
    QItemSelection selection;
    for (int row = 0; row < list->count(); ++row) {
        bool ok = false;
        const unsigned int id = list->item(row)->text().toUInt(&ok);
        if (ok && std::binary_search(ids.begin(), ids.end(), id)) {
            const QModelIndex index = list->model()->index(row, 0);
            selection.select(index, index);
        }
    }
    list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void ClearSelectionAndCurrent(QListWidget* list) { list->selectionModel()->clear(); }

} // namespace

void TFormStrandsight::DeleteCorrPicks()
{
    DeletePicksWhere(form->lwPick, [](const QString& text) {
        return !text.isEmpty() && text.front() >= u'0' && text.front() <= u'9';
    });
}

void TFormStrandsight::DeleteErrPicks()
{
    DeletePicksWhere(form->lwPick,
        [](const QString& text) { return text.startsWith(u'E', Qt::CaseInsensitive); });
}

void TFormStrandsight::PickCorr() { PickSelected(form->lwCorr, form->lwPick, QString()); }

void TFormStrandsight::PickErr() { PickSelected(form->lwErr, form->lwPick, QStringLiteral("E")); }

void TFormStrandsight::Remove() { qDeleteAll(form->lwPick->selectedItems()); }

void TFormStrandsight::RemoveAll() { form->lwPick->clear(); }

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

void TFormStrandsight::AddNewLabel(unsigned int label, bool error)
{
    (error ? form->lwErr : form->lwCorr)->addItem(QString::number(label));
}

void TFormStrandsight::ShowMaskedSelection(
    const std::vector<unsigned int>& norms, const std::vector<unsigned int>& errs)
{
    SelectExactly(form->lwCorr, norms);
    SelectExactly(form->lwErr, errs);
}
