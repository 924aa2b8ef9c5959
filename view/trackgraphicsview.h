#pragma once

#include "edit/trackchange.h"

#include <QGraphicsView>
#include <QPointF>
#include <QSizeF>

class QRubberBand;
class TrackScene;

// The view window's graphics view. It shows the current image either fitted
// (the scene rectangle stretched to the view, aspect ratio ignored) or zoomed
// with square image pixels, from just above the fit to 32 screen pixels per
// image pixel, and then pans. Hovering a marker tells its track. The view
// takes no keyboard focus: the window handles the keys and the wheel and
// calls the zoom and pan operations here.
class TrackGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit TrackGraphicsView(QWidget *parent = nullptr);

    static constexpr qreal kMaxZoom = 32.0;

    bool IsFitted() const { return fitted; }
    // Screen pixels per image pixel as shown now, across and down (they
    // differ only in the fitted view).
    qreal ZoomX() const;
    qreal ZoomY() const;

    void FitToWindow();
    // The fitted view keeps square image pixels (the whole image shown, with
    // bars beside it) instead of stretching the image to the view.
    void SetKeepAspectRatio(bool keep);
    bool KeepsAspectRatio() const { return keepAspect; }
    // One step up or down the ladder of zooms (powers of the square root of
    // two, so that 100 % is on it) about the centre of the view. Up from the
    // fitted view goes to the first step that is larger than the fit both
    // across and down; down to the fit or below returns to the fitted view.
    void ZoomIn();
    void ZoomOut();
    // One image pixel per screen pixel, about the centre.
    void ShowActualPixels();
    // Zooms by factor keeping the image point under anchor (viewport
    // coordinates) where it is.
    void ZoomBy(qreal factor, QPointF anchor);
    // Shows zoom (clamped to the ladder's range; at or below the fit the
    // fitted view) with the image point centre in the middle, as far as the
    // image reaches: a view as it was saved.
    void ZoomAt(qreal zoom, QPointF centre);
    // Scrolls the image by delta screen pixels (nothing in the fitted view).
    void PanBy(QPoint delta);
    // Centres scenePos (as far as the image reaches) at a zoom of at least
    // minZoom; a larger zoom stays, and so does a fitted view that shows the
    // image at least that large both ways.
    void ShowPoint(QPointF scenePos, qreal minZoom);
    // The middle of the viewport, and the image point shown there.
    QPointF ViewportMiddle() const;
    QPointF ViewCentre() const;
    // Whether the cursor is over the viewport, and the scene point under it.
    bool CursorInside() const { return cursorInside; }
    QPointF CursorScenePos() const { return mapToScene(cursorAt); }

    // After the scene switched images: the fitted view fits the new image, a
    // zoomed view keeps its zoom and its centre.
    void ApplyZoom();
    // After a new image sequence: keeps the zoom if its images have the size
    // of the last ones, and returns to the fitted view otherwise.
    void SequenceLoaded();

    // While the pan key (Space) is held, a drag with any button pans.
    void SetPanKeyHeld(bool held);

    void SetEditingPoints(bool on) { editingPoints = on; }
    bool EditingPoints() const { return editingPoints; }

signals:
    void ZoomChanged();
    // The cursor over the viewport, in scene coordinates; CursorLeft once it
    // left the viewport.
    void CursorMoved(QPointF scenePos);
    void CursorLeft();
    // A left press that starts a click, a rubber band or a drag of a point.
    void Pressed();
    // Editing points: the marker of key was dragged from its point on image
    // to scenePos (the pixel under the cursor at the release).
    void PointDragged(TrackKey key, int image, QPointF scenePos);
    // Editing points: a click on the image that is on no marker.
    void ImageClicked(QPointF scenePos);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    TrackScene *Scene() const;
    bool HasImage() const;
    bool StartsPan(const QMouseEvent *event) const;
    qreal FitLimit() const;
    // The zoom a step starts from: the fitted view counts as its larger scale.
    qreal CurrentZoom() const;
    // Zooms to to (at most 32x) about anchor. The fitted view only zooms in;
    // zooming out to the fit or below returns to it; a change of next to
    // nothing is ignored.
    void ZoomTo(qreal to, QPointF anchor);
    void SetZoom(qreal zoom, QPointF anchor);
    // Leaving the fitted view: square pixels at zoom, the scroll bars as the
    // new zoom needs them.
    void ApplySquareZoom(qreal newZoom);
    void UpdateCursorShape();
    void UpdateHover(QPoint at);
    void FollowCursor();
    qreal HitTolerance() const;
    bool Creating() const;
    void StartGesture(const QMouseEvent *event);
    void MoveGesture(QPoint at);
    void EndGesture(QPoint at);
    void UpdateBand(QPoint at);
    void ClickSelect();

    bool fitted = true;
    bool keepAspect = false;
    qreal zoom = 1.0;
    QPointF centre;
    // The image point held under the anchor of the last zoom: zooming again at
    // the same place holds that point, so that scrolling by whole pixels at
    // each step does not make it creep.
    bool anchorKept = false;
    QPointF anchorView;
    QPointF anchorScene;
    QSizeF sequenceSize;
    // Set while the view changes its own transform and scroll bars: the
    // centre the user chose must not follow what they pass through.
    bool applying = false;
    // The cursor's last place over the viewport, while it is there: when the
    // image moves under a still cursor, the hovered track and the status bar
    // follow.
    bool cursorInside = false;
    QPoint cursorAt;
    bool panKeyHeld = false;
    bool panning = false;
    Qt::MouseButton panButton = Qt::NoButton;
    QPoint panFrom;

    // A left-button gesture outside track creation: undecided until the
    // pointer moves far enough to be a drag.
    enum class Gesture { None, Pending, Band, DragPoint };
    Gesture gesture = Gesture::None;
    QPoint pressAt;
    Qt::KeyboardModifiers pressModifiers;
    bool pressOnMarker = false;
    TrackKey pressKey;
    int pressImage = -1;
    QRubberBand *band = nullptr;
    bool editingPoints = false;
};
