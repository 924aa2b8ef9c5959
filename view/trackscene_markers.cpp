#include "view/trackscene.h"

#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "view/markerlayer.h"
#include "view/trackpath.h"

#include <QPainter>
#include <algorithm>

namespace {

// The star was drawn with edges of 13 around circles of radius 10.
const double kStarSidePerRadius = 1.3;

// A marker reaches at most this far from its point, in radii (the star's
// tips; the circle reaches one).
const double kReachPerRadius = 1.86;

template <typename Marker>
const Fiber *TopmostAt(const std::vector<Marker *> &markers, QPointF scenePos, qreal reach,
                       qreal tolerance)
{
    // Drawn in list order, so the last one drawn is on top.
    for (auto it = markers.rbegin(); it != markers.rend(); ++it) {
        const Marker *marker = *it;
        if (!marker->isVisible())
            continue;
        const QPointF offset = scenePos - marker->pos();
        if (std::abs(offset.x()) > reach || std::abs(offset.y()) > reach)
            continue;
        if (QPointF::dotProduct(offset, offset) <= tolerance * tolerance
            || marker->contains(offset))
            return marker;
    }
    return nullptr;
}

} // namespace

void TrackScene::RepaintMarkers()
{
    ++markerGeneration;
    wholeGeneration = markerGeneration;
    changedPlaces.clear();
    hoverStale = true;
    // First, when called before a change: with the whole scene due for a
    // repaint the toolkit skips its bookkeeping for each moved item.
    update();
}

void TrackScene::RepaintMarkersAt(QPointF scenePos)
{
    // Past this many places redrawing them costs more than drawing all.
    const size_t kMostPlaces = 64;
    if (changedPlaces.size() >= kMostPlaces) {
        RepaintMarkers();
        return;
    }
    ++markerGeneration;
    changedPlaces.emplace_back(markerGeneration, scenePos);
    hoverStale = true;
    update();
}

bool TrackScene::MarkerChangesSince(quint64 generation, std::vector<QPointF> &places) const
{
    if (wholeGeneration > generation)
        return false;
    for (const auto &[changed, place] : changedPlaces) {
        if (changed > generation)
            places.push_back(place);
    }
    return true;
}

void TrackScene::SetMarkerRadius(int radius)
{
    radius = std::clamp(radius, 1, 50);
    if (radius == markerRadius)
        return;
    RepaintMarkers();
    markerRadius = radius;
    star = ErrorFiber::StarOutline(pi, kStarSidePerRadius * radius);
    for (NormalFiber *marker : normalFibers)
        ApplyMarkerShape(marker);
    for (ErrorFiber *marker : errorFibers)
        marker->setPolygon(star);
    if (creating)
        ApplyMarkerShape(newFiber);
}

void TrackScene::ApplyMarkerShape(NormalFiber *marker) const
{
    marker->setRect(-markerRadius, -markerRadius, 2 * markerRadius, 2 * markerRadius);
}

void TrackScene::SetOutlineMarkers(bool outline)
{
    if (outline == outlineMarkers)
        return;
    RepaintMarkers();
    outlineMarkers = outline;
}

QPainterPath TrackScene::MarkerShape(bool error) const
{
    QPainterPath shape;
    if (error) {
        shape.addPolygon(star);
        shape.closeSubpath();
    } else {
        shape.addEllipse(QPointF(0, 0), markerRadius, markerRadius);
    }
    return shape;
}

qreal TrackScene::MarkerReach() const { return kReachPerRadius * markerRadius; }

const Fiber *TrackScene::FiberAt(QPointF scenePos, qreal tolerance) const
{
    const qreal reach = std::max(MarkerReach(), tolerance);
    if (const Fiber *fiber = TopmostAt(errorFibers, scenePos, reach, tolerance))
        return fiber;
    return TopmostAt(normalFibers, scenePos, reach, tolerance);
}

void TrackScene::SetHoverPosition(QPointF scenePos, qreal tolerance)
{
    const Fiber *before = hoverStale ? nullptr : hovered;
    hovering = true;
    hoverPosition = scenePos;
    hoverTolerance = tolerance;
    hovered = FiberAt(scenePos, tolerance);
    hoverStale = false;
    // Only a change of track repaints: the markers' layer is kept, so that
    // costs the background and one copy.
    if (hovered != before)
        update();
}

void TrackScene::ClearHover()
{
    const bool had = hoverStale || hovered;
    hovering = false;
    hovered = nullptr;
    hoverStale = false;
    if (had)
        update();
}

const Fiber *TrackScene::HoveredFiber() const
{
    if (hoverStale) {
        hovered = hovering ? FiberAt(hoverPosition, hoverTolerance) : nullptr;
        hoverStale = false;
    }
    return hovered;
}

void TrackScene::drawForeground(QPainter *painter, const QRectF &rect)
{
    markerLayer->Draw(painter, rect, *this);
    // What the layer has drawn is of no more use: one view shows the scene.
    const quint64 drawn = markerLayer->DrawnGeneration();
    changedPlaces.erase(std::remove_if(changedPlaces.begin(), changedPlaces.end(),
                                       [drawn](const auto &place) { return place.first <= drawn; }),
                        changedPlaces.end());
    const Fiber *hoveredFiber = HoveredFiber();
    for (const Fiber *fiber : MarkedFibers()) {
        if (fiber != hoveredFiber)
            DrawTrackPath(painter, *fiber, currentImage);
    }
    if (hoveredFiber)
        DrawTrackPath(painter, *hoveredFiber, currentImage);
}

void TrackScene::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (!PlaceNewPoint(event))
        QGraphicsScene::mouseDoubleClickEvent(event);
}
