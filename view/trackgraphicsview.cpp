#include "view/trackgraphicsview.h"

#include "model/fiber.h"
#include "view/trackscene.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <cmath>

namespace {

// Zooms that differ by less than this are the same step.
const qreal kSameZoom = 1e-6;

// A marker closer than this to the cursor, in screen pixels, is under it
// however small it is drawn.
const qreal kHitPixels = 3.0;

// The steps of the zoom ladder are 2^(n/2).
qreal Step(int n) { return std::pow(2.0, n / 2.0); }

qreal StepAbove(qreal zoom)
{
    int n = static_cast<int>(std::floor(2.0 * std::log2(zoom))) - 1;
    while (Step(n) <= zoom * (1.0 + kSameZoom))
        ++n;
    return Step(n);
}

qreal StepBelow(qreal zoom)
{
    int n = static_cast<int>(std::ceil(2.0 * std::log2(zoom))) + 1;
    while (Step(n) >= zoom * (1.0 - kSameZoom))
        --n;
    return Step(n);
}

} // namespace

TrackGraphicsView::TrackGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Hovering tells the track under the cursor and the status bar follows
    // the cursor, buttons pressed or not.
    viewport()->setMouseTracking(true);
}

TrackScene *TrackGraphicsView::Scene() const { return qobject_cast<TrackScene *>(scene()); }

bool TrackGraphicsView::HasImage() const
{
    const TrackScene *trackScene = Scene();
    return trackScene && trackScene->HasImages() && !sceneRect().isEmpty();
}

qreal TrackGraphicsView::ZoomX() const { return transform().m11() * devicePixelRatioF(); }

qreal TrackGraphicsView::ZoomY() const { return transform().m22() * devicePixelRatioF(); }

// The larger of the two fitted scales, in screen pixels per image pixel,
// for the viewport as it is without scroll bars.
qreal TrackGraphicsView::FitLimit() const
{
    const QRectF rect = sceneRect();
    const QSize area = maximumViewportSize();
    // fitInView keeps a margin of 2 pixels on every side.
    const qreal across = (area.width() - 4) / rect.width();
    const qreal down = (area.height() - 4) / rect.height();
    return std::max(across, down) * devicePixelRatioF();
}

QPointF TrackGraphicsView::ViewportMiddle() const
{
    return QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0);
}

QPointF TrackGraphicsView::ViewCentre() const
{
    return viewportTransform().inverted().map(ViewportMiddle());
}

void TrackGraphicsView::FitToWindow()
{
    fitted = true;
    anchorKept = false;
    applying = true;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (scene())
        fitInView(scene()->sceneRect(), Qt::IgnoreAspectRatio);
    applying = false;
    emit ZoomChanged();
    FollowCursor();
}

void TrackGraphicsView::ZoomIn()
{
    if (HasImage())
        ZoomTo(StepAbove(CurrentZoom()), ViewportMiddle());
}

void TrackGraphicsView::ZoomOut()
{
    if (HasImage() && !fitted)
        ZoomTo(StepBelow(zoom), ViewportMiddle());
}

void TrackGraphicsView::ShowActualPixels()
{
    if (HasImage())
        SetZoom(1.0, ViewportMiddle());
}

void TrackGraphicsView::ZoomBy(qreal factor, QPointF anchor)
{
    if (HasImage() && factor > 0.0)
        ZoomTo(CurrentZoom() * factor, anchor);
}

void TrackGraphicsView::ZoomAt(qreal to, QPointF sceneCentre)
{
    if (!HasImage())
        return;
    to = std::min(to, kMaxZoom);
    if (to <= FitLimit() * (1.0 + kSameZoom)) {
        FitToWindow();
        return;
    }
    fitted = false;
    zoom = to;
    centre = sceneCentre;
    anchorKept = false;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ApplyZoom();
}

qreal TrackGraphicsView::CurrentZoom() const { return fitted ? FitLimit() : zoom; }

void TrackGraphicsView::ZoomTo(qreal to, QPointF anchor)
{
    const qreal from = CurrentZoom();
    to = std::min(to, kMaxZoom);
    if (to > from * (1.0 + kSameZoom))
        SetZoom(to, anchor);
    else if (!fitted && to < from)
        to <= FitLimit() * (1.0 + kSameZoom) ? FitToWindow() : SetZoom(to, anchor);
}

void TrackGraphicsView::SetZoom(qreal newZoom, QPointF anchor)
{
    const QPointF anchored = anchorKept && anchor == anchorView
        ? anchorScene
        : viewportTransform().inverted().map(anchor);
    fitted = false;
    zoom = newZoom;
    applying = true;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const qreal scale = zoom / devicePixelRatioF();
    setTransform(QTransform::fromScale(scale, scale));
    // The scroll bars may have come or gone meanwhile; bring the anchored
    // image point back under the anchor (as far as the image reaches).
    const QPointF drift = viewportTransform().map(anchored) - anchor;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + qRound(drift.x()));
    verticalScrollBar()->setValue(verticalScrollBar()->value() + qRound(drift.y()));
    applying = false;
    centre = ViewCentre();
    anchorKept = true;
    anchorView = anchor;
    anchorScene = anchored;
    emit ZoomChanged();
    FollowCursor();
}

void TrackGraphicsView::PanBy(QPoint delta)
{
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + delta.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() + delta.y());
    FollowCursor();
}

