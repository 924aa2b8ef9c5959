#include "model/trackfile.h"

#include "model/cnumericlocale.h"
#include "model/tracksetwriter.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// An id as the writer produces it: negative for ids of 2^31 and above, so
// anything from -2^31 to 2^32 - 1 is an id; more than 32 bits is not.
bool IdFromValue(long long value, unsigned int &id)
{
    if (value < -2147483648LL || value > 4294967295LL)
        return false;
    id = static_cast<unsigned int>(value);
    return true;
}

// White space as scanf and isspace see it in the C locale.
inline bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The reason a file cannot be read, in the words of a message.
QString ReasonFor(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return QStringLiteral("it does not exist");
    return QString::fromLocal8Bit(std::strerror(error));
}

// How far the quick reading of a record got: a record, a record skipped (an
// id out of range), the buffer ended inside it, or not a record of the usual
// shape (the exact step reads it then).
enum class Fast { Record, Skipped, NeedMore, Unsure };

// Reads the records of one file. The rules are those of a plain loop over
// fscanf(file, "%f %f %lld%c") that skips the rest of the line after anything
// that is not a record (see Parse), and that loop is what runs on any text it
// would be unsure of. Records of the usual shape ("12.500000<TAB>7.250000<TAB>3")
// are read straight from a buffer instead, several times faster, with exactly
// the values scanf would give them.
class RecordParser
{
public:
    RecordParser(int descriptor, FILE *file, std::vector<TrackRecord> &records,
                 const std::atomic<bool> *cancel, std::atomic<qint64> *bytesRead)
        : descriptor(descriptor)
        , file(file)
        , records(records)
        , cancel(cancel)
        , bytesRead(bytesRead)
        , buffer(kBufferBytes)
    {
    }

    // False on a read error (error tells it) or a cancel.
    bool Parse();

    bool blank = true;
    int error = 0;

private:
    static constexpr size_t kBufferBytes = 256 * 1024;

    bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
    // Keeps what is left from pos and reads more after it; false on an error.
    bool Refill();
    // Moves the parse to a file offset (after the exact step read there).
    void MoveTo(off_t offset);
    // Skips white space; false at the end of the file (or on an error).
    bool SkipSpace();
    // Skips to the next line feed, which it leaves; false on an error or cancel.
    bool SkipRestOfLine();
    Fast FastRecord();
    bool ExactRecord();

    const int descriptor;
    FILE *const file;
    std::vector<TrackRecord> &records;
    const std::atomic<bool> *const cancel;
    std::atomic<qint64> *const bytesRead;
    std::vector<char> buffer;
    off_t base = 0; // the file offset of buffer[0]
    size_t length = 0;
    size_t pos = 0;
    bool atEnd = false;
    off_t fileAt = 0; // where the stream stands
};

bool RecordParser::Refill()
{
    if (pos > 0) {
        std::memmove(buffer.data(), buffer.data() + pos, length - pos);
        base += static_cast<off_t>(pos);
        length -= pos;
        pos = 0;
    }
    while (length < buffer.size() && !atEnd) {
        const ssize_t got = ::pread(descriptor, buffer.data() + length, buffer.size() - length,
                                    base + static_cast<off_t>(length));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (got == 0)
            atEnd = true;
        else if (bytesRead)
            bytesRead->fetch_add(got, std::memory_order_relaxed);
        length += static_cast<size_t>(got);
    }
    return true;
}

void RecordParser::MoveTo(off_t offset)
{
    if (offset >= base && offset <= base + static_cast<off_t>(length)) {
        pos = static_cast<size_t>(offset - base);
        return;
    }
    base = offset;
    length = 0;
    pos = 0;
    atEnd = false;
}

bool RecordParser::SkipSpace()
{
    for (;;) {
        while (pos < length && IsSpace(buffer[pos]))
            ++pos;
        if (pos < length)
            return true;
        if (atEnd || Cancelled() || !Refill() || (length == 0 && atEnd))
            return false;
    }
}

