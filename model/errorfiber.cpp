#include "model/errorfiber.h"

#include <cmath>

ErrorFiber::ErrorFiber(unsigned int id, const QColor &color, const QPolygonF &outline)
    : FiberMarker(id, color, true, MarkerOutline::Polygon(outline))
{
}

ErrorFiber::~ErrorFiber() = default;

QPolygonF ErrorFiber::StarOutline(double pi, double side)
{
    const double s = side;
    const auto rad = [pi](double degrees) { return degrees * pi / 180.0; };
    QPointF p[11];
    p[0] = QPointF(0.0, 0.0);
    p[1] = QPointF(s * std::cos(rad(72)), s * std::sin(rad(72)));
    p[2] = QPointF(p[1].x() + s, p[1].y());
    p[3] = QPointF(s * 0.5, p[2].y() - s * std::sin(rad(-144)));
    p[4] = QPointF(p[3].x() + s * std::cos(rad(-72)), p[3].y() - s * std::sin(rad(-72)));
    p[5] = QPointF(0.0, p[4].y() - s * std::sin(rad(-216)));
    p[6] = QPointF(-p[4].x(), p[4].y());
    p[7] = QPointF(-p[3].x(), p[3].y());
    p[8] = QPointF(-p[2].x(), p[2].y());
    p[9] = QPointF(-p[1].x(), p[1].y());
    p[10] = QPointF(0.0, 0.0);

    QPolygonF star;
    for (const QPointF &vertex : p)
        star << vertex;
    star.translate(0.0, -(star[5].y() + star[1].y()) * 0.5);
    return star;
}
