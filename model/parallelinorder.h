#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Loading a stack decodes hundreds of independent files. The decoding runs on
// helper threads, while everything the user sees (the tables, the scene, the
// progress and its Cancel) stays on the calling thread, in file order, exactly
// as if the files had been read one after the other.

// Helper threads to use: the cores there are, at most four (more only adds
// slices held in memory at the same time).
inline int LoadThreads()
{
    const unsigned int cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

// Runs work(i) for every i in [0, count) on up to threads helper threads and
// hands each result to take(i, result) on the calling thread, strictly in
// index order. work must not touch anything but its own result. When take
// returns false no new work starts, the running work is waited for and thrown
// away, and the call returns false; it returns true when every result was
// taken. At most a few results wait ahead of take, so memory stays bounded.
template <typename Result>
bool ParallelInOrder(int count, const std::function<Result(int)> &work,
                     const std::function<bool(int, Result &)> &take, int threads = LoadThreads())
{
    if (count <= 0)
        return true;
    threads = std::clamp(threads, 1, count);
    const int ahead = 2 * threads;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Result>> ready(static_cast<size_t>(count));
    int nextToStart = 0;
    int nextToTake = 0;
    bool stopping = false;

    auto worker = [&] {
        for (;;) {
            int index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] {
                    return stopping || nextToStart >= count || nextToStart < nextToTake + ahead;
                });
                if (stopping || nextToStart >= count)
                    return;
                index = nextToStart++;
            }
            Result result = work(index);
            {
                std::lock_guard<std::mutex> lock(mutex);
                ready[static_cast<size_t>(index)].emplace(std::move(result));
            }
            changed.notify_all();
        }
    };

    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<size_t>(threads));
    for (int t = 0; t < threads; ++t)
        helpers.emplace_back(worker);

    bool complete = true;
    for (int index = 0; index < count; ++index) {
        std::optional<Result> result;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return ready[static_cast<size_t>(index)].has_value(); });
            result.swap(ready[static_cast<size_t>(index)]);
            nextToTake = index + 1;
        }
        changed.notify_all();
        if (!take(index, *result)) {
            complete = false;
            break;
        }
    }

    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    for (std::thread &helper : helpers)
        helper.join();
    return complete;
}
