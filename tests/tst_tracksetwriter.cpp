// The all-or-nothing set writer on its own, as an ordinary user: files and
// folders the user protected are refused before anything is written. (Root
// ignores permission bits, so as root the test drops to nobody in a child.)
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

QTEST_GUILESS_MAIN(TestTrackSetWriter)
#include "tst_tracksetwriter.moc"
