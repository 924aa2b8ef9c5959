// Correcting tracks in the view window with the real menus, keys and mouse:
// every edit and its undo and redo compared as whole tables (registry,
// lists, picks, markers), dragged points at the fitted view and zoomed in,
// split ids and join refusals, saving after edits, a long random run undone,
// the history's memory bound, and the unsaved-changes title and prompt.
#include "dialogs/jointrackdialog.h"
#include "edit/trackeditor.h"
#include "edit/trackedits.h"
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>
#include <random>

using namespace TestSupport;

namespace {

QString Dump(const TrackTable &tracks)
{
    QStringList lines;
    for (const auto &[id, points] : tracks) {
        QString line = QString::number(id) + QLatin1Char(':');
        for (const auto &[image, point] : points)
            line += QStringLiteral(" %1@%2,%3").arg(image).arg(point.x).arg(point.y);
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString Dump(const ColorTable &colours)
{
    QStringList entries;
    for (const auto &[id, colour] : colours)
        entries << QStringLiteral("%1=%2").arg(id).arg(colour.name(QColor::HexArgb));
    return entries.join(QLatin1Char(' '));
}

// A track's point on an image (none there: NaN).
TrackPoint PointOf(const TrackTable &tracks, unsigned int id, unsigned int image)
{
    const auto track = tracks.find(id);
    if (track != tracks.end()) {
        const auto point = track->second.find(image);
        if (point != track->second.end())
            return point->second;
    }
    return { float(qQNaN()), float(qQNaN()) };
}

template <typename Marker> TrackTable MarkerTable(const std::vector<Marker *> &markers)
{
    TrackTable table;
    for (const Marker *marker : markers)
        table[marker->id] = marker->points;
    return table;
}

template <typename Marker> ColorTable MarkerColours(const std::vector<Marker *> &markers)
{
    ColorTable colours;
    for (const Marker *marker : markers)
        colours[marker->id] = marker->color;
    return colours;
}

// Corr 1 on images 0-3, corr 2 on 3-5, corr 4 on 0-1; error 1 on 1-2, error
// 4 on 2; six 400 x 300 images.
const char *const kCorr = "1: 0@100,100 1@110,100 2@120,100 3@130,100\n"
                          "2: 3@300,200 4@305,200 5@310,200\n"
                          "4: 0@50,250 1@52,250";
const char *const kErr = "1: 1@200,50 2@205,50\n"
                         "4: 2@350,150";

} // namespace

class TestEditing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void eachEditWithItsUndoAndRedo();
    void dragMovesThePointToThePixelUnderTheCursor();
    void clickPlacesThePointOfTheSelectedTrackOnAnotherImage();
    void splitIdsJoinProposalsAndRefusals();
    void saveAfterEditsWritesTheEditedPoints();
    void randomEditsUndoneGiveBackTheLoadedTables();
    void historyDropsItsOldestStepsPastItsLimit();
    void unsavedChangesInTitleAndWhenQuitting();
    void dragStartingOnAMarkerDrawsTheBand();
    void deletedCurrentTrackIsNoLongerDrawn();

private:
    void LoadSet(const QString &corr, const QString &err);
    QString Capture() const;
    QString Inconsistency() const;
    void StepTo(int image);
    void Hover(QPointF scenePos);
    void Click(QPointF scenePos, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void Drag(QPointF fromScene, QPointF toScene);
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void Pick(const char *list, const QStringList &ids);
    // The current state differs from before; undo gives before back, redo
    // the state again, both consistent.
    void CheckUndoRedo(const QString &before, const QString &name);
    QString Message() const { return view->statusBar()->currentMessage(); }
    QListWidget *List(const char *name) const
    {
        return window->findChild<QListWidget *>(QLatin1String(name));
    }
    QAction *Action(const char *name) const
    {
        return view->findChild<QAction *>(QLatin1String(name));
    }

    QTemporaryDir *dir = nullptr;
    TFormStrandsight *window = nullptr;
    TFormTrackView *view = nullptr;
    TrackGraphicsView *graphics = nullptr;
};

void TestEditing::initTestCase()
{
    // Closing the last window must not end the test's event loops.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestEditing::init()
{
    dir = new QTemporaryDir;
    window = new TFormStrandsight(nullptr);
    view = window->ViewWindow();
    graphics = view->findChild<TrackGraphicsView *>(QStringLiteral("graphicsView"));
    window->show();
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 6, 400, 300)));
    LoadSet(kCorr, kErr);
    view->show();
    view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(view));
    StepTo(0);
}

