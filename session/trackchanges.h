#pragma once

#include "session/sessionrecord.h"

// Changes to a kind's tracks since its load, found by comparing the tracks as
// loaded with the tracks now; no widget involved.

// Tracks of now that loaded lacks or holds with other points, and the ids of
// loaded that now lacks.
TrackChanges CompareTracks(const TrackTable &loaded, const TrackTable &now);

// Brings table, as loaded, to what it was when changes were found.
void ApplyChanges(TrackTable &table, const TrackChanges &changes);

// Same images, same points, compared exactly.
bool SamePoints(const PointMap &a, const PointMap &b);
