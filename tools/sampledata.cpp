#include "tools/sampledata.h"

#include "model/trackfile.h"
#include "tools/tiffwriter.h"

#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QRegularExpression>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr float kMinRadius = 4.0f;
constexpr float kMaxRadius = 8.0f;
constexpr float kMaxDrift = 1.5f; // pixels per slice
constexpr float kMargin = kMaxRadius + 1.0f;
constexpr int kFullScale = 4095; // 12-bit data, as many microscope cameras deliver
constexpr int kMinSide = 32;
constexpr int kMaxSide = 30000;
constexpr int kMaxSlices = 100000;
constexpr int kMaxFibres = 1000000;
constexpr int kMaxNoise = 1000;
constexpr double kTwoPi = 6.283185307179586;

// Draws from mt19937 without <random>'s distributions, whose results differ
// between standard libraries: a seed gives the same data set everywhere.
class Draw
{
public:
    explicit Draw(std::initializer_list<std::uint32_t> seeds)
    {
        std::seed_seq sequence(seeds);
        engine.seed(sequence);
    }
    std::uint32_t Bits() { return static_cast<std::uint32_t>(engine()); }
    double Unit() { return Bits() / 4294967296.0; }
    double Between(double low, double high) { return low + (high - low) * Unit(); }
    int Below(int bound) // 0 .. bound - 1
    {
        return static_cast<int>((static_cast<std::uint64_t>(Bits()) * std::uint64_t(bound)) >> 32);
    }

private:
    std::mt19937 engine;
};

struct Fibre
{
    float radius = kMinRadius;
    int peak = 0; // brightness added at the disc's centre, 12-bit scale
    bool error = false;
    std::vector<TrackPoint> path; // centre on each slice
};

// Keeps a coordinate inside [low, high] by bouncing it off the edges.
bool Reflect(float &value, float low, float high)
{
    if (value < low) {
        value = 2.0f * low - value;
        return true;
    }
    if (value > high) {
        value = 2.0f * high - value;
        return true;
    }
    return false;
}

std::vector<Fibre> MakeFibres(const SampleOptions &options, Draw &draw)
{
    const float right = options.width - kMargin;
    const float bottom = options.height - kMargin;
    std::vector<Fibre> fibres(options.fibres);
    for (Fibre &fibre : fibres) {
        fibre.radius = static_cast<float>(draw.Between(kMinRadius, kMaxRadius));
        fibre.peak = static_cast<int>(draw.Between(0.45, 0.8) * kFullScale);
        float x = static_cast<float>(draw.Between(kMargin, right));
        float y = static_cast<float>(draw.Between(kMargin, bottom));
        const double speed = draw.Between(0.0, kMaxDrift);
        double heading = draw.Between(0.0, kTwoPi);
        fibre.path.reserve(options.slices);
        for (int slice = 0; slice < options.slices; ++slice) {
            fibre.path.push_back(TrackPoint { x, y });
            // A fibre bends gently: its heading wanders a little from slice to slice.
            heading += draw.Between(-0.15, 0.15);
            x += static_cast<float>(speed * std::cos(heading));
            y += static_cast<float>(speed * std::sin(heading));
            if (Reflect(x, kMargin, right))
                heading = kTwoPi / 2 - heading;
            if (Reflect(y, kMargin, bottom))
                heading = -heading;
        }
    }
    // The error fibres: an exact share, chosen at random.
    const int errors = static_cast<int>(std::lround(options.fibres * options.errorShare));
    std::vector<int> order(options.fibres);
    for (int i = 0; i < options.fibres; ++i)
        order[i] = i;
    for (int i = 0; i < errors; ++i) {
        std::swap(order[i], order[i + draw.Below(options.fibres - i)]);
        fibres[order[i]].error = true;
    }
    return fibres;
}

