#pragma once

#include "model/fiber.h"

#include <QBrush>
#include <QGraphicsItem>
#include <QPointF>

// The marker behaviour shared by both kinds, written once over the graphics item
// type. A marker is invisible while hidden, and otherwise shows itself at its
// track's point on the current image, or not at all where the track has none.
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
        // No update() of its own: moving and showing repaint the old and the
        // new place already, and an explicit update would throw away the
        // marker's cached picture on every image step.
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
        Item::update();
        Refresh();
    }

protected:
    // Called by the concrete marker once its item geometry exists: selectable
    // only, and invisible and hidden until a show operation.
    void InitMarker()
    {
        Item::setFlags(QGraphicsItem::ItemIsSelectable);
        // Drawn once into a small picture in view pixels and then only copied:
        // every marker is repainted on every image step, and tens of thousands
        // of antialiased outlines cost several times more than the copies.
        Item::setCacheMode(QGraphicsItem::DeviceCoordinateCache);
        Item::setVisible(false);
        hidden = true;
    }
};
