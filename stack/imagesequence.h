#pragma once

// The image stack: its slices' headers and pages, decoding, contrast, and the memory it may take.

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class HelperPool;
class TaskControl;

namespace ImageSequence {

// Why a slice is not shown.
enum class Failure : quint8 {
    None,
    Undecodable,
    NotRegularFile, // a folder, a pipe, a device
    Unopenable, // gone, or not readable for the user
    ChangedSize, // its image is no longer the size it had when the stack was opened
    Unsupported, // a kind of image the reader would show wrong
    OutOfMemory,
};

// A file as stat() saw it: a slice that failed is tried again once its file
// has changed.
struct FileStamp
{
    qint64 size = -1;
    qint64 modified = 0; // nanoseconds
    bool operator==(const FileStamp &other) const
    {
        return size == other.size && modified == other.modified;
    }
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
};

// One slice as its file's header describes it; nothing is decoded.
struct SliceInfo
{
    QString path;
    QByteArray reader; // Qt's name of the file's format ("tiff", "png"), empty if unknown
    int page = 0; // page of a multi-page TIFF, else 0
    int pages = 1; // slices of its file
    // Where a TIFF page's directory starts, so that it can be decoded without
    // walking the file's page chain; 0 for any other file.
    qint64 directoryOffset = 0;
    bool bigTiff = false;
    bool bigEndian = false;
    QSize size; // invalid when the header does not tell
    QImage::Format format = QImage::Format_Invalid; // as the header announces it, if it does
    // Two's complement samples, which the reader takes for unsigned ones.
    bool signedSamples = false;
    // Known from the header: the slice is never decoded (unsupported is the
    // reason shown).
    Failure failure = Failure::None;
    QString unsupported;
    FileStamp stamp; // when the header was read
};

// The name the user knows a slice by: its file name, and the page of a
// multi-page file ("stack.tif, page 3 of 20").
QString SliceName(const SliceInfo &slice);

// The slices of a selection and what the user should know about them.
struct Headers
{
    std::vector<SliceInfo> slices;
    // Pages left out (reduced-resolution copies, pages of a file that ends
    // early) and slices of another size than the first, one line each.
    QStringList notes;
};

// The slices of files, in the given order and each file's pages in page order,
// read on helper threads. A file whose header cannot be read is still one
// slice (of unknown size), so that every file keeps a place. With control, the
// progress is reported in its stage and a cancel stops the reading (the
// result is then incomplete).
Headers ReadHeaders(const QStringList &files, TaskControl *control = nullptr);

// Gray level of every 16-bit value: one table for the whole stack, so the same
// raw value draws the same grey on every slice.
using DisplayTable = std::array<uchar, 65536>;

// The table of a 16-bit stack from the slices at sample (indexes into slices):
// the 0.1 % darkest values draw black and the 0.1 % brightest white. Decodes
// the sample on helper threads, one slice per helper at a time. Null when
// control was cancelled.
std::shared_ptr<const DisplayTable> SampleDisplayTable(const std::vector<SliceInfo> &slices,
                                                       const std::vector<int> &sample,
                                                       TaskControl *control = nullptr);
// At most limit slices, evenly spaced over the 16-bit slices (by header), the
// first and the last included; all of them when there are no more than limit.
std::vector<int> ContrastSample(const std::vector<SliceInfo> &slices, int limit = 32);

bool IsWide(const QImage &image);
// Decodes slice into raw, reusing raw's pixels when size and format match;
// the stamp of the file as it was read goes to stamp.
Failure DecodeSlice(const SliceInfo &slice, QImage &raw, FileStamp *stamp = nullptr);

// A decoded slice as it is drawn: 16-bit slices narrowed to 8 bits (wide),
// any other slice as it decoded. display is null when decoding failed.
struct Decoded
{
    QImage display;
    bool wide = false;
    Failure failure = Failure::None;
    FileStamp stamp;
    QImage raw; // the 16-bit values, when they were asked for
};
// Decodes slice with raw as the decoding buffer: a 16-bit slice stays in it,
// with its raw values, while its narrowed copy (written into spare when that
// has the right size and format and no other user) is returned; any other
// slice is handed over and raw is left empty.
Decoded DecodeDisplay(const SliceInfo &slice, QImage &raw, const DisplayTable &table,
                      QImage spare = {});
// The same on a helper thread, with that thread's own buffer, so that a
// helper decoding slice after slice allocates its raw pixels only once.
Decoded DecodeOnHelper(const SliceInfo &slice, const DisplayTable &table, QImage spare = {});
// The file's stamp now; size -1 when it cannot be read.
FileStamp StampOf(const QString &path);

// The raw value of a sample as the file means it.
inline int SampleValue(quint16 stored, bool signedSamples)
{
    return signedSamples ? int(stored) - 32768 : int(stored);
}

// Bytes of the display image of slice, from the header.
qint64 DisplayBytes(const SliceInfo &slice);
// The most that decoding one of slices holds at a time (raw and display
// image together), from the headers that tell a size; 0 if none.
qint64 LargestDecodeBytes(const std::vector<SliceInfo> &slices);

// How a stack fits into the memory there is: besides the display images it
// holds (the budget), each helper needs its stack and decoding buffer, and
// the window the raw values of the slice under the cursor.
struct MemoryPlan
{
    qint64 oneImage = 0; // decoding the largest slice
    qint64 needed = 0; // the least the stack can be opened with (one helper)
    qint64 available = 0;
    int helpers = 0; // 0: refused
    qint64 budget = 0; // bytes of display images the cache may hold
};
MemoryPlan PlanMemory(const std::vector<SliceInfo> &slices, qint64 available);

// Qt's image reader refuses images above an allocation limit, one for the
// whole process. Decoding a sequence is held to its largest slice by header,
// so a file that decodes far larger than it announces (a GIF's logical
// screen) fails instead of taking the memory; when no header tells a size, to
// fallbackBytes.
void LimitDecoding(const std::vector<SliceInfo> &slices, qint64 fallbackBytes);
// Raises the limit to what slices need, never lowering it: while a new
// sequence is prepared, the one shown goes on decoding under the old limit.
void RaiseDecodingLimit(const std::vector<SliceInfo> &slices, qint64 fallbackBytes);
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
HelperPool &Helpers();

// For tests: called on the helper with the path of every slice it is about
// to decode, before the file is opened; a gate that blocks stands in for a
// file system that stalls. An empty gate removes it.
void SetDecodeGate(std::function<void(const QString &path)> gate);

} // namespace ImageSequence
