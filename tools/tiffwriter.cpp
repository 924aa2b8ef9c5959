#include "tools/tiffwriter.h"

#include <QtEndian>
#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr quint16 kShort = 3;
constexpr quint16 kLong = 4;

void Append16(QByteArray &out, quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 2);
}

void Append32(QByteArray &out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), 4);
}

// One strip of rows as stored: little-endian samples, and for deflate each
// sample replaced by its difference to the one on its left (TIFF predictor
// 2), which lets smooth backgrounds compress.
QByteArray StripBytes(const QImage &image, int first, int rows, bool deflate)
{
    const bool wide = image.format() == QImage::Format_Grayscale16;
    const int width = image.width();
    const int lineBytes = width * (wide ? 2 : 1);
    QByteArray strip(qsizetype(lineBytes) * rows, Qt::Uninitialized);
    for (int row = 0; row < rows; ++row) {
        uchar *out = reinterpret_cast<uchar *>(strip.data()) + qsizetype(lineBytes) * row;
        const uchar *in = image.constScanLine(first + row);
        if (wide) {
            const auto *samples = reinterpret_cast<const quint16 *>(in);
            quint16 left = 0;
            for (int x = 0; x < width; ++x) {
                const quint16 value = deflate ? quint16(samples[x] - left) : samples[x];
                left = samples[x];
                qToLittleEndian(value, out + 2 * x);
            }
        } else {
            uchar left = 0;
            for (int x = 0; x < width; ++x) {
                out[x] = deflate ? uchar(in[x] - left) : in[x];
                left = in[x];
            }
        }
    }
    if (!deflate)
        return strip;
    // qCompress gives a zlib stream after a 4-byte length of its own.
    return qCompress(strip, 1).mid(4);
}

} // namespace

TiffWriter::TiffWriter(const QString &path, bool deflate)
    : file(path)
    , deflate(deflate)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Fail(file.errorString());
        return;
    }
    QByteArray header("II");
    Append16(header, 42);
    Append32(header, 0); // no page yet
    Write(header);
}

bool TiffWriter::Fail(const QString &message)
{
    if (error.isEmpty())
        error = QStringLiteral("Cannot write %1: %2").arg(file.fileName(), message);
    return false;
}

bool TiffWriter::Write(const QByteArray &bytes)
{
    if (!error.isEmpty())
        return false;
    if (file.write(bytes) != bytes.size())
        return Fail(file.errorString());
    return true;
}

