#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <vector>

class QThreadPool;

// What it takes to show one slice of an image sequence: reading the headers of
// the chosen files (a multi-page TIFF gives one slice per page), the one
// contrast window of a 16-bit stack, decoding a slice into its display image,
// and the memory figures that decide how many slices can be held.
namespace ImageSequence {

// One slice as its file's header describes it; nothing is decoded.
struct SliceInfo
{
    QString path;
    int page = 0; // page of a multi-page TIFF, else 0
    int pages = 1; // pages of its file
    QSize size; // invalid when the header does not tell
    QImage::Format format = QImage::Format_Invalid; // as the header announces it, if it does
};

// The slices of files, in the given order and each file's pages in page order.
// Headers are read on helper threads. A file whose header cannot be read is
// still one slice (of unknown size), so that every file keeps a place.
std::vector<SliceInfo> ReadHeaders(const QStringList &files);

// Gray level of every 16-bit value: one table for the whole stack, so the same
// raw value draws the same grey on every slice.
using DisplayTable = std::array<uchar, 65536>;

// The table of a 16-bit stack from the slices at sample (indexes into slices):
// the 0.1 % darkest values draw black and the 0.1 % brightest white. Decodes
// the sample on helper threads, one slice per helper at a time.
std::shared_ptr<const DisplayTable> SampleDisplayTable(const std::vector<SliceInfo> &slices,
                                                       const std::vector<int> &sample);
// At most limit slices, evenly spaced over the 16-bit slices (by header), the
// first and the last included; all of them when there are no more than limit.
std::vector<int> ContrastSample(const std::vector<SliceInfo> &slices, int limit = 32);

bool IsWide(const QImage &image);
// Decodes slice into raw, reusing raw's pixels when size and format match.
bool DecodeSlice(const SliceInfo &slice, QImage &raw);

// A decoded slice as it is drawn: 16-bit slices narrowed to 8 bits (wide),
// any other slice as it decoded. display is null when decoding failed.
struct Decoded
{
    QImage display;
    bool wide = false;
};
// Decodes slice with raw as the decoding buffer: a 16-bit slice stays in it,
// with its raw values, while its narrowed copy (written into spare when that
// has the right size and format and no other user) is returned; any other
// slice is handed over and raw is left empty.
Decoded DecodeDisplay(const SliceInfo &slice, QImage &raw, const DisplayTable &table,
                      QImage spare = {});
// The same on a thread of Helpers(), with that thread's own buffer, so that
// a helper decoding slice after slice allocates its raw pixels only once.
Decoded DecodeOnHelper(const SliceInfo &slice, const DisplayTable &table, QImage spare = {});

// Bytes of the display image of slice, from the header.
qint64 DisplayBytes(const SliceInfo &slice);
// The most that decoding one of slices holds at a time (raw and display
// image together), from the headers that tell a size; 0 if none.
qint64 LargestDecodeBytes(const std::vector<SliceInfo> &slices);

// Qt's image reader refuses images above an allocation limit, one for the
// whole process. Decoding a sequence is held to its largest slice by header,
// so a file that decodes far larger than it announces (a GIF's logical
// screen) fails instead of taking the memory; when no header tells a size, to
// fallbackBytes.
void LimitDecoding(const std::vector<SliceInfo> &slices, qint64 fallbackBytes);
// Lifts Qt's default limit of 128 MB (at 4 bytes a pixel), which large
// microscope slices exceed, until a sequence sets its own.
void AllowLargeImages();

// Memory the machine can give the program now. Tests lower it with
// SetAvailableBytesOverride (a negative value restores the real figure).
qint64 AvailableBytes();
void SetAvailableBytesOverride(qint64 bytes);
// Bytes of display images a sequence may hold: STRANDSIGHT_CACHE_MB when set,
// else available less 1 GiB (at least a quarter of available).
qint64 CacheBudget(qint64 available);

// The threads that read headers and decode slices: the cores there are, at
// most four (each one holds a slice or two in memory while it works).
int HelperThreads();
QThreadPool *Helpers();

} // namespace ImageSequence
