#include "model/tracksetreader.h"

#include <QFile>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace {

// One record with the image it belongs to, as the table is built from them.
struct ImageRecord
{
    unsigned int id;
    unsigned int image;
    TrackPoint point;
};

// Sorts by id, keeping the order of records with the same id (image, then
// line within a file): two stable counting passes over the halves of the id.
void SortById(std::vector<ImageRecord> &records)
{
    std::vector<ImageRecord> buffer(records.size());
    for (const int shift : { 0, 16 }) {
        std::vector<size_t> start(65537, 0);
        for (const ImageRecord &record : records)
            ++start[((record.id >> shift) & 0xFFFF) + 1];
        if (start[1] == records.size() && shift == 16)
            return; // every id below 65536: already in order
        for (size_t b = 1; b < start.size(); ++b)
            start[b] += start[b - 1];
        for (const ImageRecord &record : records)
            buffer[start[(record.id >> shift) & 0xFFFF]++] = record;
        records.swap(buffer);
    }
}

} // namespace

struct TrackSetReader::State
{
    QStringList paths;
    std::atomic<bool> cancel { false };
    std::atomic<int> parsed { 0 };
    std::atomic<int> remaining { 0 };
    // Files after the first one that failed need not be read: only the
    // first failure in name order is reported.
    std::atomic<int> firstFailed { 0 };
    std::vector<std::vector<TrackRecord>> records;

    mutable std::mutex mutex;
    mutable std::condition_variable finishedChanged;
    bool finished = false;
    TrackSetRead result;
    TrackTable table;

    void ParseFile(int index);
    void Build();
    void Finish(TrackSetRead outcome);
};

void TrackSetReader::State::ParseFile(int index)
{
    if (!cancel && index < firstFailed) {
        const bool ok = ParseTrackFile(QFile::encodeName(paths[index]),
                                       records[static_cast<size_t>(index)], &cancel);
        if (!ok && !cancel) {
            int earliest = firstFailed;
            while (index < earliest && !firstFailed.compare_exchange_weak(earliest, index)) { }
        }
    }
    ++parsed;
    if (--remaining == 0)
        Build();
}

// Runs on the helper that parsed the last file.
void TrackSetReader::State::Build()
{
    if (cancel)
        return Finish({ TrackSetRead::Cancelled, -1 });
    if (firstFailed < paths.size())
        return Finish({ TrackSetRead::Unreadable, firstFailed });

    size_t count = 0;
    for (const std::vector<TrackRecord> &file : records)
        count += file.size();
    std::vector<ImageRecord> all;
    all.reserve(count);
    for (size_t image = 0; image < records.size(); ++image) {
        for (const TrackRecord &record : records[image])
            all.push_back({ record.id, static_cast<unsigned int>(image), record.point });
        std::vector<TrackRecord>().swap(records[image]);
    }
    SortById(all);

    // Ascending ids and, within an id, ascending images: every insertion
    // goes to the end of its map, and a later line for the same image
    // replaces the earlier one.
    for (size_t i = 0; i < all.size();) {
        if (cancel)
            return Finish({ TrackSetRead::Cancelled, -1 });
        const unsigned int id = all[i].id;
        PointMap points;
        for (; i < all.size() && all[i].id == id; ++i)
            points.insert_or_assign(points.end(), all[i].image, all[i].point);
        table.emplace_hint(table.end(), id, std::move(points));
    }
    Finish({ TrackSetRead::Complete, -1 });
}

void TrackSetReader::State::Finish(TrackSetRead outcome)
{
    std::vector<std::vector<TrackRecord>>().swap(records);
    if (outcome.outcome != TrackSetRead::Complete)
        TrackTable().swap(table);
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
    // Refused before anything is read: a file that is missing or is not a
    // regular file (reading a named pipe would wait for a writer forever).
    for (int i = 0; i < count; ++i) {
        struct stat status;
        if (::stat(QFile::encodeName(state->paths[i]).constData(), &status) != 0
            || !S_ISREG(status.st_mode)) {
            state->Finish({ TrackSetRead::Unreadable, i });
            return false;
        }
    }
    state->records.resize(static_cast<size_t>(count));
    state->firstFailed = count;
    state->remaining = count;
    if (count == 0) {
        state->Build();
        return false;
    }
    for (int i = 0; i < count; ++i)
        QThreadPool::globalInstance()->start([state = state, i] { state->ParseFile(i); });
    return true;
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
