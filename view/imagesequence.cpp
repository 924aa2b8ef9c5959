#include "view/imagesequence.h"

#include "model/parallelinorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <limits>
#include <sys/resource.h>

namespace ImageSequence {

namespace {

    constexpr qint64 unlimited = std::numeric_limits<qint64>::max();
    qint64 availableOverride = -1;

    // The display window of a 16-bit sequence: values at or below lo draw black,
    // at or above hi white.
    struct DisplayWindow
    {
        quint16 lo = 0;
        quint16 hi = 65535;
    };

    bool IsWide(const QImage &image) { return image.format() == QImage::Format_Grayscale16; }

    // One window for the whole sequence, from one histogram over every 16-bit
    // slice: per-slice windows would make neighbouring slices flicker in
    // brightness while stepping. The 0.1 % tails are cut so that a few hot or dead
    // pixels do not squeeze the rest of the data into a handful of grey levels.
    using Histogram = std::vector<quint64>;

    // Adds the values of a 16-bit slice to histogram (65536 bins).
    void CountValues(const QImage &image, Histogram &histogram)
    {
        const int width = image.width();
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const quint16 *>(image.constScanLine(y));
            for (int x = 0; x < width; ++x)
                ++histogram[line[x]];
        }
    }

    DisplayWindow FindDisplayWindow(const Histogram &histogram)
    {
        quint64 total = 0;
        for (const quint64 count : histogram)
            total += count;
        DisplayWindow window;
        if (total == 0)
            return window;

        const quint64 tail = total / 1000;
        auto valueAtRank = [&histogram](quint64 rank) {
            quint64 seen = 0;
            for (int value = 0; value < 65536; ++value) {
                seen += histogram[static_cast<size_t>(value)];
                if (seen > rank)
                    return static_cast<quint16>(value);
            }
            return static_cast<quint16>(65535);
        };
        window.lo = valueAtRank(tail);
        window.hi = valueAtRank(total - 1 - tail);
        if (window.hi <= window.lo) {
            // Nearly all pixels share one value: fall back to the full data range
            // so that the rare other values still show.
            window.lo = valueAtRank(0);
            window.hi = valueAtRank(total - 1);
        }
        if (window.hi <= window.lo) {
            // A constant sequence has no contrast to stretch; draw it as the
            // toolkit maps 16 bits to 8.
            window = DisplayWindow();
        }
        return window;
    }

    // Replaces a 16-bit slice by its 8-bit display image. If the smaller image
    // cannot be allocated the slice stays as it was: it still draws, only flatter.
    void ApplyDisplayWindow(QImage &image, const std::array<uchar, 65536> &table)
    {
        QImage display(image.size(), QImage::Format_Grayscale8);
        if (display.isNull())
            return;
        display.setDotsPerMeterX(image.dotsPerMeterX());
        display.setDotsPerMeterY(image.dotsPerMeterY());
        const int width = image.width();
        for (int y = 0; y < image.height(); ++y) {
            const auto *in = reinterpret_cast<const quint16 *>(image.constScanLine(y));
            uchar *out = display.scanLine(y);
            for (int x = 0; x < width; ++x)
                out[x] = table[in[x]];
        }
        image = std::move(display);
    }

    void ConvertWideSlices(std::vector<QImage> &images, const Histogram &histogram)
    {
        if (std::none_of(images.begin(), images.end(), IsWide))
            return;
        const DisplayWindow window = FindDisplayWindow(histogram);
        std::array<uchar, 65536> table;
        const double scale = 255.0 / (window.hi - window.lo);
        for (int value = 0; value < 65536; ++value) {
            if (value <= window.lo)
                table[static_cast<size_t>(value)] = 0;
            else if (value >= window.hi)
                table[static_cast<size_t>(value)] = 255;
            else
                table[static_cast<size_t>(value)]
                    = static_cast<uchar>((value - window.lo) * scale + 0.5);
        }
        // Each helper narrows slices of its own; the vector itself is not
        // resized meanwhile.
        const std::function<int(int)> narrow = [&images, &table](int i) {
            QImage &image = images[static_cast<size_t>(i)];
            if (IsWide(image))
                ApplyDisplayWindow(image, table);
            return i;
        };
        ParallelInOrder<int>(static_cast<int>(images.size()), narrow,
                             [](int, int &) { return true; });
    }

