#include "model/fiber.h"

Fiber::Fiber(unsigned int id, const QColor &color, bool error)
    : points()
    , color(color)
    , rgb(color.rgba())
    , id(id)
    , currentImage(-1)
    , hidden(true)
    , error(error)
{
}

bool Fiber::HasPoint(int image) const { return PointOn(image) != nullptr; }

const TrackPoint *Fiber::PointOn(int image) const
{
    if (image < 0)
        return nullptr;
    const auto key = static_cast<unsigned int>(image);
    const PointMap &all = points;
    const PointEntry *data = all.begin();
    const size_t count = all.size();
    // The last point found, then its neighbours, then a search.
    for (const size_t at : { size_t(lastFound), size_t(lastFound) + 1, size_t(lastFound) - 1 }) {
        if (at < count && data[at].first == key) {
            lastFound = static_cast<unsigned int>(at);
            return &data[at].second;
        }
    }
    const auto found = all.find(key);
    if (found == all.end())
        return nullptr;
    lastFound = static_cast<unsigned int>(found - data);
    return &found->second;
}

bool Fiber::PointInRect(const QRectF &rect, int image) const
{
    const TrackPoint *p = PointOn(image);
    return p && rect.contains(QPointF(p->x, p->y));
}

void Fiber::SetPoints(PointMap source)
{
    points = std::move(source);
    lastFound = 0;
    ++pointsVersion;
}

void Fiber::SetPoint(unsigned int image, const TrackPoint &p)
{
    points.insert_or_assign(image, p);
    ++pointsVersion;
}
