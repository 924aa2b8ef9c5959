#include "testsupport.h"

#include "edit/trackeditor.h"
#include "edit/trackedits.h"
#include "model/fiber.h"
#include "review/commandline.h"
#include "review/tformstrandsight.h"
#include "session/recoverystore.h"
#include "session/rememberedsettings.h"
#include "session/sessionformat.h"
#include "session/sessionkeeper.h"
#include "session/trackcsv.h"
#include "table/tformtracktable.h"
#include "table/trackreviewer.h"
#include "table/trackstrip.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/tformtrackviewform.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <cstdio>
#include <sys/stat.h>

using namespace TestSupport;

namespace {

const int kImages = 4;

// Tracks 1 to 3 with a point on every image.
TrackTable LoadedTracks(float shift)
{
    TrackTable table;
    for (unsigned int id = 1; id <= 3; ++id) {
        for (unsigned int image = 0; image < kImages; ++image)
            table[id][image] = { 8.0f * static_cast<float>(id) + shift,
                                 4.0f + static_cast<float>(image) + 0.1f };
    }
    return table;
}

// Writes table as a set of track files folder/t0.txt ...; the paths.
QStringList WriteTrackFiles(const QString &folder, const TrackTable &table)
{
    QStringList paths;
    for (unsigned int image = 0; image < kImages; ++image) {
        QByteArray text;
        for (const auto &[id, points] : table) {
            const auto point = points.find(image);
            if (point != points.end())
                text += TrackRecord(point->second.x, point->second.y, id);
        }
        paths << WriteIn(folder, QStringLiteral("t%1.txt").arg(image), text);
    }
    return paths;
}

// What a reviewer did: picks, a track moved, one deleted, one created; all
// inside the images, so that opening their session warns of nothing.
void EditReview(TFormStrandsight &window)
{
    window.SetPickedTexts({ QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("E9") });
    TFormTrackView *view = window.ViewWindow();
    view->corrTracks[1].insert_or_assign(2u, TrackPoint { 50.5f, 40.25f });
    view->corrTracks.erase(2);
    view->errTracks[9].insert_or_assign(1u, TrackPoint { 3.0f, 4.0f });
    view->NotifyTracksEdited(false, { 1, 2 });
    view->NotifyTracksEdited(true, { 9 });
}

// The review a test builds: images, both kinds of tracks from files.
struct ReviewFiles
{
    QTemporaryDir dir;
    QStringList images;
    QStringList nonError;
    QStringList error;

    ReviewFiles()
    {
        QDir().mkpath(dir.filePath(QStringLiteral("data/images")));
        images = WriteImages(dir.filePath(QStringLiteral("data/images")), kImages);
        nonError = WriteTrackFiles(dir.filePath(QStringLiteral("data/normal")), LoadedTracks(0));
        error = WriteTrackFiles(dir.filePath(QStringLiteral("data/error")), LoadedTracks(1));
    }
    QString Recovery() const { return dir.filePath(QStringLiteral("recovery")); }
    QString Session() const { return dir.filePath(QStringLiteral("data/review.strandsight")); }

    void Load(TFormStrandsight &window) const
    {
        QVERIFY(LoadImagesAndWait(&window, images));
        QVERIFY(LoadTracksAndWait(&window, nonError, false));
        QVERIFY(LoadTracksAndWait(&window, error, true));
    }
};

// files loaded, edited and saved as files.Session(); picks: what it picked.
void SaveEditedSession(const ReviewFiles &files, QStringList &picks)
{
    TFormStrandsight window;
    SessionKeeper keeper(&window, files.Recovery());
    files.Load(window);
    EditReview(window);
    QSignalSpy saved(&keeper, &SessionKeeper::SessionSaved);
    keeper.SaveSession(files.Session());
    QVERIFY(saved.wait(10000));
    picks = window.PickedTexts();
}

// Drags a file onto target and drops it there, as a file manager does.
void DropFile(QWidget *target, const QString &path)
{
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(path) });
    const QPoint at = target->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
}