    // Bytes of a QImage of that size and format (lines padded to 32 bits).
    qint64 ImageBytes(const QSize &size, QImage::Format format)
    {
        const qint64 bits = QImage::toPixelFormat(format).bitsPerPixel();
        const qint64 bytesPerLine = (size.width() * bits + 31) / 32 * 4;
        return bytesPerLine * size.height();
    }

    qint64 ReadNumber(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        bool ok = false;
        const qint64 value = file.readAll().trimmed().toLongLong(&ok);
        return ok ? value : -1;
    }

    // Free bytes under a cgroup's memory limit, walking from the program's own
    // group up to the mount point: a limit set on a parent binds as well.
    qint64 CgroupRoom(const QString &mountPoint, const QString &groupPath, const char *limitFile,
                      const char *usageFile)
    {
        qint64 room = unlimited;
        QString directory = QDir::cleanPath(mountPoint + QLatin1Char('/') + groupPath);
        if (!QFileInfo(directory).isDir())
            directory = mountPoint; // a private cgroup namespace shows the group as the root
        const QString top = QDir::cleanPath(mountPoint);
        for (;;) {
            // "max" (version 2) does not parse and a huge number (version 1)
            // means no limit at that level.
            const qint64 limit
                = ReadNumber(directory + QLatin1Char('/') + QLatin1String(limitFile));
            if (limit > 0 && limit < (qint64(1) << 60)) {
                const qint64 usage = std::max<qint64>(
                    0, ReadNumber(directory + QLatin1Char('/') + QLatin1String(usageFile)));
                room = std::min(room, std::max<qint64>(0, limit - usage));
            }
            if (QDir::cleanPath(directory) == top || directory.size() <= top.size())
                break;
            directory = QFileInfo(directory).path();
        }
        return room;
    }

    qint64 CgroupLimit()
    {
        QFile cgroups(QStringLiteral("/proc/self/cgroup"));
        QFile mounts(QStringLiteral("/proc/self/mountinfo"));
        if (!cgroups.open(QIODevice::ReadOnly) || !mounts.open(QIODevice::ReadOnly))
            return unlimited;

        QString v1Mount, v2Mount;
        const QList<QByteArray> mountLines = mounts.readAll().split('\n');
        for (const QByteArray &line : mountLines) {
            // ... mountpoint options - fstype source superoptions
            const QList<QByteArray> fields = line.split(' ');
            const int dash = fields.indexOf("-");
            if (dash < 5 || dash + 3 >= fields.size())
                continue;
            const QString mountPoint = QString::fromLocal8Bit(fields[4]);
            if (fields[dash + 1] == "cgroup2" && v2Mount.isEmpty())
                v2Mount = mountPoint;
            else if (fields[dash + 1] == "cgroup" && fields[dash + 3].split(',').contains("memory"))
                v1Mount = mountPoint;
        }

        qint64 room = unlimited;
        const QList<QByteArray> groupLines = cgroups.readAll().split('\n');
        for (const QByteArray &line : groupLines) {
            // hierarchy-id:controllers:path
            const int first = line.indexOf(':');
            const int second = line.indexOf(':', first + 1);
            if (first < 0 || second < 0)
                continue;
            const QByteArray controllers = line.mid(first + 1, second - first - 1);
            const QString path = QString::fromLocal8Bit(line.mid(second + 1));
            if (controllers.isEmpty() && !v2Mount.isEmpty())
                room = std::min(room, CgroupRoom(v2Mount, path, "memory.max", "memory.current"));
            else if (controllers.split(',').contains("memory") && !v1Mount.isEmpty())
                room = std::min(
                    room,
                    CgroupRoom(v1Mount, path, "memory.limit_in_bytes", "memory.usage_in_bytes"));
        }
        return room;
    }

