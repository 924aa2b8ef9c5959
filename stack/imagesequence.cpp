#include "stack/imagesequence.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>
#include <algorithm>
#include <limits>
#include <sys/mman.h>
#include <sys/resource.h>

namespace ImageSequence {

namespace {

    constexpr qint64 unlimited = std::numeric_limits<qint64>::max();
    constexpr qint64 kMiB = 1024 * 1024;
    constexpr qint64 kGiB = 1024 * kMiB;
    qint64 availableOverride = -1;

    // The display window of a 16-bit sequence: values at or below lo draw black,
    // at or above hi white.
    struct DisplayWindow
    {
        quint16 lo = 0;
        quint16 hi = 65535;
    };

    // One window for the whole sequence, from one histogram over the 16-bit
    // slices: per-slice windows would make neighbouring slices flicker in
    // brightness while stepping. The 0.1 % tails are cut so that a few hot or
    // dead pixels do not squeeze the rest of the data into a handful of grey
    // levels.
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

    std::shared_ptr<DisplayTable> TableFor(const DisplayWindow &window)
    {
        auto table = std::make_shared<DisplayTable>();
        const double scale = 255.0 / (window.hi - window.lo);
        for (int value = 0; value < 65536; ++value) {
            uchar &gray = (*table)[static_cast<size_t>(value)];
            if (value <= window.lo)
                gray = 0;
            else if (value >= window.hi)
                gray = 255;
            else
                gray = static_cast<uchar>((value - window.lo) * scale + 0.5);
        }
        return table;
    }

    // Bytes of a QImage of that size and format (lines padded to 32 bits).
    qint64 ImageBytes(const QSize &size, QImage::Format format)
    {
        const qint64 bits = QImage::toPixelFormat(format).bitsPerPixel();
        const qint64 bytesPerLine = (size.width() * bits + 31) / 32 * 4;
        return bytesPerLine * size.height();
    }

    // An 8-bit display image in memory of its own, taken from the system and
    // given back to it when the image is dropped. The cache holds hundreds of
    // them and drops them in any order: from the allocator's heap, the holes
    // they leave would stay in the process, hundreds of megabytes above the
    // budget after a while of stepping.
    QImage NewDisplayImage(QSize size)
    {
        struct Mapping
        {
            void *memory;
            size_t bytes;
        };
        const qint64 bytes = ImageBytes(size, QImage::Format_Grayscale8);
        if (bytes <= 0)
            return {};
        void *memory = ::mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            return {};
        auto *mapping = new Mapping { memory, static_cast<size_t>(bytes) };
        const auto release = [](void *info) {
            auto *done = static_cast<Mapping *>(info);
            ::munmap(done->memory, done->bytes);
            delete done;
        };
        return QImage(static_cast<uchar *>(memory), size.width(), size.height(),
                      static_cast<qsizetype>(bytes / size.height()), QImage::Format_Grayscale8,
                      release, mapping);
    }

    // A format the header does not announce is taken as the common 32-bit decode.
    QImage::Format DecodedFormat(const SliceInfo &slice)
    {
        return slice.format == QImage::Format_Invalid ? QImage::Format_ARGB32 : slice.format;
    }

    // The decoding buffer of a helper thread, reused from slice to slice: a
    // fresh allocation per slice costs more in page faults than many decodes.
    QImage &HelperBuffer()
    {
        thread_local QImage raw;
        return raw;
    }

