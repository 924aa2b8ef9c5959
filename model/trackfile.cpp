#include "model/trackfile.h"

#include "model/cnumericlocale.h"
#include "model/tracksetwriter.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <cmath>
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

// Files list their tracks in ascending id and a set is read in image order, so
// the place of the last insertion is tried first: the common case costs no
// search at all.
void StorePoint(TrackTable &table, TrackTable::iterator &last, unsigned int id, unsigned int image,
                const TrackPoint &p)
{
    // Both hints are where the next insertion goes in that common case; the
    // map falls back to a full search when a hint is wrong.
    if (last == table.end() || last->first != id)
        last = table.try_emplace(last == table.end() ? table.end() : std::next(last), id);
    last->second.insert_or_assign(last->second.end(), image, p);
}

void SkipRestOfLine(FILE *file)
{
    [[maybe_unused]] const int skipped = std::fscanf(file, "%*[^\n]");
}

} // namespace

bool ParseTrackFile(const QByteArray &path, std::vector<TrackRecord> &records,
                    const std::atomic<bool> *cancel)
{
    CNumericLocale cLocale;
    // Opened without waiting (a named pipe would block until a writer came),
    // and read only if it is a regular file: a folder or a device is not a
    // track file.
    const int descriptor = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    struct stat status;
    FILE *file = nullptr;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)
        || !(file = ::fdopen(descriptor, "rb"))) {
        ::close(descriptor);
        return false;
    }
    // Room for the records a file of this size usually holds (about twenty
    // bytes each): growing a large vector step by step copies it each time.
    records.reserve(records.size() + static_cast<size_t>(status.st_size / 16));

    // Fields are separated by any run of white space, so tabs or spaces, CR LF
    // and records split over lines all read. Text that is not a record skips
    // the rest of its line; every failed conversion stops on a non-blank
    // character that the skip then consumes, so the loop always ends.
    for (unsigned int line = 1; !std::feof(file) && !std::ferror(file); ++line) {
        // A cancel must act within a fraction of a second, inside a file of
        // any size: a few thousand records take well under a millisecond.
        if (cancel && line % 4096 == 0 && *cancel)
            break;
        float x = 0.0f;
        float y = 0.0f;
        long long idValue = 0;
        char after = ' ';
        // The character after the id is read too: the id must end at white
        // space or at the end of the file. "3abc", "3.5" or an embedded NUL is
        // not an id, and taking its leading digits would file the point under
        // the wrong track.
        const int fields = std::fscanf(file, "%f %f %lld%c", &x, &y, &idValue, &after);
        if (fields == EOF)
            break;
        if (fields < 3 || (fields == 4 && !std::isspace(static_cast<unsigned char>(after)))) {
            if (after != '\n')
                SkipRestOfLine(file);
            continue;
        }
        unsigned int id = 0;
        if (IdFromValue(idValue, id) && std::isfinite(x) && std::isfinite(y))
            records.push_back(TrackRecord { id, TrackPoint { x, y } });
    }
    // A read error (an I/O failure) is not an empty file; a cancelled read
    // is not a complete one.
    const bool ok = !std::ferror(file) && !(cancel && *cancel);
    std::fclose(file);
    return ok;
}

bool ReadTrackFile(const QByteArray &path, TrackTable &table, unsigned int image)
{
    std::vector<TrackRecord> records;
    if (!ParseTrackFile(path, records))
        return false;
    // Later records of an id replace earlier ones on image.
    auto last = table.end();
    for (const TrackRecord &record : records)
        StorePoint(table, last, record.id, image, record.point);
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
