#pragma once

// Long work and the window that waits for it: progress, cancel, the outcome.

#include <QString>
#include <atomic>
#include <mutex>

// What a piece of long work running on helper threads shares with the window
// that started it: how far it has come, in which stage, and whether the user
// cancelled it. Every member may be used from any thread. The work looks at
// Cancelled() often enough to stop within a fraction of a second, and leaves
// everything the user had as it was when it stops that way.
class TaskControl
{
public:
    void Cancel() { cancelled = true; }
    bool Cancelled() const { return cancelled; }
    // For code that only takes a flag (the track-file parser).
    const std::atomic<bool> *CancelFlag() const { return &cancelled; }

    // done of total units (files, slices, pages, tracks); a total of 0 means
    // the amount is not known (the progress window then shows it is busy).
    void SetTotal(qint64 units) { total = units; }
    void SetDone(qint64 units) { done = units; }
    void AddDone(qint64 units = 1) { done += units; }
    qint64 Total() const { return total; }
    qint64 Done() const { return done; }

    // What the work is doing now, as the progress window words it
    // ("Reading image headers"); a new stage starts its count again.
    void SetStage(const QString &text, qint64 units = 0)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stage = text;
        }
        done = 0;
        total = units;
    }
    QString Stage() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stage;
    }

private:
    std::atomic<bool> cancelled { false };
    std::atomic<qint64> done { 0 };
    std::atomic<qint64> total { 0 };
    mutable std::mutex mutex;
    QString stage;
};
