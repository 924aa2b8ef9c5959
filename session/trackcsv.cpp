#include "session/trackcsv.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace {

QString Tr(const char *text) { return QCoreApplication::translate("TrackCsv", text); }

// Rows are gathered in a buffer and written in large pieces: a call to the C
// library per field would cost more than formatting the numbers.
class RowWriter
{
public:
    explicit RowWriter(FILE *file)
        : file(file)
    {
    }

    bool Row(unsigned int id, bool error, unsigned int image, const TrackPoint &point)
    {
        if (used > kBuffer - kLongestRow && !Flush())
            return false;
        char *at = buffer.data() + used;
        char *const end = buffer.data() + kBuffer;
        at = std::to_chars(at, end, id).ptr;
        const std::string_view kind
            = error ? std::string_view(",error,") : std::string_view(",non-error,");
        at = std::copy(kind.begin(), kind.end(), at);
        at = std::to_chars(at, end, image).ptr;
        *at++ = ',';
        at = std::to_chars(at, end, point.x, std::chars_format::fixed).ptr;
        *at++ = ',';
        at = std::to_chars(at, end, point.y, std::chars_format::fixed).ptr;
        *at++ = '\n';
        used = static_cast<size_t>(at - buffer.data());
        return true;
    }

    bool Text(std::string_view text)
    {
        if (used + text.size() > kBuffer && !Flush())
            return false;
        std::copy(text.begin(), text.end(), buffer.data() + used);
        used += text.size();
        return true;
    }

    bool Flush()
    {
        if (used > 0 && std::fwrite(buffer.data(), 1, used, file) != used)
            return false;
        used = 0;
        return true;
    }

private:
    static constexpr size_t kBuffer = 1 << 16;
    // Two ids of 10 digits, the kind, and two floats in fixed notation
    // (at most 39 digits before the point, 45 after).
    static constexpr size_t kLongestRow = 256;

    FILE *file;
    std::array<char, kBuffer> buffer;
    size_t used = 0;
};

bool Listed(const std::vector<unsigned int> *ids, unsigned int id)
{
    return !ids || std::binary_search(ids->begin(), ids->end(), id);
}

bool WriteTrack(RowWriter &rows, unsigned int id, bool error, const PointMap &points)
{
    for (const auto &[image, point] : points) {
        if (!rows.Row(id, error, image, point))
            return false;
    }
    return true;
}

// The columns of a table, found by name.
struct Columns
{
    int id = -1;
    int image = -1;
    int x = -1;
    int y = -1;
    int kind = -1;

    int Needed() const { return std::max({ id, image, x, y, kind }) + 1; }
};

// The first of names (in order of preference) that is a column of header.
int FindColumn(const std::vector<std::string> &header, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const auto found = std::find(header.begin(), header.end(), name);
        if (found != header.end())
            return static_cast<int>(found - header.begin());
    }
    return -1;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Splits a table into records of fields, quotes removed. A quoted field may
// hold separators, line ends and doubled quotes.
class RecordReader
{
public:
    RecordReader(const char *begin, const char *end)
        : at(begin)
        , end(end)
    {
        if (end - at >= 3 && static_cast<unsigned char>(at[0]) == 0xEF
            && static_cast<unsigned char>(at[1]) == 0xBB
            && static_cast<unsigned char>(at[2]) == 0xBF)
            at += 3;
    }

    void SetSeparator(char s) { separator = s; }

