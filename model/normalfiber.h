#pragma once

#include "model/fibermarker.h"

// Marker of a non-error track: a filled circle around its point, of diameter
// 20 unless the scene makes markers larger or smaller.
class NormalFiber : public FiberMarker
{
public:
    NormalFiber(unsigned int id, const QColor &color, qreal radius = 10.0);
    ~NormalFiber() override;

    QRectF rect() const { return Outline().rect; }
};
