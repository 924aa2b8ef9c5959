#pragma once

#include <QColor>

class Fiber;
class QPainter;

// The two tones of a track's path: the part before the current image is
// drawn light, the part after it dark, both of the track's hue, so that the
// direction of the track reads at a glance whatever its own colour.
QColor PathToneBefore(const QColor &trackColour);
QColor PathToneAfter(const QColor &trackColour);

// Draws the path of a track across the whole sequence over the scene: a thin
// line through its points in image order, each point a dot, and the point on
// the current image ringed. Widths are in screen pixels at every zoom.
void DrawTrackPath(QPainter *painter, const Fiber &fiber, int currentImage);