bool RecordParser::SkipRestOfLine()
{
    for (;;) {
        const void *feed = std::memchr(buffer.data() + pos, '\n', length - pos);
        if (feed) {
            pos = static_cast<size_t>(static_cast<const char *>(feed) - buffer.data());
            return true;
        }
        pos = length;
        if (atEnd)
            return true;
        // A "line" of a binary file can be gigabytes long.
        if (Cancelled() || !Refill())
            return false;
    }
}

// The float next to a positive finite one, up (step 1) or down (-1).
inline double NextFloat(float value, int step)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    bits += static_cast<std::uint32_t>(step);
    float next = 0.0f;
    std::memcpy(&next, &bits, sizeof(next));
    return static_cast<double>(next);
}

// A decimal number of the usual shape, "-"? digits ("." digits?)?, followed by a
// space or a tab: what scanf's %f reads of it is exactly this text, and its
// value is the correctly rounded float, as strtof gives it.
Fast ReadNumber(const char *&at, const char *end, bool atEnd, float &value)
{
    const char *s = at;
    const bool negative = s < end && *s == '-';
    if (negative)
        ++s;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    const char *first = s;
    while (s < end && IsDigit(*s)) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*s - '0');
        ++s;
    }
    digits = static_cast<int>(s - first);
    if (s < end && *s == '.' && digits > 0) {
        ++s;
        const char *fraction = s;
        while (s < end && IsDigit(*s)) {
            mantissa = mantissa * 10 + static_cast<unsigned>(*s - '0');
            ++s;
        }
        decimals = static_cast<int>(s - fraction);
    }
    if (s == end)
        return atEnd ? Fast::Unsure : Fast::NeedMore;
    if (digits == 0 || (*s != ' ' && *s != '\t') || digits + decimals > 19)
        return Fast::Unsure;

    static const double kPowers[]
        = { 1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 };
    float result = 0.0f;
    bool exact = mantissa == 0;
    if (!exact && mantissa < (std::uint64_t(1) << 53)) {
        // mantissa and the power of ten are exact doubles, so the quotient is
        // the correctly rounded double. Rounded again to float it is the
        // correctly rounded float unless it lies closer to a point halfway
        // between two floats than its own rounding error: then strtof decides.
        const double quotient = static_cast<double>(mantissa) / kPowers[decimals];
        result = static_cast<float>(quotient);
        const double up = (static_cast<double>(result) + NextFloat(result, 1)) * 0.5;
        const double down = (static_cast<double>(result) + NextFloat(result, -1)) * 0.5;
        const double margin = quotient * 0x1p-51;
        exact = up - quotient > margin && quotient - down > margin;
    }
    if (!exact) {
        char text[32];
        const size_t size = static_cast<size_t>(s - at);
        std::memcpy(text, at, size);
        text[size] = '\0';
        value = std::strtof(text, nullptr);
    } else {
        value = negative ? -result : result;
    }
    at = s;
    return Fast::Record;
}

// Spaces and tabs between two fields on one line.
Fast SkipGap(const char *&at, const char *end, bool atEnd)
{
    while (at < end && (*at == ' ' || *at == '\t'))
        ++at;
    if (at == end)
        return atEnd ? Fast::Unsure : Fast::NeedMore;
    return IsSpace(*at) ? Fast::Unsure : Fast::Record;
}

Fast RecordParser::FastRecord()
{
    const char *at = buffer.data() + pos;
    const char *end = buffer.data() + length;
    float x = 0.0f;
    float y = 0.0f;
    for (float *value : { &x, &y }) {
        Fast step = ReadNumber(at, end, atEnd, *value);
        if (step == Fast::Record)
            step = SkipGap(at, end, atEnd);
        if (step != Fast::Record)
            return step;
    }
    // The id: "-"? up to 18 digits, then one white-space character (read as
    // scanf's %c reads it) or the end of the file.
    const char *s = at;
    const bool negative = s < end && *s == '-';
    if (negative)
        ++s;
    long long value = 0;
    const char *first = s;
    while (s < end && IsDigit(*s) && s - first < 18) {
        value = value * 10 + (*s - '0');
        ++s;
    }
    if (s == end && !atEnd)
        return Fast::NeedMore;
    if (s == first || (s < end && (IsDigit(*s) || !IsSpace(*s))))
        return Fast::Unsure;
    if (s < end)
        ++s;
    unsigned int id = 0;
    pos = static_cast<size_t>(s - buffer.data());
    if (!IdFromValue(negative ? -value : value, id) || !std::isfinite(x) || !std::isfinite(y))
        return Fast::Skipped;
    records.push_back(TrackRecord { id, TrackPoint { x, y } });
    return Fast::Record;
}

