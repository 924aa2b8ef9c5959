#include "model/tracksetwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kMaxLinkHops = 40;
const int kFolderLockWaitMs = 5000;

QString Tr(const char *text) { return QCoreApplication::translate("TrackSetWriter", text); }

QByteArray DirectoryOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray FileNameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

// Follows path while it is a symbolic link, as opening it for writing would:
// a dangling link gives the path of the file it would create.
bool ResolveLinks(QByteArray &path, int &error)
{
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat status;
        if (::lstat(path.constData(), &status) != 0) {
            error = errno;
            return error == ENOENT;
        }
        if (!S_ISLNK(status.st_mode))
            return true;
        QByteArray link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.constData(), link.data(), link.size());
        if (length < 0) {
            error = errno;
            return false;
        }
        link.truncate(length);
        path = link.startsWith('/') ? link : DirectoryOf(path) + '/' + link;
    }
    error = ELOOP;
    return false;
}

// The permission bits a new file gets from fopen: 0666 less the umask. Read
// from the kernel rather than by setting the umask, which would race with
// any other thread creating a file.
mode_t NewFileMode()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = status.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return 0666 & ~static_cast<mode_t>(mask);
            }
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// Leftovers of saves that were killed: this writer's hidden temporary files
// (".name12.txt.Ab3xYz": a set's file names end in their number), and the
// ".partPID-N" files of earlier versions whose process is gone.
void RemoveLeftovers(const QByteArray &directory)
{
    static const QRegularExpression temporary(
        QStringLiteral("^\\.[A-Za-z0-9_]*[0-9]\\.txt\\.[A-Za-z0-9]{6}$"));
    static const QRegularExpression partial(
        QStringLiteral("^[A-Za-z0-9_]*[0-9]\\.txt\\.part([0-9]+)-[0-9]+$"));
    QDir folder(QFile::decodeName(directory));
    // Names first: the other files of a large folder are not even looked at.
    folder.setNameFilters({ QStringLiteral(".*.txt.??????"), QStringLiteral("*.txt.part*") });
    const QStringList names = folder.entryList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDir::NoSort);
    for (const QString &name : names) {
        bool stale = temporary.match(name).hasMatch();
        const QRegularExpressionMatch old = partial.match(name);
        if (old.hasMatch()) {
            const pid_t pid = static_cast<pid_t>(old.captured(1).toLongLong());
            stale = pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
        }
        if (stale)
            ::unlink(QFile::encodeName(folder.filePath(name)).constData());
    }
}

// An exclusive lock on a folder for the time a save writes into it, so that a
// save of another instance of the program cannot take this one's temporary
// files for leftovers. The kernel drops it with the process, however it ends.
class FolderLock
{
public:
    explicit FolderLock(const QByteArray &directory)
        : descriptor(::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (descriptor < 0)
            return;
        QElapsedTimer waited;
        waited.start();
        while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            // Where the file system has no such locks, save without one.
            if (errno != EWOULDBLOCK || waited.elapsed() > kFolderLockWaitMs) {
                busy = errno == EWOULDBLOCK;
                return;
            }
            QThread::msleep(20);
        }
    }
    ~FolderLock()
    {
        if (descriptor >= 0)
            ::close(descriptor);
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    bool Busy() const { return busy; }
    // Makes the renames in the folder durable.
    void Sync() const
    {
        if (descriptor >= 0)
            ::fsync(descriptor);
    }

private:
    int descriptor;
    bool busy = false;
};

} // namespace

TrackSetWriter::TrackSetWriter(QStringList targets, Mode mode)
    : targetPaths(std::move(targets))
    , mode(mode)
{
}

bool TrackSetWriter::Write(const Content &content)
{
    failure = {};
    targets.clear();
    if (!Check())
        return false;

    std::map<QByteArray, std::unique_ptr<FolderLock>> locks;
    for (const Target &target : targets) {
        std::unique_ptr<FolderLock> &lock = locks[target.directory];
        if (lock)
            continue;
        lock = std::make_unique<FolderLock>(target.directory);
        if (lock->Busy())
            return Fail(target,
                        Tr("Another save is writing into the folder \"%1\"")
                            .arg(QFile::decodeName(target.directory)));
        if (mode == Save)
            RemoveLeftovers(target.directory);
    }

    for (size_t i = 0; i < targets.size(); ++i) {
        if (!WriteTemporary(targets[i], static_cast<int>(i), content)) {
            RemoveTemporaries();
            return false;
        }
    }
    for (Target &target : targets) {
        if (::rename(target.temporary.constData(), target.path.constData()) != 0) {
            Fail(target, errno);
            RemoveTemporaries();
            return false;
        }
        target.temporary.clear();
    }
    if (mode == Save) {
        for (const auto &lock : locks)
            lock.second->Sync();
    }
    return true;
}

