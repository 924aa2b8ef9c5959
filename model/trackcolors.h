#pragma once

#include "model/tracktypes.h"

#include <QColor>
#include <QList>

// Colour rules for tracks; no widget involved.

// Gives every track of tracks a colour: the fractions 0, 1/n, .. (n-1)/n in an
// order shuffled with rand(), each used as hue, saturation and value. An empty
// table leaves colors as it was.
void AssignTrackColors(const TrackTable &tracks, ColorTable &colors);

// The hue in the middle of the widest gap between the hues of colours (n >= 2).
int MidHueOfWidestGap(const QList<QColor> &colours);

// A random fully saturated colour with value 128..255; reseeds rand() with the
// time in seconds on every call.
QColor RandomTrackColor();

// A colour standing out against the tracks near a new track: random with no
// neighbour, the opposite hue of a single neighbour, otherwise the middle of the
// widest hue gap; full saturation and value.
QColor ContrastingTrackColor(const QList<QColor> &neighbours);

// A colour of the same hue as colour, saturated and bright enough to stand out
// on any slice (white for a colour without hue).
QColor BrightTrackColor(const QColor &colour);