// A review left by a process that is killed: tracks loaded from folder,
// edited, the recovery session written, "written PATH" printed; then it
// waits to be killed.
int RunKilledReview(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TFormStrandsight window;
    SessionKeeper keeper(&window, QString::fromLocal8Bit(argv[3]));
    keeper.SetAutosaveDelay(0);
    QStringList files;
    const QDir folder(QString::fromLocal8Bit(argv[2]));
    for (const QString &name : folder.entryList({ QStringLiteral("*.txt") }, QDir::Files))
        files << folder.absoluteFilePath(name);
    if (!LoadTracksAndWait(&window, files, false))
        return 1;
    EditReview(window);
    QObject::connect(&keeper, &SessionKeeper::RecoveryWritten, [](const QString &path) {
        std::printf("written %s\n", qPrintable(path));
        std::fflush(stdout);
    });
    return app.exec();
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void recordSurvivesItsFile();
    void damagedSessionsAreRefused_data();
    void damagedSessionsAreRefused();
    void reviewSurvivesSavingAndOpening();
    void savedSessionLeavesNothingToAskAtQuitting();
    void commandLineOpensASession();
    void droppedSessionOpens();
    void changedFilesAreNamedAndCancelChangesNothing();
    void damagedSessionChangesNothing();
    void recoveryFollowsTheReview();
    void recoveryFilesKeepInstancesApart();
    void killedReviewIsRestored();
    void fileMenuComesFirstAndWorks();
    void settingsAreRememberedInTheTestsOwnHome();
};

void TestSession::init() { RememberedSettings::Open()->clear(); }

// Every field of a session comes back from its file; paths below the
// session's folder travel with it, others stay where they are.
void TestSession::recordSurvivesItsFile()
{
    QTemporaryDir dir;
    SessionRecord record;
    record.saved = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 5, 250), Qt::UTC);
    record.images = { { dir.filePath(QStringLiteral("a/images/s0.tif")), 1234,
                        QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 678), Qt::UTC) } };
    record.nonError.source = TrackSource::TrackFiles;
    record.nonError.files = { { QStringLiteral("/elsewhere/t0.txt"), 0, QDateTime() } };
    record.nonError.changes.changed[4][7] = { 0.1f, -2.5e-3f };
    record.nonError.changes.deleted = { 5, 4294967295u };
    record.nonError.reviewed = { 1, 4 };
    record.error.source = TrackSource::Csv;
    record.error.files = { { dir.filePath(QStringLiteral("a/spots.csv")), 10, QDateTime() } };
    record.error.reviewed = { 9 };
    record.picks = QStringList { "4", "E9" };
    record.image = 2;
    record.fitted = false;
    record.zoom = 2.8284271247461903;
    record.centre = QPointF(20.25, 10.5);
    record.currentTrack = { true, true, 9 };
    record.markerRadius = 17;
    record.outlineMarkers = true;
    record.options[QStringLiteral("actionTrackTails")] = true;

    const QByteArray json = SessionToJson(record, dir.filePath(QStringLiteral("a/r.strandsight")));
    QVERIFY2(json.contains("\"path\":\"images/s0.tif\""), json.constData());
    QVERIFY(json.contains("\"path\":\"/elsewhere/t0.txt\""));

    // The folder moved: the relative paths follow it.
    SessionRecord read;
    QString why;
    QVERIFY2(SessionFromJson(json, dir.filePath(QStringLiteral("b/r.strandsight")), read, why),
             qPrintable(why));
    QCOMPARE(read.saved, record.saved);
    QCOMPARE(read.images.size(), size_t(1));
    QCOMPARE(read.images[0].path, dir.filePath(QStringLiteral("b/images/s0.tif")));
    QCOMPARE(read.images[0].size, qint64(1234));
    QCOMPARE(read.images[0].modified, record.images[0].modified);
    QCOMPARE(read.nonError.files[0].path, QStringLiteral("/elsewhere/t0.txt"));
    QCOMPARE(read.nonError.source, TrackSource::TrackFiles);
    QCOMPARE(read.error.source, TrackSource::Csv);
    QCOMPARE(read.error.files[0].path, dir.filePath(QStringLiteral("b/spots.csv")));
    QCOMPARE(DescribeTracks(read.nonError.changes.changed),
             DescribeTracks(record.nonError.changes.changed));
    QCOMPARE(read.nonError.changes.changed[4][7].x, 0.1f);
    QCOMPARE(read.nonError.changes.changed[4][7].y, -2.5e-3f);
    QCOMPARE(read.nonError.changes.deleted, record.nonError.changes.deleted);
    QCOMPARE(read.nonError.reviewed, record.nonError.reviewed);
    QCOMPARE(read.error.reviewed, record.error.reviewed);
    QCOMPARE(read.picks, record.picks);
    QCOMPARE(read.image, 2);
    QCOMPARE(read.fitted, false);
    QCOMPARE(read.zoom, record.zoom);
    QCOMPARE(read.centre, record.centre);
    QVERIFY(read.currentTrack.set && read.currentTrack.error);
    QCOMPARE(read.currentTrack.id, 9u);
    QCOMPARE(read.markerRadius, 17);
    QCOMPARE(read.outlineMarkers, true);
    QCOMPARE(read.options, record.options);
}