bool TiffWriter::AddPage(const QImage &page, const PageOptions &options)
{
    if (!error.isEmpty())
        return false;
    const bool planes = page.format() == QImage::Format_RGBX64;
    const bool wide = planes || page.format() == QImage::Format_Grayscale16;
    if (!wide && page.format() != QImage::Format_Grayscale8)
        return Fail(
            QStringLiteral("only 8- and 16-bit grayscale and 16-bit RGB pages are written"));
    // Each colour plane is written as a grayscale image of its own.
    std::vector<QImage> planeImages;
    if (planes) {
        for (int channel = 0; channel < 3; ++channel) {
            QImage plane(page.size(), QImage::Format_Grayscale16);
            for (int y = 0; y < page.height(); ++y) {
                const auto *in = reinterpret_cast<const quint16 *>(page.constScanLine(y));
                auto *out = reinterpret_cast<quint16 *>(plane.scanLine(y));
                for (int x = 0; x < page.width(); ++x)
                    out[x] = in[4 * x + channel];
            }
            planeImages.push_back(plane);
        }
    } else {
        planeImages.push_back(page);
    }
    const QImage &image = planeImages.front();

    // Strips of about 64 KB, so a reader never needs the whole page at once.
    const int lineBytes = image.width() * (wide ? 2 : 1);
    const int rowsPerStrip = std::clamp(65536 / std::max(lineBytes, 1), 1, image.height());
    std::vector<quint32> offsets;
    std::vector<quint32> counts;
    for (const QImage &plane : planeImages) {
        for (int first = 0; first < plane.height(); first += rowsPerStrip) {
            const int rows = std::min(rowsPerStrip, plane.height() - first);
            const QByteArray strip = StripBytes(plane, first, rows, deflate);
            offsets.push_back(static_cast<quint32>(file.pos()));
            counts.push_back(static_cast<quint32>(strip.size()));
            if (!Write(strip))
                return false;
        }
    }
    if (file.pos() % 2 && !Write(QByteArray(1, '\0')))
        return false; // pages start on a word boundary

    // The strip tables follow the strips, the page's directory follows them.
    const auto table = [this](const std::vector<quint32> &values) {
        if (values.size() == 1)
            return values.front(); // held in the directory entry itself
        const quint32 at = static_cast<quint32>(file.pos());
        QByteArray bytes;
        for (const quint32 value : values)
            Append32(bytes, value);
        Write(bytes);
        return at;
    };
    const quint32 offsetsAt = table(offsets);
    const quint32 countsAt = table(counts);
    // Three bits-per-sample values do not fit into the entry.
    quint32 bitsAt = 16;
    if (planes) {
        bitsAt = static_cast<quint32>(file.pos());
        QByteArray bits;
        for (int channel = 0; channel < 4; ++channel)
            Append16(bits, 16); // the fourth keeps the table's length even
        if (!Write(bits))
            return false;
    }
    const quint32 directoryAt = static_cast<quint32>(file.pos());

    struct Entry
    {
        quint16 tag, type;
        quint32 count, value;
    };
    std::vector<Entry> entries;
    if (options.subfileType != 0)
        entries.push_back({ 254, kLong, 1, options.subfileType });
    entries.push_back({ 256, kLong, 1, static_cast<quint32>(image.width()) });
    entries.push_back({ 257, kLong, 1, static_cast<quint32>(image.height()) });
    if (planes)
        entries.push_back({ 258, kShort, 3, bitsAt });
    else
        entries.push_back({ 258, kShort, 1, wide ? 16u : 8u });
    entries.push_back({ 259, kShort, 1, deflate ? 8u : 1u }); // Adobe deflate or none
    entries.push_back({ 262, kShort, 1, planes ? 2u : 1u }); // RGB, or black is zero
    entries.push_back({ 273, kLong, static_cast<quint32>(offsets.size()), offsetsAt });
    entries.push_back({ 277, kShort, 1, planes ? 3u : 1u });
    entries.push_back({ 278, kLong, 1, static_cast<quint32>(rowsPerStrip) });
    entries.push_back({ 279, kLong, static_cast<quint32>(counts.size()), countsAt });
    if (planes)
        entries.push_back({ 284, kShort, 1, 2 }); // one plane per colour
    if (options.pageCount > 0) {
        // Two shorts fill the entry: page, then count.
        entries.push_back(
            { 297, kShort, 2,
              static_cast<quint32>(options.page) | static_cast<quint32>(options.pageCount) << 16 });
    }
    if (deflate)
        entries.push_back({ 317, kShort, 1, 2 }); // horizontal differencing
    if (options.signedSamples)
        entries.push_back({ 339, kShort, 1, 2 }); // two's complement
    QByteArray directory;
    Append16(directory, static_cast<quint16>(entries.size()));
    for (const Entry &entry : entries) {
        Append16(directory, entry.tag);
        Append16(directory, entry.type);
        Append32(directory, entry.count);
        if (entry.type == kShort && entry.count == 1) {
            Append16(directory, static_cast<quint16>(entry.value));
            Append16(directory, 0);
        } else {
            Append32(directory, entry.value);
        }
    }
    Append32(directory, 0); // the last page so far
    if (!Write(directory))
        return false;
    if (file.pos() > std::numeric_limits<quint32>::max())
        return Fail(QStringLiteral("a TIFF file holds at most 4 GB"));

    // Link the page in: the previous directory (or the header) points to it.
    const qint64 end = file.pos();
    QByteArray link;
    Append32(link, directoryAt);
    if (!file.seek(nextPagePointer) || !Write(link) || !file.seek(end))
        return Fail(file.errorString());
    nextPagePointer = end - 4;
    return true;
}

bool TiffWriter::Finish()
{
    if (file.isOpen()) {
        if (!file.flush())
            Fail(file.errorString());
        file.close();
        if (error.isEmpty() && file.error() != QFileDevice::NoError)
            Fail(file.errorString());
    }
    return error.isEmpty();
}
