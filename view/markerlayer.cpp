#include "view/markerlayer.h"

#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "view/trackscene.h"

#include <QPaintDevice>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {

// Larger sprites would cost more memory than painting the few markers that
// fit on the screen at such a zoom one by one.
const int kMaxSpriteSide = 256;

// Rows of the layer stamped together (16 rows of a wide view fit the cache).
const int kBandRows = 16;

enum Part { ColourPart = 1, FixedPart = 2 };

// Paints one marker look around the painter's origin, in device pixels:
// the part in the track's colour (the filled shape, or a 2-pixel ring when
// markers are outlined), the fixed part (the hairline, the selection frame),
// or both. ratio is the device pixels per screen pixel.
void PaintLook(QPainter &painter, const QPainterPath &shape, bool outline, bool selected,
               qreal ratio, const QColor &colour, int parts)
{
    painter.setRenderHint(QPainter::Antialiasing);
    if (parts & ColourPart) {
        if (outline)
            painter.strokePath(shape, QPen(colour, 2.0 * ratio));
        else
            painter.fillPath(shape, colour);
    }
    if (!(parts & FixedPart))
        return;
    if (!outline)
        painter.strokePath(shape, QPen(Qt::black, ratio));
    if (selected) {
        // The toolkit's selected look, a dashed frame over a solid one, but
        // outside the marker, so that the marker shows whole inside it.
        const qreal pad = (outline ? 1.5 : 1.0) * ratio;
        const QRectF frame = shape.boundingRect().adjusted(-pad, -pad, pad, pad);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, ratio));
        painter.drawRect(frame);
        painter.setPen(QPen(Qt::black, ratio, Qt::DashLine));
        painter.drawRect(frame);
    }
}

QRect LookBounds(const QPainterPath &shape, qreal ratio)
{
    const qreal margin = 4.0 * ratio;
    return shape.boundingRect().adjusted(-margin, -margin, margin, margin).toAlignedRect();
}

