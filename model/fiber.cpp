#include "model/fiber.h"

Fiber::Fiber(unsigned int id, const QColor &color, bool error)
    : hidden(true)
    , points()
    , color(color)
    , rgb(color.rgba())
    , id(id)
    , currentImage(-1)
    , error(error)
    , lastFound(points.end())
{
}

bool Fiber::HasPoint(int image) const { return PointOn(image) != nullptr; }

const TrackPoint *Fiber::PointOn(int image) const
{
    if (image < 0)
        return nullptr;
    const auto key = static_cast<unsigned int>(image);
    if (lastFound != points.end()) {
        if (lastFound->first == key)
            return &lastFound->second;
        if (lastFound->first < key) {
            const auto next = std::next(lastFound);
            if (next != points.end() && next->first == key) {
                lastFound = next;
                return &next->second;
            }
        } else if (lastFound != points.begin()) {
            const auto previous = std::prev(lastFound);
            if (previous->first == key) {
                lastFound = previous;
                return &previous->second;
            }
        }
    }
    const auto it = points.find(key);
    if (it == points.end())
        return nullptr;
    lastFound = it;
    return &it->second;
}

bool Fiber::PointInRect(const QRectF &rect, int image) const
{
    const TrackPoint *p = PointOn(image);
    return p && rect.contains(QPointF(p->x, p->y));
}

void Fiber::SetPoints(PointMap source)
{
    points = std::move(source);
    lastFound = points.end();
    ++pointsVersion;
}

void Fiber::SetPoint(unsigned int image, const TrackPoint &p)
{
    points[image] = p;
    ++pointsVersion;
}