    // The next record; false at the end. line is where it starts (from 1).
    bool Next(std::vector<std::string_view> &fields, qint64 &line)
    {
        if (at >= end)
            return false;
        fields.clear();
        scratchUsed = 0;
        line = nextLine;
        for (;;) {
            if (at < end && *at == '"') {
                ++at;
                const char *start = at;
                bool escaped = false;
                while (at < end) {
                    if (*at == '"') {
                        if (at + 1 < end && at[1] == '"') {
                            escaped = true;
                            at += 2;
                            continue;
                        }
                        break;
                    }
                    if (*at == '\n')
                        ++nextLine;
                    ++at;
                }
                std::string_view field(start, static_cast<size_t>(at - start));
                if (at < end)
                    ++at; // the closing quote
                if (escaped)
                    field = Unescape(field);
                // Text after the closing quote belongs to the field, as
                // spreadsheets read it.
                const char *rest = at;
                while (at < end && *at != separator && *at != '\n')
                    ++at;
                // (a CR before the line end is no text)
                if (at > rest && !(at - rest == 1 && *rest == '\r'))
                    field = Joined(field, std::string_view(rest, static_cast<size_t>(at - rest)));
                fields.push_back(field);
            } else {
                const char *start = at;
                while (at < end && *at != separator && *at != '\n')
                    ++at;
                fields.emplace_back(start, static_cast<size_t>(at - start));
            }
            if (at >= end)
                return true;
            if (*at == '\n') {
                ++at;
                ++nextLine;
                return true;
            }
            ++at; // the separator
        }
    }

    // Which of the separators the first line uses most, outside quotes.
    char GuessSeparator() const
    {
        int commas = 0;
        int semicolons = 0;
        int tabs = 0;
        bool quoted = false;
        for (const char *c = at; c < end; ++c) {
            if (*c == '"')
                quoted = !quoted;
            else if (!quoted && *c == '\n')
                break;
            else if (!quoted && *c == ',')
                ++commas;
            else if (!quoted && *c == ';')
                ++semicolons;
            else if (!quoted && *c == '\t')
                ++tabs;
        }
        if (semicolons > commas && semicolons >= tabs)
            return ';';
        if (tabs > commas && tabs > semicolons)
            return '\t';
        return ',';
    }

private:
    std::string_view Keep(std::string text)
    {
        if (scratchUsed == scratch.size())
            scratch.emplace_back();
        scratch[scratchUsed] = std::move(text);
        return scratch[scratchUsed++];
    }
    std::string_view Unescape(std::string_view text)
    {
        std::string plain;
        plain.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            plain += text[i];
            if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"')
                ++i;
        }
        return Keep(std::move(plain));
    }
    std::string_view Joined(std::string_view a, std::string_view b)
    {
        std::string joined(a);
        joined.append(b);
        return Keep(std::move(joined));
    }

    const char *at;
    const char *end;
    char separator = ',';
    qint64 nextLine = 1;
    // Fields that had to be rewritten, kept until the next record; a deque
    // would do as well, but the strings are reused.
    std::vector<std::string> scratch;
    size_t scratchUsed = 0;
};

// A number as a spreadsheet writes it: spaces around it and a leading '+'
// allowed, and with decimalComma a ',' for the decimal point.
bool ReadNumber(std::string_view text, bool decimalComma, double &value)
{
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size())
        return std::isfinite(value);
    if (!decimalComma || text.find(',') == std::string_view::npos
        || text.find('.') != std::string_view::npos)
        return false;
    std::string pointed(text);
    std::replace(pointed.begin(), pointed.end(), ',', '.');
    const auto [pointedEnd, pointedError]
        = std::from_chars(pointed.data(), pointed.data() + pointed.size(), value);
    return pointedError == std::errc() && pointedEnd == pointed.data() + pointed.size()
        && std::isfinite(value);
}

bool ReadWhole(std::string_view text, bool decimalComma, unsigned int &value)
{
    double number = 0;
    if (!ReadNumber(text, decimalComma, number) || number < 0 || number > 4294967295.0
        || number != std::floor(number))
        return false;
    value = static_cast<unsigned int>(number);
    return true;
}

bool ReadCoordinate(std::string_view text, bool decimalComma, float &value)
{
    double number = 0;
    if (!ReadNumber(text, decimalComma, number) || std::fabs(number) > FLT_MAX)
        return false;
    value = static_cast<float>(number);
    return true;
}

// 1 for an error track, 0 for a non-error track, -1 for anything else.
int ReadKind(std::string_view text)
{
    std::string kind(Trimmed(text));
    std::transform(kind.begin(), kind.end(), kind.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char *name : { "error", "err", "e", "1", "true", "yes" }) {
        if (kind == name)
            return 1;
    }
    for (const char *name : { "non-error", "nonerror", "non_error", "non error", "normal",
                              "correct", "corr", "n", "0", "false", "no" }) {
        if (kind == name)
            return 0;
    }
    return -1;
}

