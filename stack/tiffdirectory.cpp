#include "stack/tiffdirectory.h"

#include <QtEndian>
#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>

namespace {

enum : quint16 {
    kNewSubfileType = 254,
    kSubfileType = 255,
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kPageNumber = 297,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kSampleFormat = 339,
};

// More entries than any real directory has: a larger count is damage.
constexpr quint64 kMaxEntries = 4096;
// Strip and tile tables longer than this are not read for the check of the
// data's extent (a page of that many strips is read by the decoder anyway).
constexpr quint64 kMaxTable = 1 << 20;

class Reader
{
public:
    Reader(QIODevice &device, bool bigEndian)
        : device(device)
        , bigEndian(bigEndian)
        , fileSize(device.size())
    {
    }

    bool Read(qint64 at, void *out, qint64 bytes)
    {
        return at >= 0 && at + bytes <= fileSize && device.seek(at)
            && device.read(static_cast<char *>(out), bytes) == bytes;
    }

    quint64 Number(const uchar *bytes, int size) const
    {
        switch (size) {
        case 1:
            return bytes[0];
        case 2:
            return bigEndian ? qFromBigEndian<quint16>(bytes) : qFromLittleEndian<quint16>(bytes);
        case 4:
            return bigEndian ? qFromBigEndian<quint32>(bytes) : qFromLittleEndian<quint32>(bytes);
        default:
            return bigEndian ? qFromBigEndian<quint64>(bytes) : qFromLittleEndian<quint64>(bytes);
        }
    }

    QIODevice &device;
    const bool bigEndian;
    const qint64 fileSize;
};

int TypeSize(quint16 type)
{
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4: // LONG
    case 9: // SLONG
    case 11: // FLOAT
    case 13: // IFD
        return 4;
    case 16: // LONG8
    case 17: // SLONG8
    case 18: // IFD8
    case 5: // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
        return 8;
    default:
        return 0;
    }
}

struct Entry
{
    quint16 tag = 0;
    quint16 type = 0;
    quint64 count = 0;
    uchar value[8] = {};
};

// The unsigned integer values of an entry, at most limit of them; empty for
// other types or when they cannot be read.
std::vector<quint64> Values(Reader &reader, const Entry &entry, bool bigTiff, quint64 limit)
{
    const int size = TypeSize(entry.type);
    const bool integer = entry.type == 1 || entry.type == 3 || entry.type == 4 || entry.type == 13
        || entry.type == 16 || entry.type == 18;
    std::vector<quint64> values;
    if (!integer || entry.count == 0 || entry.count > limit)
        return values;
    const quint64 bytes = entry.count * static_cast<quint64>(size);
    const quint64 inlineBytes = bigTiff ? 8 : 4;
    QByteArray buffer;
    const uchar *data = entry.value;
    if (bytes > inlineBytes) {
        const qint64 at
            = static_cast<qint64>(reader.Number(entry.value, static_cast<int>(inlineBytes)));
        buffer.resize(static_cast<qsizetype>(bytes));
        if (!reader.Read(at, buffer.data(), static_cast<qint64>(bytes)))
            return values;
        data = reinterpret_cast<const uchar *>(buffer.constData());
    }
    values.reserve(static_cast<size_t>(entry.count));
    for (quint64 i = 0; i < entry.count; ++i)
        values.push_back(reader.Number(data + i * static_cast<quint64>(size), size));
    return values;
}

quint64 First(Reader &reader, const Entry &entry, bool bigTiff, quint64 fallback)
{
    const std::vector<quint64> values = Values(reader, entry, bigTiff, 16);
    return values.empty() ? fallback : values.front();
}

} // namespace

