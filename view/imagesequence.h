#pragma once

#include <QImage>
#include <QStringList>
#include <functional>
#include <vector>

// Decoding an image sequence for display. Every slice is decoded once, at load,
// and kept in memory; files that cannot be decoded become null images at their
// place so that image index and file position always agree.
namespace ImageSequence {

// Called after each file with the number done and the total; returning false
// cancels the load.
using Progress = std::function<bool(int done, int total)>;

// Qt refuses by default to decode images above 128 MB; large microscope slices
// exceed that. Raises the limit once; harmless to call again.
void AllowLargeImages();

// Decodes files in order into images (replacing its content) and appends the
// positions of undecodable files to failed. 16-bit grayscale slices come back
// as 8-bit display images, all stretched by one window taken from the whole
// sequence; other slices are as the file decodes. Returns false, with images and
// failed unspecified, if progress cancelled.
bool Decode(const QStringList &files, std::vector<QImage> &images,
            std::vector<unsigned int> &failed, const Progress &progress = {});

// Bytes the sequence will need while it loads and once held (display
// conversion included), from the files' headers only; nothing is decoded.
qint64 EstimateBytes(const QStringList &files);

// Memory the machine can give the program now. Tests lower it with
// SetAvailableBytesOverride (a negative value restores the real figure).
qint64 AvailableBytes();
void SetAvailableBytesOverride(qint64 bytes);

} // namespace ImageSequence