    qint64 MemAvailable()
    {
        QFile meminfo(QStringLiteral("/proc/meminfo"));
        if (!meminfo.open(QIODevice::ReadOnly))
            return unlimited;
        const QList<QByteArray> lines = meminfo.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (!line.startsWith("MemAvailable:"))
                continue;
            const QList<QByteArray> fields = line.simplified().split(' ');
            bool ok = false;
            const qint64 kib = fields.value(1).toLongLong(&ok);
            if (ok)
                return kib * 1024;
        }
        return unlimited;
    }

    // An address-space limit (ulimit -v) makes allocations fail long before the
    // machine runs short.
    qint64 AddressSpaceRoom()
    {
        rlimit limit {};
        if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return unlimited;
        QFile status(QStringLiteral("/proc/self/status"));
        qint64 used = 0;
        if (status.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = status.readAll().split('\n');
            for (const QByteArray &line : lines) {
                if (line.startsWith("VmSize:"))
                    used = line.simplified().split(' ').value(1).toLongLong() * 1024;
            }
        }
        const qint64 cap = static_cast<qint64>(std::min<rlim_t>(limit.rlim_cur, unlimited));
        return std::max<qint64>(0, cap - used);
    }

} // namespace

void AllowLargeImages()
{
    // The reader counts at least 4 bytes a pixel, so 8 GiB by its count lets a
    // 2 GiB 16-bit slice through. QT_IMAGEIO_MAXALLOC still overrides it.
    static const bool done = [] {
        QImageReader::setAllocationLimit(8192);
        return true;
    }();
    Q_UNUSED(done);
}

bool Decode(const QStringList &files, std::vector<QImage> &images,
            std::vector<unsigned int> &failed, const Progress &progress)
{
    AllowLargeImages();
    images.clear();
    images.reserve(static_cast<size_t>(files.size()));
    const int total = static_cast<int>(files.size());

    // Slices decode on helper threads, each counting its own 16-bit values;
    // they join the sequence, the histogram and the progress in file order.
    struct Slice
    {
        QImage image;
        Histogram histogram;
    };
    const std::function<Slice(int)> decode = [&files](int i) {
        Slice slice { QImage(files[i]), {} };
        if (IsWide(slice.image)) {
            slice.histogram.assign(65536, 0);
            CountValues(slice.image, slice.histogram);
        }
        return slice;
    };
    Histogram histogram(65536, 0);
    const std::function<bool(int, Slice &)> keep = [&](int i, Slice &slice) {
        if (slice.image.isNull())
            failed.push_back(static_cast<unsigned int>(i));
        images.push_back(std::move(slice.image));
        for (size_t value = 0; value < slice.histogram.size(); ++value)
            histogram[value] += slice.histogram[value];
        return !progress || progress(i + 1, total);
    };
    if (!ParallelInOrder(total, decode, keep))
        return false;

    // The window needs every slice, so 16-bit slices are narrowed only once
    // all are in; the 8-bit images then halve the memory and draw without the
    // toolkit's per-paint conversion. Nothing is ever written from them.
    ConvertWideSlices(images, histogram);
    return true;
}

qint64 EstimateBytes(const QStringList &files)
{
    // While loading, every slice is held as decoded (16-bit slices are narrowed
    // only after the last one), and each helper thread decoding or narrowing
    // needs room for one more slice. Once loaded the sequence needs less, so the peak decides.
    qint64 decoded = 0;
    qint64 largest = 0;
    for (const QString &path : files) {
        QImageReader reader(path);
        const QSize size = reader.size();
        if (!size.isValid())
            continue; // cannot be decoded either: a failed file, held as a null image
        QImage::Format format = reader.imageFormat();
        if (format == QImage::Format_Invalid)
            format = QImage::Format_ARGB32; // unknown: assume the common 32-bit decode
        const qint64 bytes = ImageBytes(size, format);
        decoded += bytes;
        largest = std::max(largest, bytes);
    }
    return decoded + LoadThreads() * largest;
}

qint64 AvailableBytes()
{
    if (availableOverride >= 0)
        return availableOverride;
    return std::min({ MemAvailable(), CgroupLimit(), AddressSpaceRoom() });
}

void SetAvailableBytesOverride(qint64 bytes) { availableOverride = bytes; }

} // namespace ImageSequence
