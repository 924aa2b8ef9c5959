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
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const int kMaxLinkHops = 40;
const int kFolderLockWaitMs = 5000;
const int kLockPollMs = 20;
const char kLockName[] = ".strandsight-lock";

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
// and the kept copies of the files a save replaced, removed once the process
// named in them is gone. Nothing else is removed, however much it looks like a
// temporary file: earlier versions named theirs ".name.txt.Ab12Cd", which a
// user's or another program's file can match just as well.
void RemoveLeftovers(const QByteArray &directory)
{
    static const QRegularExpression ours(
        QStringLiteral("^\\..+\\.strandsight-([0-9]{1,9})-[A-Za-z0-9]{6}(\\.old)?$"));
    QDir folder(QFile::decodeName(directory));
    // Names first: the other files of a large folder are not even looked at.
    folder.setNameFilters({ QStringLiteral(".*.strandsight-*") });
    const QStringList names = folder.entryList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDir::NoSort);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = ours.match(name);
        if (!match.hasMatch())
            continue;
        const pid_t pid = static_cast<pid_t>(match.captured(1).toInt());
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            ::unlink(QFile::encodeName(folder.filePath(name)).constData());
    }
}

// An exclusive lock on a folder for the time a save writes into it, so that
// the save of another instance of the program cannot replace files this one
// is replacing, nor take its temporary files for leftovers. The lock is an
// open-file-description lock on a file of the folder: unlike flock on the
// folder itself, an NFS client passes it on to the server, and unlike a plain
// fcntl lock it is not shared by the threads of one process. The kernel drops
// it with the process, however that ends; the file is removed by whoever
// holds the lock when they are done.
class FolderLock
{
public:
    enum Result { Locked, NoLocks, Busy, Stopped };

    explicit FolderLock(const QByteArray &directory)
        : path(directory + '/' + kLockName)
    {
    }
    ~FolderLock()
    {
        if (descriptor >= 0) {
            ::unlink(path.constData());
            ::close(descriptor);
        }
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    // Tries until the lock is free. keepWaiting is asked between tries and
    // stops the wait by returning false; without it the wait gives up after
    // a few seconds. NoLocks: the folder offers none (or no lock file can be
    // made there), and a save goes ahead without.
    Result Take(const std::function<bool()> &keepWaiting)
    {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const int file
                = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (file < 0)
                return NoLocks;
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            if (::fcntl(file, F_OFD_SETLK, &lock) == 0) {
                // The holder before may have removed the file in the meantime:
                // a lock on it would lock nobody out.
                struct stat held;
                struct stat named;
                if (::fstat(file, &held) == 0 && ::stat(path.constData(), &named) == 0
                    && held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
                    descriptor = file;
                    return Locked;
                }
                ::close(file);
                continue;
            }
            const int error = errno;
            ::close(file);
            if (error != EAGAIN && error != EACCES) {
                ::unlink(path.constData());
                return NoLocks;
            }
            if (keepWaiting ? !keepWaiting() : waited.elapsed() > kFolderLockWaitMs)
                return keepWaiting ? Stopped : Busy;
            QThread::msleep(kLockPollMs);
        }
    }

private:
    QByteArray path;
    int descriptor = -1;
};

// Makes the renames in a folder durable.
void SyncFolder(const QByteArray &directory)
{
    const int folder = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

// A copy of the file at from, made as to, with mode; for file systems that
// offer no hard links. errno tells why it failed.
bool CopyFile(const QByteArray &from, const QByteArray &to, unsigned int mode, bool durable)
{
    const int source = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return false;
    const int copy = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (copy < 0) {
        const int error = errno;
        ::close(source);
        errno = error;
        return false;
    }
    bool ok = ::fchmod(copy, static_cast<mode_t>(mode)) == 0;
    std::vector<char> buffer(1 << 16);
    while (ok) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t written = 0; ok && written < got;) {
            const ssize_t put = ::write(copy, buffer.data() + written, size_t(got - written));
            ok = put > 0;
            written += put > 0 ? put : 0;
        }
    }
    if (ok && durable)
        ok = ::fsync(copy) == 0;
    int error = ok ? 0 : errno;
    if (::close(copy) != 0 && ok) {
        ok = false;
        error = errno;
    }
    ::close(source);
    if (!ok) {
        ::unlink(to.constData());
        errno = error != 0 ? error : EIO;
    }
    return ok;
}

} // namespace

TrackSetWriter::TrackSetWriter(QStringList targets, Mode mode)
    : targetPaths(std::move(targets))
    , mode(mode)
{
}

void TrackSetWriter::SetProgress(Progress progress) { this->progress = std::move(progress); }

void TrackSetWriter::ExpectExisting(QStringList names)
{
    expected = std::move(names);
    expectGiven = true;
}