// One turn of the plain fscanf loop, from where the parse stands.
bool RecordParser::ExactRecord()
{
    const off_t offset = base + static_cast<off_t>(pos);
    if (offset != fileAt && ::fseeko(file, offset, SEEK_SET) != 0) {
        error = errno;
        return false;
    }
    float x = 0.0f;
    float y = 0.0f;
    long long idValue = 0;
    char after = ' ';
    // The character after the id is read too: the id must end at white
    // space or at the end of the file. "3abc", "3.5" or an embedded NUL is
    // not an id, and taking its leading digits would file the point under
    // the wrong track.
    const int fields = std::fscanf(file, "%f %f %lld%c", &x, &y, &idValue, &after);
    if (std::ferror(file)) {
        error = errno ? errno : EIO;
        return false;
    }
    fileAt = ::ftello(file);
    MoveTo(fileAt);
    if (fields == EOF)
        return true;
    if (fields < 3 || (fields == 4 && !IsSpace(after))) {
        // Text that is not a record: the rest of its line goes. Every failed
        // conversion stops on a character that is not white space, which the
        // skip then takes, so the parse always moves on.
        return SkipRestOfLine();
    }
    unsigned int id = 0;
    if (IdFromValue(idValue, id) && std::isfinite(x) && std::isfinite(y))
        records.push_back(TrackRecord { id, TrackPoint { x, y } });
    return true;
}

bool RecordParser::Parse()
{
    // Fields are separated by any run of white space, so tabs or spaces, CR LF
    // and records split over lines all read. Text that is not a record skips
    // the rest of its line.
    for (unsigned int turn = 1;; ++turn) {
        // A cancel must act within a fraction of a second, inside a file of
        // any size: a few thousand records take well under a millisecond.
        if (turn % 4096 == 0 && Cancelled())
            return false;
        if (!SkipSpace())
            return error == 0 && !Cancelled();
        blank = false;
        Fast fast = FastRecord();
        if (fast == Fast::NeedMore) {
            if (!Refill())
                return false;
            // Still more: a "record" longer than the whole buffer.
            fast = FastRecord();
        }
        if ((fast == Fast::Unsure || fast == Fast::NeedMore) && !ExactRecord())
            return false;
    }
}

} // namespace

bool ParseTrackFile(const QByteArray &path, std::vector<TrackRecord> &records,
                    const std::atomic<bool> *cancel, TrackFileStatus *status,
                    std::atomic<qint64> *bytesRead)
{
    TrackFileStatus ignored;
    TrackFileStatus &result = status ? *status : ignored;
    // Opened without waiting (a named pipe would block until a writer came),
    // and read only if it is a regular file: a folder or a device is not a
    // track file.
    const int descriptor = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        result.reason = ReasonFor(errno);
        return false;
    }
    struct stat info;
    if (::fstat(descriptor, &info) != 0) {
        result.reason = ReasonFor(errno);
        ::close(descriptor);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        result.reason = QStringLiteral("it is not a regular file");
        ::close(descriptor);
        return false;
    }
    FILE *file = ::fdopen(descriptor, "rb");
    if (!file) {
        result.reason = ReasonFor(errno);
        ::close(descriptor);
        return false;
    }
    bool ok = false;
    int error = 0;
    try {
        RecordParser parser(descriptor, file, records, cancel, bytesRead);
        {
            // The C locale for scanf and strtof only: the reason a read failed
            // is told in the user's language.
            CNumericLocale cLocale;
            ok = parser.Parse();
        }
        result.blank = parser.blank;
        error = parser.error;
    } catch (...) {
        std::fclose(file);
        throw;
    }
    std::fclose(file);
    if (error)
        result.reason = ReasonFor(error);
    // A read error (an I/O failure) is not an empty file; a cancelled read is
    // not a complete one.
    return ok && !(cancel && *cancel);
}