QString Quoted(std::string_view text)
{
    return QLatin1Char('"') + QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        + QLatin1Char('"');
}

} // namespace

bool WriteTracksCsv(FILE *file, const TrackTable &nonError, const TrackTable &error,
                    const std::vector<unsigned int> *nonErrorIds,
                    const std::vector<unsigned int> *errorIds)
{
    RowWriter rows(file);
    if (!rows.Text("id,kind,image,x,y\n"))
        return false;
    auto normal = nonError.begin();
    auto faulty = error.begin();
    while (normal != nonError.end() || faulty != error.end()) {
        const bool normalFirst
            = faulty == error.end() || (normal != nonError.end() && normal->first <= faulty->first);
        if (normalFirst) {
            if (Listed(nonErrorIds, normal->first)
                && !WriteTrack(rows, normal->first, false, normal->second))
                return false;
            ++normal;
        } else {
            if (Listed(errorIds, faulty->first)
                && !WriteTrack(rows, faulty->first, true, faulty->second))
                return false;
            ++faulty;
        }
    }
    return rows.Flush();
}

bool ParseTracksCsv(const char *begin, const char *end, CsvTracks &out, QString &why,
                    const std::atomic<bool> *cancel)
{
    out = CsvTracks();
    // A table is text. A NUL byte near its start means binary data (an image
    // chosen by mistake, a damaged or zero-filled file), which would
    // otherwise be scanned to its end as one endless line.
    const char *sniffed = begin + std::min<qsizetype>(end - begin, 65536);
    if (std::find(begin, sniffed, '\0') != sniffed) {
        why = Tr("The file is not a table: it holds binary data.");
        return false;
    }
    RecordReader records(begin, end);
    const char separator = records.GuessSeparator();
    records.SetSeparator(separator);
    const bool decimalComma = separator != ',';

    std::vector<std::string_view> fields;
    qint64 line = 0;
    // The header: the first record that is not empty.
    std::vector<std::string> header;
    while (header.empty() && records.Next(fields, line)) {
        if (fields.size() == 1 && Trimmed(fields[0]).empty())
            continue;
        for (const std::string_view field : fields) {
            std::string name(Trimmed(field));
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            header.push_back(std::move(name));
        }
    }
    if (header.empty()) {
        why = Tr("The file is empty.");
        return false;
    }
    Columns columns;
    columns.id = FindColumn(header, { "track_id", "track", "id" });
    columns.image = FindColumn(header, { "image", "frame", "slice", "t", "z" });
    columns.x = FindColumn(header, { "x", "position_x" });
    columns.y = FindColumn(header, { "y", "position_y" });
    columns.kind = FindColumn(header, { "kind" });
    out.hasKind = columns.kind >= 0;
    QStringList missing;
    if (columns.id < 0)
        missing << Tr("the track id (id, track_id or track)");
    if (columns.image < 0)
        missing << Tr("the image (image, frame, slice, t or z)");
    if (columns.x < 0)
        missing << Tr("x (x or position_x)");
    if (columns.y < 0)
        missing << Tr("y (y or position_y)");
    if (!missing.isEmpty()) {
        why = Tr("The table has no column for %1. Its first row must name the columns.")
                  .arg(missing.join(Tr(", for ")));
        return false;
    }

    const size_t needed = static_cast<size_t>(columns.Needed());
    bool dataStarted = false;
    // The track of the last row: rows usually come track by track.
    TrackTable *lastTable = nullptr;
    unsigned int lastId = 0;
    PointMap *lastPoints = nullptr;
    qint64 rowsRead = 0;
    while (records.Next(fields, line)) {
        if (cancel && (++rowsRead & 0xFFFF) == 0 && cancel->load())
            return false;
        // Blank lines, and rows of separators only, as spreadsheets leave them.
        if (std::all_of(fields.begin(), fields.end(),
                        [](std::string_view field) { return Trimmed(field).empty(); }))
            continue;
        const auto unreadable = [&out, line](const QString &reason) {
            ++out.unreadable;
            if (out.unreadableRows.size() < kCsvRowsNamed)
                out.unreadableRows << Tr("line %1: %2").arg(line).arg(reason);
        };
        if (fields.size() < needed) {
            if (dataStarted)
                unreadable(Tr("%1 fields where %2 are needed").arg(fields.size()).arg(needed));
            continue;
        }
        unsigned int id = 0;
        unsigned int image = 0;
        TrackPoint point;
        const bool idRead = ReadWhole(fields[static_cast<size_t>(columns.id)], decimalComma, id);
        const bool imageRead
            = ReadWhole(fields[static_cast<size_t>(columns.image)], decimalComma, image);
        const bool xRead
            = ReadCoordinate(fields[static_cast<size_t>(columns.x)], decimalComma, point.x);
        const bool yRead
            = ReadCoordinate(fields[static_cast<size_t>(columns.y)], decimalComma, point.y);
        int kind = 0;
        if (out.hasKind)
            kind = ReadKind(fields[static_cast<size_t>(columns.kind)]);
        if (!dataStarted && !idRead && !imageRead && !xRead && !yRead)
            continue; // a row of units or descriptions under the header
        dataStarted = true;
        if (!idRead) {
            unreadable(
                Tr("%1 is no track id").arg(Quoted(fields[static_cast<size_t>(columns.id)])));
            continue;
        }
        if (!imageRead) {
            unreadable(Tr("%1 is no image number")
                           .arg(Quoted(fields[static_cast<size_t>(columns.image)])));
            continue;
        }
        if (!xRead || !yRead) {
            const size_t column = static_cast<size_t>(xRead ? columns.y : columns.x);
            unreadable(Tr("%1 is no coordinate").arg(Quoted(fields[column])));
            continue;
        }
        if (kind < 0) {
            unreadable(Tr("%1 is no kind of track (error or non-error)")
                           .arg(Quoted(fields[static_cast<size_t>(columns.kind)])));
            continue;
        }
        TrackTable *table = kind == 1 ? &out.error : &out.nonError;
        if (table != lastTable || id != lastId || !lastPoints) {
            lastTable = table;
            lastId = id;
            lastPoints = &(*table)[id];
        }
        if (lastPoints->count(image) != 0) {
            ++out.repeated;
            if (out.repeatedRows.size() < kCsvRowsNamed)
                out.repeatedRows
                    << Tr("line %1: track %2 on image %3").arg(line).arg(id).arg(image);
            continue;
        }
        lastPoints->insert_or_assign(image, point);
        ++out.points;
    }
    if (out.points == 0) {
        why = out.unreadable > 0 ? Tr("No row of the table could be read.")
                                 : Tr("The table holds no points.");
        return false;
    }
    return true;
}

bool ReadTracksCsv(const QString &path, CsvTracks &out, QString &why,
                   const std::atomic<bool> *cancel)
{
    QFile file(path);
    const QFileInfo info(path);
    // A pipe or a device is never opened: reading it could wait for ever.
    if (!info.exists() || !info.isFile()) {
        why = Tr("The file cannot be read (%1).")
                  .arg(info.exists() ? Tr("it is not a regular file") : Tr("it does not exist"));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        why = Tr("The file cannot be read (%1).").arg(file.errorString());
        return false;
    }
    // Mapped rather than read: a table of millions of points is read once,
    // from the page cache, without a copy of its own.
    const qint64 size = file.size();
    if (size == 0)
        return ParseTracksCsv(nullptr, nullptr, out, why, cancel);
    if (const uchar *mapped = file.map(0, size)) {
        const auto *text = reinterpret_cast<const char *>(mapped);
        const bool read = ParseTracksCsv(text, text + size, out, why, cancel);
        file.unmap(const_cast<uchar *>(mapped));
        return read;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        why = Tr("The file cannot be read (%1).").arg(file.errorString());
        return false;
    }
    return ParseTracksCsv(text.constData(), text.constData() + text.size(), out, why, cancel);
}
