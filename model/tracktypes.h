#pragma once

#include <QColor>
#include <map>

// A track's position on one image, in image pixel coordinates (y grows downward).
// Single precision on purpose: this is what the track files carry and what keeps
// tens of thousands of tracks with hundreds of points each in memory.
struct TrackPoint
{
    float x = 0.0f;
    float y = 0.0f;
};

// One track's points keyed by image index; at most one point per image.
using PointMap = std::map<unsigned int, TrackPoint>;

// Track id to the track's points, one table per kind of track.
using TrackTable = std::map<unsigned int, PointMap>;

// Track id to the colour its marker is filled with.
using ColorTable = std::map<unsigned int, QColor>;
