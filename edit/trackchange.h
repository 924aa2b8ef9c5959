#pragma once

#include "model/tracktypes.h"

#include <QColor>
#include <QString>
#include <vector>

// One step of editing tracks as plain data: for each track it touches, the
// track (points and colour, or none) and whether it is picked, before and
// after. Applying the after side carries the step out, the before side undoes
// it, so one kind of step serves every edit, creation and pick change.

// A track is named by its kind and its id; the same id can name one track of
// each kind.
struct TrackKey
{
    bool error = false;
    unsigned int id = 0;

    bool operator==(const TrackKey &other) const { return error == other.error && id == other.id; }
    bool operator!=(const TrackKey &other) const { return !(*this == other); }
    bool operator<(const TrackKey &other) const
    {
        return error != other.error ? error < other.error : id < other.id;
    }
};

// A track's entry in the registry, or its absence.
struct TrackState
{
    bool present = false;
    PointMap points;
    QColor color;
};

struct TrackChange
{
    TrackKey key;
    // The registry entry changes (the track is added, changed or deleted);
    // when false only the pick changes and before/after are not used.
    bool track = false;
    TrackState before;
    TrackState after;
    // The pick changes.
    bool pick = false;
    bool pickedBefore = false;
    bool pickedAfter = false;
};

struct TrackEdit
{
    // What the history names it by ("Move Point").
    QString name;
    std::vector<TrackChange> changes;

    bool IsEmpty() const { return changes.empty(); }
    // An estimate of the memory the step holds in the history.
    qint64 Bytes() const;
};

// The text of a pick in the picked list: the id, with "E" before an error
// track's id; and back (false for a text that names no track).
QString PickText(TrackKey key);
bool PickKey(const QString &text, TrackKey &key);
