#pragma once

#include "model/trackfile.h"
#include "model/tracktypes.h"

#include <QStringList>
#include <memory>

// How the read of a set ended: the first file that could not be read, in
// name order, when one could not.
struct TrackSetRead
{
    enum Outcome { Complete, Unreadable, Cancelled } outcome = Complete;
    int file = -1;
};

// Reads a set of track files (paths[i] as image i) on Qt's thread pool, so
// that the thread that starts it stays free to keep a window responding and
// to cancel: the parser looks at the cancel flag inside every file, however
// large. A path that is not a regular file (a pipe, a device, a folder) is
// refused at Start, before anything is read. The table is only built once
// every file has been parsed, and then in one ascending pass, so a set of
// hundreds of thousands of short tracks costs no more per point than a few
// long ones.
class TrackSetReader
{
public:
    explicit TrackSetReader(QStringList paths);
    // Cancels a read still running; the helpers finish and free its data on
    // their own, without making the caller wait.
    ~TrackSetReader();
    TrackSetReader(const TrackSetReader &) = delete;
    TrackSetReader &operator=(const TrackSetReader &) = delete;

    // False when the read finished at once: nothing to read, or a path
    // refused before reading.
    bool Start();
    void Cancel();
    bool IsFinished() const;
    // True once finished; waits at most msecs.
    bool WaitForFinished(int msecs) const;
    // Files parsed so far, for a progress display.
    int FilesRead() const;

    // Once finished: how the read ended (the first unreadable file in name
    // order when one was), and the tracks of a complete read.
    TrackSetRead Result() const;
    TrackTable TakeTable();

private:
    struct State;
    std::shared_ptr<State> state;
};
