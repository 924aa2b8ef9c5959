#pragma once

// The track table: what gives a wrong track away, measured from its points.

#include "model/tracktypes.h"

#include <atomic>
#include <utility>
#include <vector>

// The measures of one track. Images are indices from 0; a measure the track
// does not have (no point at all, or no step between two points) is -1.
struct TrackMeasure
{
    unsigned int id = 0;
    int first = -1;
    int last = -1;
    int points = 0;
    // Images between the first and the last without a point.
    int gaps = 0;
    // The longest distance between two successive points, in pixels (a step
    // across a gap counts too), and the image of the second point of that
    // step; the earliest of equal steps.
    float jump = -1.0f;
    int jumpImage = -1;
};

// One pass over the points: O(n), nothing copied.
TrackMeasure MeasureTrack(unsigned int id, const PointMap &points);

// A track to measure: its id and its points, which must stay unchanged until
// the measuring has returned.
using TrackToMeasure = std::pair<unsigned int, const PointMap *>;

// Measures every track, in the order given, spread over the processor's cores.
// Stops early, returning what it has, once cancel is set.
std::vector<TrackMeasure> MeasureTracks(const std::vector<TrackToMeasure> &tracks,
                                        const std::atomic<bool> *cancel = nullptr);
