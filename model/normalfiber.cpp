#include "model/normalfiber.h"

NormalFiber::NormalFiber(unsigned int id, const QColor &color)
    : FiberMarker<QGraphicsEllipseItem>(id, color, false)
{
    setRect(-10.0, -10.0, 20.0, 20.0);
    InitMarker();
}

NormalFiber::~NormalFiber() = default;
