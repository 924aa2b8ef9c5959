// Saving picked tracks (Save) and all but the picked tracks (SaveInvert)
// through the review window, with every prompt answered: the files written,
// the overwrite warning, cancels, and writes that fail.
#include "dialogs/basefilenamedialog.h"
#include "dialogs/overwriteconfirmdialog.h"
#include "review/tformstrandsight.h"
#include "tasks/taskrunner.h"
#include "testsupport.h"
#include "view/tformtrackview.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

const int kImages = 12;

struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

ModalScript::Step ChooseSaveDirectory(const QString &directory, QString *title = nullptr)
{
    return [directory, title](QWidget *modal) {
        if (title)
            *title = modal->windowTitle();
        ChooseDirectory(modal, directory);
    };
}

ModalScript::Step AnswerOverwrite(bool proceed)
{
    return [proceed](QWidget *modal) {
        auto *dialog = qobject_cast<OverwriteConfirmDialog *>(modal);
        if (!dialog) {
            qWarning("expected the overwrite warning, got a %s", modal->metaObject()->className());
            RejectDialog(modal);
            return;
        }
        (proceed ? dialog->proceedButton : dialog->cancelButton)->click();
    };
}

ModalScript::Step Cancel()
{
    return [](QWidget *modal) { RejectDialog(modal); };
}

ModalScript::Step ReadBox(SeenBox &box)
{
    return ModalScript::Expect<QMessageBox>([&box](QMessageBox *message) {
        box.title = message->windowTitle();
        box.text = message->text();
        box.icon = message->icon();
        message->button(QMessageBox::Ok)->click();
    });
}

// Lowers the largest file this process may write, as a full disk would stop
// a save, for the life of the object; writes then fail with "File too large"
// instead of killing the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit lowered = previous;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit previous {};
    void (*previousHandler)(int) = nullptr;
};

} // namespace

class TestSaving : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveWritesPickedTracksOfEachKind();
    void saveInvertWritesAllButPicked();
    void saveInvertWithOnlyNonErrorPicksWritesNoErrorSet();
    void saveInvertWithAllPickedWritesEmptyFiles();
    void existingFileWarnsAndCancelWritesNothing();
    void existingFileWarnsAndProceedReplaces();
    void differentCaseDoesNotWarn();
    void cancelAtFirstDirectoryCancelsWholeSave();
    void cancelAtBaseFilenameWritesNothing();
    void emptyBaseFilenameAsksAgain();
    void sameDirectoryAndBaseForBothKinds();
    void subdirectoryInPlaceOfTargetRefusedBeforeWriting();
    void fullDiskLeavesEveryOldFile();
    void replacedFilesKeepModeLinksAndUserFiles();
    void savedIntoTheFolderChosen();
    void filesAppearingAfterTheQuestionAskAgain();
    void waitsForAnotherSaveIntoTheFolder();
    void noImagesRefusesBeforeAnyPrompt();
    void noPicksGivesHintFirst();
    void pickedIdMissingFromTableWritesNoLine();

private:
    void Pick(const QStringList &corr, const QStringList &err);
    QString MakeDir(const QString &name) const;
    static QStringList Entries(const QString &directory);
    // The expected content of file image of a set holding tracks ids.
    QByteArray Expected(const QList<unsigned int> &ids, int image, bool error) const;
    QAbstractButton *Button(const char *name) const
    {
        return window->findChild<QAbstractButton *>(QString::fromLatin1(name));
    }
    QListWidget *List(const char *name) const
    {
        return window->findChild<QListWidget *>(QString::fromLatin1(name));
    }

    TFormStrandsight *window = nullptr;
    QTemporaryDir *dir = nullptr;
};

// Non-error tracks 3, 5 and 12, error tracks 7 and 8, over 12 images. Track 12
// has points on even images only and error track 7 on the first six, so some
// files lack some tracks.
void TestSaving::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    window = new TFormStrandsight(nullptr);
    window->show();

    QVERIFY(LoadImagesAndWait(window, WriteImages(MakeDir("images"), kImages, 100, 100)));
    QStringList normal;
    QStringList error;
    for (int i = 0; i < kImages; ++i) {
        QByteArray n = TrackRecord(i, 3, 3) + TrackRecord(i, 5, 5);
        if (i % 2 == 0)
            n += TrackRecord(i, 12, 12);
        QByteArray e = TrackRecord(i, 80, 8);
        if (i < 6)
            e += TrackRecord(i, 70, 7);
        normal << dir->filePath(QStringLiteral("normal%1.txt").arg(i, 2, 10, QLatin1Char('0')));
        error << dir->filePath(QStringLiteral("error%1.txt").arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(WriteText(normal.back(), n));
        QVERIFY(WriteText(error.back(), e));
    }
    QVERIFY(LoadTracksAndWait(window, normal, false));
    QVERIFY(LoadTracksAndWait(window, error, true));
}

