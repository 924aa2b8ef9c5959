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

bool Fiber::HasPoint(int image) const { return PointOn(image) != nullptr; }

const TrackPoint *Fiber::PointOn(int image) const
{
    if (image < 0)
        return nullptr;
    const auto it = points.find(static_cast<unsigned int>(image));
    return it == points.end() ? nullptr : &it->second;
}

bool Fiber::PointInRect(const QRectF &rect, int image) const
{
    const TrackPoint *p = PointOn(image);
    return p && rect.contains(QPointF(p->x, p->y));
}

void Fiber::SetPoints(const PointMap &source) { points = source; }

void Fiber::SetPoint(unsigned int image, const TrackPoint &p) { points[image] = p; }