void TestSession::damagedSessionsAreRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("why");
    const QByteArray head = "{\"format\":\"Strandsight session\",\"version\":1";
    QTest::newRow("cut short") << head + ",\"picks\":[\"1\""
                               << "not valid JSON";
    QTest::newRow("another file") << QByteArray("{\"name\":\"x\"}") << "not a Strandsight session";
    QTest::newRow("newer") << QByteArray("{\"format\":\"Strandsight session\",\"version\":2}")
                           << "newer version";
    QTest::newRow("no version") << QByteArray("{\"format\":\"Strandsight session\"}")
                                << "no valid format version";
    QTest::newRow("picks not a list") << head + ",\"picks\":\"1\"}"
                                      << "\"picks\" is not a list";
    QTest::newRow("pick not a track") << head + ",\"picks\":[\"X1\"]}"
                                      << "\"picks[0]\"";
    QTest::newRow("point of text")
        << head + ",\"error\":{\"changed\":[{\"id\":3,\"points\":[[0,\"1\",2]]}]}}"
        << "\"error.changed[0].points[0][1]\" is not a coordinate";
    QTest::newRow("id beyond 32 bits") << head + ",\"nonError\":{\"deleted\":[4294967296]}}"
                                       << "\"nonError.deleted[0]\"";
    QTest::newRow("two points on an image")
        << head + ",\"nonError\":{\"changed\":[{\"id\":3,\"points\":[[1,1,1],[1,2,2]]}]}}"
        << "two points on image 1";
    QTest::newRow("file size of text")
        << head + ",\"images\":[{\"path\":\"a.tif\",\"size\":\"9\",\"modified\":null}]}"
        << "\"images[0].size\"";
}

void TestSession::damagedSessionsAreRefused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, why);
    SessionRecord record;
    record.picks = QStringList { "7" };
    QString reason;
    QVERIFY(!SessionFromJson(json, QStringLiteral("/tmp/r.strandsight"), record, reason));
    QVERIFY2(reason.contains(why), qPrintable(reason));
    QCOMPARE(record.picks, QStringList { "7" });
}

