#include "stack/imagesequence.h"

#include "stack/helperpool.h"
#include "stack/tiffdirectory.h"
#include "tasks/taskcontrol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageSequence {

namespace {

    constexpr qint64 unlimited = std::numeric_limits<qint64>::max();
    constexpr qint64 kMiB = 1024 * 1024;
    constexpr qint64 kGiB = 1024 * kMiB;
    // A helper's stack: decoding needs little of it, and under an address-space
    // limit every megabyte reserved for a stack is one less for the slices.
    constexpr size_t kHelperStackBytes = 2 * 1024 * 1024;
    // Under an address-space limit, room kept for the threads the toolkit
    // starts when it needs them (drawing a large image scaled uses a pool of
    // its own) and for its own allocations: when they fail, the toolkit hangs
    // or aborts instead of reporting it.
    constexpr qint64 kToolkitReserve = 64 * kMiB;
    constexpr qint64 kHistogramBytes = 65536 * sizeof(quint64);
    std::atomic<qint64> availableOverride { -1 };

    QString Tr(const char *text) { return QCoreApplication::translate("ImageSequence", text); }

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

    std::mutex gateMutex;
    std::function<void(const QString &)> decodeGate;

    void PassGate(const QString &path)
    {
        std::function<void(const QString &)> gate;
        {
            std::lock_guard<std::mutex> lock(gateMutex);
            gate = decodeGate;
        }
        if (gate)
            gate(path);
    }

    FileStamp StampFrom(const struct stat &status)
    {
        return { static_cast<qint64>(status.st_size),
                 static_cast<qint64>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec };
    }

