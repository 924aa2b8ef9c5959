#pragma once

#include "model/flatmap.h"
#include "model/pointmap.h"

#include <QColor>

// Track id to the track's points, one table per kind of track.
using TrackTable = FlatMap<PointMap>;

// Track id to the colour its marker is filled with.
using ColorTable = FlatMap<QColor>;
