#pragma once

#include "model/fibermarker.h"

#include <QPolygonF>

// Marker of an error track: a filled five-pointed star.
class ErrorFiber : public FiberMarker
{
public:
    // The marker shares outline's vertices (and, with the markers made before
    // it from the same vertices, its shape).
    ErrorFiber(unsigned int id, const QColor &color, const QPolygonF &outline);
    ~ErrorFiber() override;

    QPolygonF polygon() const { return Outline().polygon; }

    // The star with ten edges of length side, one tip up, its origin midway
    // between the heights of the upper and the lowest inner vertices.
    static QPolygonF StarOutline(double pi, double side = 13.0);
};
