#pragma once

#include "model/tracktypes.h"

#include <QColor>
#include <QRectF>

// The track record every marker carries: id, colour, kind and points, plus the
// image the marker currently shows. Deliberately not polymorphic: it is one of
// the two bases of each marker class, the other being the graphics item.
// Kept small: a load of a million short tracks makes a million of them. The
// points are shared with the registry's copy, not copied (see PointMap).
class Fiber
{
public:
    Fiber(unsigned int id, const QColor &color, bool error);
    // A copy would keep its place in the other's points.
    Fiber(const Fiber &) = delete;
    Fiber &operator=(const Fiber &) = delete;

    bool HasPoint(int image) const;
    // The point on image, or null where the track has none (also for -1).
    // Valid until the points change.
    const TrackPoint *PointOn(int image) const;
    bool PointInRect(const QRectF &rect, int image) const;
    void SetPoints(PointMap source);
    void SetPoint(unsigned int image, const TrackPoint &p);

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
    bool hidden;
    bool error;

private:
    // Where in points PointOn found the last point. Images are stepped one at
    // a time, so the next look-up is usually this point or a neighbour: found
    // at once instead of searched for, for each of tens of thousands of tracks
    // on every step. An index, checked before use, so that a change of points
    // made directly cannot make it point anywhere wrong.
    mutable unsigned int lastFound = 0;
};
