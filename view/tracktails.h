#pragma once

class QImage;
class QTransform;
class TrackScene;

// Draws every shown track's tail (its path over the scene's tail length of
// images before and after the current one, in the colour its marker is drawn
// in) into layer, an image in Format_ARGB32_Premultiplied that toLayer maps
// scene coordinates into. One-pixel lines written straight into the image:
// tens of thousands of short lines cost a few milliseconds this way, where a
// painter's pen changing per track would cost far more.
void DrawTrackTails(QImage &layer, const TrackScene &scene, const QTransform &toLayer);