void TestEditing::cleanup()
{
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
}

// Writes each kind as one file per image and loads it.
void TestEditing::LoadSet(const QString &corr, const QString &err)
{
    for (const bool error : { false, true }) {
        QList<QByteArray> files(6);
        for (const QString &line : (error ? err : corr).split(QLatin1Char('\n'))) {
            const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const unsigned int id = parts.front().chopped(1).toUInt();
            for (qsizetype i = 1; i < parts.size(); ++i) {
                const QStringList place
                    = parts[i].split(QRegularExpression(QStringLiteral("[@,]")));
                files[place[0].toInt()]
                    += TrackRecord(place[1].toDouble(), place[2].toDouble(), id);
            }
        }
        QStringList paths;
        for (int i = 0; i < files.size(); ++i)
            paths << WriteIn(dir->path(), QStringLiteral("%1/t%2.txt").arg(error).arg(i), files[i]);
        QVERIFY(LoadTracksAndWait(window, paths, error));
    }
}

QString TestEditing::Capture() const
{
    return QStringLiteral("corr:\n%1\nerr:\n%2\ncolours: %3 | %4\nlwCorr: %5\nlwErr: %6\npicks: %7")
        .arg(Dump(view->corrTracks), Dump(view->errTracks), Dump(view->corrColors),
             Dump(view->errColors), ListTexts(List("lwCorr")).join(' '),
             ListTexts(List("lwErr")).join(' '), ListTexts(List("lwPick")).join(' '));
}

// Markers and id lists against the registry; empty when they agree.
QString TestEditing::Inconsistency() const
{
    const TrackScene *scene = view->scene;
    QStringList problems;
    if (Dump(MarkerTable(scene->NormalFibers())) != Dump(view->corrTracks)
        || Dump(MarkerTable(scene->ErrorFibers())) != Dump(view->errTracks))
        problems << QStringLiteral("markers differ from the registry");
    if (Dump(MarkerColours(scene->NormalFibers())) != Dump(view->corrColors)
        || Dump(MarkerColours(scene->ErrorFibers())) != Dump(view->errColors))
        problems << QStringLiteral("marker colours differ from the registry");
    for (const bool error : { false, true }) {
        QStringList ids;
        for (const auto &track : error ? view->errTracks : view->corrTracks)
            ids << QString::number(track.first);
        QStringList listed = ListTexts(List(error ? "lwErr" : "lwCorr"));
        ids.sort();
        if (ids != listed)
            problems << QStringLiteral("list %1 holds %2").arg(error).arg(listed.join(' '));
    }
    if (const Fiber *hovered = scene->HoveredFiber()) {
        if (scene->FindFiber({ hovered->error, hovered->id }) != hovered)
            problems << QStringLiteral("the hovered track has no marker");
    }
    return problems.join(QLatin1Char('\n'));
}

void TestEditing::StepTo(int image)
{
    view->findChild<QSlider *>(QStringLiteral("hsImage"))->setValue(image);
    QCOMPARE(view->scene->CurrentImage(), image);
}

