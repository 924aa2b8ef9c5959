// The all-or-nothing set writer on its own: files and folders the user
// protected are refused before anything is written (root ignores permission
// bits, so as root the test drops to nobody in a child), and a write that
// fails or is stopped half-way, even among the renames, leaves every file as
// it was, or says exactly which files are new.
#include "model/tracksetwriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const uid_t kNobody = 65534;
const int kCannotDrop = 77;

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteSet(const QStringList &paths, TrackSetWriter::Failure &failure)
{
    TrackSetWriter writer(paths);
    const bool ok = writer.Write(
        [](FILE *file, int index) { return std::fprintf(file, "new %d\n", index) > 0; });
    failure = writer.LastFailure();
    return ok;
}

// Runs body as an ordinary user and returns its result: directly when the
// tests do not run as root, otherwise in a child that became nobody, owning
// directory. kCannotDrop when that was impossible.
int AsOrdinaryUser(const QString &directory, const std::function<int()> &body)
{
    if (geteuid() != 0)
        return body();
    if (chown(QFile::encodeName(directory).constData(), kNobody, kNobody) != 0)
        return kCannotDrop;
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(kCannotDrop);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

class TestTrackSetWriter : public QObject
{
    Q_OBJECT

private slots:
    void protectedFilesAndFoldersRefusedBeforeWriting();
    void failedOrStoppedWritePutsEveryFileBack_data();
    void failedOrStoppedWritePutsEveryFileBack();
};

void TestTrackSetWriter::protectedFilesAndFoldersRefusedBeforeWriting()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString root = temporary.path();
    // The body may run in a child process: it returns the number of the first
    // check that failed, 0 when all held.
    const int result = AsOrdinaryUser(root, [&root]() {
        const QDir dir(root);
        // A read-only file, second in its set: not even the first file of
        // the set is written.
        QFile protectedFile(dir.filePath("set1.txt"));
        if (!protectedFile.open(QIODevice::WriteOnly) || protectedFile.write("old") != 3)
            return 1;
        protectedFile.close();
        if (!protectedFile.setPermissions(QFile::ReadOwner | QFile::ReadGroup))
            return 2;
        TrackSetWriter::Failure failure;
        if (WriteSet({ dir.filePath("set0.txt"), dir.filePath("set1.txt") }, failure))
            return 3;
        if (failure.name != QLatin1String("set1.txt") || failure.reason != qt_error_string(EACCES))
            return 4;
        if (ReadAll(dir.filePath("set1.txt")) != "old"
            || dir.entryList(QDir::Files | QDir::Hidden) != QStringList({ "set1.txt" }))
            return 5;

        // A writable file in a folder the user may not write: it cannot be
        // replaced by renaming, so the set is refused, naming the folder.
        if (!dir.mkdir("locked"))
            return 6;
        QFile inLocked(dir.filePath("locked/set0.txt"));
        if (!inLocked.open(QIODevice::WriteOnly) || inLocked.write("old") != 3)
            return 7;
        inLocked.close();
        if (!QFile::setPermissions(dir.filePath("locked"),
                                   QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                       | QFile::ExeGroup))
            return 8;
        if (WriteSet({ dir.filePath("locked/set0.txt") }, failure))
            return 9;
        if (failure.name != QLatin1String("set0.txt")
            || !failure.reason.contains(qt_error_string(EACCES))
            || !failure.reason.contains(dir.filePath("locked")))
            return 10;
        return ReadAll(dir.filePath("locked/set0.txt")) == "old" ? 0 : 11;
    });
    if (result == kCannotDrop)
        QSKIP("running as root and cannot become nobody: permissions are not checked");
    QCOMPARE(result, 0);
}

void TestTrackSetWriter::failedOrStoppedWritePutsEveryFileBack_data()
{
    QTest::addColumn<int>("stopWriting"); // stop after this many files written, or -1
    QTest::addColumn<bool>("failRename"); // the rename of set3.txt fails
    QTest::addColumn<bool>("loseKept"); // and the kept set2.txt cannot be put back
    QTest::newRow("stopped while writing") << 2 << false << false;
    QTest::newRow("rename fails") << -1 << true << false;
    QTest::newRow("rename fails, a file cannot be put back") << -1 << true << true;
}

// set0.txt is new, set1.txt to set3.txt replace files. A rename failing at
// set3.txt comes after set0.txt to set2.txt are in place.
void TestTrackSetWriter::failedOrStoppedWritePutsEveryFileBack()
{
    QFETCH(int, stopWriting);
    QFETCH(bool, failRename);
    QFETCH(bool, loseKept);
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QDir dir(temporary.path());
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        paths << dir.filePath(QStringLiteral("set%1.txt").arg(i));
        QFile old(paths.back());
        QVERIFY(i == 0 || (old.open(QIODevice::WriteOnly) && old.write("old") == 3));
    }
    // The writer's hidden files of one target, made by this process.
    const auto hidden = [&dir](const QString &name, bool kept) {
        QStringList found;
        for (const QString &file :
             dir.entryList({ QLatin1Char('.') + name + QStringLiteral(".strandsight-*") },
                           QDir::Files | QDir::Hidden)) {
            if (file.endsWith(QLatin1String(".old")) == kept)
                found << file;
        }
        return found;
    };

    TrackSetWriter writer(paths);
    writer.SetProgress([&](TrackSetWriter::Stage stage, int done) {
        if (stage == TrackSetWriter::Stage::Writing && done == stopWriting)
            return false;
        if (stage == TrackSetWriter::Stage::Replacing && done == 3 && failRename) {
            for (const QString &name : hidden("set3.txt", false))
                QFile::remove(dir.filePath(name));
            if (loseKept) {
                for (const QString &name : hidden("set2.txt", true))
                    QFile::remove(dir.filePath(name));
            }
        }
        return true;
    });
    QVERIFY(!writer.Write(
        [](FILE *file, int index) { return std::fprintf(file, "new %d\n", index) > 0; }));
    const TrackSetWriter::Failure &failure = writer.LastFailure();
    QCOMPARE(failure.cancelled, stopWriting >= 0);
    if (failRename) {
        QCOMPARE(failure.name, QStringLiteral("set3.txt"));
        QCOMPARE(failure.reason, qt_error_string(ENOENT));
    }
    QCOMPARE(failure.stillNew, loseKept ? QStringList({ "set2.txt" }) : QStringList());

    // The new file is gone again, the others hold their old content (but
    // the one that could not be put back), and nothing of the writer's stays.
    QVERIFY(!QFile::exists(paths[0]));
    QCOMPARE(ReadAll(paths[1]), QByteArray("old"));
    QCOMPARE(ReadAll(paths[2]), loseKept ? QByteArray("new 2\n") : QByteArray("old"));
    QCOMPARE(ReadAll(paths[3]), QByteArray("old"));
    QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden),
             QStringList({ "set1.txt", "set2.txt", "set3.txt" }));
}

QTEST_GUILESS_MAIN(TestTrackSetWriter)
#include "tst_tracksetwriter.moc"