void TestSaving::cleanup()
{
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
}

void TestSaving::Pick(const QStringList &corr, const QStringList &err)
{
    List("lwCorr")->clearSelection();
    List("lwErr")->clearSelection();
    for (const QString &id : corr)
        List("lwCorr")->findItems(id, Qt::MatchExactly).front()->setSelected(true);
    for (const QString &id : err)
        List("lwErr")->findItems(id, Qt::MatchExactly).front()->setSelected(true);
    Button("btPickCorr")->click();
    Button("btPickErr")->click();
}

QString TestSaving::MakeDir(const QString &name) const
{
    QDir(dir->path()).mkpath(name);
    return QDir(dir->filePath(name)).absolutePath();
}

QStringList TestSaving::Entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                     QDir::Name);
}

QByteArray TestSaving::Expected(const QList<unsigned int> &ids, int image, bool error) const
{
    const TrackTable &table
        = error ? window->ViewWindow()->errTracks : window->ViewWindow()->corrTracks;
    QByteArray text;
    for (const unsigned int id : ids) {
        const auto track = table.find(id);
        if (track == table.end())
            continue;
        const auto point = track->second.find(static_cast<unsigned int>(image));
        if (point != track->second.end())
            text += TrackRecord(point->second.x, point->second.y, id);
    }
    return text;
}

void TestSaving::saveWritesPickedTracksOfEachKind()
{
    Pick({ "3", "12" }, { "7" });
    QCOMPARE(List("lwPick")->count(), 3);
    const QString normalDir = MakeDir("outNormal");
    const QString errorDir = MakeDir("outError");

    QString firstTitle;
    QString secondTitle;
    ModalScript script({ ChooseSaveDirectory(normalDir, &firstTitle), SubmitBase("picks"),
                         ChooseSaveDirectory(errorDir, &secondTitle), SubmitBase("picks") });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 4);
    QVERIFY(!script.Failed());
    QCOMPARE(firstTitle, QStringLiteral("Choose a Directory for Saving the Non-Error Tracks"));
    QCOMPARE(secondTitle, QStringLiteral("Choose a Directory for Saving the Error Tracks"));

    QStringList names;
    for (int i = 0; i < kImages; ++i)
        names << QStringLiteral("picks%1.txt").arg(i, 2, 10, QLatin1Char('0'));
    QCOMPARE(Entries(normalDir), names);
    QCOMPARE(Entries(errorDir), names);
    for (int i = 0; i < kImages; ++i) {
        QCOMPARE(ReadAll(QDir(normalDir).filePath(names[i])), Expected({ 3, 12 }, i, false));
        QCOMPARE(ReadAll(QDir(errorDir).filePath(names[i])), Expected({ 7 }, i, true));
    }
    // Spot checks against the data written in init: track 3 before track 12.
    QCOMPARE(ReadAll(QDir(normalDir).filePath("picks00.txt")),
             TrackRecord(0, 3, 3) + TrackRecord(0, 12, 12));
    QCOMPARE(ReadAll(QDir(normalDir).filePath("picks01.txt")), TrackRecord(1, 3, 3));
    QCOMPARE(ReadAll(QDir(errorDir).filePath("picks11.txt")), QByteArray());
    // Saving changes nothing in the window.
    QCOMPARE(List("lwPick")->count(), 3);
}

void TestSaving::saveInvertWritesAllButPicked()
{
    Pick({ "3", "12" }, { "7" });
    const QString normalDir = MakeDir("outNormal");
    const QString errorDir = MakeDir("outError");
    ModalScript script({ ChooseSaveDirectory(normalDir), SubmitBase("rest"),
                         ChooseSaveDirectory(errorDir), SubmitBase("rest") });
    Button("btSaveInv")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 4);
    QVERIFY(!script.Failed());
    for (int i = 0; i < kImages; ++i) {
        const QString name = QStringLiteral("rest%1.txt").arg(i, 2, 10, QLatin1Char('0'));
        QCOMPARE(ReadAll(QDir(normalDir).filePath(name)), TrackRecord(i, 5, 5));
        QCOMPARE(ReadAll(QDir(errorDir).filePath(name)), TrackRecord(i, 80, 8));
    }
}