void SortRecordsById(std::vector<TrackRecord> &records)
{
    const auto byId = [](const TrackRecord &a, const TrackRecord &b) { return a.id < b.id; };
    if (!std::is_sorted(records.begin(), records.end(), byId))
        std::stable_sort(records.begin(), records.end(), byId);
    // Keep the last of each run of equal ids.
    size_t kept = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (i + 1 < records.size() && records[i + 1].id == records[i].id)
            continue;
        records[kept++] = records[i];
    }
    records.resize(kept);
}

bool ReadTrackFile(const QByteArray &path, TrackTable &table, unsigned int image)
{
    std::vector<TrackRecord> records;
    if (!ParseTrackFile(path, records))
        return false;
    SortRecordsById(records);
    // The file's ids merged into the table in one ascending pass.
    TrackTable merged;
    merged.reserve(table.size() + records.size());
    auto track = table.begin();
    for (const TrackRecord &record : records) {
        for (; track != table.end() && track->first < record.id; ++track)
            merged.emplace_hint(merged.end(), track->first, std::move(track->second));
        if (track != table.end() && track->first == record.id) {
            track->second.insert_or_assign(image, record.point);
            merged.emplace_hint(merged.end(), track->first, std::move(track->second));
            ++track;
        } else {
            merged.emplace_hint(merged.end(), record.id, PointMap { { image, record.point } });
        }
    }
    for (; track != table.end(); ++track)
        merged.emplace_hint(merged.end(), track->first, std::move(track->second));
    table.swap(merged);
    return true;
}

namespace {

bool WriteRecord(FILE *file, const TrackPoint &p, unsigned int id)
{
    return std::fprintf(file, "%f\t%f\t%d\n", static_cast<double>(p.x), static_cast<double>(p.y),
                        static_cast<int>(id))
        > 0;
}

} // namespace

bool WriteTrackRecords(FILE *file, const std::vector<unsigned int> &ids, const TrackTable &table,
                       unsigned int image, bool invert)
{
    CNumericLocale cLocale;
    if (!invert) {
        for (const unsigned int id : ids) {
            const auto track = table.find(id);
            if (track == table.end())
                continue;
            const auto point = track->second.find(image);
            if (point != track->second.end() && !WriteRecord(file, point->second, id))
                return false;
        }
        return true;
    }
    // Membership is a bisection rather than a scan: with thousands of picks a
    // linear search per track would dominate the save. A caller's unsorted list
    // is sorted here rather than trusted, or picked tracks would be written.
    std::vector<unsigned int> sortedCopy;
    const std::vector<unsigned int> *excluded = &ids;
    if (!std::is_sorted(ids.begin(), ids.end())) {
        sortedCopy = ids;
        std::sort(sortedCopy.begin(), sortedCopy.end());
        excluded = &sortedCopy;
    }
    for (const auto &[id, points] : table) {
        if (std::binary_search(excluded->begin(), excluded->end(), id))
            continue;
        const auto point = points.find(image);
        if (point != points.end() && !WriteRecord(file, point->second, id))
            return false;
    }
    return true;
}

bool WriteTrackFile(const QByteArray &path, const std::vector<unsigned int> &ids,
                    const TrackTable &table, unsigned int image, bool invert)
{
    // Its callers write data they can make again (sample sets, tests): no
    // waiting for the disk. A user's save goes through TrackSetWriter itself.
    TrackSetWriter writer({ QFile::decodeName(path) }, TrackSetWriter::Scratch);
    return writer.Write(
        [&](FILE *file, int) { return WriteTrackRecords(file, ids, table, image, invert); });
}

int NumberWidth(int count)
{
    if (count <= 0)
        return 0;
    int width = 1;
    for (int n = count - 1; n > 0; n /= 10) {
        if (n > 9)
            ++width;
    }
    return width;
}

QStringList SaveFileNames(const QString &base, int count)
{
    const int width = NumberWidth(count);
    QStringList names;
    names.reserve(std::max(count, 0));
    for (int i = 0; i < count; ++i)
        names << base + QStringLiteral("%1").arg(i, width, 10, QLatin1Char('0'))
                + QStringLiteral(".txt");
    return names;
}