// The fibre nearest to fibre self on slice among those at least a disc and a
// half away (a closer one would make no visible fault); -1 when there is none.
// Huge sets look among a sample of candidates so that faults stay cheap to make.
int Neighbour(const std::vector<Fibre> &fibres, int self, int slice, Draw &draw)
{
    constexpr float kNearest = 1.5f * kMaxRadius;
    const int count = static_cast<int>(fibres.size());
    const int candidates = std::min(count, 4000);
    const TrackPoint centre = fibres[self].path[slice];
    int best = -1;
    float bestDistance = 0.0f;
    for (int c = 0; c < candidates; ++c) {
        const int other = candidates == count ? c : draw.Below(count);
        const TrackPoint p = fibres[other].path[slice];
        const float dx = p.x - centre.x;
        const float dy = p.y - centre.y;
        const float distance = dx * dx + dy * dy;
        if (distance < kNearest * kNearest)
            continue; // also skips self
        if (best < 0 || distance < bestDistance) {
            best = other;
            bestDistance = distance;
        }
    }
    return best;
}

// An error track is its fibre's path with one deliberate fault: a run of one to
// three slices jumps to a neighbour's position, or goes missing (a gap). Every
// track keeps at least one point.
PointMap FaultyTrack(const std::vector<Fibre> &fibres, int self, int slices, Draw &draw)
{
    const Fibre &fibre = fibres[self];
    PointMap points;
    for (int slice = 0; slice < slices; ++slice)
        points.emplace_hint(points.end(), slice, fibre.path[slice]);

    const bool gap = slices >= 2 && draw.Below(2) == 0;
    const int length = 1 + draw.Below(std::min(3, gap ? slices - 1 : slices));
    const int first = draw.Below(slices - length + 1);
    if (gap) {
        for (int slice = first; slice < first + length; ++slice)
            points.erase(slice);
        return points;
    }
    const int other = Neighbour(fibres, self, first, draw);
    for (int slice = first; slice < first + length; ++slice) {
        TrackPoint p = fibre.path[slice];
        if (other >= 0) {
            p = fibres[other].path[slice];
        } else { // no fibre far enough: jump a few diameters sideways instead
            p.x += (p.x < kMargin + 6 * kMaxRadius ? 6 : -6) * fibre.radius;
        }
        points[slice] = p;
    }
    return points;
}

// Smooth, uneven illumination: a sum of a row and a column profile, so the
// background costs one addition per pixel.
std::vector<int> Profile(int size, Draw &draw)
{
    const double phase = draw.Between(0.0, kTwoPi);
    const double waves = draw.Between(0.5, 1.5);
    std::vector<int> profile(size);
    for (int i = 0; i < size; ++i)
        profile[i] = static_cast<int>(60.0 * std::sin(phase + kTwoPi * waves * i / size));
    return profile;
}

struct Background
{
    int level = 380; // 12-bit scale
    std::vector<int> rows;
    std::vector<int> columns;
};

