#pragma once

#include "session/sessionrecord.h"

#include <QString>
#include <memory>

// A review as taken on the GUI thread for saving behind it: everything a
// session holds but the changes, which are found later, on a helper thread,
// from the tracks as loaded (shared, never changed once loaded) and a copy of
// the tracks as they are now. No widget involved.
struct ReviewSnapshot
{
    SessionRecord record;
    std::shared_ptr<const TrackTable> loaded[2]; // non-error, error; null for none
    TrackTable now[2];
};

// The session record of snapshot, its changes found.
SessionRecord FinishRecord(const ReviewSnapshot &snapshot);

// What saving a session and writing the recovery session do behind the
// windows: the changes found, then the file written all or nothing. False
// with why when the file was not written.
bool WriteSnapshot(const ReviewSnapshot &snapshot, const QString &path, QString &why);
