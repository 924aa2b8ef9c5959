#pragma once

#include <QImage>

class QGraphicsView;

// Pictures of the track view for reports; no file involved.

// What view shows (image, markers, the hovered track's path) at the view's
// size in screen pixels.
QImage RenderShownView(QGraphicsView *view);

// The part of the image that view shows, one pixel per image pixel, with the
// markers and the path drawn at that scale; null without an image.
QImage RenderVisibleImage(QGraphicsView *view);
