#include "view/trackgraphicsview.h"

#include "model/fiber.h"
#include "view/trackscene.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QRubberBand>
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

// The larger of the two fitted scales (the one scale when the aspect ratio
// is kept), in screen pixels per image pixel, for the viewport as it is
// without scroll bars.
qreal TrackGraphicsView::FitLimit() const
{
    const QRectF rect = sceneRect();
    const QSize area = maximumViewportSize();
    // fitInView keeps a margin of 2 pixels on every side.
    const qreal across = (area.width() - 4) / rect.width();
    const qreal down = (area.height() - 4) / rect.height();
    return (keepAspect ? std::min(across, down) : std::max(across, down)) * devicePixelRatioF();
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
        fitInView(scene()->sceneRect(), keepAspect ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio);
    applying = false;
    emit ZoomChanged();
    FollowCursor();
}

void TrackGraphicsView::SetKeepAspectRatio(bool keep)
{
    if (keep == keepAspect)
        return;
    keepAspect = keep;
    if (fitted)
        FitToWindow();
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
    applying = true;
    ApplySquareZoom(newZoom);
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

void TrackGraphicsView::ApplySquareZoom(qreal newZoom)
{
    fitted = false;
    zoom = newZoom;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const qreal scale = zoom / devicePixelRatioF();
    setTransform(QTransform::fromScale(scale, scale));
    // The scroll area shows or hides its bars for a new range only once the
    // event loop comes round; the viewport would shrink after the anchor was
    // placed and the view re-centre, moving the image by half a bar. Laying
    // them out now gives the viewport its size before anything is placed.
    QEvent layout(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(this, &layout);
}

void TrackGraphicsView::ShowPoint(QPointF scenePos, qreal minZoom)
{
    if (!HasImage())
        return;
    if (fitted && std::min(ZoomX(), ZoomY()) >= minZoom * (1.0 - kSameZoom))
        return;
    applying = true;
    ApplySquareZoom(std::min(kMaxZoom, fitted ? minZoom : std::max(zoom, minZoom)));
    centerOn(scenePos);
    applying = false;
    centre = ViewCentre();
    anchorKept = false;
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

bool TrackGraphicsView::Creating() const
{
    const TrackScene *trackScene = Scene();
    return trackScene && trackScene->IsCreating();
}

bool TrackGraphicsView::StartsPan(const QMouseEvent *event) const
{
    // While a track is created every button places a point; only the pan key
    // pans then.
    return panKeyHeld || (event->button() == Qt::MiddleButton && !Creating());
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
    if (gesture != Gesture::None) {
        event->accept();
        return;
    }
    // The press never reaches the scene: the toolkit would let a marker take
    // it, and then no rubber band could start on a marker.
    if (event->button() == Qt::LeftButton && !Creating() && Scene()) {
        StartGesture(event);
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
    } else if (gesture != Gesture::None) {
        MoveGesture(at);
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
    if (gesture != Gesture::None) {
        if (event->button() == Qt::LeftButton)
            EndGesture(event->position().toPoint());
        event->accept();
        return;
    }
    QGraphicsView::mouseReleaseEvent(event);
}

void TrackGraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double-click's second press is a press like the first.
    if (panning || StartsPan(event) || gesture != Gesture::None
        || (event->button() == Qt::LeftButton && !Creating())) {
        mousePressEvent(event);
        return;
    }
    QGraphicsView::mouseDoubleClickEvent(event);
}

void TrackGraphicsView::StartGesture(const QMouseEvent *event)
{
    TrackScene *trackScene = Scene();
    gesture = Gesture::Pending;
    pressAt = event->position().toPoint();
    pressModifiers = event->modifiers();
    pressImage = trackScene->CurrentImage();
    const Fiber *fiber = trackScene->FiberAt(mapToScene(pressAt), HitTolerance());
    pressOnMarker = fiber != nullptr;
    if (fiber)
        pressKey = { fiber->error, fiber->id };
    emit Pressed();
}

void TrackGraphicsView::MoveGesture(QPoint at)
{
    TrackScene *trackScene = Scene();
    if (gesture == Gesture::Pending) {
        if ((at - pressAt).manhattanLength() < QApplication::startDragDistance())
            return;
        if (editingPoints && pressOnMarker) {
            gesture = Gesture::DragPoint;
        } else {
            gesture = Gesture::Band;
            if (!(pressModifiers & Qt::ControlModifier))
                trackScene->clearSelection();
            if (!band)
                band = new QRubberBand(QRubberBand::Rectangle, viewport());
            band->show();
        }
    }
    if (gesture == Gesture::Band)
        UpdateBand(at);
    else if (gesture == Gesture::DragPoint)
        trackScene->PreviewPoint(pressKey, mapToScene(at));
}

void TrackGraphicsView::EndGesture(QPoint at)
{
    const Gesture ended = gesture;
    gesture = Gesture::None;
    switch (ended) {
    case Gesture::Band:
        UpdateBand(at);
        band->hide();
        break;
    case Gesture::DragPoint:
        Scene()->EndPointPreview(pressKey);
        emit PointDragged(pressKey, pressImage, mapToScene(at));
        break;
    case Gesture::Pending:
        if (editingPoints && !pressOnMarker)
            emit ImageClicked(mapToScene(at));
        else
            ClickSelect();
        break;
    case Gesture::None:
        break;
    }
}

// As the toolkit's own band: the markers whose shapes it touches, from the
// press to the pointer, both pixels included; with Ctrl held they join the
// selection.
void TrackGraphicsView::UpdateBand(QPoint at)
{
    const QRect rect(std::min(pressAt.x(), at.x()), std::min(pressAt.y(), at.y()),
                     std::abs(pressAt.x() - at.x()) + 1, std::abs(pressAt.y() - at.y()) + 1);
    band->setGeometry(rect);
    QPainterPath area;
    area.addPolygon(mapToScene(rect));
    area.closeSubpath();
    const Qt::ItemSelectionOperation operation
        = pressModifiers & Qt::ControlModifier ? Qt::AddToSelection : Qt::ReplaceSelection;
    Scene()->setSelectionArea(area, operation, Qt::IntersectsItemShape, viewportTransform());
}

// As the toolkit selects on a click: the marker alone, or with Ctrl toggled
// in the selection; a click beside the markers clears the selection.
void TrackGraphicsView::ClickSelect()
{
    TrackScene *trackScene = Scene();
    QGraphicsItem *marker = pressOnMarker ? trackScene->FindMarker(pressKey) : nullptr;
    if (pressModifiers & Qt::ControlModifier) {
        if (marker)
            marker->setSelected(!marker->isSelected());
        return;
    }
    trackScene->clearSelection();
    if (marker)
        marker->setSelected(true);
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
