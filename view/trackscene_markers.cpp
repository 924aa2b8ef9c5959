#include "view/trackscene.h"

#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "model/trackcolors.h"
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
        if (!marker->Shown())
            continue;
        const QPointF offset = scenePos - marker->ShownAt();
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
    // One outline per kind, shared by all its markers.
    const MarkerOutline::Pointer circle = MarkerOutline::Circle(radius);
    const MarkerOutline::Pointer starOutline = MarkerOutline::Polygon(star);
    for (NormalFiber *marker : normalFibers)
        marker->SetOutline(circle);
    for (ErrorFiber *marker : errorFibers)
        marker->SetOutline(starOutline);
    if (creating)
        newFiber->SetOutline(circle);
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
    const Fiber *current = CurrentFiber();
    const Fiber *hoveredFiber = HoveredFiber();
    for (const Fiber *fiber : MarkedFibers()) {
        if (fiber != hoveredFiber && fiber != current)
            DrawTrackPath(painter, *fiber, currentImage);
    }
    if (current && current != hoveredFiber)
        DrawTrackPath(painter, *current, currentImage);
    if (hoveredFiber)
        DrawTrackPath(painter, *hoveredFiber, currentImage);
}

void TrackScene::SetCurrentTrack(bool error, unsigned int id)
{
    hasCurrentTrack = true;
    currentTrackError = error;
    currentTrackId = id;
    currentFiber = nullptr;
    currentFiberVersion = markerSetVersion - 1;
    update();
}

void TrackScene::ClearCurrentTrack()
{
    if (!hasCurrentTrack)
        return;
    hasCurrentTrack = false;
    currentFiber = nullptr;
    update();
}

namespace {

template <typename Marker>
const Fiber *MarkerOf(const std::vector<Marker *> &markers, unsigned int id)
{
    // Loaded markers are in id order and created ones follow them: bisection
    // finds a loaded one without touching every marker, the rest are searched.
    const auto bisected
        = std::lower_bound(markers.begin(), markers.end(), id,
                           [](const Marker *m, unsigned int key) { return m->id < key; });
    if (bisected != markers.end() && (*bisected)->id == id)
        return *bisected;
    const auto found = std::find_if(markers.begin(), markers.end(),
                                    [id](const Marker *m) { return m->id == id; });
    return found == markers.end() ? nullptr : *found;
}

} // namespace

const Fiber *TrackScene::CurrentFiber() const
{
    // Creating a track hides every other one.
    if (!hasCurrentTrack || creating)
        return nullptr;
    if (currentFiberVersion != markerSetVersion) {
        currentFiber = currentTrackError ? MarkerOf(errorFibers, currentTrackId)
                                         : MarkerOf(normalFibers, currentTrackId);
        currentFiberVersion = markerSetVersion;
    }
    return currentFiber;
}

void TrackScene::SetTailLength(int length)
{
    length = std::max(length, 0);
    if (length == tailLength)
        return;
    RepaintMarkers();
    tailLength = length;
}

void TrackScene::SetBrightColours(bool bright)
{
    if (bright == brightColours)
        return;
    RepaintMarkers();
    brightColours = bright;
    for (NormalFiber *marker : normalFibers)
        ApplyDrawnColour(marker);
    for (ErrorFiber *marker : errorFibers)
        ApplyDrawnColour(marker);
}

void TrackScene::ApplyDrawnColour(Fiber *marker) const
{
    marker->rgb = (brightColours ? BrightTrackColor(marker->color) : marker->color).rgba();
}

void TrackScene::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (!PlaceNewPoint(event))
        QGraphicsScene::mouseDoubleClickEvent(event);
}