void TestEditing::Hover(QPointF scenePos)
{
    const QPoint at = graphics->mapFromScene(scenePos);
    QMouseEvent move(QEvent::MouseMove, at, graphics->viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(graphics->viewport(), &move);
}

void TestEditing::Click(QPointF scenePos, Qt::KeyboardModifiers modifiers)
{
    QTest::mouseClick(graphics->viewport(), Qt::LeftButton, modifiers,
                      graphics->mapFromScene(scenePos));
}

void TestEditing::Drag(QPointF fromScene, QPointF toScene)
{
    DragOnWidget(graphics->viewport(), graphics->mapFromScene(fromScene),
                 graphics->mapFromScene(toScene));
}

// The Edit menu's keys are shortcuts of the view window: it must be active
// (a closed prompt leaves no window active under the offscreen platform).
void TestEditing::Key(int key, Qt::KeyboardModifiers modifiers)
{
    if (!view->isActiveWindow()) {
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view));
    }
    QTest::keyClick(view, static_cast<Qt::Key>(key), modifiers);
}

void TestEditing::Pick(const char *list, const QStringList &ids)
{
    List(list)->clearSelection();
    for (const QString &id : ids)
        List(list)->findItems(id, Qt::MatchExactly).front()->setSelected(true);
    window
        ->findChild<QAbstractButton *>(QString::fromLatin1(list) == QLatin1String("lwErr")
                                           ? QStringLiteral("btPickErr")
                                           : QStringLiteral("btPickCorr"))
        ->click();
}

void TestEditing::CheckUndoRedo(const QString &before, const QString &name)
{
    const QString after = Capture();
    QVERIFY2(after != before, qPrintable(name));
    QCOMPARE(Inconsistency(), QString());
    QCOMPARE(Action("actionUndo")->text(), QStringLiteral("Undo ") + name);
    Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Capture(), before);
    QCOMPARE(Inconsistency(), QString());
    QCOMPARE(Action("actionRedo")->text(), QStringLiteral("Redo ") + name);
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(Capture(), after);
    QCOMPARE(Inconsistency(), QString());
}