// Fills frame (12-bit values, row by row) with one slice: background, noise and
// every fibre's disc. Discs are drawn only over their own bounding box.
void RenderSlice(std::vector<std::uint16_t> &frame, const SampleOptions &options,
                 const Background &background, const std::vector<Fibre> &fibres, int slice)
{
    const int width = options.width;
    const int height = options.height;
    Draw noise { options.seed, 0x5EEDu, static_cast<std::uint32_t>(slice) };
    // Four bytes of one draw summed are nearly Gaussian with sigma 148, so
    // scaled by 7/1024 a unit of noise is a sigma of about 1.01.
    const int scale = options.noise * 7;
    for (int y = 0; y < height; ++y) {
        std::uint16_t *line = frame.data() + static_cast<size_t>(y) * width;
        const int rowLevel = background.level + background.rows[y];
        for (int x = 0; x < width; ++x) {
            int value = rowLevel + background.columns[x];
            if (scale > 0) {
                const std::uint32_t bits = noise.Bits();
                const int sum = int(bits & 255u) + int((bits >> 8) & 255u)
                    + int((bits >> 16) & 255u) + int(bits >> 24) - 510;
                value += (sum * scale) >> 10;
            }
            line[x] = static_cast<std::uint16_t>(std::clamp(value, 0, kFullScale));
        }
    }
    for (const Fibre &fibre : fibres) {
        const TrackPoint centre = fibre.path[slice];
        const float reach = fibre.radius + 0.5f;
        const int x0 = std::max(0, static_cast<int>(std::floor(centre.x - reach)));
        const int x1 = std::min(width - 1, static_cast<int>(std::ceil(centre.x + reach)));
        const int y0 = std::max(0, static_cast<int>(std::floor(centre.y - reach)));
        const int y1 = std::min(height - 1, static_cast<int>(std::ceil(centre.y + reach)));
        for (int y = y0; y <= y1; ++y) {
            std::uint16_t *line = frame.data() + static_cast<size_t>(y) * width;
            const float dy = y + 0.5f - centre.y;
            for (int x = x0; x <= x1; ++x) {
                const float dx = x + 0.5f - centre.x;
                const float distance = std::sqrt(dx * dx + dy * dy);
                const float cover = std::min(1.0f, reach - distance); // soft rim
                if (cover <= 0.0f)
                    continue;
                const float r = distance / fibre.radius;
                const float dome = 1.0f - 0.3f * std::min(1.0f, r * r);
                const int value = line[x] + static_cast<int>(fibre.peak * cover * dome);
                line[x] = static_cast<std::uint16_t>(std::min(value, kFullScale));
            }
        }
    }
}

// The slice as the image written: 12-bit values in 16 bits, or their upper 8 bits.
QImage SliceImage(const std::vector<std::uint16_t> &frame, const SampleOptions &options,
                  QString &error)
{
    const bool deep = options.format == SampleOptions::Tiff16;
    QImage image(options.width, options.height,
                 deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
    if (image.isNull()) {
        error = QStringLiteral("Not enough memory for a %1 x %2 image.")
                    .arg(options.width)
                    .arg(options.height);
        return image;
    }
    for (int y = 0; y < options.height; ++y) {
        const std::uint16_t *source = frame.data() + static_cast<size_t>(y) * options.width;
        if (deep) {
            std::copy(source, source + options.width,
                      reinterpret_cast<quint16 *>(image.scanLine(y)));
        } else {
            uchar *line = image.scanLine(y);
            for (int x = 0; x < options.width; ++x)
                line[x] = static_cast<uchar>(source[x] >> 4);
        }
    }
    return image;
}

bool SaveSlice(const QImage &image, const SampleOptions &options, const QString &path,
               QString &error)
{
    if (options.compress) {
        TiffWriter writer(path, true);
        if (writer.AddPage(image) && writer.Finish())
            return true;
        error = writer.ErrorString();
        return false;
    }
    QImageWriter writer(path, options.format == SampleOptions::Png ? "png" : "tiff");
    if (options.format == SampleOptions::Png)
        writer.setQuality(80); // light compression: noise does not compress anyway
    if (!writer.write(image)) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, writer.errorString());
        return false;
    }
    return true;
}

// Renders and writes the slices, one file each on helper threads (a slice's
// noise has a seed of its own, so the order does not matter), or in order as
// the pages of one file. Returns the number of files written.
int WriteSlices(const SampleOptions &options, const Background &background,
                const std::vector<Fibre> &fibres, const QString &folder, const QString &suffix,
                const std::function<QString(int)> &number, QString &error)
{
    const auto render = [&](int slice, QString &failure) {
        thread_local std::vector<std::uint16_t> frame;
        try {
            frame.resize(static_cast<size_t>(options.width) * options.height);
        } catch (const std::bad_alloc &) {
            failure = QStringLiteral("Not enough memory for a %1 x %2 image.")
                          .arg(options.width)
                          .arg(options.height);
            return QImage();
        }
        RenderSlice(frame, options, background, fibres, slice);
        return SliceImage(frame, options, failure);
    };
    if (options.stack) {
        TiffWriter writer(QDir(folder).filePath(QStringLiteral("stack.tif")), options.compress);
        for (int slice = 0; slice < options.slices; ++slice) {
            const QImage image = render(slice, error);
            if (image.isNull())
                return 0;
            if (!writer.AddPage(image))
                break;
        }
        if (writer.Finish())
            return 1;
        error = writer.ErrorString();
        return 0;
    }
    std::vector<int> slices(static_cast<size_t>(options.slices));
    std::iota(slices.begin(), slices.end(), 0);
    const QList<QString> failures
        = QtConcurrent::blockingMapped<QList<QString>>(slices, [&](int slice) {
              QString failure;
              const QImage image = render(slice, failure);
              if (!image.isNull())
                  SaveSlice(
                      image, options,
                      QDir(folder).filePath(QStringLiteral("slice%1%2").arg(number(slice), suffix)),
                      failure);
              return failure;
          });
    for (const QString &failure : failures) {
        if (!failure.isEmpty()) {
            error = failure;
            return 0;
        }
    }
    return options.slices;
}

