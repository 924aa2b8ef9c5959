#pragma once

#include "model/tracksetreader.h"
#include "model/tracktypes.h"

#include <QString>
#include <QStringList>
#include <vector>

class ErrorFiber;
class NormalFiber;
class TaskControl;

// One load of a track set on its way from the files to the review window:
// read and prepared on helper threads (Read, Prepare), its markers made on the
// GUI thread by the window, and everything put in place at once at the end.
// Until then the user's tracks are not touched, so a load that fails, is
// refused or is cancelled at any stage changes nothing. Its steps run one
// after the other, never two at once, so nothing in it needs a lock.
class TrackLoad
{
public:
    TrackLoad(QStringList files, bool error);
    // Deletes the markers that never got into the scene.
    ~TrackLoad();
    TrackLoad(const TrackLoad &) = delete;
    TrackLoad &operator=(const TrackLoad &) = delete;

    // Parses the set on the reader's helpers, reporting the files parsed so
    // far, until it is read or the user cancels.
    void Read(TaskControl &control);
    // Everything the set needs besides its markers (colours, list labels);
    // refuses a set that cannot fit in the memory that was available when the
    // read began, before any marker is made.
    void Prepare(TaskControl &control);
    // Frees all the load took, and gives it back to the system, when it runs
    // out of memory: under an address-space limit (ulimit -v) memory freed
    // inside the heap makes no room for the windows' new buffers, and the
    // message that says what happened needs some. Where markers were made,
    // on the GUI thread only.
    void Release();

    QStringList files; // in name order: file i holds image i
    bool error;
    QString kind; // "non-error tracks", for the texts
    TrackSetRead read;
    // Nothing more to do: the read failed, or the set does not fit (refused).
    bool stopped = false;
    bool refused = false;
    qint64 available = 0;
    qint64 tracks = 0;
    qint64 points = 0;
    qint64 needed = 0;

    TrackTable table; // the set read; once in place, the set it replaced
    ColorTable colors;
    QStringList labels; // in the list's own order
    // The markers made so far, not yet in the scene, and the track next.
    std::vector<NormalFiber *> normals;
    std::vector<ErrorFiber *> errors;
    TrackTable::const_iterator next;
    qint64 made = 0;
    bool replaced = false;

private:
    void PrepareAll(TaskControl &control);
};