QStringList TrackSetWriter::ExistingNames(const QStringList &paths)
{
    QStringList names;
    for (const QString &path : paths) {
        struct stat status;
        if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
            names << QFileInfo(path).fileName();
    }
    return names;
}

bool TrackSetWriter::Write(const Content &content)
{
    failure = {};
    targets.clear();
    if (!Check())
        return false;

    std::map<QByteArray, std::unique_ptr<FolderLock>> locks;
    std::function<bool()> keepWaiting;
    if (progress)
        keepWaiting = [this] { return progress(Stage::Waiting, 0); };
    for (const Target &target : targets) {
        std::unique_ptr<FolderLock> &lock = locks[target.directory];
        if (lock)
            continue;
        lock = std::make_unique<FolderLock>(target.directory);
        switch (lock->Take(keepWaiting)) {
        case FolderLock::Busy:
            return Fail(target,
                        Tr("Another save is writing into the folder \"%1\"")
                            .arg(QFile::decodeName(target.directory)));
        case FolderLock::Stopped:
            return Cancelled();
        case FolderLock::Locked:
        case FolderLock::NoLocks:
            break;
        }
        if (mode == Save)
            RemoveLeftovers(target.directory);
    }
    // Only now can no other save write here: what the user was asked about
    // is compared with what is there.
    if (expectGiven) {
        for (const QString &name : ExistingNames(targetPaths)) {
            if (!expected.contains(name))
                failure.appeared << name;
        }
        if (!failure.appeared.isEmpty())
            return false;
    }

    // Whatever stops the write, an exception from content included, leaves
    // the old files in place and no file of its own behind.
    try {
        for (size_t i = 0; i < targets.size(); ++i) {
            bool written = WriteTemporary(targets[i], static_cast<int>(i), content);
            if (written && progress && !progress(Stage::Writing, static_cast<int>(i) + 1))
                written = Cancelled();
            if (!written) {
                RemoveTemporaries();
                return false;
            }
        }
        if (!Replace()) {
            PutBack();
            RemoveTemporaries();
            return false;
        }
    } catch (...) {
        PutBack();
        RemoveTemporaries();
        throw;
    }
    RemoveTemporaries();
    if (mode == Save) {
        for (const auto &lock : locks)
            SyncFolder(lock.first);
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
    // The process id tells a later save whether this file is a leftover.
    QByteArray name = target.directory + "/." + FileNameOf(target.path) + ".strandsight-"
        + QByteArray::number(static_cast<qint64>(::getpid())) + "-XXXXXX";
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

// The files being replaced stay under a second name until the whole set is
// in place: a rename that fails half-way through can then be undone. Looked
// for again here, not taken from the checks: a file that came or went since
// is put back as it is now.
bool TrackSetWriter::KeepReplaced(Target &target)
{
    target.backup = target.temporary + ".old";
    target.exists = true;
    if (::link(target.path.constData(), target.backup.constData()) == 0)
        return true;
    if (errno == ENOENT) {
        target.exists = false;
        target.backup.clear();
        return true;
    }
    if (CopyFile(target.path, target.backup, target.mode, mode == Save))
        return true;
    const int error = errno;
    target.backup.clear();
    return Fail(target, error);
}

bool TrackSetWriter::Replace()
{
    for (Target &target : targets) {
        if (!KeepReplaced(target))
            return false;
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        if (progress && !progress(Stage::Replacing, static_cast<int>(i)))
            return Cancelled();
        Target &target = targets[i];
        if (::rename(target.temporary.constData(), target.path.constData()) != 0)
            return Fail(target, errno);
        target.temporary.clear();
        target.replaced = true;
    }
    return true;
}

// Undoes the renames made so far. A file that cannot be put back keeps its new
// content and its old one stays under the kept name, so nothing is lost.
void TrackSetWriter::PutBack()
{
    for (Target &target : targets) {
        if (!target.replaced)
            continue;
        const bool back = target.exists
            ? ::rename(target.backup.constData(), target.path.constData()) == 0
            : ::unlink(target.path.constData()) == 0;
        if (back) {
            target.backup.clear();
            target.replaced = false;
        } else {
            failure.stillNew << target.name;
        }
    }
}

bool TrackSetWriter::Fail(const Target &target, const QString &reason)
{
    failure.name = target.name;
    failure.reason = reason;
    return false;
}

bool TrackSetWriter::Fail(const Target &target, int error)
{
    return Fail(target, qt_error_string(error));
}

bool TrackSetWriter::Cancelled()
{
    failure.cancelled = true;
    return false;
}

void TrackSetWriter::RemoveTemporaries()
{
    for (Target &target : targets) {
        if (!target.temporary.isEmpty())
            ::unlink(target.temporary.constData());
        target.temporary.clear();
        if (!target.backup.isEmpty() && !failure.stillNew.contains(target.name))
            ::unlink(target.backup.constData());
        target.backup.clear();
    }
}