void TestEditing::eachEditWithItsUndoAndRedo()
{
    const QString loaded = Capture();
    QCOMPARE(Inconsistency(), QString());
    QVERIFY(!Action("actionUndo")->isEnabled());

    // Picks are steps too.
    Pick("lwCorr", { "2" });
    CheckUndoRedo(loaded, "Pick");
    QString before = Capture();
    Pick("lwErr", { "1" });
    CheckUndoRedo(before, "Pick");
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "2", "E1" }));

    // Delete Point: the track under the pointer, on the current image.
    StepTo(1);
    before = Capture();
    Hover({ 110, 100 });
    Key(Qt::Key_Delete);
    QCOMPARE(Dump(view->corrTracks),
             QStringLiteral("1: 0@100,100 2@120,100 3@130,100\n2: 3@300,200 4@305,200 "
                            "5@310,200\n4: 0@50,250 1@52,250"));
    CheckUndoRedo(before, "Delete Point");

    // Delete Track on the selected marker (the pointer rests elsewhere): the
    // pick goes with it, and comes back with the undo.
    before = Capture();
    Click({ 200, 50 });
    Hover({ 390, 290 });
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(Dump(view->errTracks), QStringLiteral("4: 2@350,150"));
    QCOMPARE(ListTexts(List("lwErr")), QStringList({ "4" }));
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "2" }));
    CheckUndoRedo(before, "Delete Track");

    // Split at image 2: the rest becomes track 5, listed, coloured, named.
    StepTo(2);
    before = Capture();
    Hover({ 120, 100 });
    Key(Qt::Key_S);
    QCOMPARE(Dump(view->corrTracks),
             QStringLiteral("1: 0@100,100\n2: 3@300,200 4@305,200 5@310,200\n4: 0@50,250 "
                            "1@52,250\n5: 2@120,100 3@130,100"));
    QVERIFY2(Message().contains(QLatin1String("track 5")), qPrintable(Message()));
    QVERIFY(view->corrColors.count(5));
    CheckUndoRedo(before, "Split Track");
    // The paths of both parts stay drawn after the pointer left, until the
    // next click: the earlier part's only point, on image 0, shows here.
    Hover({ 390, 290 });
    const QPoint earlier = graphics->mapFromScene(QPointF(100, 100));
    const QRgb background = QColor::fromHsv(74, 200, 200).rgb();
    QVERIFY(graphics->viewport()->grab().toImage().pixel(earlier) != background);
    Click({ 390, 290 });
    QCOMPARE(graphics->viewport()->grab().toImage().pixel(earlier), background);

    // Join, from track 4 on image 1: the proposal is the track that starts
    // right after it ends (5, with no image between), and Enter takes it.
    StepTo(1);
    before = Capture();
    Hover({ 52, 250 });
    QString proposed;
    {
        ModalScript script(
            { ModalScript::Expect<JoinTrackDialog>([&proposed](JoinTrackDialog *prompt) {
                proposed = prompt->idEdit->text();
                QTest::keyClick(prompt, Qt::Key_Return);
            }) });
        Key(Qt::Key_J);
        QCOMPARE(script.Done(), 1);
    }
    QCOMPARE(proposed, QStringLiteral("5"));
    QCOMPARE(Dump(view->corrTracks),
             QStringLiteral("1: 0@100,100\n2: 3@300,200 4@305,200 5@310,200\n4: 0@50,250 "
                            "1@52,250 2@120,100 3@130,100"));
    CheckUndoRedo(before, "Join Tracks");

    // Change Kind: picked track 2 becomes error track 2, picked as E2.
    StepTo(3);
    before = Capture();
    Hover({ 300, 200 });
    Key(Qt::Key_K);
    QCOMPARE(Dump(view->corrTracks),
             QStringLiteral("1: 0@100,100\n4: 0@50,250 1@52,250 2@120,100 3@130,100"));
    QCOMPARE(Dump(view->errTracks),
             QStringLiteral("2: 3@300,200 4@305,200 5@310,200\n4: 2@350,150"));
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "E2" }));
    CheckUndoRedo(before, "Change Kind");

    // Refused: error track 4 exists. Nothing changes, the bar says why.
    before = Capture();
    const int steps = view->Editor()->History()->count();
    Hover({ 130, 100 });
    Key(Qt::Key_K);
    QCOMPARE(Capture(), before);
    QCOMPARE(view->Editor()->History()->count(), steps);
    QVERIFY2(Message().contains(QLatin1String("Id 4 is already taken")), qPrintable(Message()));

    // Remove All, undone, gives every pick back.
    before = Capture();
    window->findChild<QAbstractButton *>(QStringLiteral("btRemoveAllPick"))->click();
    QVERIFY(ListTexts(List("lwPick")).isEmpty());
    CheckUndoRedo(before, "Remove All");

    // Every step back to the loaded tables.
    while (Action("actionUndo")->isEnabled())
        Action("actionUndo")->trigger();
    QCOMPARE(Capture(), loaded);
    QCOMPARE(Inconsistency(), QString());
}

// The kept point is the pixel under the cursor at the release, at the
// fitted view and at 400 %; the marker is drawn there and no longer at its
// old place.
void TestEditing::dragMovesThePointToThePixelUnderTheCursor()
{
    Key(Qt::Key_E);
    QVERIFY(view->findChild<QLabel *>(QStringLiteral("lbMode"))->isVisible());
    const QRgb background = QColor::fromHsv(0, 200, 200).rgb();
    const QList<QPointF> targets { { 140.4, 160.7 }, { 101.3, 118.6 } };
    QPointF from(100, 100);
    for (int zoomed = 0; zoomed < 2; ++zoomed) {
        if (zoomed) {
            Key(Qt::Key_1);
            Key(Qt::Key_Plus);
            Key(Qt::Key_Plus);
            Key(Qt::Key_Plus);
            Key(Qt::Key_Plus);
            graphics->centerOn(120, 120);
            QCOMPARE(graphics->ZoomX(), 4.0);
        }
        const QPointF to = targets[zoomed];
        Drag(from, to);
        const TrackPoint p = PointOf(view->corrTracks, 1, 0);
        QVERIFY2(std::abs(p.x - to.x()) <= 0.5 && std::abs(p.y - to.y()) <= 0.5,
                 qPrintable(QStringLiteral("moved to %1,%2").arg(p.x).arg(p.y)));
        QCOMPARE(Inconsistency(), QString());
        Hover({ 10, 10 });
        const QImage shot = graphics->viewport()->grab().toImage();
        // Only the markers around the old and the new place were drawn
        // again: the same picture as all markers drawn anew.
        view->scene->RepaintMarkers();
        QCOMPARE(graphics->viewport()->grab().toImage(), shot);
        QVERIFY(shot.pixel(graphics->mapFromScene(QPointF(p.x, p.y))) != background);
        // The old place, away from the path to image 1 at (110, 100).
        const QPointF old = from + QPointF(-4, 5);
        QCOMPARE(shot.pixel(graphics->mapFromScene(old)), background);
        from = QPointF(p.x, p.y);
    }
    QCOMPARE(Action("actionUndo")->text(), QStringLiteral("Undo Move Point"));

    // Outside the mode a drag on a marker moves nothing.
    Key(Qt::Key_E);
    const QString before = Capture();
    Drag(from, { 150, 150 });
    QCOMPARE(Capture(), before);
}