    // The slices of one file. Only TIFF pages count as slices: the frames of an
    // animated image are not cross-sections.
    std::vector<SliceInfo> FileSlices(const QString &path)
    {
        QImageReader reader(path);
        const int pages = reader.format() == "tiff" ? std::max(1, reader.imageCount()) : 1;
        std::vector<SliceInfo> slices;
        slices.reserve(static_cast<size_t>(pages));
        bool readable = true;
        for (int page = 0; page < pages; ++page) {
            SliceInfo slice { path, page, pages, {}, QImage::Format_Invalid };
            readable = readable && (page == 0 || reader.jumpToImage(page));
            if (readable) {
                slice.size = reader.size();
                slice.format = reader.imageFormat();
            }
            slices.push_back(std::move(slice));
        }
        return slices;
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

std::vector<SliceInfo> ReadHeaders(const QStringList &files)
{
    const QList<std::vector<SliceInfo>> perFile
        = QtConcurrent::blockingMapped<QList<std::vector<SliceInfo>>>(Helpers(), files, FileSlices);
    std::vector<SliceInfo> slices;
    for (const std::vector<SliceInfo> &file : perFile)
        slices.insert(slices.end(), file.begin(), file.end());
    return slices;
}

std::vector<int> ContrastSample(const std::vector<SliceInfo> &slices, int limit)
{
    std::vector<int> wide;
    for (size_t i = 0; i < slices.size(); ++i) {
        if (slices[i].format == QImage::Format_Grayscale16)
            wide.push_back(static_cast<int>(i));
    }
    if (static_cast<int>(wide.size()) <= limit || limit < 2)
        return wide;
    std::vector<int> sample;
    const double spacing = (wide.size() - 1) / static_cast<double>(limit - 1);
    for (int k = 0; k < limit; ++k)
        sample.push_back(wide[static_cast<size_t>(std::lround(k * spacing))]);
    return sample;
}

std::shared_ptr<const DisplayTable> SampleDisplayTable(const std::vector<SliceInfo> &slices,
                                                       const std::vector<int> &sample)
{
    // Each helper counts its slice into a histogram of its own; the pixels are
    // not kept (the slice is decoded again when it is needed), so the sample
    // holds no more than one slice per helper however large the stack.
    const auto count = [&slices](int index) {
        QImage &raw = HelperBuffer();
        Histogram histogram;
        if (DecodeSlice(slices[static_cast<size_t>(index)], raw) && IsWide(raw)) {
            histogram.assign(65536, 0);
            CountValues(raw, histogram);
        }
        return histogram;
    };
    const auto add = [](Histogram &total, const Histogram &histogram) {
        if (total.empty())
            total.assign(65536, 0);
        for (size_t value = 0; value < histogram.size(); ++value)
            total[value] += histogram[value];
    };
    const Histogram histogram = QtConcurrent::blockingMappedReduced<Histogram>(
        Helpers(), sample, count, add, QtConcurrent::UnorderedReduce);
    return TableFor(histogram.empty() ? DisplayWindow() : FindDisplayWindow(histogram));
}

bool IsWide(const QImage &image) { return image.format() == QImage::Format_Grayscale16; }

bool DecodeSlice(const SliceInfo &slice, QImage &raw)
{
    QImageReader reader(slice.path);
    if (slice.page > 0 && !reader.jumpToImage(slice.page))
        return false;
    return reader.read(&raw);
}

Decoded DecodeDisplay(const SliceInfo &slice, QImage &raw, const DisplayTable &table, QImage spare)
{
    Decoded decoded;
    if (!DecodeSlice(slice, raw)) {
        raw = QImage();
        return decoded;
    }
    if (!IsWide(raw)) {
        decoded.display = std::exchange(raw, QImage());
        return decoded;
    }
    decoded.wide = true;
    QImage &display = decoded.display;
    if (spare.size() == raw.size() && spare.format() == QImage::Format_Grayscale8
        && spare.isDetached())
        display = std::move(spare);
    else
        display = NewDisplayImage(raw.size());
    if (display.isNull())
        return decoded;
    // The 8-bit images halve the memory of a 16-bit stack and draw without the
    // toolkit's per-paint conversion. Nothing is ever written from them.
    display.setDotsPerMeterX(raw.dotsPerMeterX());
    display.setDotsPerMeterY(raw.dotsPerMeterY());
    const int width = raw.width();
    for (int y = 0; y < raw.height(); ++y) {
        const auto *in = reinterpret_cast<const quint16 *>(raw.constScanLine(y));
        uchar *out = display.scanLine(y);
        for (int x = 0; x < width; ++x)
            out[x] = table[in[x]];
    }
    return decoded;
}

Decoded DecodeOnHelper(const SliceInfo &slice, const DisplayTable &table, QImage spare)
{
    return DecodeDisplay(slice, HelperBuffer(), table, std::move(spare));
}

qint64 DisplayBytes(const SliceInfo &slice)
{
    if (!slice.size.isValid())
        return 0;
    const QImage::Format format = DecodedFormat(slice);
    return ImageBytes(slice.size,
                      format == QImage::Format_Grayscale16 ? QImage::Format_Grayscale8 : format);
}

namespace {

    // What holding slice costs at most while it is decoded.
    qint64 DecodeBytes(const SliceInfo &slice)
    {
        if (!slice.size.isValid())
            return 0;
        const QImage::Format format = DecodedFormat(slice);
        const qint64 decoded = ImageBytes(slice.size, format);
        return format == QImage::Format_Grayscale16 ? decoded + DisplayBytes(slice) : decoded;
    }

} // namespace

qint64 LargestDecodeBytes(const std::vector<SliceInfo> &slices)
{
    qint64 largest = 0;
    for (const SliceInfo &slice : slices)
        largest = std::max(largest, DecodeBytes(slice));
    return largest;
}

void LimitDecoding(const std::vector<SliceInfo> &slices, qint64 fallbackBytes)
{
    // The reader counts at least 4 bytes a pixel.
    qint64 largest = 0;
    for (const SliceInfo &slice : slices) {
        if (!slice.size.isValid())
            continue;
        const qint64 bits
            = std::max(32, int(QImage::toPixelFormat(DecodedFormat(slice)).bitsPerPixel()));
        largest = std::max(largest, qint64(slice.size.width()) * slice.size.height() * bits / 8);
    }
    if (largest == 0)
        largest = fallbackBytes;
    // 0 would switch the limit off.
    const qint64 megabytes
        = std::clamp<qint64>((largest + kMiB - 1) / kMiB, 1, std::numeric_limits<int>::max());
    QImageReader::setAllocationLimit(static_cast<int>(megabytes));
}

void AllowLargeImages()
{
    // 8 GiB by the reader's count lets a 2 GiB 16-bit slice through.
    // QT_IMAGEIO_MAXALLOC still overrides it.
    QImageReader::setAllocationLimit(8192);
}

qint64 AvailableBytes()
{
    if (availableOverride >= 0)
        return availableOverride;
    return std::min({ MemAvailable(), CgroupLimit(), AddressSpaceRoom() });
}

void SetAvailableBytesOverride(qint64 bytes) { availableOverride = bytes; }

qint64 CacheBudget(qint64 available)
{
    const QByteArray setting = qgetenv("STRANDSIGHT_CACHE_MB").trimmed();
    if (!setting.isEmpty()) {
        bool ok = false;
        const qint64 megabytes = setting.toLongLong(&ok);
        if (ok && megabytes >= 0 && megabytes < unlimited / kMiB)
            return megabytes * kMiB;
        qWarning("STRANDSIGHT_CACHE_MB=%s is not a number of megabytes; the default applies.",
                 setting.constData());
    }
    // The gigabyte is left to the rest of the program and the machine; on a
    // small machine a quarter of what is free still spares most slice decodes.
    return std::max(available - kGiB, available / 4);
}

int HelperThreads() { return std::clamp(QThread::idealThreadCount(), 1, 4); }

QThreadPool *Helpers()
{
    // Destroyed at exit after waiting for the slices still being decoded.
    static QThreadPool pool;
    static const bool sized = [] {
        pool.setMaxThreadCount(HelperThreads());
        return true;
    }();
    Q_UNUSED(sized);
    return &pool;
}

} // namespace ImageSequence