// Files of an earlier, longer set would be loaded together with the new one;
// only names this tool writes are removed.
bool PrepareFolder(const QString &path, const QRegularExpression &ownNames, QString &error)
{
    QDir folder(path);
    if (!folder.mkpath(QStringLiteral("."))) {
        error = QStringLiteral("Cannot create the folder %1.").arg(path);
        return false;
    }
    for (const QString &name : folder.entryList(QDir::Files)) {
        if (ownNames.match(name).hasMatch() && !folder.remove(name)) {
            error = QStringLiteral("Cannot remove the old file %1.").arg(folder.filePath(name));
            return false;
        }
    }
    return true;
}

bool WriteTrackSlice(const QString &path, const TrackTable &table, int slice, QString &error)
{
    if (WriteTrackFile(QFile::encodeName(path), {}, table, static_cast<unsigned int>(slice), true))
        return true;
    error = QStringLiteral("Cannot write %1.").arg(path);
    return false;
}

QString Check(const SampleOptions &options)
{
    if (options.slices < 1 || options.slices > kMaxSlices)
        return QStringLiteral("The number of slices must be between 1 and %1.").arg(kMaxSlices);
    if (options.fibres < 0 || options.fibres > kMaxFibres)
        return QStringLiteral("The number of fibres must be between 0 and %1.").arg(kMaxFibres);
    if (options.width < kMinSide || options.width > kMaxSide || options.height < kMinSide
        || options.height > kMaxSide)
        return QStringLiteral("Width and height must be between %1 and %2 pixels.")
            .arg(kMinSide)
            .arg(kMaxSide);
    if (!(options.errorShare >= 0.0 && options.errorShare <= 1.0))
        return QStringLiteral("The error share must be between 0 and 1.");
    if (options.noise < 0 || options.noise > kMaxNoise)
        return QStringLiteral("The noise must be between 0 and %1.").arg(kMaxNoise);
    if ((options.compress || options.stack) && options.format == SampleOptions::Png)
        return QStringLiteral("Compressed slices and stacks are written as TIFF only.");
    if (options.imagesOnly && options.tracksOnly)
        return QStringLiteral("Images only and tracks only exclude each other.");
    if (!options.tracksOnly && options.format != SampleOptions::Png
        && !QImageWriter::supportedImageFormats().contains("tiff"))
        return QStringLiteral("This Qt has no TIFF support (install the Qt image format plug-ins)"
                              " or choose PNG.");
    return QString();
}

} // namespace

QString SampleFormatName(SampleOptions::Format format)
{
    switch (format) {
    case SampleOptions::Tiff8:
        return QStringLiteral("tiff8");
    case SampleOptions::Tiff16:
        return QStringLiteral("tiff16");
    case SampleOptions::Png:
        return QStringLiteral("png");
    }
    return QString();
}

bool ParseSampleFormat(const QString &name, SampleOptions::Format &format)
{
    for (const auto candidate :
         { SampleOptions::Tiff8, SampleOptions::Tiff16, SampleOptions::Png }) {
        if (name.compare(SampleFormatName(candidate), Qt::CaseInsensitive) == 0) {
            format = candidate;
            return true;
        }
    }
    return false;
}