// A track is extended over an image the tracker missed: selected on one
// image, it stays the track a click places a point of on the next.
void TestEditing::clickPlacesThePointOfTheSelectedTrackOnAnotherImage()
{
    Key(Qt::Key_E);
    StepTo(3);
    Click({ 300, 200 }); // selects track 2
    StepTo(2);
    const QString before = Capture();
    const auto placed = [this](QPointF at) {
        const PointMap &points = view->corrTracks.at(2);
        const auto point = points.find(2);
        return points.size() == 4 && point != points.end()
            && std::abs(point->second.x - at.x()) <= 0.5
            && std::abs(point->second.y - at.y()) <= 0.5;
    };
    Click({ 290, 190 });
    QVERIFY2(placed({ 290, 190 }), qPrintable(Dump(view->corrTracks)));
    CheckUndoRedo(before, "Add Point");

    // A second click on the same image moves that point.
    Click({ 280, 185 });
    QVERIFY2(placed({ 280, 185 }), qPrintable(Dump(view->corrTracks)));
    QCOMPARE(Action("actionUndo")->text(), QStringLiteral("Undo Move Point"));

    // With two tracks selected a click places nothing and says why.
    StepTo(0);
    Click({ 100, 100 });
    Click({ 50, 250 }, Qt::ControlModifier);
    const QString two = Capture();
    Click({ 200, 200 });
    QCOMPARE(Capture(), two);
    QVERIFY2(Message().contains(QLatin1String("2 tracks are selected")), qPrintable(Message()));
}

void TestEditing::splitIdsJoinProposalsAndRefusals()
{
    TrackEditor *editor = view->Editor();
    const TrackRegistry &registry = editor->Registry();
    const auto colour = [](const PointMap &) { return QColor(Qt::red); };

    // The new id is above every id of the kind, the other kind not counted.
    editor->Apply(PlanSplitTrack(registry, { true, 1 }, 2, colour));
    QCOMPARE(Dump(view->errTracks), QStringLiteral("1: 1@200,50\n4: 2@350,150\n5: 2@205,50"));
    // At or before the first point there is nothing to split off.
    EditPlan refused = PlanSplitTrack(registry, { false, 2 }, 3, colour);
    QVERIFY(refused.Refused());
    QVERIFY2(refused.message.contains(QLatin1String("no point before image 4")),
             qPrintable(refused.message));

    // Proposals: the fewest images between, then the nearest end points.
    QCOMPARE(ProposeJoin(view->corrTracks, 4), std::optional<unsigned int>(2));
    QCOMPARE(ProposeJoin(view->corrTracks, 2), std::optional<unsigned int>(4));
    QCOMPARE(ProposeJoin(view->corrTracks, 1), std::nullopt);

    // Refusals name the shared images, as the status bar counts them.
    EditPlan shared = PlanJoinTracks(registry, { false, 1 }, 2, editor->Picked());
    QVERIFY(shared.Refused());
    QCOMPARE(shared.message,
             QStringLiteral("Tracks 1 and 2 both have a point on image 4: they cannot be "
                            "joined."));
    QVERIFY(PlanJoinTracks(registry, { false, 1 }, 1, editor->Picked()).Refused());
    QVERIFY(PlanJoinTracks(registry, { false, 1 }, 3, editor->Picked()).Refused());

    // Through the prompt: a typed id of an overlapping track changes nothing.
    StepTo(2);
    Hover({ 120, 100 });
    const QString before = Capture();
    ModalScript script({ ModalScript::Expect<JoinTrackDialog>([](JoinTrackDialog *prompt) {
        QVERIFY(prompt->idEdit->text().isEmpty());
        prompt->idEdit->setText(QStringLiteral("2"));
        prompt->joinButton->click();
    }) });
    Key(Qt::Key_J);
    QCOMPARE(script.Done(), 1);
    QCOMPARE(Capture(), before);
    QVERIFY2(Message().contains(QLatin1String("cannot be joined")), qPrintable(Message()));
}

