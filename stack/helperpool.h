#pragma once

#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

class TaskControl;

// The threads that read headers and decode slices behind the windows. Unlike
// Qt's pools it never waits for its threads: a read stalled on a dead network
// mount must not keep the program from ending, nor a new stack from opening.
// It also tells when no thread could be started (an address-space limit, too
// many threads), so that the caller can do the work itself instead of waiting
// for a helper that never comes. Threads start when work needs them, with
// small stacks, and then live as long as the process.
class HelperPool
{
public:
    HelperPool(int maxThreads, size_t stackBytes);
    HelperPool(const HelperPool &) = delete;
    HelperPool &operator=(const HelperPool &) = delete;

    // Queues job, urgent jobs before the others. False, and nothing queued,
    // when no thread runs and none could be started: the caller runs it then.
    bool Run(std::function<void()> job, bool urgent = false);

    int MaxThreads() const { return maxThreads; }
    size_t StackBytes() const { return stackBytes; }
    int StartedThreads() const;
    // A job runs or waits.
    bool Busy() const;

private:
    static void *ThreadMain(void *pool);
    void Work();
    bool StartThread();

    const int maxThreads;
    const size_t stackBytes;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    int threads = 0;
    int idle = 0;
};

// Runs work(i, stop) for every i from 0 to count - 1 on the helpers of pool,
// or on the calling thread when no helper can start. Returns once every item
// is done, or as soon as control is cancelled, even while an item is stuck in
// a read: false then, and stop is set. Items still running finish on their
// own, so work must hold what it uses by value and never touch control; it
// reports progress through state of its own, which whileWaiting (called on
// the calling thread every few hundredths of a second, and once at the end)
// can pass on. An exception thrown by work is rethrown here, once the other
// items have stopped.
bool ParallelFor(HelperPool &pool, int count,
                 std::function<void(int item, const std::atomic<bool> &stop)> work,
                 const TaskControl *control = nullptr,
                 const std::function<void()> &whileWaiting = {});
