#include "view/trackpath.h"

#include "model/fiber.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>

namespace {

QColor Tone(const QColor &trackColour, int lightness)
{
    const QColor hsl = trackColour.toHsl();
    const int hue = hsl.hslHue();
    // Enough saturation for the hue to show; grey tracks stay grey.
    const int saturation = hue < 0 ? 0 : std::max(hsl.hslSaturation(), 160);
    return QColor::fromHsl(hue, saturation, lightness);
}

QPen ScreenPen(const QColor &colour, qreal width)
{
    QPen pen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setCosmetic(true);
    return pen;
}

// One part of the path with a halo of the opposite lightness under it, so
// that it stands out on bright and on dark parts of the image.
void DrawPart(QPainter *painter, const QPolygonF &part, const QColor &tone, const QColor &halo)
{
    if (part.isEmpty())
        return;
    painter->setPen(ScreenPen(halo, 3.5));
    painter->drawPolyline(part);
    painter->setPen(ScreenPen(halo, 6.5));
    painter->drawPoints(part);
    painter->setPen(ScreenPen(tone, 1.5));
    painter->drawPolyline(part);
    painter->setPen(ScreenPen(tone, 4.5));
    painter->drawPoints(part);
}

} // namespace

QColor PathToneBefore(const QColor &trackColour) { return Tone(trackColour, 215); }

QColor PathToneAfter(const QColor &trackColour) { return Tone(trackColour, 70); }

void DrawTrackPath(QPainter *painter, const Fiber &fiber, int currentImage)
{
    if (fiber.points.empty())
        return;
    // The point on the current image ends the part before and starts the part
    // after. Without one, the segment across the current image is split where
    // the track would be on it.
    QPolygonF before;
    QPolygonF after;
    const TrackPoint *current = fiber.PointOn(currentImage);
    int lastImage = -1;
    QPointF last;
    for (const auto &[image, point] : fiber.points) {
        const QPointF p(point.x, point.y);
        const int index = static_cast<int>(image);
        if (index < currentImage) {
            before << p;
        } else {
            if (index > currentImage && !current && after.isEmpty() && lastImage >= 0) {
                const qreal t = qreal(currentImage - lastImage) / qreal(index - lastImage);
                const QPointF between = last + (p - last) * t;
                before << between;
                after << between;
            }
            if (index == currentImage)
                before << p;
            after << p;
        }
        lastImage = index;
        last = p;
    }

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(Qt::NoBrush);
    DrawPart(painter, before, PathToneBefore(fiber.color), QColor(0, 0, 0, 170));
    DrawPart(painter, after, PathToneAfter(fiber.color), QColor(255, 255, 255, 170));
    if (current) {
        // A ring of fixed size on the screen around the point shown now.
        const QPointF at = painter->worldTransform().map(QPointF(current->x, current->y));
        painter->setWorldTransform(QTransform());
        painter->setPen(QPen(Qt::black, 3.0));
        painter->drawEllipse(at, 8.0, 8.0);
        painter->setPen(QPen(Qt::white, 1.5));
        painter->drawEllipse(at, 8.0, 8.0);
    }
    painter->restore();
}