// The edited points are written in the track-file format, byte for byte.
void TestEditing::saveAfterEditsWritesTheEditedPoints()
{
    TrackEditor *editor = view->Editor();
    const TrackRegistry &registry = editor->Registry();
    editor->Apply(PlanPlacePoint(registry, { false, 4 }, 1, { 60.5f, 240.25f }));
    editor->Apply(PlanDeletePoints(registry, { { false, 1 } }, 2, editor->Picked()));
    editor->Apply(PlanChangeKind(registry, { { false, 2 } }, editor->Picked()));
    Pick("lwCorr", { "1", "4" });

    const QString out = QDir(dir->path()).filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    ModalScript script({ [&out](QWidget *modal) { ChooseDirectory(modal, out); },
                         SubmitBase(QStringLiteral("e")) });
    window->findChild<QAbstractButton *>(QStringLiteral("btSave"))->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    const QByteArray expected[6] = { "100.000000\t100.000000\t1\n50.000000\t250.000000\t4\n",
                                     "110.000000\t100.000000\t1\n60.500000\t240.250000\t4\n",
                                     "",
                                     "130.000000\t100.000000\t1\n",
                                     "",
                                     "" };
    for (int i = 0; i < 6; ++i)
        QCOMPARE(ReadAll(QDir(out).filePath(QStringLiteral("e%1.txt").arg(i))), expected[i]);
}