// Picks, every change, the image, the zoom and the look come back exactly,
// and the reopened review still tells its changes from the files.
void TestSession::reviewSurvivesSavingAndOpening()
{
    ReviewFiles files;
    // Made first: the outline is remembered as soon as it is set, and would
    // otherwise come to the second window from the settings.
    TFormStrandsight second;
    SessionKeeper reopened(&second, files.Recovery() + QStringLiteral("2"));
    TFormStrandsight window;
    SessionKeeper keeper(&window, files.Recovery());
    files.Load(window);
    EditReview(window);
    TFormTrackView *view = window.ViewWindow();
    view->show();
    QVERIFY(window.Reviewer()->GoToTrack({ false, 3 }));
    QVERIFY(window.Reviewer()->GoToTrack({ true, 9 }));
    view->GoToImage(2);
    view->GraphicsView()->ZoomAt(16.0, QPointF(20.0, 10.0));
    view->scene->SetMarkerRadius(17);
    view->Form()->actionOutlineMarkers->setChecked(true);
    const QPointF centre = view->GraphicsView()->ViewCentre();
    QVERIFY(keeper.HasUnsavedChanges());

    QSignalSpy saved(&keeper, &SessionKeeper::SessionSaved);
    keeper.SaveSession(files.Session());
    QVERIFY(saved.wait(10000));
    QVERIFY(!keeper.HasUnsavedChanges());
    QCOMPARE(keeper.SessionPath(), files.Session());

    TFormTrackView *secondView = second.ViewWindow();
    secondView->show();
    QSignalSpy opened(&reopened, &SessionKeeper::SessionOpened);
    reopened.OpenSession(files.Session());
    QVERIFY(opened.wait(10000));

    QCOMPARE(DescribeTracks(secondView->corrTracks), DescribeTracks(view->corrTracks));
    QCOMPARE(DescribeTracks(secondView->errTracks), DescribeTracks(view->errTracks));
    QCOMPARE(second.PickedTexts(), window.PickedTexts());
    QCOMPARE(ListTexts(second.findChild<QListWidget *>(QStringLiteral("lwErr"))),
             (QStringList { "1", "2", "3", "9" }));
    // Markers follow the changes: the created track has one, hidden as a
    // load leaves every marker, and the deleted one has none.
    const Fiber *created = secondView->scene->FindFiber({ true, 9 });
    QVERIFY(created && created->hidden);
    QVERIFY(created->PointOn(1) && created->PointOn(1)->x == 3.0f);
    QVERIFY(!secondView->scene->FindFiber({ false, 2 }));
    QCOMPARE(secondView->scene->CurrentImage(), 2);
    QVERIFY(!secondView->GraphicsView()->IsFitted());
    QCOMPARE(secondView->GraphicsView()->ZoomX(), 16.0);
    const QPointF centreBack = secondView->GraphicsView()->ViewCentre();
    QVERIFY2(std::abs(centreBack.x() - centre.x()) <= 0.5
                 && std::abs(centreBack.y() - centre.y()) <= 0.5,
             qPrintable(QStringLiteral("%1,%2").arg(centreBack.x()).arg(centreBack.y())));
    QCOMPARE(secondView->scene->MarkerRadius(), 17);
    QVERIFY(secondView->scene->OutlineMarkers());
    const TrackReviewer *reviewer = second.Reviewer();
    QCOMPARE(reviewer->ReviewedIds(false), std::vector<unsigned int> { 3 });
    QCOMPARE(reviewer->ReviewedIds(true), std::vector<unsigned int> { 9 });
    QVERIFY(reviewer->HasCurrentTrack());
    QVERIFY(reviewer->CurrentTrack() == (TrackRef { true, 9 }));
    QVERIFY(!reopened.HasUnsavedChanges());
    QCOMPARE(reopened.SessionPath(), files.Session());

    const SessionRecord record = reopened.CurrentRecord();
    QCOMPARE(DescribeTracks(record.nonError.changes.changed),
             DescribeTracks(TrackTable { { 1u, view->corrTracks[1] } }));
    QCOMPARE(record.nonError.changes.deleted, std::vector<unsigned int> { 2 });
    QCOMPARE(DescribeTracks(record.error.changes.changed),
             DescribeTracks(TrackTable { { 9u, view->errTracks[9] } }));
    QCOMPARE(FilePaths(record.nonError.files), files.nonError);

    // Going on to the next track is a change the session does not hold yet.
    QVERIFY(second.Reviewer()->GoToTrack({ false, 1 }));
    QVERIFY(reopened.HasUnsavedChanges());
}

// Edit, save the session: the title loses its star and quitting asks
// nothing. Edit again and quit: asked.
void TestSession::savedSessionLeavesNothingToAskAtQuitting()
{
    ReviewFiles files;
    TFormStrandsight window;
    SessionKeeper keeper(&window, files.Recovery());
    files.Load(window);
    window.show();
    TrackEditor *editor = window.ViewWindow()->Editor();
    const auto edit = [editor](float x) {
        editor->Apply(PlanPlacePoint(editor->Registry(), { false, 1 }, 2, { x, 7.0f }));
    };
    edit(30.0f);
    QCOMPARE(window.windowTitle(), QStringLiteral("Strandsight *"));
    QVERIFY(keeper.HasUnsavedChanges());

    QSignalSpy saved(&keeper, &SessionKeeper::SessionSaved);
    keeper.SaveSession(files.Session());
    QVERIFY(saved.wait(10000));
    QCOMPARE(window.windowTitle(), QStringLiteral("Strandsight"));
    QVERIFY(!keeper.HasUnsavedChanges());
    QStringList asked;
    const auto record = [&asked](QWidget *dialog) {
        asked << dialog->objectName();
        RejectDialog(dialog);
    };
    QAction *quit = window.ViewWindow()->Form()->actionQuit;
    {
        ModalScript none({ record }, 1000);
        quit->trigger();
    }
    QVERIFY(asked.isEmpty());
    QVERIFY(!window.isVisible() && !window.ViewWindow()->isVisible());

    window.show();
    window.ViewWindow()->show();
    edit(31.0f);
    QCOMPARE(window.windowTitle(), QStringLiteral("Strandsight *"));
    QVERIFY(keeper.HasUnsavedChanges());
    {
        ModalScript one({ record });
        quit->trigger();
    }
    QCOMPARE(asked, QStringList { "unsavedChangesBox" });
    QVERIFY(window.isVisible() || window.ViewWindow()->isVisible());
}

