#include "model/markeroutline.h"

MarkerOutline::Pointer MarkerOutline::Circle(qreal radius)
{
    // Markers are made on the GUI thread, one kind after the other with the
    // same size: keeping the last outline shares it between all of them.
    thread_local Pointer last;
    const QRectF rect(-radius, -radius, 2 * radius, 2 * radius);
    if (!last || last->rect != rect) {
        last = Pointer(new MarkerOutline);
        last->rect = rect;
        last->shape.addEllipse(rect);
    }
    return last;
}

MarkerOutline::Pointer MarkerOutline::Polygon(const QPolygonF &vertices)
{
    thread_local Pointer last;
    // Usually the same shared vertices as last time, which compare at once.
    if (!last || last->polygon != vertices) {
        last = Pointer(new MarkerOutline);
        last->polygon = vertices;
        last->rect = vertices.boundingRect();
        last->shape.addPolygon(vertices);
        last->shape.closeSubpath();
    }
    return last;
}
