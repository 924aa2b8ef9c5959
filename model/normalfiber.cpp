#include "model/normalfiber.h"

NormalFiber::NormalFiber(unsigned int id, const QColor &color, qreal radius)
    : FiberMarker(id, color, false, MarkerOutline::Circle(radius))
{
}

NormalFiber::~NormalFiber() = default;