void TestSession::commandLineOpensASession()
{
    ReviewFiles files;
    QStringList picks;
    SaveEditedSession(files, picks);
    // The real program sees the option too: the toolkit would take it for
    // its session manager's, and the program would start with the images.
    QProcess program;
    program.start(QStringLiteral(STRANDSIGHT_BINARY),
                  { "--session", files.Session(), "--images", "a" });
    QVERIFY(program.waitForFinished(20000) || (program.kill(), false));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(program.readAllStandardError().contains("cannot be combined"));

    TFormStrandsight window;
    SessionKeeper keeper(&window, files.Recovery() + QStringLiteral("2"));
    QString message;
    ModalScript script({ ModalScript::Expect<QMessageBox>([&message](QMessageBox *box) {
        message = box->text();
        box->accept();
    }) });
    const QString missing = files.dir.filePath(QStringLiteral("gone.strandsight"));
    keeper.Start(CommandLine({ "strandsight", "--session", missing }));
    QTRY_COMPARE_WITH_TIMEOUT(script.Done(), 1, 10000);
    QVERIFY2(message.contains(missing) && message.contains(QLatin1String("does not exist")),
             qPrintable(message));

    QSignalSpy opened(&keeper, &SessionKeeper::SessionOpened);
    keeper.Start(CommandLine({ "strandsight", "--session=" + files.Session() }));
    QVERIFY(opened.wait(10000));
    QCOMPARE(window.PickedTexts(), picks);
    QCOMPARE(window.ViewWindow()->ImageCount(), kImages);
    QVERIFY(!window.ViewWindow()->corrTracks.count(2));
    QCOMPARE(keeper.SessionPath(), files.Session());
}

// On either window; a review with changes asks first.
void TestSession::droppedSessionOpens()
{
    ReviewFiles files;
    QStringList picks;
    SaveEditedSession(files, picks);
    TFormStrandsight window;
    SessionKeeper keeper(&window, files.Recovery() + QStringLiteral("2"));
    window.show();
    window.ViewWindow()->show();
    window.SetPickedTexts({ QStringLiteral("5") });
    QSignalSpy opened(&keeper, &SessionKeeper::SessionOpened);
    QString asked;
    ModalScript script({ ModalScript::Expect<QMessageBox>([&asked](QMessageBox *box) {
        asked = box->text();
        box->button(QMessageBox::Yes)->click();
    }) });
    DropFile(window.ViewWindow()->GraphicsView()->viewport(), files.Session());
    QVERIFY(opened.wait(10000));
    QVERIFY2(asked.contains(QLatin1String("Open the session anyway?")), qPrintable(asked));
    QCOMPARE(window.PickedTexts(), picks);
    QCOMPARE(keeper.SessionPath(), files.Session());

    // The review window takes one as well; without changes nothing is asked.
    QSignalSpy openedAgain(&keeper, &SessionKeeper::SessionOpened);
    window.SetPickedTexts({});
    QSignalSpy saved(&keeper, &SessionKeeper::SessionSaved);
    keeper.SaveSession(files.Session());
    QVERIFY(saved.wait(10000));
    DropFile(&window, files.Session());
    QVERIFY(openedAgain.wait(10000));
    QCOMPARE(script.Done(), 1);
    QVERIFY2(!script.Failed(), qPrintable(script.Seen().join(' ')));
}

