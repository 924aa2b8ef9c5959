#include "view/tracktails.h"

#include "model/errorfiber.h"
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

void DrawLine(QImage &layer, QPointF a, QPointF b, quint32 colour)
{
    if (!Clip(a, b, layer.width() - 1, layer.height() - 1))
        return;
    const qreal dx = b.x() - a.x();
    const qreal dy = b.y() - a.y();
    const int steps
        = std::max(1, static_cast<int>(std::ceil(std::max(std::abs(dx), std::abs(dy)))));
    uchar *bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    for (int i = 0; i <= steps; ++i) {
        const int x = static_cast<int>(a.x() + dx * i / steps + 0.5);
        const int y = static_cast<int>(a.y() + dy * i / steps + 0.5);
        reinterpret_cast<quint32 *>(bits + y * stride)[x] = colour;
    }
}

template <typename Marker>
void DrawTails(QImage &layer, const std::vector<Marker *> &markers, int current, int length,
               const QTransform &toLayer)
{
    const unsigned int from = static_cast<unsigned int>(std::max(0, current - length));
    const unsigned int to = static_cast<unsigned int>(current + length);
    for (const Marker *marker : markers) {
        if (marker->hidden)
            continue;
        const PointMap &points = marker->points;
        // Track colours are opaque, so premultiplied they are as they are.
        const quint32 colour = marker->rgb | 0xff000000u;
        bool started = false;
        QPointF last;
        for (auto it = points.lower_bound(from); it != points.end() && it->first <= to; ++it) {
            const QPointF at = toLayer.map(QPointF(it->second.x, it->second.y));
            if (started)
                DrawLine(layer, last, at, colour);
            last = at;
            started = true;
        }
    }
}

} // namespace

void DrawTrackTails(QImage &layer, const TrackScene &scene, const QTransform &toLayer)
{
    const int length = scene.TailLength();
    const int current = scene.CurrentImage();
    if (length <= 0 || current < 0 || scene.IsCreating() || layer.isNull())
        return;
    DrawTails(layer, scene.NormalFibers(), current, length, toLayer);
    DrawTails(layer, scene.ErrorFibers(), current, length, toLayer);
}