void TestSaving::saveInvertWithOnlyNonErrorPicksWritesNoErrorSet()
{
    Pick({ "5" }, {});
    const QString normalDir = MakeDir("out");
    ModalScript script({ ChooseSaveDirectory(normalDir), SubmitBase("rest") });
    Button("btSaveInv")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QVERIFY(!script.Failed());
    QCOMPARE(Entries(normalDir).size(), kImages);
    QCOMPARE(ReadAll(QDir(normalDir).filePath("rest00.txt")),
             TrackRecord(0, 3, 3) + TrackRecord(0, 12, 12));
}

void TestSaving::saveInvertWithAllPickedWritesEmptyFiles()
{
    Pick({ "3", "5", "12" }, {});
    const QString normalDir = MakeDir("out");
    ModalScript script({ ChooseSaveDirectory(normalDir), SubmitBase("none") });
    Button("btSaveInv")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    const QStringList entries = Entries(normalDir);
    QCOMPARE(entries.size(), kImages);
    for (const QString &name : entries)
        QVERIFY(QFileInfo(QDir(normalDir).filePath(name)).size() == 0);
}

void TestSaving::existingFileWarnsAndCancelWritesNothing()
{
    Pick({ "3" }, {});
    const QString normalDir = MakeDir("out");
    QVERIFY(WriteText(QDir(normalDir).filePath("picks03.txt"), "old"));
    QString warning;
    ModalScript script(
        { ChooseSaveDirectory(normalDir), SubmitBase("picks"), [&warning](QWidget *modal) {
             if (auto *dialog = qobject_cast<OverwriteConfirmDialog *>(modal))
                 warning = dialog->message->text();
             AnswerOverwrite(false)(modal);
         } });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 3);
    QVERIFY(!script.Failed());
    QCOMPARE(warning,
             QStringLiteral("Saving will overwrite existing files in the save directory."));
    QCOMPARE(Entries(normalDir), QStringList({ "picks03.txt" }));
    QCOMPARE(ReadAll(QDir(normalDir).filePath("picks03.txt")), QByteArray("old"));
}

void TestSaving::existingFileWarnsAndProceedReplaces()
{
    Pick({ "3" }, {});
    const QString normalDir = MakeDir("out");
    QVERIFY(WriteText(QDir(normalDir).filePath("picks03.txt"), "old"));
    ModalScript script(
        { ChooseSaveDirectory(normalDir), SubmitBase("picks"), AnswerOverwrite(true) });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 3);
    QVERIFY(!script.Failed());
    QCOMPARE(Entries(normalDir).size(), kImages);
    QCOMPARE(ReadAll(QDir(normalDir).filePath("picks03.txt")), TrackRecord(3, 3, 3));
}

void TestSaving::differentCaseDoesNotWarn()
{
    Pick({ "3" }, {});
    const QString normalDir = MakeDir("out");
    QVERIFY(WriteText(QDir(normalDir).filePath("Picks03.txt"), "other"));
    // An overwrite warning here would be a third modal widget: the script
    // rejects it and reports a failure.
    ModalScript script({ ChooseSaveDirectory(normalDir), SubmitBase("picks") });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QVERIFY(!script.Failed());
    QCOMPARE(Entries(normalDir).size(), kImages + 1);
    QCOMPARE(ReadAll(QDir(normalDir).filePath("Picks03.txt")), QByteArray("other"));
}

// Cancel in the first directory dialog cancels the whole save; later cancels
// end only their own kind (see cancelAtBaseFilenameWritesNothing).
void TestSaving::cancelAtFirstDirectoryCancelsWholeSave()
{
    Pick({ "3" }, { "8" });
    ModalScript script({ Cancel() });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());

    Pick({}, { "8" });
    const QString errorDir = MakeDir("outError");
    ModalScript errorsOnly({ Cancel() });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(errorsOnly.Done(), 1);
    QVERIFY(!errorsOnly.Failed());
    QVERIFY(Entries(errorDir).isEmpty());
}

