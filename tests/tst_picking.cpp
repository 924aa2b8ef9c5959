// The three track lists of the review window and the slots that work on
// them: picking, removing, selecting, showing the picks alone, and answering
// the view window's Mask and NewFiber signals.
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace TestSupport;

class TestPicking : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsSortIdsAsText();
    void pickingTwiceLeavesOneEntry();
    void sameIdOfBothKindsGivesTwoEntries();
    void pickingKeepsSourceSelection();
    void removeDeletesSelectedPicks();
    void removeAllEmptiesPicks();
    void selectAllAndDeselect();
    void showPickShowsOnlyPickedTracks();
    void showPickWithNoPicksHidesAllAndShowsView();
    void errorPicksOfDifferentLengthsShowAndSave();
    void reloadingDropsOnlyThatKindsPicks();
    void maskSelectionReplacesSelection();
    void emptyMaskClearsSelection();
    void newFiberAddsLabel();

private:
    QListWidget *list(const char *name) const
    {
        return window->findChild<QListWidget *>(QString::fromLatin1(name));
    }
    QAbstractButton *button(const char *name) const
    {
        return window->findChild<QAbstractButton *>(QString::fromLatin1(name));
    }
    // Loads one track file holding ids as tracks of the kind, all at (1, 1).
    void LoadIds(const QList<unsigned int> &ids, bool error);
    QListWidgetItem *Item(const char *listName, const QString &text) const;

    TFormStrandsight *window = nullptr;
    QTemporaryDir *dir = nullptr;
    int filesWritten = 0;
};

void TestPicking::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    window = new TFormStrandsight(nullptr);
    window->show();
}

void TestPicking::cleanup()
{
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
}

void TestPicking::LoadIds(const QList<unsigned int> &ids, bool error)
{
    QByteArray text;
    for (const unsigned int id : ids)
        text += TrackRecord(1.0, 1.0, id);
    const QString path = dir->filePath(QStringLiteral("set%1.txt").arg(filesWritten++));
    QVERIFY(WriteText(path, text));
    QVERIFY(LoadTracksAndWait(window, { path }, error));
}

QListWidgetItem *TestPicking::Item(const char *listName, const QString &text) const
{
    const QList<QListWidgetItem *> found = list(listName)->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.front();
}

void TestPicking::listsSortIdsAsText()
{
    LoadIds({ 9, 100, 10 }, false);
    QCOMPARE(ListTexts(list("lwCorr")), QStringList({ "10", "100", "9" }));
    list("lwCorr")->selectAll();
    button("btPickCorr")->click();
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "10", "100", "9" }));
}

void TestPicking::pickingTwiceLeavesOneEntry()
{
    LoadIds({ 12, 30 }, false);
    Item("lwCorr", "12")->setSelected(true);
    button("btPickCorr")->click();
    button("btPickCorr")->click();
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "12" }));
}

void TestPicking::sameIdOfBothKindsGivesTwoEntries()
{
    LoadIds({ 12 }, false);
    LoadIds({ 12, 3 }, true);
    Item("lwCorr", "12")->setSelected(true);
    list("lwErr")->selectAll();
    button("btPickErr")->click();
    button("btPickCorr")->click();
    button("btPickErr")->click();
    // Non-error picks (digits) sort before error picks ("E").
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "12", "E12", "E3" }));
}

void TestPicking::pickingKeepsSourceSelection()
{
    LoadIds({ 1, 2, 3 }, false);
    Item("lwCorr", "1")->setSelected(true);
    Item("lwCorr", "3")->setSelected(true);
    button("btPickCorr")->click();
    QCOMPARE(ListTexts(list("lwCorr")), QStringList({ "1", "2", "3" }));
    QCOMPARE(ListTexts(list("lwCorr"), true), QStringList({ "1", "3" }));
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "1", "3" }));
}

void TestPicking::removeDeletesSelectedPicks()
{
    LoadIds({ 1, 2, 3 }, false);
    list("lwCorr")->selectAll();
    button("btPickCorr")->click();
    button("btRemovePick")->click(); // nothing selected: nothing happens
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "1", "2", "3" }));
    Item("lwPick", "2")->setSelected(true);
    button("btRemovePick")->click();
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "1", "3" }));
}

void TestPicking::removeAllEmptiesPicks()
{
    LoadIds({ 1, 2 }, false);
    LoadIds({ 5 }, true);
    list("lwCorr")->selectAll();
    list("lwErr")->selectAll();
    button("btPickCorr")->click();
    button("btPickErr")->click();
    QCOMPARE(list("lwPick")->count(), 3);
    button("btRemoveAllPick")->click();
    QCOMPARE(list("lwPick")->count(), 0);
}

void TestPicking::selectAllAndDeselect()
{
    LoadIds({ 1, 2 }, false);
    LoadIds({ 3, 4 }, true);
    list("lwCorr")->selectAll();
    button("btPickCorr")->click();

    const struct
    {
        const char *list;
        const char *selectAll;
        const char *deselect;
    } groups[] = {
        { "lwCorr", "btSelectCorr", "btUnselectCorr" },
        { "lwErr", "btSelectErr", "btUnselectErr" },
        { "lwPick", "btSelectAllPick", "btUnselectPick" },
    };
    for (const auto &group : groups) {
        QListWidget *widget = list(group.list);
        widget->clearSelection();
        button(group.selectAll)->click();
        QCOMPARE(ListTexts(widget, true), ListTexts(widget));
        widget->setCurrentRow(1);
        button(group.deselect)->click();
        QVERIFY(ListTexts(widget, true).isEmpty());
        QVERIFY(!widget->currentItem());
        button(group.deselect)->click(); // again, with nothing selected
        QVERIFY(ListTexts(widget, true).isEmpty());
        QCOMPARE(widget->count(), 2);
    }
}