    // Opens path for reading if it is a regular file. Opened without waiting:
    // a named pipe would block until a writer came, and stepping onto a slice
    // replaced by one must not hang a helper for good.
    Failure OpenRegular(const QString &path, QFile &file, FileStamp &stamp)
    {
        const int descriptor
            = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0)
            return errno == ENXIO ? Failure::NotRegularFile : Failure::Unopenable;
        struct stat status;
        if (::fstat(descriptor, &status) != 0) {
            ::close(descriptor);
            return Failure::Unopenable;
        }
        if (!S_ISREG(status.st_mode)) {
            ::close(descriptor);
            return Failure::NotRegularFile;
        }
        stamp = StampFrom(status);
        if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(descriptor);
            return Failure::Unopenable;
        }
        return Failure::None;
    }

    // What the page's samples are, as far as the reader's decoding follows:
    // kinds it would show wrong are named instead.
    QString UnsupportedKind(const TiffPage &page)
    {
        if (page.sampleFormat == 3)
            return Tr("floating-point samples are not supported");
        if (page.bitsPerSample > 16)
            return Tr("%1-bit samples are not supported").arg(page.bitsPerSample);
        if (page.bitsPerSample == 16 && page.samplesPerPixel > 1 && page.planarConfiguration == 2)
            return Tr("16-bit colour in separate planes is not supported");
        if (page.sampleFormat == 2 && page.samplesPerPixel > 1)
            return Tr("signed colour samples are not supported");
        return {};
    }

    // The properties of a page that decide how Qt's reader decodes it.
    QByteArray DecodeKind(const TiffPage &page)
    {
        return QByteArray::number(page.bitsPerSample) + ' '
            + QByteArray::number(page.samplesPerPixel) + ' ' + QByteArray::number(page.photometric)
            + ' ' + QByteArray::number(page.planarConfiguration);
    }

    struct FileHeaders
    {
        std::vector<SliceInfo> slices;
        QStringList notes;
    };

    // The slices of a TIFF file, one per full-resolution page, from one walk
    // along its page chain.
    FileHeaders TiffSlices(QFile &file, const SliceInfo &base, const TiffDirectory &directory)
    {
        FileHeaders result;
        const QString name = QFileInfo(base.path).fileName();
        int reduced = 0;
        std::vector<const TiffPage *> pages;
        for (const TiffPage &page : directory.pages) {
            if (page.ReducedResolution())
                ++reduced;
            else
                pages.push_back(&page);
        }
        // Pages at the end whose data lies past the end of the file: the file
        // was cut short. A page in the middle keeps its place (and fails), and
        // so does the first page: every file keeps at least one.
        size_t readable = pages.size();
        while (readable > 1 && !pages[readable - 1]->dataInFile)
            --readable;
        const bool cutShort = directory.chainBroken || readable < pages.size()
            || (directory.declaredPages > 0 && static_cast<int>(readable) < directory.declaredPages
                && reduced == 0);
        if (reduced == 1)
            result.notes << Tr("%1: 1 reduced-resolution page left out").arg(name);
        else if (reduced > 1)
            result.notes << Tr("%1: %2 reduced-resolution pages left out").arg(name).arg(reduced);
        if (cutShort) {
            const int known
                = std::max<int>(directory.declaredPages, static_cast<int>(pages.size()));
            if (known > static_cast<int>(readable))
                result.notes << Tr("%1: %2 of the %3 pages could be read")
                                    .arg(name)
                                    .arg(readable)
                                    .arg(known);
            else
                result.notes << Tr("%1 ends early: only its first %2 pages could be read")
                                    .arg(name)
                                    .arg(readable);
        }

        // Qt's reader tells the decoded format of one page of each kind; the
        // others are taken to decode alike.
        std::map<QByteArray, QImage::Format> formats;
        result.slices.reserve(readable);
        for (size_t i = 0; i < readable; ++i) {
            const TiffPage &page = *pages[i];
            SliceInfo slice = base;
            slice.page = static_cast<int>(i);
            slice.pages = static_cast<int>(readable);
            slice.directoryOffset = page.directoryOffset;
            slice.bigTiff = directory.bigTiff;
            slice.bigEndian = directory.bigEndian;
            slice.size = page.size;
            slice.unsupported = UnsupportedKind(page);
            if (!slice.unsupported.isEmpty()) {
                slice.failure = Failure::Unsupported;
            } else {
                slice.signedSamples = page.sampleFormat == 2;
                const QByteArray kind = DecodeKind(page);
                auto known = formats.find(kind);
                if (known == formats.end()) {
                    TiffPageDevice device(&file, directory.bigTiff, directory.bigEndian,
                                          page.directoryOffset);
                    known
                        = formats.emplace(kind, QImageReader(&device, "tiff").imageFormat()).first;
                }
                slice.format = known->second;
            }
            result.slices.push_back(std::move(slice));
        }
        return result;
    }

    // How far the helpers reading headers have come, for the caller to pass
    // on: the helpers never touch the task's own record, which may be gone
    // before they are done.
    struct HeaderProgress
    {
        std::atomic<int> files { 0 };
        std::atomic<qint64> fileSize { 0 }; // of a file whose pages are being walked
        std::atomic<qint64> offset { 0 }; // how far into it the walk has come
    };

    // The slices of one file. Only TIFF pages count as slices: the frames of an
    // animated image are not cross-sections.
    FileHeaders FileSlices(const QString &path, HeaderProgress &progress,
                           const std::atomic<bool> &stop)
    {
        FileHeaders result;
        SliceInfo base;
        base.path = path;
        QFile file;
        base.failure = OpenRegular(path, file, base.stamp);
        if (base.failure != Failure::None) {
            result.slices.push_back(base);
            return result;
        }
        QImageReader reader(&file);
        base.reader = reader.format();
        if (base.reader == "tiff") {
            progress.fileSize = file.size();
            const auto keepGoing = [&progress, &stop](int, qint64 offset) {
                progress.offset = offset;
                return !stop;
            };
            const TiffDirectory directory = ReadTiffDirectory(file, keepGoing);
            if (directory.valid && !directory.pages.empty()) {
                result = TiffSlices(file, base, directory);
                return result;
            }
            file.seek(0);
        }
        base.size = reader.size();
        base.format = reader.imageFormat();
        result.slices.push_back(base);
        return result;
    }

    // Flips the sign bit of signed samples: the reader decodes them as
    // unsigned, which puts every negative value above every positive one.
    void MakeSamplesOrdered(QImage &image)
    {
        const bool wide = image.format() == QImage::Format_Grayscale16;
        if (!wide && image.format() != QImage::Format_Grayscale8)
            return;
        const int width = image.width();
        for (int y = 0; y < image.height(); ++y) {
            if (wide) {
                auto *line = reinterpret_cast<quint16 *>(image.scanLine(y));
                for (int x = 0; x < width; ++x)
                    line[x] ^= 0x8000;
            } else {
                uchar *line = image.scanLine(y);
                for (int x = 0; x < width; ++x)
                    line[x] ^= 0x80;
            }
        }
    }

    // Bytes that decoding slice allocates for its raw pixels.
    qint64 RawBytes(const SliceInfo &slice)
    {
        return slice.size.isValid() ? ImageBytes(slice.size, DecodedFormat(slice)) : 0;
    }

    // Whether an address-space limit (ulimit -v) binds the process.
    bool AddressSpaceLimited()
    {
        rlimit limit {};
        return getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
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

QString SliceName(const SliceInfo &slice)
{
    const QString name = QFileInfo(slice.path).fileName();
    if (slice.pages <= 1)
        return name;
    return Tr("%1, page %2 of %3").arg(name).arg(slice.page + 1).arg(slice.pages);
}

Headers ReadHeaders(const QStringList &files, TaskControl *control)
{
    const int count = static_cast<int>(files.size());
    if (control)
        control->SetStage(Tr("Reading image headers: file %1 of %2"), count);
    // Filled by the helpers, which may still be at work after a cancel.
    auto perFile = std::make_shared<std::vector<FileHeaders>>(static_cast<size_t>(count));
    auto progress = std::make_shared<HeaderProgress>();
    bool staged = false;
    const auto report = [&] {
        if (!control)
            return;
        // One file: its progress is how far into it the page chain has come.
        const qint64 fileSize = progress->fileSize;
        if (count == 1 && fileSize > 0) {
            if (!staged)
                control->SetStage(Tr("Reading the pages of %1").arg(QFileInfo(files[0]).fileName()),
                                  std::max<qint64>(1, fileSize / 4096));
            staged = true;
            control->SetDone(progress->offset / 4096);
        } else if (count > 1) {
            control->SetDone(progress->files);
        }
    };
    const bool complete = ParallelFor(
        Helpers(), count,
        [perFile, files, progress](int i, const std::atomic<bool> &stop) {
            (*perFile)[static_cast<size_t>(i)] = FileSlices(files[i], *progress, stop);
            ++progress->files;
        },
        control, report);
    Headers headers;
    if (!complete)
        return headers;
    for (FileHeaders &file : *perFile) {
        headers.notes += file.notes;
        for (SliceInfo &slice : file.slices)
            headers.slices.push_back(std::move(slice));
    }
    // Markers are placed in image pixels: a slice of another size is out of
    // register with the rest, or no slice of this stack at all.
    QSize first;
    for (const SliceInfo &slice : headers.slices) {
        if (!slice.size.isValid())
            continue;
        if (!first.isValid()) {
            first = slice.size;
        } else if (slice.size != first) {
            headers.notes << Tr("%1 is %2 x %3 pixels, not %4 x %5 like the first image")
                                 .arg(SliceName(slice))
                                 .arg(slice.size.width())
                                 .arg(slice.size.height())
                                 .arg(first.width())
                                 .arg(first.height());
        }
    }
    return headers;
}

std::vector<int> ContrastSample(const std::vector<SliceInfo> &slices, int limit)
{
    std::vector<int> wide;
    for (size_t i = 0; i < slices.size(); ++i) {
        if (slices[i].format == QImage::Format_Grayscale16 && slices[i].failure == Failure::None)
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
                                                       const std::vector<int> &sample,
                                                       TaskControl *control)
{
    if (control)
        control->SetStage(Tr("Fixing the contrast: image %1 of %2"),
                          static_cast<qint64>(sample.size()));
    // Each helper counts its slice into a histogram of its own and adds it to
    // the total; the pixels are not kept (the slice is decoded again when it
    // is needed), so the sample holds no more than one slice per helper
    // however large the stack.
    struct Total
    {
        std::mutex mutex;
        Histogram histogram;
    };
    auto total = std::make_shared<Total>();
    auto picked = std::make_shared<std::vector<SliceInfo>>();
    for (const int index : sample)
        picked->push_back(slices[static_cast<size_t>(index)]);
    auto counted = std::make_shared<std::atomic<int>>(0);
    const bool complete = ParallelFor(
        Helpers(), static_cast<int>(picked->size()),
        [total, picked, counted](int i, const std::atomic<bool> &) {
            QImage &raw = HelperBuffer();
            if (DecodeSlice((*picked)[static_cast<size_t>(i)], raw) == Failure::None
                && IsWide(raw)) {
                Histogram histogram(65536, 0);
                CountValues(raw, histogram);
                std::lock_guard<std::mutex> lock(total->mutex);
                if (total->histogram.empty())
                    total->histogram.assign(65536, 0);
                for (size_t value = 0; value < histogram.size(); ++value)
                    total->histogram[value] += histogram[value];
            }
            ++*counted;
        },
        control,
        [control, counted] {
            if (control)
                control->SetDone(*counted);
        });
    if (!complete)
        return nullptr;
    std::lock_guard<std::mutex> lock(total->mutex);
    return TableFor(total->histogram.empty() ? DisplayWindow()
                                             : FindDisplayWindow(total->histogram));
}

bool IsWide(const QImage &image) { return image.format() == QImage::Format_Grayscale16; }

Failure DecodeSlice(const SliceInfo &slice, QImage &raw, FileStamp *stamp)
{
    if (slice.failure != Failure::None)
        return slice.failure;
    PassGate(slice.path);
    QFile file;
    FileStamp opened;
    const Failure failure = OpenRegular(slice.path, file, opened);
    if (stamp)
        *stamp = opened;
    if (failure != Failure::None)
        return failure;
    bool read = false;
    if (slice.reader == "tiff" && slice.directoryOffset > 0) {
        TiffPageDevice device(&file, slice.bigTiff, slice.bigEndian, slice.directoryOffset);
        QImageReader reader(&device, "tiff");
        read = reader.read(&raw);
    } else {
        QImageReader reader(&file, slice.reader);
        read = reader.read(&raw);
    }
    if (!read)
        return Failure::Undecodable;
    // A file replaced since the stack was opened: markers placed on the old
    // image would fall out of register with the new one.
    if (slice.size.isValid() && raw.size() != slice.size) {
        raw = QImage();
        return Failure::ChangedSize;
    }
    if (slice.signedSamples)
        MakeSamplesOrdered(raw);
    return Failure::None;
}

Decoded DecodeDisplay(const SliceInfo &slice, QImage &raw, const DisplayTable &table, QImage spare)
{
    Decoded decoded;
    decoded.failure = DecodeSlice(slice, raw, &decoded.stamp);
    if (decoded.failure != Failure::None) {
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
    if (display.isNull()) {
        decoded.failure = Failure::OutOfMemory;
        return decoded;
    }
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

FileStamp StampOf(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return StampFrom(status);
}

qint64 DisplayBytes(const SliceInfo &slice)
{
    if (!slice.size.isValid())
        return 0;
    const QImage::Format format = DecodedFormat(slice);
    return ImageBytes(slice.size,
                      format == QImage::Format_Grayscale16 ? QImage::Format_Grayscale8 : format);
}

qint64 LargestDecodeBytes(const std::vector<SliceInfo> &slices)
{
    qint64 largest = 0;
    for (const SliceInfo &slice : slices) {
        const qint64 raw = RawBytes(slice);
        const bool wide = DecodedFormat(slice) == QImage::Format_Grayscale16;
        largest = std::max(largest, wide ? raw + DisplayBytes(slice) : raw);
    }
    return largest;
}

MemoryPlan PlanMemory(const std::vector<SliceInfo> &slices, qint64 available)
{
    MemoryPlan plan;
    plan.available = available;
    plan.oneImage = LargestDecodeBytes(slices);
    qint64 largestRaw = 0;
    qint64 largestDisplay = 0;
    for (const SliceInfo &slice : slices) {
        if (DecodedFormat(slice) == QImage::Format_Grayscale16)
            largestRaw = std::max(largestRaw, RawBytes(slice));
        largestDisplay = std::max(largestDisplay, DisplayBytes(slice));
    }
    // The slice shown, the raw values behind it for the status bar, and room
    // for the toolkit; each helper then holds a slice being decoded (and, while
    // the contrast is fixed, a histogram) on a stack of its own.
    const qint64 fixed
        = largestDisplay + largestRaw + (AddressSpaceLimited() ? kToolkitReserve : 0);
    const qint64 perHelper
        = static_cast<qint64>(kHelperStackBytes) + plan.oneImage + kHistogramBytes;
    plan.needed = fixed + perHelper;
    if (available < plan.needed)
        return plan;
    plan.helpers
        = static_cast<int>(std::clamp<qint64>((available - fixed) / perHelper, 1, HelperThreads()));
    const qint64 room = available - fixed - plan.helpers * perHelper;
    plan.budget = std::min(CacheBudget(room), room);
    return plan;
}

namespace {

    qint64 LimitBytes(const std::vector<SliceInfo> &slices, qint64 fallbackBytes)
    {
        // The reader counts at least 4 bytes a pixel.
        qint64 largest = 0;
        for (const SliceInfo &slice : slices) {
            if (!slice.size.isValid())
                continue;
            const qint64 bits
                = std::max(32, int(QImage::toPixelFormat(DecodedFormat(slice)).bitsPerPixel()));
            largest
                = std::max(largest, qint64(slice.size.width()) * slice.size.height() * bits / 8);
        }
        return largest == 0 ? fallbackBytes : largest;
    }

} // namespace

void LimitDecoding(const std::vector<SliceInfo> &slices, qint64 fallbackBytes)
{
    // 0 would switch the limit off.
    const qint64 megabytes = std::clamp<qint64>(
        (LimitBytes(slices, fallbackBytes) + kMiB - 1) / kMiB, 1, std::numeric_limits<int>::max());
    QImageReader::setAllocationLimit(static_cast<int>(megabytes));
}

void RaiseDecodingLimit(const std::vector<SliceInfo> &slices, qint64 fallbackBytes)
{
    const qint64 megabytes = (LimitBytes(slices, fallbackBytes) + kMiB - 1) / kMiB;
    if (megabytes > QImageReader::allocationLimit())
        QImageReader::setAllocationLimit(
            static_cast<int>(std::min<qint64>(megabytes, std::numeric_limits<int>::max())));
}

void AllowLargeImages()
{
    // 8 GiB by the reader's count lets a 2 GiB 16-bit slice through.
    // QT_IMAGEIO_MAXALLOC still overrides it.
    QImageReader::setAllocationLimit(8192);
}

qint64 AvailableBytes()
{
    const qint64 override = availableOverride;
    if (override >= 0)
        return override;
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

HelperPool &Helpers()
{
    // Never destroyed: the program must end without waiting for a helper
    // stuck in a read.
    static HelperPool *pool = new HelperPool(HelperThreads(), kHelperStackBytes);
    return *pool;
}

void SetDecodeGate(std::function<void(const QString &)> gate)
{
    std::lock_guard<std::mutex> lock(gateMutex);
    decodeGate = std::move(gate);
}

} // namespace ImageSequence
