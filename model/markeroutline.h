#pragma once

#include <QExplicitlySharedDataPointer>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QSharedData>

// The outline that every marker of one kind and size shares: the shape that
// hit-testing and the rubber band use, and its bounds. Hundreds of thousands of
// markers each hold a pointer to one outline instead of a shape of their own.
// Never changed once made: a new marker size makes new outlines.
class MarkerOutline : public QSharedData
{
public:
    using Pointer = QExplicitlySharedDataPointer<MarkerOutline>;

    // The circle of radius around the marker's point; the star (or any
    // polygon) given by its vertices. Asking again for the outline made last
    // (the same radius, the same polygon) returns that one instead of a new one.
    static Pointer Circle(qreal radius);
    static Pointer Polygon(const QPolygonF &vertices);

    QRectF rect;
    QPolygonF polygon;
    QPainterPath shape;
};
