#include "session/reviewsnapshot.h"

#include "session/sessionformat.h"
#include "session/trackchanges.h"

SessionRecord FinishRecord(const ReviewSnapshot &snapshot)
{
    SessionRecord record = snapshot.record;
    static const TrackTable none;
    for (const bool error : { false, true }) {
        const std::shared_ptr<const TrackTable> &loaded = snapshot.loaded[error ? 1 : 0];
        record.Tracks(error).changes
            = CompareTracks(loaded ? *loaded : none, snapshot.now[error ? 1 : 0]);
    }
    return record;
}

bool WriteSnapshot(const ReviewSnapshot &snapshot, const QString &path, QString &why)
{
    return WriteSessionFile(path, FinishRecord(snapshot), why);
}