void TestPicking::showPickShowsOnlyPickedTracks()
{
    LoadIds({ 3, 12, 40 }, false);
    LoadIds({ 1, 3, 12 }, true);
    Item("lwCorr", "12")->setSelected(true);
    Item("lwErr", "3")->setSelected(true);
    Item("lwErr", "1")->setSelected(true);
    button("btPickCorr")->click();
    button("btPickErr")->click();
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "12", "E1", "E3" }));

    TFormTrackView *view = window->ViewWindow();
    view->close();
    button("btShowPick")->click();
    QVERIFY(view->isVisible());

    QStringList shown;
    for (const NormalFiber *marker : view->scene->NormalFibers()) {
        if (!marker->hidden)
            shown << QString::number(marker->id);
    }
    for (const ErrorFiber *marker : view->scene->ErrorFibers()) {
        if (!marker->hidden)
            shown << QStringLiteral("E%1").arg(marker->id);
    }
    shown.sort();
    QCOMPARE(shown, QStringList({ "12", "E1", "E3" }));
}

// "E10" is listed before "E9": the picks must still be found by number, for
// showing them and for writing them in ascending id order.
void TestPicking::errorPicksOfDifferentLengthsShowAndSave()
{
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 1, 8, 6)));
    LoadIds({ 9, 10, 11 }, true);
    Item("lwErr", "9")->setSelected(true);
    Item("lwErr", "10")->setSelected(true);
    button("btPickErr")->click();
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "E10", "E9" }));

    button("btShowPick")->click();
    QStringList shown;
    for (const ErrorFiber *marker : window->ViewWindow()->scene->ErrorFibers()) {
        if (!marker->hidden)
            shown << QString::number(marker->id);
    }
    shown.sort();
    QCOMPARE(shown, QStringList({ "10", "9" }));

    const QString out = dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    ModalScript script({ [&out](QWidget *modal) { ChooseDirectory(modal, out); },
                         SubmitBase(QStringLiteral("picks")) });
    button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QCOMPARE(ReadAll(QDir(out).filePath(QStringLiteral("picks0.txt"))),
             TrackRecord(1.0, 1.0, 9) + TrackRecord(1.0, 1.0, 10));
}

void TestPicking::showPickWithNoPicksHidesAllAndShowsView()
{
    LoadIds({ 1, 2 }, false);
    LoadIds({ 3 }, true);
    TFormTrackView *view = window->ViewWindow();
    view->close();
    button("btShowPick")->click();
    QVERIFY(view->isVisible());
    for (const NormalFiber *marker : view->scene->NormalFibers())
        QVERIFY(marker->hidden);
    for (const ErrorFiber *marker : view->scene->ErrorFibers())
        QVERIFY(marker->hidden);
}

void TestPicking::reloadingDropsOnlyThatKindsPicks()
{
    LoadIds({ 1, 2 }, false);
    LoadIds({ 1, 7 }, true);
    list("lwCorr")->selectAll();
    list("lwErr")->selectAll();
    button("btPickCorr")->click();
    button("btPickErr")->click();
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "1", "2", "E1", "E7" }));

    LoadIds({ 1, 9 }, true);
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "1", "2" }));
    QCOMPARE(ListTexts(list("lwErr")), QStringList({ "1", "9" }));

    list("lwErr")->selectAll();
    button("btPickErr")->click();
    LoadIds({ 5 }, false);
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "E1", "E9" }));
    QCOMPARE(ListTexts(list("lwCorr")), QStringList({ "5" }));
}

void TestPicking::maskSelectionReplacesSelection()
{
    LoadIds({ 1, 2, 3, 4 }, false);
    LoadIds({ 5, 6 }, true);
    list("lwCorr")->selectAll();
    button("btPickCorr")->click();
    list("lwCorr")->clearSelection();
    list("lwCorr")->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    Item("lwCorr", "1")->setSelected(true);
    Item("lwCorr", "3")->setSelected(true);
    Item("lwErr", "5")->setSelected(true);

    // Unsorted on purpose: the mask's ids need not be in order.
    emit window->ViewWindow()->Mask(std::vector<unsigned int> { 4, 2 },
                                    std::vector<unsigned int> { 6 });
    QCOMPARE(ListTexts(list("lwCorr"), true), QStringList({ "2", "4" }));
    QCOMPARE(ListTexts(list("lwErr"), true), QStringList({ "6" }));
    // The picked list and the current entry are left alone.
    QCOMPARE(ListTexts(list("lwPick")), QStringList({ "1", "2", "3", "4" }));
    QCOMPARE(list("lwCorr")->currentRow(), 0);
}

void TestPicking::emptyMaskClearsSelection()
{
    LoadIds({ 1, 2 }, false);
    LoadIds({ 3 }, true);
    list("lwCorr")->selectAll();
    list("lwErr")->selectAll();
    emit window->ViewWindow()->Mask(std::vector<unsigned int> {}, std::vector<unsigned int> {});
    QVERIFY(ListTexts(list("lwCorr"), true).isEmpty());
    QVERIFY(ListTexts(list("lwErr"), true).isEmpty());
}

void TestPicking::newFiberAddsLabel()
{
    LoadIds({ 10, 9 }, false);
    emit window->ViewWindow()->NewFiber(100, false);
    emit window->ViewWindow()->NewFiber(7, true);
    emit window->ViewWindow()->NewFiber(9, false);
    QCOMPARE(ListTexts(list("lwCorr")), QStringList({ "10", "100", "9", "9" }));
    QCOMPARE(ListTexts(list("lwErr")), QStringList({ "7" }));
}

QTEST_MAIN(TestPicking)
#include "tst_picking.moc"
