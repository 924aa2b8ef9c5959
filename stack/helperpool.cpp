#include "stack/helperpool.h"

#include "tasks/taskcontrol.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <pthread.h>

HelperPool::HelperPool(int maxThreads, size_t stackBytes)
    : maxThreads(std::max(1, maxThreads))
    , stackBytes(stackBytes)
{
}

int HelperPool::StartedThreads() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return threads;
}

bool HelperPool::Busy() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return !queue.empty() || idle < threads;
}

bool HelperPool::Run(std::function<void()> job, bool urgent)
{
    std::unique_lock<std::mutex> lock(mutex);
    // Idle threads take what is queued; a new one is needed only when every
    // thread is busy with or already promised to earlier jobs.
    if (static_cast<int>(queue.size()) >= idle && threads < maxThreads && !StartThread()
        && threads == 0)
        return false;
    if (urgent)
        queue.push_front(std::move(job));
    else
        queue.push_back(std::move(job));
    lock.unlock();
    wake.notify_one();
    return true;
}

bool HelperPool::StartThread()
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, &HelperPool::ThreadMain, this) == 0;
    pthread_attr_destroy(&attributes);
    if (started) {
        ++threads;
        ++idle;
    }
    return started;
}

void *HelperPool::ThreadMain(void *pool)
{
    static_cast<HelperPool *>(pool)->Work();
    return nullptr;
}

void HelperPool::Work()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return !queue.empty(); });
        std::function<void()> job = std::move(queue.front());
        queue.pop_front();
        --idle;
        lock.unlock();
        // Jobs report their own failures; one that throws anyway must not
        // take the thread (and the program) with it.
        try {
            job();
        } catch (...) {
        }
        job = nullptr;
        lock.lock();
        ++idle;
    }
}

namespace {

// What the caller and the helpers of one ParallelFor share; the helpers may
// outlive the call when it is cancelled.
struct ParallelState
{
    std::function<void(int, const std::atomic<bool> &)> work;
    int count = 0;
    std::atomic<int> next { 0 };
    std::atomic<bool> stop { false };
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;
    std::exception_ptr error;

    void RunItems()
    {
        for (;;) {
            if (stop)
                return;
            const int item = next++;
            if (item >= count)
                return;
            try {
                work(item, stop);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!error)
                    error = std::current_exception();
                stop = true;
            }
            std::lock_guard<std::mutex> lock(mutex);
            ++done;
            finished.notify_all();
        }
    }
};

} // namespace

bool ParallelFor(HelperPool &pool, int count,
                 std::function<void(int, const std::atomic<bool> &)> work,
                 const TaskControl *control, const std::function<void()> &whileWaiting)
{
    if (count <= 0)
        return !(control && control->Cancelled());
    auto state = std::make_shared<ParallelState>();
    state->work = std::move(work);
    state->count = count;
    int started = 0;
    for (const int helpers = std::min(pool.MaxThreads(), count); started < helpers; ++started) {
        if (!pool.Run([state] { state->RunItems(); }))
            break;
    }
    const auto cancelled = [control] { return control && control->Cancelled(); };
    // The caller does the work itself only when no helper could start: a read
    // that never returns (a stalled network mount) must leave it free to
    // notice a cancel.
    while (started == 0 && !state->stop && !cancelled()) {
        const int item = state->next++;
        if (item >= count)
            break;
        try {
            state->work(item, state->stop);
        } catch (...) {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (!state->error)
                state->error = std::current_exception();
            state->stop = true;
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        ++state->done;
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        if (cancelled()) {
            state->stop = true;
            return false;
        }
        // Items taken are done, or nothing more is taken after a failure.
        const int taken = std::min(state->next.load(), count);
        if (state->done >= taken && (state->stop || taken == count))
            break;
        state->finished.wait_for(lock, std::chrono::milliseconds(50));
        if (whileWaiting) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
    lock.unlock();
    if (whileWaiting)
        whileWaiting();
    if (state->error)
        std::rethrow_exception(state->error);
    return true;
}
