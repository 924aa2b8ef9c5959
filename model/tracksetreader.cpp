#include "model/tracksetreader.h"

#include <QFile>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

// Orders a file's records by id, keeping the file order of records with the
// same id (the later line for an image wins). Files list their tracks in
// ascending id as a rule, so this usually only checks.
void SortById(std::vector<TrackRecord> &records)
{
    const auto byId = [](const TrackRecord &a, const TrackRecord &b) { return a.id < b.id; };
    if (!std::is_sorted(records.begin(), records.end(), byId))
        std::stable_sort(records.begin(), records.end(), byId);
}

} // namespace

// Files are stored into the table in name order as soon as they are parsed,
// while later files are still being parsed. That suits sets whose files list
// mostly the same tracks: each record goes where the one before it went. In a
// set of many short tracks each file brings mostly new ids and every record
// would need a search of the whole table; once a file shows that, the rest
// waits and is merged at the end in one ascending pass instead.
struct TrackSetReader::State
{
    QStringList paths;
    std::atomic<bool> cancel { false };
    std::atomic<int> parsed { 0 };
    // Files after the first one that failed need not be read: only the
    // first failure in name order is reported.
    std::atomic<int> firstFailed { 0 };
    std::vector<std::vector<TrackRecord>> records;

    std::mutex storeMutex;
    std::condition_variable storeDone;
    std::vector<char> readyToStore;
    int nextToStore = 0;
    bool storing = false;
    bool deferred = false;

    mutable std::mutex mutex;
    mutable std::condition_variable finishedChanged;
    bool finished = false;
    TrackSetRead result;
    TrackTable table;

    void ParseFile(int index);
    void StoreReadyFiles();
    void StoreFile(int index);
    void MergeDeferredFiles();
    void Build();
    void Finish(TrackSetRead outcome);
};

void TrackSetReader::State::ParseFile(int index)
{
    if (!cancel && index < firstFailed) {
        // Parsed into a vector of this helper's own: the vectors in records
        // sit side by side, and helpers growing neighbours record by record
        // would keep taking the same cache line from each other.
        std::vector<TrackRecord> file;
        const bool ok = ParseTrackFile(QFile::encodeName(paths[index]), file, &cancel);
        if (ok) {
            SortById(file);
            {
                std::lock_guard<std::mutex> lock(storeMutex);
                records[static_cast<size_t>(index)] = std::move(file);
                readyToStore[static_cast<size_t>(index)] = 1;
            }
            StoreReadyFiles();
        } else if (!cancel) {
            int earliest = firstFailed;
            while (index < earliest && !firstFailed.compare_exchange_weak(earliest, index)) { }
        }
    }
    if (++parsed == static_cast<int>(paths.size()))
        Build();
}

// One helper at a time stores, the files in name order.
void TrackSetReader::State::StoreReadyFiles()
{
    std::unique_lock<std::mutex> lock(storeMutex);
    if (storing)
        return;
    storing = true;
    while (!deferred && !cancel && nextToStore < static_cast<int>(records.size())
           && readyToStore[static_cast<size_t>(nextToStore)]) {
        const int index = nextToStore;
        lock.unlock();
        StoreFile(index);
        lock.lock();
        ++nextToStore;
    }
    storing = false;
    storeDone.notify_all();
}

void TrackSetReader::State::StoreFile(int index)
{
    std::vector<TrackRecord> &file = records[static_cast<size_t>(index)];
    size_t misses = 0;
    auto last = table.end();
    for (size_t stored = 0; stored < file.size(); ++stored) {
        if (stored % 65536 == 0 && cancel)
            return;
        const TrackRecord &record = file[stored];
        const auto hint = last == table.end() ? table.end() : std::next(last);
        last = table.try_emplace(hint, record.id);
        if (last != hint && std::next(last) != hint)
            ++misses;
        last->second.insert_or_assign(last->second.end(), static_cast<unsigned int>(index),
                                      record.point);
    }
    if (misses * 4 > file.size()) {
        std::lock_guard<std::mutex> lock(storeMutex);
        deferred = true;
    }
    std::vector<TrackRecord>().swap(file);
}

// The files not stored yet, each in id order, merged into the table:
// ascending ids and, within an id, ascending images, so every insertion goes
// right where the walk through the table stands.
void TrackSetReader::State::MergeDeferredFiles()
{
    using Head = std::pair<quint64, size_t>; // (id, image) as one key, and the image
    const auto key
        = [](unsigned int id, size_t image) { return (static_cast<quint64>(id) << 32) | image; };
    std::vector<Head> heads;
    std::vector<size_t> next(records.size(), 0);
    for (size_t image = static_cast<size_t>(nextToStore); image < records.size(); ++image) {
        if (!records[image].empty())
            heads.emplace_back(key(records[image].front().id, image), image);
    }
    const auto later = std::greater<Head>();
    std::make_heap(heads.begin(), heads.end(), later);
    auto at = table.begin();
    for (size_t merged = 0; !heads.empty(); ++merged) {
        if (merged % 65536 == 0 && cancel)
            return;
        std::pop_heap(heads.begin(), heads.end(), later);
        const size_t image = heads.back().second;
        const TrackRecord record = records[image][next[image]++];
        while (at != table.end() && at->first < record.id)
            ++at;
        if (at == table.end() || at->first != record.id)
            at = table.emplace_hint(at, record.id, PointMap());
        at->second.insert_or_assign(at->second.end(), static_cast<unsigned int>(image),
                                    record.point);
        if (next[image] < records[image].size()) {
            heads.back().first = key(records[image][next[image]].id, image);
            std::push_heap(heads.begin(), heads.end(), later);
        } else {
            heads.pop_back();
            std::vector<TrackRecord>().swap(records[image]);
        }
    }
}

// Runs on the helper that parsed the last file.
void TrackSetReader::State::Build()
{
    {
        std::unique_lock<std::mutex> lock(storeMutex);
        storeDone.wait(lock, [this] { return !storing; });
    }
    if (!cancel && firstFailed == paths.size()) {
        StoreReadyFiles();
        MergeDeferredFiles();
    }
    if (cancel)
        return Finish({ TrackSetRead::Cancelled, -1, {} });
    if (firstFailed < paths.size())
        return Finish({ TrackSetRead::Unreadable, firstFailed, {} });
    Finish({ TrackSetRead::Complete, -1, {} });
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
            state->Finish({ TrackSetRead::Unreadable, i, {} });
            return false;
        }
    }
    state->records.resize(static_cast<size_t>(count));
    state->readyToStore.assign(static_cast<size_t>(count), 0);
    state->firstFailed = count;
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
