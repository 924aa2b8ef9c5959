#pragma once

#include "model/fibermarker.h"

#include <QGraphicsEllipseItem>

// Marker of a non-error track: a filled circle of diameter 20 around its point.
class NormalFiber : public FiberMarker<QGraphicsEllipseItem>
{
public:
    NormalFiber(unsigned int id, const QColor &color);
    ~NormalFiber() override;
};