SampleResult WriteSampleData(const QString &directory, const SampleOptions &options)
{
    SampleResult result;
    result.message = Check(options);
    if (!result.message.isEmpty())
        return result;

    const QDir root(directory);
    result.imageDirectory = QDir::cleanPath(root.absoluteFilePath(QStringLiteral("images")));
    result.normalDirectory
        = QDir::cleanPath(root.absoluteFilePath(QStringLiteral("tracks/normal")));
    result.errorDirectory = QDir::cleanPath(root.absoluteFilePath(QStringLiteral("tracks/error")));

    // Everything random is drawn in one order whatever is written, so images-only
    // and tracks-only runs with one seed make halves of the same data set.
    Draw draw { options.seed };
    const std::vector<Fibre> fibres = MakeFibres(options, draw);
    Background background;
    background.rows = Profile(options.height, draw);
    background.columns = Profile(options.width, draw);

    // Equal-width numbers everywhere, so that name order is slice order.
    const int digits = std::max(3, NumberWidth(options.slices));
    const auto number = [digits](int slice) {
        return QStringLiteral("%1").arg(slice, digits, 10, QLatin1Char('0'));
    };

    // Non-error tracks are their fibres' paths; error tracks carry a fault.
    std::vector<std::pair<unsigned int, int>> normal; // id, fibre
    std::vector<std::pair<unsigned int, PointMap>> error;
    const unsigned int errorBase
        = 100000u * (1u + static_cast<unsigned int>(options.fibres) / 100000u);
    for (int i = 0; i < options.fibres; ++i) {
        if (fibres[i].error) {
            error.emplace_back(errorBase + static_cast<unsigned int>(error.size()),
                               FaultyTrack(fibres, i, options.slices, draw));
            result.errorPoints += static_cast<qint64>(error.back().second.size());
        } else {
            normal.emplace_back(1u + static_cast<unsigned int>(normal.size()), i);
            result.normalPoints += options.slices;
        }
    }
    result.normalTracks = static_cast<int>(normal.size());
    result.errorTracks = static_cast<int>(error.size());

    if (!options.imagesOnly) {
        const QRegularExpression trackNames(QStringLiteral("^track\\d+\\.txt$"));
        if (!PrepareFolder(result.normalDirectory, trackNames, result.message)
            || !PrepareFolder(result.errorDirectory, trackNames, result.message))
            return result;
        for (int slice = 0; slice < options.slices; ++slice) {
            // One slice's points at a time: the writer then looks each track up in
            // a one-point map instead of searching every full track per file.
            TrackTable normalSlice;
            for (const auto &[id, fibre] : normal)
                normalSlice.emplace_hint(normalSlice.end(), id,
                                         PointMap { { slice, fibres[fibre].path[slice] } });
            TrackTable errorSlice;
            for (const auto &[id, points] : error) {
                const auto point = points.find(slice);
                if (point != points.end())
                    errorSlice.emplace_hint(errorSlice.end(), id, PointMap { *point });
            }
            const QString name = QStringLiteral("track%1.txt").arg(number(slice));
            if (!WriteTrackSlice(QDir(result.normalDirectory).filePath(name), normalSlice, slice,
                                 result.message)
                || !WriteTrackSlice(QDir(result.errorDirectory).filePath(name), errorSlice, slice,
                                    result.message))
                return result;
            ++result.trackFiles;
        }
    }

    if (!options.tracksOnly) {
        const QRegularExpression imageNames(
            QStringLiteral("^(slice\\d+\\.(tif|png)|stack\\.tif)$"));
        if (!PrepareFolder(result.imageDirectory, imageNames, result.message))
            return result;
        const QString suffix = options.format == SampleOptions::Png ? QStringLiteral(".png")
                                                                    : QStringLiteral(".tif");
        result.imageFiles = WriteSlices(options, background, fibres, result.imageDirectory, suffix,
                                        number, result.message);
        if (result.imageFiles == 0)
            return result;
    }
    result.ok = true;
    return result;
}