void TestSession::changedFilesAreNamedAndCancelChangesNothing()
{
    ReviewFiles files;
    {
        TFormStrandsight window;
        SessionKeeper keeper(&window, files.Recovery());
        files.Load(window);
        QSignalSpy saved(&keeper, &SessionKeeper::SessionSaved);
        keeper.SaveSession(files.Session());
        QVERIFY(saved.wait(10000));
    }
    QVERIFY(WriteText(files.nonError[1], TrackRecord(1, 1, 1)));
    QVERIFY(QFile::remove(files.error[3]));

    TFormStrandsight window;
    SessionKeeper keeper(&window, files.Recovery());
    window.SetPickedTexts({ QStringLiteral("5") });
    QString named;
    ModalScript cancel({ ModalScript::Expect<QMessageBox>([](QMessageBox *box) {
                             QVERIFY2(box->text().contains(QLatin1String("unsaved changes")),
                                      qPrintable(box->text()));
                             box->button(QMessageBox::Yes)->click();
                         }),
                         ModalScript::Expect<QMessageBox>([&named](QMessageBox *box) {
                             named = box->text();
                             box->button(QMessageBox::Cancel)->click();
                         }) });
    keeper.OpenSession(files.Session());
    QTRY_COMPARE_WITH_TIMEOUT(cancel.Done(), 2, 10000);
    QTRY_VERIFY(!window.Tasks()->Busy());
    QVERIFY2(named.contains(files.nonError[1] + QStringLiteral(" (changed)"))
                 && named.contains(files.error[3] + QStringLiteral(" (missing)")),
             qPrintable(named));
    QVERIFY(!named.contains(files.nonError[0]));
    QCOMPARE(window.PickedTexts(), QStringList { "5" });
    QVERIFY(window.ViewWindow()->corrTracks.empty());
    QCOMPARE(window.ViewWindow()->ImageCount(), 0);
}

void TestSession::damagedSessionChangesNothing()
{
    QTemporaryDir dir;
    const QString path = WriteIn(dir.path(), QStringLiteral("cut.strandsight"),
                                 "{\"format\":\"Strandsight session\",\"version\":1,\"pi");
    TFormStrandsight window;
    SessionKeeper keeper(&window, dir.filePath(QStringLiteral("recovery")));
    window.ReplaceTrackSet(LoadedTracks(0), false);
    QString message;
    ModalScript script({ ModalScript::Expect<QMessageBox>([&message](QMessageBox *box) {
        message = box->text();
        box->accept();
    }) });
    keeper.OpenSession(path);
    QTRY_COMPARE_WITH_TIMEOUT(script.Done(), 1, 10000);
    QVERIFY2(message.contains(path) && message.contains(QLatin1String("not valid JSON")),
             qPrintable(message));
    QCOMPARE(DescribeTracks(window.ViewWindow()->corrTracks), DescribeTracks(LoadedTracks(0)));
    QVERIFY(keeper.SessionPath().isEmpty());

    // A pipe in place of a session or a table is refused at once: reading it
    // would wait for a writer that never comes.
    const QString pipe = dir.filePath(QStringLiteral("pipe.strandsight"));
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    SessionRecord record;
    QString why;
    QVERIFY(!ReadSessionFile(pipe, record, why));
    QVERIFY2(why.contains(QLatin1String("not a regular file")), qPrintable(why));
    CsvTracks table;
    QVERIFY(!ReadTracksCsv(pipe, table, why));
    QVERIFY2(why.contains(QLatin1String("not a regular file")), qPrintable(why));

    // A zero-filled file, as a failing disk or an interrupted copy leaves
    // one, is refused by its first bytes: read whole it would take gigabytes
    // of memory (a session) or minutes of scanning one endless line (a table).
    for (const char *name : { "zeros.strandsight", "zeros.csv" }) {
        QFile zeros(dir.filePath(QLatin1String(name)));
        QVERIFY(zeros.open(QIODevice::WriteOnly));
        QVERIFY(zeros.resize(qint64(1) << 30));
        zeros.close();
    }
    QVERIFY(!ReadSessionFile(dir.filePath(QStringLiteral("zeros.strandsight")), record, why));
    QVERIFY2(why.contains(QLatin1String("not a Strandsight session file")), qPrintable(why));
    QVERIFY(!ReadTracksCsv(dir.filePath(QStringLiteral("zeros.csv")), table, why));
    QVERIFY2(why.contains(QLatin1String("binary data")), qPrintable(why));
}

