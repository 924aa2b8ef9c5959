#include "view/tracktails.h"

#include "model/errorfiber.h"
#include "model/fiber.h"
#include "model/normalfiber.h"
#include "view/trackscene.h"

#include <QImage>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace {

// Clips the segment a-b to [0, right] x [0, bottom] (Liang-Barsky); false
// when nothing of it is inside.
bool Clip(QPointF &a, QPointF &b, qreal right, qreal bottom)
{
    const qreal dx = b.x() - a.x();
    const qreal dy = b.y() - a.y();
    qreal t0 = 0.0;
    qreal t1 = 1.0;
    const qreal p[4] = { -dx, dx, -dy, dy };
    const qreal q[4] = { a.x(), right - a.x(), a.y(), bottom - a.y() };
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const qreal t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF start = a;
    a = start + QPointF(dx, dy) * t0;
    b = start + QPointF(dx, dy) * t1;
    return true;
}

// The layer's pixels and how scene points map into them (the view never
// rotates: a scale and an offset).
struct Target
{
    uchar *bits;
    qsizetype stride;
    int width;
    int height;
    qreal scaleX;
    qreal scaleY;
    qreal dx;
    qreal dy;

    void Plot(int x, int y, quint32 colour) const
    {
        reinterpret_cast<quint32 *>(bits + y * stride)[x] = colour;
    }
    bool Inside(QPointF p) const
    {
        return p.x() >= 0.0 && p.y() >= 0.0 && p.x() <= width - 1 && p.y() <= height - 1;
    }
};

void DrawLine(const Target &target, QPointF a, QPointF b, quint32 colour)
{
    // Most steps of a track lie inside the view and, at the fitted view, span
    // a pixel or two: no clipping for those.
    if (!target.Inside(a) || !target.Inside(b)) {
        if (!Clip(a, b, target.width - 1, target.height - 1))
            return;
    }
    const qreal dx = b.x() - a.x();
    const qreal dy = b.y() - a.y();
    const int steps = static_cast<int>(std::ceil(std::max(std::abs(dx), std::abs(dy))));
    if (steps <= 1) {
        target.Plot(static_cast<int>(a.x() + 0.5), static_cast<int>(a.y() + 0.5), colour);
        target.Plot(static_cast<int>(b.x() + 0.5), static_cast<int>(b.y() + 0.5), colour);
        return;
    }
    const qreal stepX = dx / steps;
    const qreal stepY = dy / steps;
    qreal x = a.x() + 0.5;
    qreal y = a.y() + 0.5;
    for (int i = 0; i <= steps; ++i, x += stepX, y += stepY)
        target.Plot(std::min(static_cast<int>(x), target.width - 1),
                    std::min(static_cast<int>(y), target.height - 1), colour);
}

} // namespace

void TrackTails::Clear()
{
    std::vector<Point>().swap(points);
    std::vector<size_t>().swap(starts);
    std::vector<const Fiber *>().swap(owners);
    std::vector<quint64>().swap(versions);
    copied = false;
}

template <typename Marker> void TrackTails::CopyMarkers(const std::vector<Marker *> &markers)
{
    for (const Marker *marker : markers) {
        starts.push_back(points.size());
        owners.push_back(marker);
        versions.push_back(marker->pointsVersion);
        for (const auto &[image, point] : marker->points)
            points.push_back({ image, point.x, point.y });
    }
}

void TrackTails::Copy(const TrackScene &scene)
{
    Clear();
    const size_t markers = scene.NormalFibers().size() + scene.ErrorFibers().size();
    starts.reserve(markers + 1);
    owners.reserve(markers);
    versions.reserve(markers);
    CopyMarkers(scene.NormalFibers());
    CopyMarkers(scene.ErrorFibers());
    starts.push_back(points.size());
    setVersion = scene.MarkerSetVersion();
    copied = true;
}

bool TrackTails::Current(const TrackScene &scene) const
{
    if (!copied || setVersion != scene.MarkerSetVersion()
        || owners.size() != scene.NormalFibers().size() + scene.ErrorFibers().size())
        return false;
    size_t i = 0;
    for (const auto *marker : scene.NormalFibers()) {
        if (owners[i] != marker || versions[i] != marker->pointsVersion)
            return false;
        ++i;
    }
    for (const auto *marker : scene.ErrorFibers()) {
        if (owners[i] != marker || versions[i] != marker->pointsVersion)
            return false;
        ++i;
    }
    return true;
}

void TrackTails::Draw(QImage &layer, const TrackScene &scene, const QTransform &toLayer)
{
    const int length = scene.TailLength();
    const int current = scene.CurrentImage();
    if (length <= 0 || current < 0 || scene.IsCreating() || layer.isNull())
        return;
    if (!Current(scene))
        Copy(scene);
    const Target target { layer.bits(),  layer.bytesPerLine(), layer.width(), layer.height(),
                          toLayer.m11(), toLayer.m22(),        toLayer.dx(),  toLayer.dy() };
    const unsigned int from = static_cast<unsigned int>(std::max(0, current - length));
    const unsigned int to = static_cast<unsigned int>(current + length);
    for (size_t i = 0; i < owners.size(); ++i) {
        const Fiber *marker = owners[i];
        if (marker->hidden)
            continue;
        // Track colours are opaque, so premultiplied they are as they are.
        const quint32 colour = marker->rgb | 0xff000000u;
        const Point *end = points.data() + starts[i + 1];
        const Point *p
            = std::lower_bound(static_cast<const Point *>(points.data() + starts[i]), end, from,
                               [](const Point &a, unsigned int image) { return a.image < image; });
        bool started = false;
        QPointF last;
        for (; p != end && p->image <= to; ++p) {
            const QPointF at(target.scaleX * p->x + target.dx, target.scaleY * p->y + target.dy);
            if (started)
                DrawLine(target, last, at, colour);
            last = at;
            started = true;
        }
    }
}