TiffDirectory ReadTiffDirectory(QIODevice &device,
                                const std::function<bool(int, qint64)> &keepGoing)
{
    TiffDirectory directory;
    uchar header[16] = {};
    if (!device.seek(0) || device.read(reinterpret_cast<char *>(header), 8) != 8)
        return directory;
    if (std::memcmp(header, "II", 2) == 0)
        directory.bigEndian = false;
    else if (std::memcmp(header, "MM", 2) == 0)
        directory.bigEndian = true;
    else
        return directory;
    Reader reader(device, directory.bigEndian);
    const quint64 version = reader.Number(header + 2, 2);
    quint64 next = 0;
    if (version == 42) {
        next = reader.Number(header + 4, 4);
    } else if (version == 43) {
        if (!reader.Read(8, header + 8, 8) || reader.Number(header + 4, 2) != 8)
            return directory;
        directory.bigTiff = true;
        next = reader.Number(header + 8, 8);
    } else {
        return directory;
    }
    directory.valid = true;

    const bool big = directory.bigTiff;
    const int countSize = big ? 8 : 2;
    const int entrySize = big ? 20 : 12;
    const int pointerSize = big ? 8 : 4;
    const qint64 headerSize = big ? 16 : 8;
    std::unordered_set<quint64> seen;
    QByteArray block;
    while (next != 0) {
        if (keepGoing && directory.pages.size() % 256 == 255
            && !keepGoing(static_cast<int>(directory.pages.size()), static_cast<qint64>(next)))
            break;
        const qint64 at = static_cast<qint64>(next);
        uchar countBytes[8];
        if (next < static_cast<quint64>(headerSize) || !seen.insert(next).second
            || !reader.Read(at, countBytes, countSize)) {
            directory.chainBroken = true;
            break;
        }
        const quint64 count = reader.Number(countBytes, countSize);
        const qint64 blockBytes = static_cast<qint64>(count) * entrySize + pointerSize;
        if (count == 0 || count > kMaxEntries) {
            directory.chainBroken = true;
            break;
        }
        block.resize(blockBytes);
        if (!reader.Read(at + countSize, block.data(), blockBytes)) {
            directory.chainBroken = true;
            break;
        }
        const auto *bytes = reinterpret_cast<const uchar *>(block.constData());

        TiffPage page;
        page.directoryOffset = at;
        Entry offsets, byteCounts;
        int width = 0, height = 0;
        for (quint64 i = 0; i < count; ++i) {
            const uchar *raw = bytes + i * entrySize;
            Entry entry;
            entry.tag = static_cast<quint16>(reader.Number(raw, 2));
            entry.type = static_cast<quint16>(reader.Number(raw + 2, 2));
            entry.count = reader.Number(raw + 4, big ? 8 : 4);
            std::memcpy(entry.value, raw + (big ? 12 : 8), static_cast<size_t>(pointerSize));
            switch (entry.tag) {
            case kNewSubfileType:
                page.newSubfileType = static_cast<quint32>(First(reader, entry, big, 0));
                break;
            case kSubfileType: // the older tag: 2 is a reduced-resolution image
                if (First(reader, entry, big, 1) == 2)
                    page.newSubfileType |= 1;
                break;
            case kImageWidth:
                width = static_cast<int>(std::min<quint64>(First(reader, entry, big, 0), INT_MAX));
                break;
            case kImageLength:
                height = static_cast<int>(std::min<quint64>(First(reader, entry, big, 0), INT_MAX));
                break;
            case kBitsPerSample:
                page.bitsPerSample = static_cast<int>(First(reader, entry, big, 1));
                break;
            case kPhotometric:
                page.photometric = static_cast<int>(First(reader, entry, big, 1));
                break;
            case kSamplesPerPixel:
                page.samplesPerPixel = static_cast<int>(First(reader, entry, big, 1));
                break;
            case kPlanarConfiguration:
                page.planarConfiguration = static_cast<int>(First(reader, entry, big, 1));
                break;
            case kSampleFormat:
                page.sampleFormat = static_cast<int>(First(reader, entry, big, 1));
                break;
            case kPageNumber: {
                const std::vector<quint64> numbers = Values(reader, entry, big, 2);
                if (numbers.size() == 2 && directory.declaredPages == 0 && numbers[1] > 0
                    && numbers[1] < INT_MAX)
                    directory.declaredPages = static_cast<int>(numbers[1]);
                break;
            }
            case kStripOffsets:
            case kTileOffsets:
                offsets = entry;
                break;
            case kStripByteCounts:
            case kTileByteCounts:
                byteCounts = entry;
                break;
            default:
                break;
            }
        }
        page.size = QSize(width, height);
        const std::vector<quint64> starts = Values(reader, offsets, big, kMaxTable);
        const std::vector<quint64> lengths = Values(reader, byteCounts, big, kMaxTable);
        if (!starts.empty() && starts.size() == lengths.size()) {
            for (size_t i = 0; i < starts.size(); ++i) {
                if (starts[i] + lengths[i] > static_cast<quint64>(reader.fileSize))
                    page.dataInFile = false;
            }
        }
        directory.pages.push_back(page);
        next = reader.Number(bytes + count * entrySize, pointerSize);
        if (next >= static_cast<quint64>(reader.fileSize)) {
            directory.chainBroken = true;
            break;
        }
    }
    return directory;
}

TiffPageDevice::TiffPageDevice(QIODevice *file, bool bigTiff, bool bigEndian,
                               qint64 directoryOffset)
    : file(file)
{
    const bool big = bigTiff;
    header = QByteArray(bigEndian ? "MM" : "II");
    header.resize(big ? 16 : 8);
    auto *bytes = reinterpret_cast<uchar *>(header.data());
    if (bigEndian) {
        qToBigEndian<quint16>(big ? 43 : 42, bytes + 2);
        if (big) {
            qToBigEndian<quint16>(8, bytes + 4);
            qToBigEndian<quint16>(0, bytes + 6);
            qToBigEndian<quint64>(static_cast<quint64>(directoryOffset), bytes + 8);
        } else {
            qToBigEndian<quint32>(static_cast<quint32>(directoryOffset), bytes + 4);
        }
    } else {
        qToLittleEndian<quint16>(big ? 43 : 42, bytes + 2);
        if (big) {
            qToLittleEndian<quint16>(8, bytes + 4);
            qToLittleEndian<quint16>(0, bytes + 6);
            qToLittleEndian<quint64>(static_cast<quint64>(directoryOffset), bytes + 8);
        } else {
            qToLittleEndian<quint32>(static_cast<quint32>(directoryOffset), bytes + 4);
        }
    }
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 TiffPageDevice::size() const { return file->size(); }

bool TiffPageDevice::seek(qint64 pos) { return pos >= 0 && QIODevice::seek(pos); }

qint64 TiffPageDevice::readData(char *data, qint64 maxSize)
{
    qint64 at = pos();
    qint64 copied = 0;
    if (at < header.size()) {
        copied = std::min<qint64>(maxSize, header.size() - at);
        std::memcpy(data, header.constData() + at, static_cast<size_t>(copied));
        at += copied;
    }
    if (copied == maxSize)
        return copied;
    if (!file->seek(at))
        return copied > 0 ? copied : -1;
    const qint64 got = file->read(data + copied, maxSize - copied);
    if (got < 0)
        return copied > 0 ? copied : -1;
    return copied + got;
}