// Written after changes, gone once the review is saved in a session, and
// at quitting written or removed as the review needs.
void TestSession::recoveryFollowsTheReview()
{
    ReviewFiles files;
    TFormStrandsight window;
    auto keeper = std::make_unique<SessionKeeper>(&window, files.Recovery());
    keeper->SetAutosaveDelay(0);
    files.Load(window);
    QSignalSpy written(keeper.get(), &SessionKeeper::RecoveryWritten);
    const QString recovery = keeper->RecoveryPath();
    QVERIFY(!QFileInfo::exists(recovery));

    EditReview(window);
    QVERIFY(written.wait(10000));
    SessionRecord record;
    QString why;
    QVERIFY2(ReadSessionFile(recovery, record, why), qPrintable(why));
    QCOMPARE(record.picks, window.PickedTexts());
    QCOMPARE(record.nonError.changes.deleted, std::vector<unsigned int> { 2 });

    QSignalSpy saved(keeper.get(), &SessionKeeper::SessionSaved);
    keeper->SaveSession(files.Session());
    QVERIFY(saved.wait(10000));
    QTRY_VERIFY(!QFileInfo::exists(recovery));

    window.SetPickedTexts({ QStringLiteral("3") });
    QVERIFY(written.wait(10000));
    window.SetPickedTexts({ QStringLiteral("E3") });
    keeper->SetAutosaveDelay(60000);
    window.SetPickedTexts({ QStringLiteral("E1") });
    keeper->Quitting();
    keeper.reset(); // the last write ends here
    QVERIFY(ReadSessionFile(recovery, record, why));
    QCOMPARE(record.picks, QStringList { "E1" });
    QCOMPARE(record.sessionFile, files.Session());

    keeper = std::make_unique<SessionKeeper>(&window, files.Recovery());
    keeper->Quitting();
    keeper.reset();
    QVERIFY(QFileInfo::exists(recovery)); // another run's: not this one's to remove
}

void TestSession::recoveryFilesKeepInstancesApart()
{
    QTemporaryDir dir;
    auto first = std::make_unique<RecoveryStore>(dir.path());
    const QString firstPath = first->Path();
    QVERIFY(WriteText(firstPath, "{}"));
    RecoveryStore second(dir.path());
    QVERIFY(second.Orphans().isEmpty()); // its run is alive
    QVERIFY(!second.Path().isEmpty());
    QVERIFY(second.Path() != firstPath);

    first.reset(); // as if its process ended
    QCOMPARE(second.Orphans(), QStringList { firstPath });
    RecoveryStore third(dir.path());
    QVERIFY(third.Path() != firstPath); // an orphan is offered, not taken over
    QVERIFY(second.Adopt(firstPath));
    QVERIFY(third.Orphans().isEmpty());
}

void TestSession::killedReviewIsRestored()
{
    QTemporaryDir dir;
    const QString tracks = dir.filePath(QStringLiteral("tracks"));
    WriteTrackFiles(tracks, LoadedTracks(0));
    const QString folder = dir.filePath(QStringLiteral("recovery"));

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--killed-review"), tracks, folder });
    QVERIFY(child.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).contains("written"), 30000);
    child.kill(); // SIGKILL: no handler runs
    QVERIFY(child.waitForFinished());

    // What the review should come back as.
    TFormStrandsight expected;
    QVERIFY(LoadTracksAndWait(
        &expected, WriteTrackFiles(dir.filePath(QStringLiteral("copy")), LoadedTracks(0)), false));
    EditReview(expected);

    TFormStrandsight window;
    SessionKeeper keeper(&window, folder);
    QSignalSpy opened(&keeper, &SessionKeeper::SessionOpened);
    QString asked;
    ModalScript script({ ModalScript::Expect<QMessageBox>([&asked](QMessageBox *box) {
        asked = box->text();
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("Restore"));
        box->defaultButton()->click();
    }) });
    QVERIFY(keeper.OfferRecovery());
    QVERIFY2(asked.startsWith(QLatin1String("Restore the review of ")), qPrintable(asked));
    QVERIFY(opened.wait(10000));
    QCOMPARE(DescribeTracks(window.ViewWindow()->corrTracks),
             DescribeTracks(expected.ViewWindow()->corrTracks));
    QCOMPARE(DescribeTracks(window.ViewWindow()->errTracks),
             DescribeTracks(expected.ViewWindow()->errTracks));
    QCOMPARE(window.PickedTexts(), expected.PickedTexts());
    // Still unsaved, and kept in the same file from now on.
    QVERIFY(keeper.HasUnsavedChanges());
    QCOMPARE(keeper.RecoveryPath(), QString::fromLocal8Bit(out.mid(8).trimmed()));
}