// The smallest rectangle holding every pixel a sprite paints: every pixel
// stamped costs, and at the fitted view a marker is a few pixels wide.
QRect PaintedArea(const QImage &coverage, const QImage &overlay)
{
    QRect area;
    for (int y = 0; y < coverage.height(); ++y) {
        const uchar *cover = coverage.constScanLine(y);
        const auto *over = reinterpret_cast<const quint32 *>(overlay.constScanLine(y));
        for (int x = 0; x < coverage.width(); ++x) {
            if (cover[x] || over[x])
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

// Premultiplied x * a / 255 + y * b / 255 per channel (a + b at most 255),
// rounded the way the toolkit's own blending rounds.
inline quint32 Interpolate(quint32 x, quint32 a, quint32 y, quint32 b)
{
    quint32 t = (x & 0xff00ff) * a + (y & 0xff00ff) * b;
    t = ((t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a + ((y >> 8) & 0xff00ff) * b;
    x = (x + ((x >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
    return x | t;
}

// Where each row of a sprite paints (see MarkerSprite::Run).
void FindRuns(MarkerSprite &sprite)
{
    const QImage &coverage = sprite.coverage;
    sprite.runs.clear();
    sprite.rowStarts.assign(1, 0);
    for (int y = 0; y < coverage.height(); ++y) {
        const uchar *cover = coverage.constScanLine(y);
        const auto *over = reinterpret_cast<const quint32 *>(sprite.overlay.constScanLine(y));
        for (int x = 0; x < coverage.width(); ++x) {
            if (!cover[x] && !over[x])
                continue;
            const bool solid = cover[x] == 255 && !over[x];
            MarkerSprite::Run *last = sprite.runs.size() > size_t(sprite.rowStarts.back())
                ? &sprite.runs.back()
                : nullptr;
            if (last && last->end == x && last->solid == solid)
                last->end = x + 1;
            else
                sprite.runs.push_back({ x, x + 1, solid });
        }
        sprite.rowStarts.push_back(static_cast<int>(sprite.runs.size()));
    }
}

// Blends count pixels of a sprite row into target: the colour through the
// coverage, then the overlay on top.
inline void BlendRow(quint32 *target, const uchar *cover, const quint32 *over, int count,
                     quint32 colour)
{
    for (int x = 0; x < count; ++x) {
        const quint32 a = cover[x];
        if (a == 255)
            target[x] = colour;
        else if (a)
            target[x] = Interpolate(colour, a, target[x], 255 - a);
        const quint32 o = over[x];
        if (o)
            target[x] = o + Interpolate(target[x], 255 - qAlpha(o), 0, 0);
    }
}

// Stamps a sprite into the layer pixels inside clip, with the sprite's point
// at at.
void Stamp(const MarkerSprite &sprite, QPoint at, quint32 colour, uchar *layerBits,
           qsizetype layerStride, const QRect &clip)
{
    const QPoint corner = at - sprite.origin;
    const QRect area = QRect(corner, sprite.coverage.size()) & clip;
    if (area.isEmpty())
        return;
    // Sprite columns inside the clip.
    const int left = area.left() - corner.x();
    const int right = area.right() + 1 - corner.x();
    const uchar *coverBits = sprite.coverage.constBits();
    const uchar *overBits = sprite.overlay.constBits();
    const qsizetype coverStride = sprite.coverage.bytesPerLine();
    const qsizetype overStride = sprite.overlay.bytesPerLine();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const int row = y - corner.y();
        auto *line = reinterpret_cast<quint32 *>(layerBits + y * layerStride);
        const uchar *cover = coverBits + row * coverStride;
        const auto *over = reinterpret_cast<const quint32 *>(overBits + row * overStride);
        const MarkerSprite::Run *run = sprite.runs.data() + sprite.rowStarts[size_t(row)];
        const MarkerSprite::Run *runsEnd = sprite.runs.data() + sprite.rowStarts[size_t(row) + 1];
        for (; run != runsEnd; ++run) {
            const int begin = std::max(run->begin, left);
            const int end = std::min(run->end, right);
            if (begin >= end)
                continue;
            quint32 *target = line + (corner.x() + begin);
            if (run->solid)
                std::fill(target, target + (end - begin), colour);
            else
                BlendRow(target, cover + begin, over + begin, end - begin, colour);
        }
    }
}

} // namespace

void MarkerLayer::Draw(QPainter *painter, const QRectF &exposed, const TrackScene &scene)
{
    const quint64 generation = scene.MarkerGeneration();
    const QPaintDevice *device = painter->device();
    const qreal ratio = device ? device->devicePixelRatioF() : 1.0;
    // The view never rotates: its transform scales and moves only.
    const QTransform toDevice = painter->worldTransform();
    QRect deviceRect = toDevice.mapRect(exposed).toAlignedRect();
    if (device)
        deviceRect &= QRect(0, 0, device->width(), device->height());
    if (deviceRect.isEmpty())
        return;

    const bool sameView
        = drawn && toDevice == drawnTransform && deviceRect == drawnRect && ratio == drawnRatio;
    if (!sameView || generation != drawnGeneration) {
        const QSize size(qCeil(deviceRect.width() * ratio), qCeil(deviceRect.height() * ratio));
        if (layer.size() != size)
            layer = QImage(size, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(1.0);
        const QTransform toLayer = toDevice
            * QTransform::fromTranslate(-deviceRect.x(), -deviceRect.y())
            * QTransform::fromScale(ratio, ratio);
        // An edit moves, adds or removes a marker or two: only the layer
        // around them is drawn again, a fraction of drawing tens of thousands.
        // Tails reach far beyond a marker, so with tails shown it all is.
        changedPlaces.clear();
        if (!sameView || scene.TailLength() > 0
            || !scene.MarkerChangesSince(drawnGeneration, changedPlaces)
            || !RenderAround(scene, toLayer, changedPlaces))
            Render(scene, toLayer, ratio);
        layer.setDevicePixelRatio(ratio);
        drawnGeneration = generation;
        drawnTransform = toDevice;
        drawnRect = deviceRect;
        drawnRatio = ratio;
        drawn = true;
    }
    painter->save();
    painter->setWorldTransform(QTransform());
    painter->drawImage(deviceRect.topLeft(), layer);
    painter->restore();
}

void MarkerLayer::Render(const TrackScene &scene, const QTransform &toLayer, qreal ratio)
{
    layer.fill(Qt::transparent);
    // Under the markers.
    if (scene.TailLength() > 0)
        tails.Draw(layer, scene, toLayer);
    else
        tails.Clear();
    PrepareSprites(scene, toLayer.m11(), toLayer.m22(), ratio);
    std::optional<QPainter> direct;
    if (!spritesUsable)
        direct.emplace(&layer);
    QPainter *painter = direct ? &*direct : nullptr;
    // Error stars over the circles, the marker of a track being created over all.
    placed.clear();
    Place(scene.NormalFibers(), toLayer, 0, painter);
    Place(scene.ErrorFibers(), toLayer, 1, painter);
    if (const NormalFiber *created = scene.NewFiber())
        Place(std::vector<const NormalFiber *> { created }, toLayer, 0, painter);
    if (!direct)
        StampPlaced();
}

bool MarkerLayer::RenderAround(const TrackScene &scene, const QTransform &toLayer,
                               const std::vector<QPointF> &places)
{
    // The sprites must be those the layer was drawn with.
    if (PrepareSprites(scene, toLayer.m11(), toLayer.m22(), spriteRatio) || !spritesUsable)
        return false;
    QRect reach;
    for (const MarkerSprite &sprite : sprites)
        reach |= QRect(-sprite.origin, sprite.coverage.size());
    std::vector<QRect> areas;
    for (const QPointF &place : places) {
        const QPointF at = toLayer.map(place);
        const QRect area = reach.translated(qRound(at.x()), qRound(at.y())) & layer.rect();
        if (!area.isEmpty())
            areas.push_back(area);
    }
    if (areas.empty())
        return true;
    placed.clear();
    Place(scene.NormalFibers(), toLayer, 0, nullptr);
    Place(scene.ErrorFibers(), toLayer, 1, nullptr);
    if (const NormalFiber *created = scene.NewFiber())
        Place(std::vector<const NormalFiber *> { created }, toLayer, 0, nullptr);
    uchar *bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    for (const QRect &area : areas) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            std::fill_n(reinterpret_cast<quint32 *>(bits + y * stride) + area.left(), area.width(),
                        0u);
        for (const Placed &marker : placed)
            Stamp(sprites[marker.look], marker.at, marker.colour, bits, stride, area);
    }
    return true;
}

bool MarkerLayer::PrepareSprites(const TrackScene &scene, qreal scaleX, qreal scaleY, qreal ratio)
{
    const QPainterPath shapes[2] = { scene.MarkerShape(false), scene.MarkerShape(true) };
    const bool outline = scene.OutlineMarkers();
    if (scaleX == spriteScaleX && scaleY == spriteScaleY && ratio == spriteRatio
        && outline == spriteOutline && shapes[0] == spriteShapes[0] && shapes[1] == spriteShapes[1])
        return false;
    spriteScaleX = scaleX;
    spriteScaleY = scaleY;
    spriteRatio = ratio;
    spriteOutline = outline;
    spriteShapes[0] = shapes[0];
    spriteShapes[1] = shapes[1];

    const QTransform scale = QTransform::fromScale(scaleX, scaleY);
    spritesUsable = true;
    for (int kind = 0; kind < 2; ++kind) {
        deviceShapes[kind] = scale.map(shapes[kind]);
        const QRect bounds = LookBounds(deviceShapes[kind], ratio);
        if (bounds.width() > kMaxSpriteSide || bounds.height() > kMaxSpriteSide)
            spritesUsable = false;
    }
    for (int look = 0; look < 4; ++look) {
        MarkerSprite &sprite = sprites[look];
        sprite = MarkerSprite();
        if (!spritesUsable)
            continue;
        const QPainterPath &shape = deviceShapes[look / 2];
        const bool selected = look % 2;
        const QRect bounds = LookBounds(shape, ratio);
        sprite.origin = -bounds.topLeft();
        sprite.coverage = QImage(bounds.size(), QImage::Format_Alpha8);
        sprite.coverage.fill(0);
        sprite.overlay = QImage(bounds.size(), QImage::Format_ARGB32_Premultiplied);
        sprite.overlay.fill(Qt::transparent);
        for (QImage *image : { &sprite.coverage, &sprite.overlay }) {
            QPainter painter(image);
            painter.translate(sprite.origin);
            PaintLook(painter, shape, outline, selected, ratio, Qt::black,
                      image == &sprite.coverage ? ColourPart : FixedPart);
        }
        const QRect painted = PaintedArea(sprite.coverage, sprite.overlay);
        sprite.coverage = sprite.coverage.copy(painted);
        sprite.overlay = sprite.overlay.copy(painted);
        sprite.origin -= painted.topLeft();
        FindRuns(sprite);
    }
    return true;
}

template <typename Marker>
void MarkerLayer::Place(const std::vector<Marker *> &markers, const QTransform &toLayer, int kind,
                        QPainter *direct)
{
    const QRectF reach = LookBounds(deviceShapes[kind], spriteRatio);
    const QRectF area = QRectF(layer.rect())
                            .adjusted(-reach.right(), -reach.bottom(), -reach.left(), -reach.top());
    // The view never rotates: scaling and moving, worked out here for each
    // of tens of thousands of markers rather than through the general map.
    const qreal scaleX = toLayer.m11();
    const qreal scaleY = toLayer.m22();
    const qreal dx = toLayer.dx();
    const qreal dy = toLayer.dy();
    const qreal left = area.left();
    const qreal right = area.right();
    const qreal top = area.top();
    const qreal bottom = area.bottom();
    for (const Marker *marker : markers) {
        if (!marker->Shown())
            continue;
        const QPointF shownAt = marker->ShownAt();
        const QPointF at(shownAt.x() * scaleX + dx, shownAt.y() * scaleY + dy);
        if (at.x() < left || at.x() > right || at.y() < top || at.y() > bottom)
            continue;
        const bool selected = marker->isSelected();
        if (direct) {
            direct->save();
            direct->translate(at);
            PaintLook(*direct, deviceShapes[kind], spriteOutline, selected, spriteRatio,
                      QColor::fromRgba(marker->rgb), ColourPart | FixedPart);
            direct->restore();
            continue;
        }
        // Track colours are opaque, so premultiplied they are as they are.
        placed.push_back({ QPoint(qRound(at.x()), qRound(at.y())), marker->rgb | 0xff000000u,
                           kind * 2 + (selected ? 1 : 0) });
    }
}

void MarkerLayer::StampPlaced()
{
    // Stamped band by band, each band taking the markers that reach into it
    // in drawing order: the pixels of one band stay in the processor's cache,
    // where markers stamped in list order would fetch the whole layer from
    // memory again and again. The order within every pixel stays the same.
    const int bands = (layer.height() + kBandRows - 1) / kBandRows;
    bandStarts.assign(static_cast<size_t>(bands) + 1, 0);
    const auto bandRange = [this](const Placed &marker, int &first, int &last) {
        const MarkerSprite &sprite = sprites[marker.look];
        const int top = std::max(marker.at.y() - sprite.origin.y(), 0);
        const int bottom = std::min(marker.at.y() - sprite.origin.y() + sprite.coverage.height(),
                                    layer.height());
        first = top / kBandRows;
        last = bottom > top ? (bottom - 1) / kBandRows : first - 1;
    };
    int first = 0;
    int last = 0;
    for (const Placed &marker : placed) {
        bandRange(marker, first, last);
        for (int band = first; band <= last; ++band)
            ++bandStarts[static_cast<size_t>(band) + 1];
    }
    for (int band = 0; band < bands; ++band)
        bandStarts[static_cast<size_t>(band) + 1] += bandStarts[static_cast<size_t>(band)];
    // Copies, not indices: the stamping below then reads them in order.
    inBands.resize(static_cast<size_t>(bandStarts.back()));
    bandFill.assign(bandStarts.begin(), bandStarts.end() - 1);
    for (const Placed &marker : placed) {
        bandRange(marker, first, last);
        for (int band = first; band <= last; ++band)
            inBands[static_cast<size_t>(bandFill[static_cast<size_t>(band)]++)] = marker;
    }

    uchar *bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    for (int band = 0; band < bands; ++band) {
        const QRect clip = QRect(0, band * kBandRows, layer.width(), kBandRows) & layer.rect();
        const auto begin = inBands.begin() + bandStarts[static_cast<size_t>(band)];
        const auto end = inBands.begin() + bandStarts[static_cast<size_t>(band) + 1];
        for (auto marker = begin; marker != end; ++marker)
            Stamp(sprites[marker->look], marker->at, marker->colour, bits, stride, clip);
    }
}