void TestEditing::randomEditsUndoneGiveBackTheLoadedTables()
{
    // 30 tracks of each kind over the six images, some with gaps.
    std::mt19937 random(12345);
    const auto coordinate
        = [&random](int limit) { return std::uniform_int_distribution<int>(1, limit)(random); };
    QString sets[2];
    for (QString &set : sets) {
        QStringList lines;
        for (unsigned int id = 1; id <= 30; ++id) {
            QString line = QString::number(id * 3) + QLatin1Char(':');
            for (int image = 0; image < 6; ++image) {
                if (coordinate(4) > 1)
                    line += QStringLiteral(" %1@%2,%3")
                                .arg(image)
                                .arg(coordinate(399))
                                .arg(coordinate(299));
            }
            if (!line.endsWith(QLatin1Char(':')))
                lines << line;
        }
        set = lines.join(QLatin1Char('\n'));
    }
    LoadSet(sets[0], sets[1]);
    QVERIFY(!Action("actionUndo")->isEnabled()); // a load clears the history
    const QString loaded = Capture();

    TrackEditor *editor = view->Editor();
    const TrackRegistry &registry = editor->Registry();
    const auto anyKey = [&]() -> TrackKey {
        const bool error = coordinate(2) == 2;
        const TrackTable &table = registry.Tracks(error);
        if (table.empty())
            return { error, 1 };
        auto it = table.begin();
        std::advance(it, coordinate(static_cast<int>(table.size())) - 1);
        return { error, it->first };
    };
    int applied = 0;
    while (applied < 200) {
        const int image = coordinate(6) - 1;
        EditPlan plan;
        switch (coordinate(8)) {
        case 1:
            plan = PlanPlacePoint(registry, anyKey(), image,
                                  { float(coordinate(399)), float(coordinate(299)) });
            break;
        case 2:
            plan = PlanDeletePoints(registry, { anyKey(), anyKey() }, image, editor->Picked());
            break;
        case 3:
            plan = PlanDeleteTracks(registry, { anyKey() }, editor->Picked());
            break;
        case 4:
            plan = PlanSplitTrack(registry, anyKey(), image, [&](const PointMap &) {
                return QColor::fromHsv(coordinate(359), 255, 255);
            });
            break;
        case 5: {
            const TrackKey key = anyKey();
            plan = PlanJoinTracks(registry, key, anyKey().id, editor->Picked());
            break;
        }
        case 6:
            plan = PlanChangeKind(registry, { anyKey(), anyKey() }, editor->Picked());
            break;
        case 7: {
            const TrackKey key = anyKey();
            if (!editor->IsPicked(key))
                plan = PlanPickChange(QStringLiteral("Pick"), { PickText(key) }, {});
            break;
        }
        default: {
            const QStringList picks = ListTexts(List("lwPick"));
            if (!picks.isEmpty())
                plan = PlanPickChange(QStringLiteral("Remove"), {},
                                      { picks[coordinate(int(picks.size())) - 1] });
            break;
        }
        }
        if (plan.Refused())
            continue;
        editor->Apply(std::move(plan));
        ++applied;
    }
    QCOMPARE(Inconsistency(), QString());
    const QString edited = Capture();
    QVERIFY(edited != loaded);
    for (int i = 0; i < 200; ++i)
        Action("actionUndo")->trigger();
    QVERIFY(!Action("actionUndo")->isEnabled());
    QCOMPARE(Capture(), loaded);
    QCOMPARE(Inconsistency(), QString());
    for (int i = 0; i < 200; ++i)
        Action("actionRedo")->trigger();
    QCOMPARE(Capture(), edited);
    QCOMPARE(Inconsistency(), QString());
}

void TestEditing::historyDropsItsOldestStepsPastItsLimit()
{
    TrackEditor *editor = view->Editor();
    const TrackRegistry &registry = editor->Registry();
    // Ten moves of one point: steps of equal size.
    for (int i = 1; i <= 10; ++i)
        editor->Apply(PlanPlacePoint(registry, { false, 1 }, 0, { float(100 + i), 100.0f }));
    const qint64 step = editor->HistoryBytes() / 10;
    // Two undone first: a trimmed history keeps them to redo.
    Action("actionUndo")->trigger();
    Action("actionUndo")->trigger();
    editor->SetHistoryLimit(step * 5 + step / 2);
    QVERIFY(editor->HistoryBytes() <= editor->HistoryLimit());
    QCOMPARE(editor->History()->count(), 5);
    QCOMPARE(PointOf(view->corrTracks, 1, 0).x, 108.0f);
    QCOMPARE(Inconsistency(), QString());
    while (Action("actionUndo")->isEnabled())
        Action("actionUndo")->trigger();
    // Steps 1 to 5 are gone: their moves stay.
    QCOMPARE(PointOf(view->corrTracks, 1, 0).x, 105.0f);
    while (Action("actionRedo")->isEnabled())
        Action("actionRedo")->trigger();
    QCOMPARE(PointOf(view->corrTracks, 1, 0).x, 110.0f);

    // Pushing past the limit drops the oldest one by one; the newest always stays.
    editor->Apply(PlanPlacePoint(registry, { false, 1 }, 0, { 120.0f, 100.0f }));
    QCOMPARE(editor->History()->count(), 5);
    editor->SetHistoryLimit(1);
    QCOMPARE(editor->History()->count(), 1);
    Action("actionUndo")->trigger();
    QCOMPARE(PointOf(view->corrTracks, 1, 0).x, 110.0f);
}

