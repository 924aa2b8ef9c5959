#include "model/tracksetreader.h"

#include "model/freedmemory.h"

#include <QFile>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

// How many points of one id the set holds.
struct IdCount
{
    unsigned int id;
    unsigned int count;
};

// The first position from at on whose key is not below key, in a range sorted
// by key: a step at a time, as files mostly list the same ids in the same
// order, then by bisection over widening steps for the ids a file skips.
template <typename Iterator, typename Key>
Iterator Advance(Iterator at, Iterator end, unsigned int key, Key keyOf)
{
    if (at == end || keyOf(*at) >= key)
        return at;
    ++at;
    std::ptrdiff_t step = 1;
    while (step < end - at && keyOf(at[step]) < key)
        step *= 2;
    const Iterator last = at + std::min(step + 1, end - at);
    return std::lower_bound(at, last, key,
                            [&keyOf](const auto &item, unsigned int k) { return keyOf(item) < k; });
}

// Points of the tracks filled together when the table is built: their arrays
// (12 bytes a point) stay within the processor's cache.
const size_t kBandPoints = 16384;

QString ReasonFor(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return QStringLiteral("it does not exist");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

// The files are parsed on helpers side by side, each into records of its own,
// sorted by id; as each one is parsed, its ids are counted into the catalogue
// of the set's ids. Once every file is in, the table is made in one ascending
// pass, every track with room for exactly its points, and the files are poured
// into it in image order, each record going to the end of its track: no point
// is ever moved, no array grows, and each file's records are freed as soon as
// they are in.
struct TrackSetReader::State
{
    QStringList paths;
    std::atomic<bool> cancel { false };
    std::atomic<bool> outOfMemory { false };
    std::atomic<int> parsed { 0 };
    std::atomic<qint64> bytesRead { 0 };
    qint64 totalBytes = 0;
    // Files from the first one refused before reading (missing, not a regular
    // file) on are not read; an earlier one that fails to read is reported
    // instead.
    int toParse = 0;
    std::vector<std::vector<TrackRecord>> records;

    // The first file in set order that failed, and how.
    std::mutex failureMutex;
    int firstFailed = 0;
    TrackSetRead failure;

    std::mutex catalogueMutex;
    std::vector<IdCount> catalogue;

    mutable std::mutex mutex;
    mutable std::condition_variable finishedChanged;
    bool finished = false;
    TrackSetRead result;
    TrackTable table;

    bool Cancelled() const { return cancel.load(std::memory_order_relaxed); }
    int FirstFailed()
    {
        std::lock_guard<std::mutex> lock(failureMutex);
        return firstFailed;
    }
    void Fail(int index, TrackSetRead::Outcome outcome, const QString &reason);
    void ParseFile(int index);
    // Counts files as parsed (or never to be parsed); the last one builds.
    void FilesDone(int count);
    void Count(const std::vector<TrackRecord> &file);
    void Build();
    void Finish(TrackSetRead outcome);
};

void TrackSetReader::State::Fail(int index, TrackSetRead::Outcome outcome, const QString &reason)
{
    std::lock_guard<std::mutex> lock(failureMutex);
    if (index < firstFailed) {
        firstFailed = index;
        failure = { outcome, index, reason };
    }
}

void TrackSetReader::State::ParseFile(int index)
{
    // Every helper's work ends here, whatever it met: an allocation that
    // fails ends the read as out of memory, never the program.
    try {
        if (!Cancelled() && !outOfMemory && index < FirstFailed()) {
            std::vector<TrackRecord> file;
            TrackFileStatus status;
            if (ParseTrackFile(QFile::encodeName(paths[index]), file, &cancel, &status,
                               &bytesRead)) {
                if (file.empty() && !status.blank) {
                    Fail(index, TrackSetRead::NoRecords,
                         QStringLiteral("no track record could be read"));
                } else {
                    SortRecordsById(file);
                    // Grown by doubling while parsed; held until the table is
                    // built, so not with up to half of it unused.
                    if (file.capacity() - file.size() > file.size() / 8)
                        std::vector<TrackRecord>(file).swap(file);
                    Count(file);
                    records[static_cast<size_t>(index)] = std::move(file);
                }
            } else if (!Cancelled()) {
                Fail(index, TrackSetRead::Unreadable, status.reason);
            }
        }
    } catch (const std::bad_alloc &) {
        outOfMemory = true;
    }
    FilesDone(1);
}

void TrackSetReader::State::FilesDone(int count)
{
    if (parsed.fetch_add(count) + count != toParse)
        return;
    try {
        Build();
    } catch (const std::bad_alloc &) {
        Finish({ TrackSetRead::OutOfMemory, -1, ReasonFor(ENOMEM) });
    }
}

// One file's ids (ascending, each once) into the catalogue. Files of a set
// mostly list the same tracks: their ids are found in place and counted; new
// ones are merged in.
void TrackSetReader::State::Count(const std::vector<TrackRecord> &file)
{
    std::lock_guard<std::mutex> lock(catalogueMutex);
    std::vector<IdCount> fresh;
    auto at = catalogue.begin();
    const auto idOf = [](const IdCount &entry) { return entry.id; };
    for (const TrackRecord &record : file) {
        at = Advance(at, catalogue.end(), record.id, idOf);
        if (at != catalogue.end() && at->id == record.id)
            ++at->count;
        else
            fresh.push_back({ record.id, 1 });
    }
    if (fresh.empty())
        return;
    std::vector<IdCount> merged;
    merged.reserve(catalogue.size() + fresh.size());
    std::merge(catalogue.begin(), catalogue.end(), fresh.begin(), fresh.end(),
               std::back_inserter(merged),
               [](const IdCount &a, const IdCount &b) { return a.id < b.id; });
    catalogue.swap(merged);
}

// Runs on the helper that parsed the last file.
void TrackSetReader::State::Build()
{
    if (Cancelled())
        return Finish({ TrackSetRead::Cancelled, -1, {} });
    if (outOfMemory)
        return Finish({ TrackSetRead::OutOfMemory, -1, ReasonFor(ENOMEM) });
    if (FirstFailed() < paths.size())
        return Finish(failure);

    TrackTable built;
    built.reserve(catalogue.size());
    for (const IdCount &entry : catalogue)
        built.emplace_hint(built.end(), entry.id);

    // The files are poured in band by band, a band being tracks whose points
    // fit in the processor's cache: its arrays are made, then filled from
    // every file in image order while they are still in the cache. Filled
    // file by file instead, every file would visit every array of the set
    // (a million short tracks spread over a hundred files: a miss of the
    // cache for each point).
    std::vector<size_t> next(records.size(), 0); // per file, the first record not stored
    const auto idOf = [](const auto &track) { return track.first; };
    for (size_t first = 0; first < catalogue.size();) {
        size_t last = first;
        for (size_t points = 0; last < catalogue.size() && (last == first || points < kBandPoints);
             ++last) {
            (built.begin() + static_cast<std::ptrdiff_t>(last))
                ->second.reserve(catalogue[last].count);
            points += catalogue[last].count;
        }
        const auto bandEnd = built.begin() + static_cast<std::ptrdiff_t>(last);
        const unsigned int lastId = catalogue[last - 1].id;
        for (size_t image = 0; image < records.size(); ++image) {
            std::vector<TrackRecord> &file = records[image];
            size_t at = next[image];
            auto track = built.begin() + static_cast<std::ptrdiff_t>(first);
            for (; at < file.size() && file[at].id <= lastId; ++at) {
                track = Advance(track, bandEnd, file[at].id, idOf);
                if (track == bandEnd || track->first != file[at].id)
                    continue; // every id was counted: never
                PointMap &points = track->second;
                points.emplace_hint(points.end(), static_cast<unsigned int>(image), file[at].point);
            }
            next[image] = at;
            if (at == file.size() && at > 0)
                std::vector<TrackRecord>().swap(file);
        }
        if (Cancelled())
            return Finish({ TrackSetRead::Cancelled, -1, {} });
        first = last;
    }
    table = std::move(built);
    Finish({ TrackSetRead::Complete, -1, {} });
}

void TrackSetReader::State::Finish(TrackSetRead outcome)
{
    // A cancel that came while the last steps ran still wins: whoever
    // cancelled no longer wants the table.
    if (outcome.outcome == TrackSetRead::Complete && Cancelled())
        outcome = { TrackSetRead::Cancelled, -1, {} };
    std::vector<std::vector<TrackRecord>>().swap(records);
    std::vector<IdCount>().swap(catalogue);
    if (outcome.outcome != TrackSetRead::Complete)
        TrackTable().swap(table);
    // The files' records were freed in pieces all over the helpers' heaps;
    // hand the pages back, or the process keeps them as if still loading.
    ReturnFreedMemory();
    {
        std::lock_guard<std::mutex> lock(mutex);
        result = outcome;
        finished = true;
    }
    finishedChanged.notify_all();
}

TrackSetReader::TrackSetReader(QStringList paths)
    : state(std::make_shared<State>())
{
    state->paths = std::move(paths);
}

TrackSetReader::~TrackSetReader() { Cancel(); }

bool TrackSetReader::Start()
{
    const int count = static_cast<int>(state->paths.size());
    int started = 0;
    try {
        // A file that is missing or is not a regular file (reading a named pipe
        // would wait for a writer forever) is refused without being read, and
        // nothing after it is read; the files before it are, as one of them may
        // fail to read, and the first failure in set order is the one reported.
        int refused = count;
        for (int i = 0; i < count && refused == count; ++i) {
            const QByteArray path = QFile::encodeName(state->paths[i]);
            struct stat status;
            const int result = ::stat(path.constData(), &status);
            const int error = errno;
            if (result != 0 || !S_ISREG(status.st_mode)) {
                refused = i;
                state->failure = { TrackSetRead::Unreadable, i,
                                   result != 0 ? ReasonFor(error)
                                               : QStringLiteral("it is not a regular file") };
            } else {
                state->totalBytes += status.st_size;
            }
        }
        state->firstFailed = refused;
        state->toParse = refused;
        state->records.resize(static_cast<size_t>(refused));
        if (refused == 0) {
            state->FilesDone(0);
            return false;
        }
        for (; started < refused; ++started)
            QThreadPool::globalInstance()->start(
                [state = state, started] { state->ParseFile(started); });
        return true;
    } catch (const std::bad_alloc &) {
        state->outOfMemory = true;
        // The files that will never be parsed are counted here, so that the
        // helpers already started still finish the read.
        if (state->toParse == 0)
            state->toParse = count;
        state->FilesDone(state->toParse - started);
        return started > 0;
    }
}

void TrackSetReader::Cancel() { state->cancel = true; }

bool TrackSetReader::IsFinished() const { return WaitForFinished(0); }

bool TrackSetReader::WaitForFinished(int msecs) const
{
    std::unique_lock<std::mutex> lock(state->mutex);
    return state->finishedChanged.wait_for(lock, std::chrono::milliseconds(msecs),
                                           [this] { return state->finished; });
}

int TrackSetReader::FilesRead() const { return state->parsed; }

qint64 TrackSetReader::BytesRead() const { return state->bytesRead; }

qint64 TrackSetReader::TotalBytes() const { return state->totalBytes; }

TrackSetRead TrackSetReader::Result() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->result;
}

TrackTable TrackSetReader::TakeTable()
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return std::move(state->table);
}
