#pragma once

// Long work and the window that waits for it: progress, cancel, the outcome.

#include "tasks/taskcontrol.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QProgressBar;
class QProgressDialog;
class QTimer;
class QWidget;

// How a task ended. Failed carries the text of an unexpected error.
enum class TaskOutcome { Done, Cancelled, OutOfMemory, Failed };

// One piece of long work, as a chain of steps that run one after the other:
// steps on a helper thread (reading, parsing, writing) and steps on the GUI
// thread that must touch widgets or the scene (making markers), cut into
// slices short enough that the windows keep responding between them. State
// the steps share lives in whatever their functions capture.
class Task
{
public:
    // Runs on a thread of Qt's pool. It may throw std::bad_alloc: the task then
    // ends as OutOfMemory, and nothing after it runs.
    using Background = std::function<void(TaskControl &)>;
    // Runs on the GUI thread, one slice per call, from the event loop: true
    // while there is more to do. Each call should take a few milliseconds.
    using OnGui = std::function<bool(TaskControl &)>;
    // Runs on the GUI thread once the task ended, however it ended.
    using Ended = std::function<void(TaskOutcome outcome, const QString &failure)>;

    // progressName: the object name of the progress window while this task
    // runs (tests find it by that name).
    explicit Task(QString progressName = QStringLiteral("taskProgress"));

    Task &Then(Background step);
    Task &ThenOnGui(OnGui step);
    Task &Finally(Ended ended);

private:
    friend class TaskRunner;
    struct Step
    {
        Background background;
        OnGui onGui;
    };
    QString progressName;
    std::vector<Step> steps;
    Ended ended;
};

// Runs tasks one at a time, in the order they were given, behind the windows:
// a modal progress window comes up over them once a task has taken half a
// second, shows the stage and count the task reports, and its Cancel asks the
// task to stop. The GUI thread never waits for a helper: each step's end
// arrives as an event, so a drop, a timer or a click cannot start new work
// inside the old (new work is queued behind it instead).
class TaskRunner : public QObject
{
    Q_OBJECT

public:
    // The progress window is made over window.
    explicit TaskRunner(QWidget *window);
    // Cancels what runs and drops what waits. Helpers still at work finish on
    // their own: nobody waits for them.
    ~TaskRunner() override;

    // Queues task; it starts once the tasks before it have ended.
    void Run(Task task);
    // A task runs or waits.
    bool Busy() const { return running || !queue.empty(); }
    // Asks the running task to stop and drops the waiting ones (their Ended
    // runs with Cancelled).
    void CancelAll();

    // The progress window of the running task, once shown (for tests).
    QProgressDialog *ProgressWindow() const { return dialog; }

    // Show the window after this long (ms); tests and the benchmark set 0.
    void SetProgressDelay(int ms) { progressDelayMs = ms; }

signals:
    // The last queued task ended.
    void Idle();

private:
    struct Running;

    void StartNext();
    void RunStep();
    void StepEnded(TaskOutcome outcome, const QString &failure);
    void GuiSlice();
    void Finish(TaskOutcome outcome, const QString &failure);
    void UpdateProgress();
    void ShowProgress();
    void CloseProgress();

    QWidget *window;
    std::deque<Task> queue;
    std::unique_ptr<Running> running;
    QPointer<QProgressDialog> dialog;
    QProgressBar *bar = nullptr;
    QTimer *progressTimer;
    int progressDelayMs = 500;
};
