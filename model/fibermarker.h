#pragma once

#include "model/fiber.h"

#include <QBrush>
#include <QGraphicsItem>
#include <QPen>
#include <QPointF>

// The marker behaviour shared by both kinds, written once over the graphics item
// type. A marker is invisible while hidden, and otherwise shows itself at its
// track's point on the current image, or not at all where the track has none.
//
// Markers do not paint themselves: the track scene draws all of them in one
// pass (tens of thousands of items each painting, even from a cached picture,
// cost several times a whole step). They stay items all the same, so that
// selection, the rubber band and hit-testing work on their shapes as before.
// Because an item without contents does not repaint the view when it moves or
// hides, markers are changed through the scene, which repaints them.
template <typename Item> class FiberMarker : public Fiber, public Item
{
public:
    FiberMarker(unsigned int id, const QColor &color, bool error)
        : Fiber(id, color, error)
    {
    }

    void Refresh()
    {
        // Runs for every marker on every image step: one look-up, not two.
        const TrackPoint *p = hidden ? nullptr : PointOn(currentImage);
        if (p)
            Item::setPos(QPointF(p->x, p->y));
        Item::setVisible(p != nullptr);
    }

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
        Item::setVisible(false);
    }

    void ApplyColor()
    {
        Item::setBrush(QBrush(color, Qt::SolidPattern));
        Refresh();
    }

protected:
    // Called by the concrete marker once its item geometry exists: selectable,
    // drawn by the scene, and invisible and hidden until a show operation.
    void InitMarker()
    {
        Item::setFlags(QGraphicsItem::ItemIsSelectable | QGraphicsItem::ItemHasNoContents);
        // A hairline, one screen pixel at every zoom; it also keeps the shape
        // used for hit-testing exactly the circle or the star.
        // One pen shared by every marker: hundreds of thousands of markers
        // would otherwise each hold a copy of it.
        static const QPen hairline(Qt::black, 0);
        Item::setPen(hairline);
        Item::setVisible(false);
        hidden = true;
    }
};
