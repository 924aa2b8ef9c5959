#pragma once

#include <QMetaType>

// One track of the registry: its kind and its id (ids are unique per kind only).
struct TrackRef
{
    bool error = false;
    unsigned int id = 0;

    friend bool operator==(const TrackRef &a, const TrackRef &b)
    {
        return a.error == b.error && a.id == b.id;
    }
    friend bool operator!=(const TrackRef &a, const TrackRef &b) { return !(a == b); }
    // Non-error tracks first, each kind by id.
    friend bool operator<(const TrackRef &a, const TrackRef &b)
    {
        return a.error != b.error ? b.error : a.id < b.id;
    }
};

Q_DECLARE_METATYPE(TrackRef)