bool TrackSetWriter::Check()
{
    targets.reserve(static_cast<size_t>(targetPaths.size()));
    // What a new file gets, read once for the whole set.
    std::optional<mode_t> newFileMode;
    for (const QString &path : std::as_const(targetPaths)) {
        Target target;
        target.name = QFileInfo(path).fileName();
        target.path = QFile::encodeName(path);
        int error = 0;
        if (!ResolveLinks(target.path, error))
            return Fail(target, error);
        target.directory = DirectoryOf(target.path);

        struct stat status;
        if (::stat(target.path.constData(), &status) == 0) {
            if (S_ISDIR(status.st_mode))
                return Fail(target, EISDIR);
            if (!S_ISREG(status.st_mode))
                return Fail(target, Tr("It is not a regular file"));
            if (::faccessat(AT_FDCWD, target.path.constData(), W_OK, AT_EACCESS) != 0)
                return Fail(target, errno);
            target.exists = true;
            target.mode = status.st_mode & 07777;
            target.owner = status.st_uid;
            target.group = status.st_gid;
        } else if (errno != ENOENT) {
            return Fail(target, errno);
        } else {
            if (!newFileMode)
                newFileMode = NewFileMode();
            target.mode = *newFileMode;
        }
        // The new file is made in the folder and renamed there: both need
        // the folder writable, whatever the file's own permissions.
        if (::faccessat(AT_FDCWD, target.directory.constData(), W_OK | X_OK, AT_EACCESS) != 0)
            return Fail(target,
                        Tr("The folder \"%1\" cannot be written: %2")
                            .arg(QFile::decodeName(target.directory), qt_error_string(errno)));
        targets.push_back(std::move(target));
    }
    return true;
}

bool TrackSetWriter::WriteTemporary(Target &target, int index, const Content &content)
{
    QByteArray name = target.directory + "/." + FileNameOf(target.path) + ".XXXXXX";
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        return Fail(target, errno);
    target.temporary = name;

    if (target.exists) {
        // The owner first: changing it clears set-id bits that the mode
        // then restores. Another owner only works for root; another group
        // for one the user belongs to. Neither is an error otherwise.
        const bool ownerKept = ::fchown(descriptor, target.owner, target.group) == 0
            || ::fchown(descriptor, static_cast<uid_t>(-1), target.group) == 0;
        Q_UNUSED(ownerKept);
    }
    if (::fchmod(descriptor, target.mode) != 0) {
        const int error = errno;
        ::close(descriptor);
        return Fail(target, error);
    }
    FILE *file = ::fdopen(descriptor, "wb");
    if (!file) {
        const int error = errno;
        ::close(descriptor);
        return Fail(target, error);
    }
    std::setvbuf(file, nullptr, _IOFBF, 1 << 16);

    errno = 0;
    bool ok = content(file, index);
    int error = ok ? 0 : errno;
    if (ok && std::fflush(file) != 0) {
        ok = false;
        error = errno;
    }
    if (ok && std::ferror(file)) {
        ok = false;
        error = EIO;
    }
    // On disk before the rename: after a crash the name must lead to the
    // whole new content or to the old, never to an empty file.
    if (ok && mode == Save && ::fsync(::fileno(file)) != 0) {
        ok = false;
        error = errno;
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    return ok || Fail(target, error != 0 ? error : EIO);
}

bool TrackSetWriter::Fail(const Target &target, const QString &reason)
{
    failure = { target.name, reason };
    return false;
}

bool TrackSetWriter::Fail(const Target &target, int error)
{
    return Fail(target, qt_error_string(error));
}

void TrackSetWriter::RemoveTemporaries()
{
    for (Target &target : targets) {
        if (!target.temporary.isEmpty())
            ::unlink(target.temporary.constData());
        target.temporary.clear();
    }
}
