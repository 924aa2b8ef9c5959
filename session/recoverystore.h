#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps the review of a run that is not saved in a session:
// one recovery file per running instance ("recovery-1.strandsight"), each
// with a lock that its instance holds while it runs. The kernel drops a lock
// with its process, however the process ends, so a recovery file whose lock
// is free was left by a run that crashed, was killed or quit without saving,
// and two instances never write or offer each other's file.
class RecoveryStore
{
public:
    // folder: where the files go (made when first needed).
    explicit RecoveryStore(QString folder = DefaultFolder());
    ~RecoveryStore();
    RecoveryStore(const RecoveryStore &) = delete;
    RecoveryStore &operator=(const RecoveryStore &) = delete;

    // <the user's data folder>/strandsight/recovery.
    static QString DefaultFolder();

    // Recovery files left by runs that have ended, newest first.
    QStringList Orphans() const;
    // Makes orphan this run's own recovery file; false when another run took
    // it meanwhile.
    bool Adopt(const QString &orphan);
    // This run's recovery file, a free place claimed on first use (never one
    // holding an orphan); empty when the folder cannot be made or locked.
    QString Path();
    // The recovery file claimed so far, if any (nothing is claimed here).
    QString Claimed() const { return path; }
    // Gives up this run's recovery file, leaving it where it is (for the
    // next start to offer); the next Path() claims another place.
    void Release();

private:
    static QString LockPath(const QString &recovery);
    // The lock of recovery, taken (a descriptor), or -1 when another process
    // holds it or it cannot be made.
    static int TakeLock(const QString &recovery);

    QString folder;
    QString path;
    int lock = -1;
};
