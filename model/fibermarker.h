#pragma once

#include "model/fiber.h"
#include "model/markeroutline.h"

#include <QBrush>
#include <QGraphicsItem>

// The marker behaviour shared by both kinds. A marker is invisible while
// hidden, and otherwise shows itself at its track's point on the current image,
// or not at all where the track has none.
//
// Markers do not paint themselves: the track scene draws all of them in one
// pass (tens of thousands of items each painting, even from a cached picture,
// cost several times a whole step). They stay items all the same, so that
// selection, the rubber band and hit-testing work on their shapes as before.
// Because an item without contents does not repaint the view when it moves or
// hides, markers are changed through the scene, which repaints them.
//
// A marker is a bare graphics item with a shared outline rather than a Qt
// shape item: those keep a pen, a brush and a shape of their own, which a
// marker never paints with, at a few hundred bytes a track.
class FiberMarker : public Fiber, public QGraphicsItem
{
public:
    void Refresh()
    {
        // Runs for every marker on every image step: one look-up, not two.
        const TrackPoint *p = hidden ? nullptr : PointOn(currentImage);
        if (p)
            PlaceAt(p->x, p->y);
        Show(p != nullptr);
    }

    // Where the marker is drawn, while the track's point is being dragged.
    void PreviewAt(QPointF at) { PlaceAt(float(at.x()), float(at.y())); }

    // isVisible() and pos(), read without the item's private data: the
    // drawing and the hover look at every marker, and the toolkit keeps that
    // data in an allocation of its own, one cache miss each for a hundred
    // thousand markers. Kept equal by the only calls that change them.
    bool Shown() const { return shown; }
    QPointF ShownAt() const { return QPointF(shownX, shownY); }

    void SetCurrentImage(int image)
    {
        currentImage = image;
        Refresh();
    }

    void ShowFiber()
    {
        hidden = false;
        Refresh();
    }

    void HideFiber()
    {
        hidden = true;
        Show(false);
    }

    // The colour is fixed at construction; the scene's marker layer fills the
    // marker with it.
    void ApplyColor() { Refresh(); }
    QBrush brush() const { return QBrush(color, Qt::SolidPattern); }

    // The outline the marker is hit-tested and selected by (the scene gives
    // all markers of a kind a new one when the marker size changes).
    const MarkerOutline &Outline() const { return *outline; }
    void SetOutline(MarkerOutline::Pointer shared);

    QRectF boundingRect() const override { return outline->rect; }
    QPainterPath shape() const override { return outline->shape; }
    bool contains(const QPointF &point) const override { return outline->shape.contains(point); }
    void paint(QPainter *, const QStyleOptionGraphicsItem *, QWidget *) override { }

protected:
    // Selectable, drawn by the scene, and invisible and hidden until a show
    // operation.
    FiberMarker(unsigned int id, const QColor &color, bool error, MarkerOutline::Pointer outline);

private:
    void PlaceAt(float x, float y)
    {
        setPos(QPointF(x, y));
        shownX = x;
        shownY = y;
    }

    void Show(bool show)
    {
        // The toolkit's own check of an unchanged visibility reads its
        // private data.
        if (show == shown)
            return;
        shown = show;
        setVisible(show);
    }

    MarkerOutline::Pointer outline;
    float shownX = 0;
    float shownY = 0;
    bool shown = false;
};
