#include "model/fibermarker.h"

FiberMarker::FiberMarker(unsigned int id, const QColor &color, bool error,
                         MarkerOutline::Pointer outline)
    : Fiber(id, color, error)
    , outline(std::move(outline))
{
    setFlags(QGraphicsItem::ItemIsSelectable | QGraphicsItem::ItemHasNoContents);
    setVisible(false);
    hidden = true;
}

void FiberMarker::SetOutline(MarkerOutline::Pointer shared)
{
    if (shared == outline)
        return;
    prepareGeometryChange();
    outline = std::move(shared);
}
