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

    bool HasPoint(int image) const;
    // The point on image, or null where the track has none (also for -1).
    const TrackPoint *PointOn(int image) const;
    bool PointInRect(const QRectF &rect, int image) const;
    void SetPoints(const PointMap &source);
    void SetPoint(unsigned int image, const TrackPoint &p);

    bool hidden;
    PointMap points;
    QColor color;
    unsigned int id;
    int currentImage;
    bool error;
};