void TrackGraphicsView::ApplyZoom()
{
    if (fitted) {
        FitToWindow();
        return;
    }
    const QPoint scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
    applying = true;
    const qreal scale = zoom / devicePixelRatioF();
    setTransform(QTransform::fromScale(scale, scale));
    centerOn(centre);
    applying = false;
    if (scrolled != QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()))
        anchorKept = false;
    emit ZoomChanged();
    FollowCursor();
}

void TrackGraphicsView::SequenceLoaded()
{
    const QSizeF size = scene() ? scene()->sceneRect().size() : QSizeF();
    if (size != sequenceSize)
        fitted = true;
    sequenceSize = size;
    ApplyZoom();
}

void TrackGraphicsView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    if (applying)
        return;
    // Also when scroll bars come or go: the viewport changes size with them.
    ApplyZoom();
}

void TrackGraphicsView::scrollContentsBy(int dx, int dy)
{
    QGraphicsView::scrollContentsBy(dx, dy);
    // Only the user's own scrolling moves the centre that steps and resizes
    // keep; switching to an image of another size (or none) scrolls too.
    if (applying)
        return;
    anchorKept = false;
    if (!fitted && !sceneRect().isEmpty()
        && qFuzzyCompare(transform().m11(), zoom / devicePixelRatioF()))
        centre = ViewCentre();
}

void TrackGraphicsView::SetPanKeyHeld(bool held)
{
    panKeyHeld = held;
    UpdateCursorShape();
}

void TrackGraphicsView::UpdateCursorShape()
{
    if (panning)
        viewport()->setCursor(Qt::ClosedHandCursor);
    else if (panKeyHeld)
        viewport()->setCursor(Qt::OpenHandCursor);
    else
        viewport()->unsetCursor();
}

bool TrackGraphicsView::StartsPan(const QMouseEvent *event) const
{
    // While a track is created every button places a point; only the pan key
    // pans then.
    const TrackScene *trackScene = Scene();
    const bool creating = trackScene && trackScene->IsCreating();
    return panKeyHeld || (event->button() == Qt::MiddleButton && !creating);
}

void TrackGraphicsView::mousePressEvent(QMouseEvent *event)
{
    if (panning) {
        event->accept();
        return;
    }
    if (StartsPan(event)) {
        // Never a point, a selection or a rubber band.
        panning = true;
        panButton = event->button();
        panFrom = event->position().toPoint();
        if (TrackScene *trackScene = Scene())
            trackScene->ClearHover();
        UpdateCursorShape();
        event->accept();
        return;
    }
    QGraphicsView::mousePressEvent(event);
}

void TrackGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    cursorInside = true;
    cursorAt = at;
    if (panning) {
        PanBy(panFrom - at);
        panFrom = at;
        event->accept();
    } else {
        QGraphicsView::mouseMoveEvent(event);
        if (event->buttons() == Qt::NoButton)
            UpdateHover(at);
    }
    emit CursorMoved(mapToScene(at));
}

void TrackGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (panning) {
        if (event->button() == panButton) {
            panning = false;
            UpdateCursorShape();
        }
        event->accept();
        return;
    }
    QGraphicsView::mouseReleaseEvent(event);
}

void TrackGraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double-click's second press is a press like the first.
    if (panning || StartsPan(event)) {
        mousePressEvent(event);
        return;
    }
    QGraphicsView::mouseDoubleClickEvent(event);
}

void TrackGraphicsView::wheelEvent(QWheelEvent *event)
{
    // The window steps, zooms and pans with the wheel wherever the pointer is.
    event->ignore();
}

qreal TrackGraphicsView::HitTolerance() const
{
    const qreal scale = std::min(std::abs(transform().m11()), std::abs(transform().m22()));
    return scale > 0.0 ? kHitPixels / scale : 0.0;
}

void TrackGraphicsView::UpdateHover(QPoint at)
{
    if (TrackScene *trackScene = Scene())
        trackScene->SetHoverPosition(mapToScene(at), HitTolerance());
}

void TrackGraphicsView::FollowCursor()
{
    if (!cursorInside || panning)
        return;
    UpdateHover(cursorAt);
    emit CursorMoved(mapToScene(cursorAt));
}

bool TrackGraphicsView::viewportEvent(QEvent *event)
{
    TrackScene *trackScene = Scene();
    if (event->type() == QEvent::ToolTip && trackScene) {
        auto *help = static_cast<QHelpEvent *>(event);
        const Fiber *fiber = trackScene->FiberAt(mapToScene(help->pos()), HitTolerance());
        if (!fiber) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        const QString text
            = fiber->error ? tr("Error track %1").arg(fiber->id) : tr("Track %1").arg(fiber->id);
        // Shown until the pointer leaves the marker.
        const TrackPoint *point = fiber->PointOn(fiber->currentImage);
        const qreal reach = trackScene->MarkerReach();
        const QRect area
            = mapFromScene(QRectF(point->x - reach, point->y - reach, 2 * reach, 2 * reach))
                  .boundingRect()
                  .adjusted(-kHitPixels, -kHitPixels, kHitPixels, kHitPixels);
        QToolTip::showText(help->globalPos(), text, viewport(), area);
        return true;
    }
    if (event->type() == QEvent::Leave) {
        cursorInside = false;
        if (trackScene)
            trackScene->ClearHover();
        emit CursorLeft();
    }
    return QGraphicsView::viewportEvent(event);
}
