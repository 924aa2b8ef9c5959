#include "model/fiber.h"

Fiber::Fiber(unsigned int id, const QColor &color, bool error)
    : hidden(true)
    , points()
    , color(color)
    , id(id)
    , currentImage(-1)
    , error(error)
{
}

bool Fiber::HasPoint(int image) const
{
    return image >= 0 && points.count(static_cast<unsigned int>(image)) != 0;
}

bool Fiber::PointInRect(const QRectF &rect, int image) const
{
    if (image < 0)
        return false;
    const auto it = points.find(static_cast<unsigned int>(image));
    if (it == points.end())
        return false;
    return rect.contains(QPointF(it->second.x, it->second.y));
}

void Fiber::SetPoints(const PointMap &source) { points = source; }

void Fiber::SetPoint(unsigned int image, const TrackPoint &p) { points[image] = p; }