void TestEditing::unsavedChangesInTitleAndWhenQuitting()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Strandsight"));
    Pick("lwErr", { "4" });
    QCOMPARE(window->windowTitle(), QStringLiteral("Strandsight *"));
    // Picks are undone where they are made, with the same keys.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(ListTexts(List("lwPick")).isEmpty());
    QTest::keyClick(window, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "E4" }));

    // Saving the picked kind leaves nothing unsaved.
    const QString out = QDir(dir->path()).filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    {
        ModalScript script({ [&out](QWidget *modal) { ChooseDirectory(modal, out); },
                             SubmitBase(QStringLiteral("e")) });
        window->findChild<QAbstractButton *>(QStringLiteral("btSave"))->click();
        QVERIFY(WaitForTasks(window));
        QCOMPARE(script.Done(), 2);
    }
    QCOMPARE(window->windowTitle(), QStringLiteral("Strandsight"));

    // An edit of the other kind: saving the error tracks again does not
    // count as saving it.
    StepTo(0);
    Hover({ 100, 100 });
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(window->windowTitle(), QStringLiteral("Strandsight *"));

    // Closing the review window while the view is open ends nothing: no
    // question. Closing the view then would end the program: asked, and
    // Cancel keeps it open.
    QVERIFY(window->close());
    QString asked;
    {
        ModalScript script({ ModalScript::Expect<QMessageBox>([&asked](QMessageBox *box) {
            asked = box->text();
            for (QAbstractButton *button : box->buttons())
                if (button->text() == QLatin1String("Cancel"))
                    button->click();
        }) });
        QVERIFY(!view->close());
        QCOMPARE(script.Done(), 1);
    }
    QCOMPARE(asked, QStringLiteral("The tracks have unsaved changes. Quit anyway?"));
    QVERIFY(view->isVisible());
    {
        ModalScript script({ ModalScript::Expect<QMessageBox>([](QMessageBox *box) {
            for (QAbstractButton *button : box->buttons())
                if (button->text() == QLatin1String("Quit"))
                    button->click();
        }) });
        QVERIFY(view->close());
        QCOMPARE(script.Done(), 1);
    }

    // A load of the changed kind leaves nothing unsaved, and no history.
    window->show();
    LoadSet(kCorr, kErr);
    QCOMPARE(window->windowTitle(), QStringLiteral("Strandsight"));
    QVERIFY(!Action("actionUndo")->isEnabled());
}

// On a dense set every drag starts on some marker: it still draws the band
// over all it touches; a click without a drag selects the one marker.
void TestEditing::dragStartingOnAMarkerDrawsTheBand()
{
    StepTo(2);
    Drag({ 120, 100 }, { 360, 160 }); // from track 1 over error track 4
    QList<unsigned int> selected;
    for (QGraphicsItem *item : view->scene->selectedItems()) {
        const Fiber *fiber = dynamic_cast<Fiber *>(item);
        selected << fiber->id + (fiber->error ? 100 : 0);
    }
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, (QList<unsigned int> { 1, 104 }));

    Click({ 205, 50 });
    QCOMPARE(view->scene->selectedItems().size(), 1);
    QCOMPARE(dynamic_cast<Fiber *>(view->scene->selectedItems().front())->id, 1u);
    Click({ 350, 150 }, Qt::ControlModifier);
    QCOMPARE(view->scene->selectedItems().size(), 2);
    Click({ 300, 280 });
    QVERIFY(view->scene->selectedItems().isEmpty());
}

// The track under review is drawn with its path; an edit that deletes it
// must leave nothing of it to draw (its marker is gone).
void TestEditing::deletedCurrentTrackIsNoLongerDrawn()
{
    view->scene->SetCurrentTrack(false, 4);
    QVERIFY(view->scene->CurrentFiber());
    TrackEditor *editor = view->Editor();
    editor->Apply(PlanDeleteTracks(editor->Registry(), { { false, 4 } }, editor->Picked()));
    QVERIFY(!view->corrTracks.count(4));
    QCOMPARE(view->scene->CurrentFiber(), nullptr);
    QVERIFY(!view->grab().isNull());
}

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
