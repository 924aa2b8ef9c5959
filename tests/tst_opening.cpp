// Opening data without the load dialogs: the command line (its parsing, the
// program's answers and exit codes, the loads it starts and their order) and
// drops of files and folders on either window.
#include "dialogs/tracktypedialog.h"
#include "review/commandline.h"
#include "review/loadselection.h"
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "view/tformtrackview.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGraphicsView>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

namespace {

// Drags urls onto target and drops them there; true when both the drag and
// the drop were taken, as a copy.
bool DropOn(QWidget *target, const QList<QUrl> &urls,
            Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

QList<QUrl> Urls(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    return urls;
}

QStringList Names(const QStringList &paths)
{
    QStringList names;
    for (const QString &path : paths)
        names << QFileInfo(path).fileName();
    return names;
}

} // namespace

class TestOpening : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandLineGivesPathsToTheirOption_data();
    void commandLineGivesPathsToTheirOption();
    void programAnswersHelpVersionAndMistakes_data();
    void programAnswersHelpVersionAndMistakes();
    void folderStandsForWhatTheDialogOffers_data();
    void folderStandsForWhatTheDialogOffers();
    void commandLineLoadsImagesFirstAndNamesMissingPaths();
    void droppedImagesLoad_data();
    void droppedImagesLoad();
    void droppedTrackFolderLoadsAsTheKindChosen_data();
    void droppedTrackFolderLoadsAsTheKindChosen();
    void otherDropsRefused_data();
    void otherDropsRefused();

private:
    QString Write(const QString &name, const QByteArray &text = {}) const;
    QListWidget *List(const char *name) const
    {
        return window->findChild<QListWidget *>(QString::fromLatin1(name));
    }

    TFormStrandsight *window = nullptr;
    QTemporaryDir *dir = nullptr;
};

void TestOpening::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    window = new TFormStrandsight(nullptr);
    window->show();
}

void TestOpening::cleanup()
{
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
}

QString TestOpening::Write(const QString &name, const QByteArray &text) const
{
    return WriteIn(dir->path(), name, text);
}

void TestOpening::commandLineGivesPathsToTheirOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("images");
    QTest::addColumn<QStringList>("nonError");
    QTest::addColumn<QStringList>("error");

    QTest::newRow("nothing") << QStringList() << QStringList() << QStringList() << QStringList();
    QTest::newRow("a glob after each option")
        << QStringList { "--error", "e0.txt", "e1.txt",      "--images", "dir",
                         "s0.tif",  "s1.tif", "--non-error", "normal" }
        << QStringList { "dir", "s0.tif", "s1.tif" } << QStringList { "normal" }
        << QStringList { "e0.txt", "e1.txt" };
    QTest::newRow("repeated, with =, paths like options")
        << QStringList { "--images=a", "b", "--images", "c", "--non-error=-n", "--error=" }
        << QStringList { "a", "b", "c" } << QStringList { "-n" } << QStringList { "" };
}

void TestOpening::commandLineGivesPathsToTheirOption()
{
    QFETCH(QStringList, arguments);
    const CommandLine commandLine(QStringList { "strandsight" } + arguments);
    QCOMPARE(commandLine.request, CommandLine::Open);
    QTEST(commandLine.images, "images");
    QTEST(commandLine.nonError, "nonError");
    QTEST(commandLine.error, "error");
}

void TestOpening::programAnswersHelpVersionAndMistakes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString usage = QStringLiteral("Usage:");
    QTest::newRow("help") << QStringList { "--error", "x", "-h" } << 0 << usage << QString();
    QTest::newRow("version") << QStringList { "--version" } << 0 << "strandsight 1.0" << QString();
    QTest::newRow("unknown option")
        << QStringList { "--images", "a", "--bogus" } << 2 << QString() << "Unknown option 'bogus'";
    QTest::newRow("option without path") << QStringList { "--images", "--error", "e" } << 2
                                         << QString() << "Missing value after '--images'";
    QTest::newRow("last option without path") << QStringList { "--error", "e", "--images" } << 2
                                              << QString() << "Missing value after '--images'";
    // After "--" nothing is an option: the mistake quotes what was typed.
    QTest::newRow("option after --") << QStringList { "--", "--images", "x" } << 2 << QString()
                                     << "\"--images\" follows no option";
    QTest::newRow("path before any option") << QStringList { "slices", "--images", "a" } << 2
                                            << QString() << "\"slices\" follows no option";
}

