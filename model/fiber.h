#pragma once

#include "model/tracktypes.h"

#include <QColor>
#include <QRectF>

// The track record every marker carries: id, colour, kind and points, plus the
// image the marker currently shows. Deliberately not polymorphic: it is one of
// the two bases of each marker class, the other being the graphics item.
class Fiber
{
public:
    Fiber(unsigned int id, const QColor &color, bool error);
    // A copy would keep its place in the other's points.
    Fiber(const Fiber &) = delete;
    Fiber &operator=(const Fiber &) = delete;

    bool HasPoint(int image) const;
    // The point on image, or null where the track has none (also for -1).
    const TrackPoint *PointOn(int image) const;
    bool PointInRect(const QRectF &rect, int image) const;
    void SetPoints(PointMap source);
    void SetPoint(unsigned int image, const TrackPoint &p);

    bool hidden;
    // Changed through SetPoints and SetPoint only (PointOn keeps a place in it).
    PointMap points;
    // Counts those changes: what was taken from points is current while it
    // stays the same.
    quint64 pointsVersion = 0;
    QColor color;
    // color as it is drawn, converted once: tens of thousands of markers are
    // drawn on every step, and track colours are kept as hue, saturation, value.
    QRgb rgb;
    unsigned int id;
    int currentImage;
    bool error;

private:
    // The point PointOn found last. Images are stepped one at a time, so the
    // next look-up is usually this point or a neighbour: found at once, where
    // searching the map would walk its nodes, scattered over memory, for each
    // of tens of thousands of tracks on every step.
    mutable PointMap::const_iterator lastFound;
};
