#include "session/recoverystore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace {

// More instances than this at once would be unusual; the limit only stops
// a folder that cannot be locked from being tried forever.
const int kMaxSlots = 1000;

QString SlotName(int slot) { return QStringLiteral("recovery-%1.strandsight").arg(slot); }

} // namespace

RecoveryStore::RecoveryStore(QString folder)
    : folder(std::move(folder))
{
}

RecoveryStore::~RecoveryStore()
{
    if (lock >= 0)
        ::close(lock);
}

QString RecoveryStore::DefaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/strandsight/recovery");
}

QString RecoveryStore::LockPath(const QString &recovery)
{
    QString lockPath = recovery;
    lockPath.chop(QStringLiteral(".strandsight").size());
    return lockPath + QStringLiteral(".lock");
}

// flock rather than a lock file with a process id in it: a lock held by a
// process that is gone cannot be mistaken for a live one, nor the other way
// round, and a second descriptor of this same process does not get it either.
int RecoveryStore::TakeLock(const QString &recovery)
{
    const QByteArray name = QFile::encodeName(LockPath(recovery));
    const int descriptor = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return -1;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

QStringList RecoveryStore::Orphans() const
{
    QDir dir(folder);
    const QFileInfoList files
        = dir.entryInfoList({ QStringLiteral("recovery-*.strandsight") }, QDir::Files);
    std::vector<std::pair<QDateTime, QString>> found;
    for (const QFileInfo &file : files) {
        if (file.absoluteFilePath() == path)
            continue;
        const int probe = TakeLock(file.absoluteFilePath());
        if (probe < 0)
            continue;
        ::close(probe);
        found.emplace_back(file.lastModified(), file.absoluteFilePath());
    }
    std::sort(found.begin(), found.end(),
              [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList orphans;
    for (const auto &entry : found)
        orphans << entry.second;
    return orphans;
}

bool RecoveryStore::Adopt(const QString &orphan)
{
    const int taken = TakeLock(orphan);
    if (taken < 0)
        return false;
    if (lock >= 0)
        ::close(lock);
    lock = taken;
    path = orphan;
    return true;
}

QString RecoveryStore::Path()
{
    if (!path.isEmpty())
        return path;
    if (!QDir().mkpath(folder))
        return {};
    const QDir dir(folder);
    for (int slot = 1; slot <= kMaxSlots; ++slot) {
        const QString candidate = dir.absoluteFilePath(SlotName(slot));
        const int taken = TakeLock(candidate);
        if (taken < 0)
            continue;
        // A file under a free lock is another run's review, to be offered at
        // the next start, not overwritten.
        if (QFileInfo::exists(candidate)) {
            ::close(taken);
            continue;
        }
        lock = taken;
        path = candidate;
        return path;
    }
    return {};
}

void RecoveryStore::Release()
{
    if (lock >= 0)
        ::close(lock);
    lock = -1;
    path.clear();
}