void TestOpening::programAnswersHelpVersionAndMistakes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcess program;
    program.start(QStringLiteral(STRANDSIGHT_BINARY), arguments);
    QVERIFY(program.waitForFinished(30000));
    const QString stdOut = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QTEST(program.exitCode(), "exitCode");
    if (out.isEmpty()) {
        // A mistake: what was wrong, then the usage, all on stderr.
        QVERIFY2(stdOut.isEmpty(), qPrintable(stdOut));
        QVERIFY2(stdErr.contains(err) && stdErr.indexOf(err) < stdErr.indexOf("Usage:"),
                 qPrintable(stdErr));
    } else {
        QVERIFY2(stdOut.startsWith(out), qPrintable(stdOut));
    }
}

void TestOpening::folderStandsForWhatTheDialogOffers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("offered");

    QTest::newRow("images") << "btLoadImage" << int(LoadKind::Images)
                            << QStringList { "a.tif", "b.TIF", "c.Png", "e.tiff" };
    QTest::newRow("tracks") << "btLoadCorr" << int(LoadKind::Tracks)
                            << QStringList { "READ.TXT", "notes.txt" };
}

void TestOpening::folderStandsForWhatTheDialogOffers()
{
    QFETCH(QString, button);
    QFETCH(int, kind);
    for (const char *name : { "b.TIF", "a.tif", "c.Png", "d.jpeg", "e.tiff", ".hidden.tif",
                              "notes.txt", "READ.TXT", "sub.tif/x.tif", "sub.txt/x.txt" })
        Write(QLatin1String(name));

    QStringList files;
    QString missing;
    QVERIFY(ExpandLoadPaths({ dir->path() }, LoadKind(kind), files, missing));
    QTEST(Names(files), "offered");

    // The names the dialog lists as files in the same folder, in any case.
    QStringList listed;
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        dialog->setDirectory(dir->path());
        auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
        auto *model = qobject_cast<QFileSystemModel *>(view ? view->model() : nullptr);
        QVERIFY(model);
        auto collect = [&] {
            listed.clear();
            for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
                const QModelIndex index = model->index(row, 0, view->rootIndex());
                if (!model->isDir(index) && (model->flags(index) & Qt::ItemIsEnabled))
                    listed << model->fileName(index);
            }
            listed.sort(Qt::CaseSensitive);
            return listed;
        };
        QTRY_COMPARE(collect(), Names(files));
        RejectDialog(dialog);
    } });
    window->findChild<QPushButton *>(button)->click();
    QCOMPARE(script.Done(), 1);
    QCOMPARE(listed, Names(files));
}

void TestOpening::commandLineLoadsImagesFirstAndNamesMissingPaths()
{
    QVERIFY(QDir().mkpath(dir->filePath("images")));
    WriteImages(dir->filePath("images"), 3);
    Write("normal/n0.txt", TrackRecord(1, 1, 4));
    const QString missing = dir->filePath("normal/n1.txt");
    Write("error/e0.txt", TrackRecord(2, 2, 7) + TrackRecord(3, 3, 8));

    QString text;
    int imagesThen = -1;
    int errorIdsThen = -1;
    ModalScript script({ [&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        text = box->windowTitle() + ": " + box->text();
        imagesThen = window->ViewWindow()->ImageCount();
        errorIdsThen = List("lwErr")->count();
        box->button(QMessageBox::Ok)->click();
    } });
    // Relative paths are taken from the working directory, and named in full.
    window->OpenPaths({ dir->filePath("images") },
                      { dir->filePath("normal"), QDir::current().relativeFilePath(missing) },
                      { dir->filePath("error") });
    // The images load behind the windows; the rest follows them.
    QTRY_COMPARE(List("lwErr")->count(), 2);
    QVERIFY(WaitForTasks(window));
    QVERIFY(!script.Failed());
    QCOMPARE(text, QStringLiteral("Error: Could not load \"%1\": it does not exist").arg(missing));
    // The images were in before the non-error tracks failed, the error tracks
    // came after, and one missing file kept its whole set out.
    QCOMPARE(imagesThen, 3);
    QCOMPARE(errorIdsThen, 0);
    QCOMPARE(List("lwCorr")->count(), 0);
    QCOMPARE(List("lwErr")->count(), 2);
    QCOMPARE(window->ViewWindow()->ImageCount(), 3);
}