void TestSession::fileMenuComesFirstAndWorks()
{
    QTemporaryDir dir;
    TFormStrandsight window;
    SessionKeeper keeper(&window, dir.path());
    TFormTrackView *view = window.ViewWindow();
    const QList<QAction *> menus = view->menuBar()->actions();
    QCOMPARE(menus.first()->text(), QStringLiteral("File"));
    QStringList texts;
    for (const QAction *action : menus.first()->menu()->actions()) {
        if (!action->isSeparator())
            texts << action->text() + QLatin1Char('|') + action->shortcut().toString();
    }
    QCOMPARE(texts,
             (QStringList { "Open Session...|Ctrl+O", "Save Session|Ctrl+S",
                            "Save Session As...|Ctrl+Shift+S", "Import Tracks from CSV...|",
                            "Export Tracks as CSV...|", "Export View Image...|",
                            "Show Review Window|", "Quit|Ctrl+Q" }));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.close();
    view->Form()->actionShowReviewWindow->trigger();
    QVERIFY(window.isVisible());
    view->Form()->actionQuit->trigger();
    QVERIFY(!window.isVisible());
    QVERIFY(!view->isVisible());
}

void TestSession::settingsAreRememberedInTheTestsOwnHome()
{
    // Nothing of the user's own: not the settings, not the dialogs' history,
    // not in the programs the tests start.
    const QString home = QDir::homePath();
    QVERIFY2(home.startsWith(QDir::tempPath() + QStringLiteral("/strandsight-test-home-")),
             qPrintable(home));
    QVERIFY(RememberedSettings::Open()->fileName().startsWith(home + QLatin1Char('/')));
    QProcess shell;
    shell.start(QStringLiteral("sh"),
                { QStringLiteral("-c"), QStringLiteral("printf %s \"$HOME\"") });
    QVERIFY(shell.waitForFinished());
    QCOMPARE(QString::fromLocal8Bit(shell.readAllStandardOutput()), home);

    QTemporaryDir dir;
    {
        TFormStrandsight window;
        SessionKeeper keeper(&window, dir.path());
        TFormTrackView *view = window.ViewWindow();
        view->scene->SetMarkerRadius(23);
        view->Form()->actionOutlineMarkers->setChecked(true);
        view->Form()->actionTailLength->setData(12);
        view->Form()->actionTrackTails->setChecked(true);
        view->findChild<QAction *>(QStringLiteral("actionTrackStrip"))->setChecked(true);
        window.Reviewer()->ShowTable();
        window.move(5, 100);
        AnswerNextModal([](QWidget *dialog) { RejectDialog(dialog); });
        view->Form()->actionOpenSession->trigger();
        keeper.Quitting();
    }
    QVERIFY(QFileInfo::exists(home + QStringLiteral("/.config/QtProject.conf")));
    TFormStrandsight window;
    SessionKeeper keeper(&window, dir.path());
    TFormTrackView *view = window.ViewWindow();
    QCOMPARE(view->scene->MarkerRadius(), 23);
    QVERIFY(view->Form()->actionOutlineMarkers->isChecked());
    QVERIFY(view->scene->OutlineMarkers());
    QCOMPARE(view->scene->TailLength(), 12);
    QVERIFY(window.Reviewer()->Strip()->isVisibleTo(view));
    QTRY_VERIFY(window.Reviewer()->TableWindow()->isVisible());
    QCOMPARE(window.pos(), QPoint(5, 100));
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--killed-review") == 0)
        return RunKilledReview(argc, argv);
    QApplication app(argc, argv);
    TestSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_session.moc"