void TestSaving::cancelAtBaseFilenameWritesNothing()
{
    Pick({ "3" }, { "8" });
    const QString normalDir = MakeDir("outNormal");
    const QString errorDir = MakeDir("outError");
    ModalScript script(
        { ChooseSaveDirectory(normalDir), Cancel(), ChooseSaveDirectory(errorDir), Cancel() });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 4);
    QVERIFY(!script.Failed());
    QVERIFY(Entries(normalDir).isEmpty());
    QVERIFY(Entries(errorDir).isEmpty());
}

void TestSaving::emptyBaseFilenameAsksAgain()
{
    Pick({ "3" }, {});
    const QString normalDir = MakeDir("out");
    SeenBox box;
    QString textOnSecondRun = QStringLiteral("unset");
    ModalScript script({ ChooseSaveDirectory(normalDir), SubmitBase(QString()), ReadBox(box),
                         [&textOnSecondRun](QWidget *modal) {
                             if (auto *dialog = qobject_cast<BaseFilenameDialog *>(modal))
                                 textOnSecondRun = dialog->nameEdit->text();
                             SubmitBase("again")(modal);
                         } });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 4);
    QVERIFY(!script.Failed());
    QCOMPARE(box.text, QStringLiteral("Please choose a valid filename"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(box.title.isEmpty());
    QCOMPARE(textOnSecondRun, QString());
    QCOMPARE(Entries(normalDir).size(), kImages);
    QVERIFY(QFileInfo::exists(QDir(normalDir).filePath("again11.txt")));
}

void TestSaving::sameDirectoryAndBaseForBothKinds()
{
    Pick({ "3" }, { "8" });
    const QString out = MakeDir("out");
    ModalScript script({ ChooseSaveDirectory(out), SubmitBase("same"), ChooseSaveDirectory(out),
                         SubmitBase("same"), AnswerOverwrite(true) });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 5);
    QVERIFY(!script.Failed());
    QCOMPARE(ReadAll(QDir(out).filePath("same04.txt")), TrackRecord(4, 80, 8));
}

void TestSaving::subdirectoryInPlaceOfTargetRefusedBeforeWriting()
{
    Pick({ "3" }, {});
    const QString out = MakeDir("out");
    QVERIFY(QDir(out).mkdir("picks03.txt"));
    SeenBox box;
    ModalScript script(
        { ChooseSaveDirectory(out), SubmitBase("picks"), AnswerOverwrite(true), ReadBox(box) });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 4);
    QVERIFY(!script.Failed());
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(
        box.text,
        QStringLiteral("Failed to create file \"picks03.txt\": %1").arg(qt_error_string(EISDIR)));
    // Checked before anything is written: no file of the set, no temporary.
    QCOMPARE(Entries(out), QStringList({ "picks03.txt" }));
    QVERIFY(QFileInfo(QDir(out).filePath("picks03.txt")).isDir());
}

// Tracks 3 and 5 give 40 bytes per file up to picks09.txt and 42 from
// picks10.txt on (x is the image index): with 41 bytes allowed, the set
// fails after ten complete files.
void TestSaving::fullDiskLeavesEveryOldFile()
{
    Pick({ "3", "5" }, {});
    const QString out = MakeDir("out");
    for (int i = 0; i < kImages; ++i)
        QVERIFY(WriteText(
            QDir(out).filePath(QStringLiteral("picks%1.txt").arg(i, 2, 10, QLatin1Char('0'))),
            "old " + QByteArray::number(i)));
    SeenBox box;
    ModalScript script(
        { ChooseSaveDirectory(out), SubmitBase("picks"), AnswerOverwrite(true), ReadBox(box) });
    {
        FileSizeLimit limit(41);
        Button("btSave")->click();
        QVERIFY(WaitForTasks(window));
    }
    QCOMPARE(script.Done(), 4);
    QVERIFY(!script.Failed());
    QCOMPARE(
        box.text,
        QStringLiteral("Failed to create file \"picks10.txt\": %1").arg(qt_error_string(EFBIG)));
    const QStringList entries = Entries(out);
    QCOMPARE(entries.size(), kImages); // no temporary file left
    for (int i = 0; i < kImages; ++i)
        QCOMPARE(ReadAll(QDir(out).filePath(entries[i])), "old " + QByteArray::number(i));
}