void TestOpening::droppedImagesLoad_data()
{
    QTest::addColumn<bool>("onView");
    QTest::newRow("review window") << false;
    QTest::newRow("view window's image") << true;
}

void TestOpening::droppedImagesLoad()
{
    QFETCH(bool, onView);
    const QStringList images = WriteImages(dir->path(), 3);
    QWidget *target = window;
    if (onView)
        target = window->ViewWindow()->findChild<QGraphicsView *>()->viewport();

    QVERIFY(DropOn(target, Urls({ images[2], images[0], images[1] })));
    QTRY_COMPARE(window->ViewWindow()->ImageCount(), 3);
}

void TestOpening::droppedTrackFolderLoadsAsTheKindChosen_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("nonErrorIds");
    QTest::addColumn<int>("errorIds");
    QTest::newRow("Error") << "errorButton" << 0 << 2;
    QTest::newRow("Non-Error") << "nonErrorButton" << 2 << 0;
    QTest::newRow("Cancel") << "cancelButton" << 0 << 0;
}

void TestOpening::droppedTrackFolderLoadsAsTheKindChosen()
{
    QFETCH(QString, answer);
    Write("tracks/t0.txt", TrackRecord(1, 1, 4) + TrackRecord(2, 2, 5));

    ModalScript script({ [&](QWidget *modal) {
        auto *prompt = qobject_cast<TrackTypeDialog *>(modal);
        QVERIFY(prompt);
        QCOMPARE(prompt->windowTitle(), QStringLiteral("Select Fiber Type"));
        QPushButton *button = answer == "errorButton" ? prompt->errorButton
            : answer == "nonErrorButton"              ? prompt->nonErrorButton
                                                      : prompt->cancelButton;
        button->click();
    } });
    QVERIFY(DropOn(window->ViewWindow(), Urls({ dir->filePath("tracks") })));
    QTRY_COMPARE(script.Done(), 1);
    QVERIFY(WaitForTasks(window));
    QVERIFY(!script.Failed());
    QTEST(List("lwCorr")->count(), "nonErrorIds");
    QTEST(List("lwErr")->count(), "errorIds");
}

void TestOpening::otherDropsRefused_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<int>("offered");
    const int copy = Qt::CopyAction | Qt::MoveAction;
    QTest::newRow("another kind of file") << QStringList { "notes.pdf" } << false << copy;
    QTest::newRow("images and track files") << QStringList { "a.png", "t.txt" } << false << copy;
    QTest::newRow("two folders") << QStringList { "images", "tracks" } << false << copy;
    QTest::newRow("folder holding both kinds") << QStringList { "both" } << false << copy;
    QTest::newRow("not a local file") << QStringList { "a.png" } << true << copy;
    // Taking a move would let the source delete the user's files.
    QTest::newRow("offered only as a move")
        << QStringList { "images" } << false << int(Qt::MoveAction);
}

void TestOpening::otherDropsRefused()
{
    QFETCH(QStringList, names);
    QFETCH(bool, remote);
    QFETCH(int, offered);
    for (const char *folder : { "images", "both" }) {
        QVERIFY(QDir().mkpath(dir->filePath(folder)));
        WriteImages(dir->filePath(folder), 1);
    }
    WriteImages(dir->path(), 1, 64, 48, "a");
    for (const char *name : { "notes.pdf", "t.txt", "tracks/t0.txt", "both/t0.txt" })
        Write(QLatin1String(name), TrackRecord(1, 1, 4));
    if (QFile::exists(dir->filePath("a000.png")))
        QFile::rename(dir->filePath("a000.png"), dir->filePath("a.png"));

    QList<QUrl> urls;
    for (const QString &name : names)
        urls << (remote ? QUrl("https://example.org/" + name)
                        : QUrl::fromLocalFile(dir->filePath(name)));
    ModalScript script({});
    const Qt::DropActions actions(offered);
    QVERIFY(!DropOn(window, urls, actions));
    QVERIFY(!DropOn(window->ViewWindow()->findChild<QGraphicsView *>()->viewport(), urls, actions));
    QCoreApplication::processEvents();
    QVERIFY(!script.Failed());
    QCOMPARE(window->ViewWindow()->ImageCount(), 0);
    QCOMPARE(List("lwCorr")->count() + List("lwErr")->count(), 0);
}

QTEST_MAIN(TestOpening)
#include "tst_opening.moc"
