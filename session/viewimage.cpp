#include "session/viewimage.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>

QImage RenderShownView(QGraphicsView *view)
{
    QWidget *viewport = view->viewport();
    const qreal ratio = viewport->devicePixelRatioF();
    QImage image(viewport->size() * ratio, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(ratio);
    image.fill(viewport->palette().color(viewport->backgroundRole()));
    QPainter painter(&image);
    painter.setRenderHints(view->renderHints());
    view->render(&painter, QRectF(QPointF(), viewport->size()), viewport->rect(),
                 Qt::IgnoreAspectRatio);
    return image;
}

QImage RenderVisibleImage(QGraphicsView *view)
{
    QGraphicsScene *scene = view->scene();
    if (!scene || scene->sceneRect().isEmpty())
        return {};
    const QRectF shown = view->mapToScene(view->viewport()->rect()).boundingRect();
    // Whole image pixels: a pixel cut by the edge of the view is taken whole.
    const QRect pixels = shown.intersected(scene->sceneRect())
                             .toAlignedRect()
                             .intersected(scene->sceneRect().toAlignedRect());
    if (pixels.isEmpty())
        return {};
    QImage image(pixels.size(), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHints(view->renderHints());
    scene->render(&painter, QRectF(image.rect()), QRectF(pixels), Qt::IgnoreAspectRatio);
    return image;
}
