#pragma once

#include "view/tracktails.h"

#include <QImage>
#include <QPainterPath>
#include <QPoint>
#include <QRect>
#include <QTransform>
#include <vector>

class QPainter;
class TrackScene;

// One look of a marker (circle or star, selected or not) at one zoom, drawn
// once with the painter: where the track's colour goes (coverage) and what
// is drawn over it in fixed colours (the hairline, the selection frame), both
// placed by origin, the marker's point.
struct MarkerSprite
{
    // The columns each row paints, as runs in column order: pixels wholly in
    // the track's colour with nothing over them (the inside of a filled
    // marker, most of its pixels far zoomed in) are simply filled, the
    // others blended; columns that paint nothing are in no run.
    struct Run
    {
        int begin;
        int end;
        bool solid;
    };

    QImage coverage;
    QImage overlay;
    QPoint origin;
    std::vector<Run> runs;
    // Row y's runs are runs[rowStarts[y]] up to runs[rowStarts[y + 1]].
    std::vector<int> rowStarts;
};

// Draws every visible marker of a track scene in one pass: each marker is
// stamped from the sprite of its look in its track's colour into an image the
// size of the view. That image is kept until the markers, the zoom or the
// look change, so that repainting the view for anything else (hovering, the
// rubber band) costs one copy.
class MarkerLayer
{
public:
    // Draws the markers over the part of the scene the painter exposes; the
    // layer is drawn again once the scene's markers changed.
    void Draw(QPainter *painter, const QRectF &exposed, const TrackScene &scene);
    // The scene's marker generation the layer shows.
    quint64 DrawnGeneration() const { return drawn ? drawnGeneration : 0; }

private:
    // A marker to stamp: the layer pixel of its point, its colour
    // (premultiplied), its look (kind * 2 + selected).
    struct Placed
    {
        QPoint at;
        quint32 colour;
        int look;
    };

    void Render(const TrackScene &scene, const QTransform &toLayer, qreal ratio);
    // Draws again only around places (scene coordinates) where markers
    // changed; false when that cannot be done and all must be drawn.
    bool RenderAround(const TrackScene &scene, const QTransform &toLayer,
                      const std::vector<QPointF> &places);
    // True when the sprites had to be drawn anew.
    bool PrepareSprites(const TrackScene &scene, qreal scaleX, qreal scaleY, qreal ratio);
    template <typename Marker>
    void Place(const std::vector<Marker *> &markers, const QTransform &toLayer, int kind,
               QPainter *direct);
    void StampPlaced();

    QImage layer;
    quint64 drawnGeneration = 0;
    QTransform drawnTransform;
    QRect drawnRect;
    qreal drawnRatio = 0;
    bool drawn = false;

    // For the looks normal, normal selected, error, error selected. Empty
    // far zoomed in, where a sprite would be too large: the few markers on
    // the screen are then painted one by one.
    MarkerSprite sprites[4];
    bool spritesUsable = false;
    QPainterPath deviceShapes[2];
    QPainterPath spriteShapes[2];
    qreal spriteScaleX = 0;
    qreal spriteScaleY = 0;
    qreal spriteRatio = 0;
    bool spriteOutline = false;

    TrackTails tails;
    std::vector<Placed> placed;
    std::vector<QPointF> changedPlaces;
    std::vector<int> bandStarts;
    std::vector<int> bandFill;
    std::vector<Placed> inBands;
};
