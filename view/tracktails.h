#pragma once

#include <QtGlobal>
#include <vector>

class Fiber;
class QImage;
class QTransform;
class TrackScene;

// Draws every shown track's tail (its path over the scene's tail length of
// images before and after the current one, in the colour its marker is drawn
// in) as one-pixel lines written straight into a layer image: tens of
// thousands of short lines cost a few milliseconds this way, where a
// painter's pen changing per track would cost far more.
//
// The tracks' points are read from a copy laid out one track after the other
// in marker order, made when tails are first drawn and again after markers
// were added, deleted or given other points: walking every track's point map
// on every step waited on memory for most of the step.
class TrackTails
{
public:
    // layer is in Format_ARGB32_Premultiplied; toLayer maps scene coordinates
    // into it (a scale and an offset).
    void Draw(QImage &layer, const TrackScene &scene, const QTransform &toLayer);
    // Gives the copy's memory back (tails turned off).
    void Clear();

private:
    struct Point
    {
        unsigned int image;
        float x;
        float y;
    };

    bool Current(const TrackScene &scene) const;
    void Copy(const TrackScene &scene);
    template <typename Marker> void CopyMarkers(const std::vector<Marker *> &markers);

    std::vector<Point> points;
    // Per marker (non-error ones first): where its points start, and what it
    // was when they were copied.
    std::vector<size_t> starts;
    std::vector<const Fiber *> owners;
    std::vector<quint64> versions;
    quint64 setVersion = 0;
    bool copied = false;
};