// A private file stays private, a link stays a link to the file it names,
// and of the hidden files only this program's own leftovers, of a process
// that is gone, are cleared from the folder: look-alikes stay.
void TestSaving::replacedFilesKeepModeLinksAndUserFiles()
{
    Pick({ "3" }, {});
    const QString out = MakeDir("out");
    const QString elsewhere = MakeDir("elsewhere");
    const QString privateFile = QDir(out).filePath("picks00.txt");
    QVERIFY(WriteText(privateFile, "old"));
    QVERIFY(QFile::setPermissions(privateFile, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(WriteText(QDir(elsewhere).filePath("linked.txt"), "old"));
    QVERIFY(QFile::link("../elsewhere/linked.txt", QDir(out).filePath("picks01.txt")));
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    QVERIFY(gone > 0 && waitpid(gone, nullptr, 0) == gone);
    const QString leftover = QStringLiteral(".picks05.txt.strandsight-%1-Ab12Cd").arg(gone);
    QVERIFY(WriteText(QDir(out).filePath(leftover), "left by a killed save"));
    QVERIFY(WriteText(QDir(out).filePath(leftover + ".old"), "kept by a killed save"));
    const QStringList lookAlikes
        = { ".notes.txt.backup", ".notes1.txt.backup", ".picks05.txt.Ab12Cd",
            ".picks06.txt.strandsight-backup", ".picks07.txt.strandsight-1-Ab12Cd" };
    for (const QString &name : lookAlikes)
        QVERIFY(WriteText(QDir(out).filePath(name), "not this save's"));

    ModalScript script({ ChooseSaveDirectory(out), SubmitBase("picks"), AnswerOverwrite(true) });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 3);
    QVERIFY(!script.Failed());

    struct stat status;
    QCOMPARE(stat(QFile::encodeName(privateFile).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0600u);
    QCOMPARE(ReadAll(privateFile), TrackRecord(0, 3, 3));
    QVERIFY(QFileInfo(QDir(out).filePath("picks01.txt")).isSymLink());
    QCOMPARE(ReadAll(QDir(elsewhere).filePath("linked.txt")), TrackRecord(1, 3, 3));
    QStringList hidden = QDir(out).entryList(QDir::Hidden | QDir::Files | QDir::System);
    hidden = hidden.filter(QRegularExpression(QStringLiteral("^\\.")));
    QStringList expected = lookAlikes;
    expected.sort();
    QCOMPARE(hidden, expected);
    for (const QString &name : lookAlikes)
        QCOMPARE(ReadAll(QDir(out).filePath(name)), QByteArray("not this save's"));
}

// The set goes into the folder the user chose: a subfolder typed into the
// dialog's line (or selected) and accepted, not the folder the dialog shows.
void TestSaving::savedIntoTheFolderChosen()
{
    Pick({ "5" }, {});
    const QString shown = MakeDir("shown");
    const QString chosen = MakeDir("shown/chosen");
    ModalScript script({ [shown](QWidget *modal) {
                            auto *dialog = qobject_cast<QFileDialog *>(modal);
                            QVERIFY(dialog);
                            dialog->setDirectory(shown);
                            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                                ->setText(QStringLiteral("chosen"));
                            QMetaObject::invokeMethod(dialog, "accept");
                        },
                         SubmitBase("p") });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QVERIFY(!script.Failed());
    QCOMPARE(Entries(shown), QStringList({ "chosen" }));
    QCOMPARE(Entries(chosen).size(), kImages);
    QCOMPARE(ReadAll(QDir(chosen).filePath("p07.txt")), TrackRecord(7, 5, 5));
    QCOMPARE(window->ViewWindow()->statusBar()->currentMessage(),
             QStringLiteral("Saved 12 files to %1").arg(chosen));
}

// Files of the set that appear after the overwrite question was answered (or
// was not needed), from another instance's save say, are not replaced unasked.
void TestSaving::filesAppearingAfterTheQuestionAskAgain()
{
    Pick({ "3" }, {});
    const QString out = MakeDir("out");
    for (const bool proceed : { false, true }) {
        // The save's prompts are answered while an earlier task still runs.
        auto release = std::make_shared<std::atomic<bool>>(false);
        Task blocker;
        blocker.Then([release](TaskControl &) {
            while (!*release)
                QThread::msleep(5);
        });
        window->Tasks()->Run(std::move(blocker));
        QDir(out).removeRecursively();
        MakeDir("out");
        const QString other = QDir(out).filePath("picks03.txt");
        bool askedWithFileThere = false;
        ModalScript script({ ChooseSaveDirectory(out), SubmitBase("picks"), [&](QWidget *modal) {
                                askedWithFileThere = QFileInfo::exists(other);
                                AnswerOverwrite(proceed)(modal);
                            } });
        Button("btSave")->click();
        QCOMPARE(script.Done(), 2);
        QVERIFY(WriteText(other, "another instance's"));
        *release = true;
        QVERIFY(WaitForTasks(window));
        QCOMPARE(script.Done(), 3);
        QVERIFY(!script.Failed());
        QVERIFY(askedWithFileThere);
        if (!proceed) {
            QCOMPARE(Entries(out), QStringList({ "picks03.txt" }));
            QCOMPARE(ReadAll(other), QByteArray("another instance's"));
        } else {
            QCOMPARE(Entries(out).size(), kImages);
            QCOMPARE(ReadAll(other), TrackRecord(3, 3, 3));
        }
    }
}

// Another save holds the folder: this one waits behind the window, with its
// progress and Cancel, and goes ahead once the folder is free.
void TestSaving::waitsForAnotherSaveIntoTheFolder()
{
    Pick({ "3" }, {});
    const QString out = MakeDir("out");
    const QByteArray lockPath = QFile::encodeName(QDir(out).filePath(".strandsight-lock"));
    const int held = open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(held >= 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    QCOMPARE(fcntl(held, F_OFD_SETLK, &lock), 0);
    window->Tasks()->SetProgressDelay(0);
    const QString waiting = QStringLiteral("Waiting for another save into \"%1\" to end").arg(out);
    const auto progressText = [this] {
        auto *progress = window->findChild<QProgressDialog *>(QStringLiteral("saveProgress"));
        return progress ? progress->labelText() : QString();
    };

    for (const bool cancel : { true, false }) {
        ModalScript script({ ChooseSaveDirectory(out), SubmitBase("picks") });
        Button("btSave")->click();
        QCOMPARE(script.Done(), 2);
        QTRY_COMPARE(progressText(), waiting);
        QVERIFY(window->Tasks()->Busy());
        if (cancel)
            window->findChild<QProgressDialog *>(QStringLiteral("saveProgress"))
                ->findChild<QPushButton *>()
                ->click();
        else
            close(held);
        QVERIFY(WaitForTasks(window));
        QVERIFY(!script.Failed());
        QCOMPARE(Entries(out).filter(QRegularExpression(QStringLiteral("^picks"))).size(),
                 cancel ? 0 : kImages);
    }
    // The lock file goes with the save that held it last.
    QCOMPARE(Entries(out).size(), kImages);
}

void TestSaving::noImagesRefusesBeforeAnyPrompt()
{
    QVERIFY(LoadImagesAndWait(window, {}));
    QCOMPARE(window->ViewWindow()->ImageCount(), 0);
    Pick({ "3" }, { "7" });
    for (const char *slot : { "btSave", "btSaveInv" }) {
        SeenBox box;
        ModalScript script({ ReadBox(box) });
        Button(slot)->click();
        QCOMPARE(script.Done(), 1);
        QVERIFY(!script.Failed());
        QCOMPARE(box.text,
                 QStringLiteral("No images are loaded, so no track files can be written."));
        QCOMPARE(box.icon, QMessageBox::Information);
        QVERIFY(box.title.isEmpty());
    }
}

void TestSaving::noPicksGivesHintFirst()
{
    QVERIFY(LoadImagesAndWait(window, {}));
    SeenBox save;
    SeenBox invert;
    ModalScript script({ ReadBox(save) });
    Button("btSave")->click();
    ModalScript second({ ReadBox(invert) });
    Button("btSaveInv")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 1);
    QCOMPARE(second.Done(), 1);
    QCOMPARE(save.text,
             QStringLiteral("Move the tracks you <u>do</u> want to be saved into the "
                            "\"Picked Tracks\" list."));
    QCOMPARE(invert.text,
             QStringLiteral("Move the tracks you <u>do not</u> want to be saved into "
                            "the \"Picked Tracks\" list."));
}

void TestSaving::pickedIdMissingFromTableWritesNoLine()
{
    emit window->ViewWindow()->NewFiber(99, false); // listed, but not in the registry
    Pick({ "99", "5" }, {});
    const QString out = MakeDir("out");
    ModalScript script({ ChooseSaveDirectory(out), SubmitBase("p") });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QCOMPARE(ReadAll(QDir(out).filePath("p02.txt")), TrackRecord(2, 5, 5));
}

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
