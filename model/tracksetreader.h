#pragma once

#include "model/trackfile.h"
#include "model/tracktypes.h"

#include <QString>
#include <QStringList>
#include <memory>

// How the read of a set ended. Unreadable and NoRecords name the first such
// file in set order (file); reason says why it could not be read, in the
// words of a message ("it is not a regular file", "Permission denied").
// NoRecords: the file is not empty but not one record in it could be read
// (binary data, an image chosen by mistake). OutOfMemory: the set does not
// fit in memory.
struct TrackSetRead
{
    enum Outcome { Complete, Unreadable, NoRecords, OutOfMemory, Cancelled } outcome = Complete;
    int file = -1;
    QString reason;
};

// Reads a set of track files (paths[i] as image i) on Qt's thread pool, so
// that the thread that starts it stays free to keep a window responding and
// to cancel: the parser looks at the cancel flag inside every file, however
// large. A path that is missing or not a regular file (a pipe, a device, a
// folder) is never read, nor is anything after it; the files before it are,
// since the first file in set order that cannot be read is the one reported.
// The table is only built once every file has been parsed, each track's points
// in one array made at its final size, so a set of a million short tracks
// costs no more per point than a few long ones. Every helper catches
// allocation failure: a set that does not fit ends as OutOfMemory.
class TrackSetReader
{
public:
    explicit TrackSetReader(QStringList paths);
    // Cancels a read still running; the helpers finish and free its data on
    // their own, without making the caller wait.
    ~TrackSetReader();
    TrackSetReader(const TrackSetReader &) = delete;
    TrackSetReader &operator=(const TrackSetReader &) = delete;

    // False when the read finished at once: nothing to read, or the first
    // path refused.
    bool Start();
    void Cancel();
    bool IsFinished() const;
    // True once finished; waits at most msecs.
    bool WaitForFinished(int msecs) const;
    // Files parsed so far, and the bytes read of all the files' sizes, for a
    // progress display (one huge file moves the bytes, not the files).
    int FilesRead() const;
    qint64 BytesRead() const;
    qint64 TotalBytes() const;

    // Once finished: how the read ended (the first unreadable file in name
    // order when one was), and the tracks of a complete read.
    TrackSetRead Result() const;
    TrackTable TakeTable();

private:
    struct State;
    std::shared_ptr<State> state;
};
