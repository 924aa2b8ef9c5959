#include "tasks/taskrunner.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFutureWatcher>
#include <QProgressBar>
#include <QProgressDialog>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <limits>
#include <new>
#include <utility>

namespace {

using StepResult = std::pair<TaskOutcome, QString>;

// Helpers of their own, never destroyed: Qt's global pool waits at exit for
// every thread, and a read stalled on a dead network mount would keep the
// program from ending.
QThreadPool *TaskThreads()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
        return threads;
    }();
    return pool;
}

// Until the progress window shows, the windows under it take no input: a
// click, a key or a drop in that half second would otherwise act on what the
// task is about to replace. The input is dropped, as a busy program does.
class InputShield : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return watched->isWidgetType();
        default:
            return false;
        }
    }
};

} // namespace

Task::Task(QString progressName)
    : progressName(std::move(progressName))
{
}

Task &Task::Then(Background step)
{
    steps.push_back({ std::move(step), {} });
    return *this;
}

Task &Task::ThenOnGui(OnGui step)
{
    steps.push_back({ {}, std::move(step) });
    return *this;
}

Task &Task::Finally(Ended ended)
{
    this->ended = std::move(ended);
    return *this;
}

struct TaskRunner::Running
{
    explicit Running(Task task)
        : task(std::move(task))
        , control(std::make_shared<TaskControl>())
    {
    }
    Task task;
    size_t step = 0;
    // Shared with the helper running a step, which may outlive the runner.
    std::shared_ptr<TaskControl> control;
    QElapsedTimer since;
    InputShield shield;
    bool shielded = false;
    bool finishing = false;
};

TaskRunner::TaskRunner(QWidget *window)
    : QObject(window)
    , window(window)
    , progressTimer(new QTimer(this))
{
    progressTimer->setInterval(100);
    connect(progressTimer, &QTimer::timeout, this, &TaskRunner::UpdateProgress);
}

TaskRunner::~TaskRunner()
{
    if (running) {
        running->control->Cancel();
        if (running->shielded)
            qApp->removeEventFilter(&running->shield);
    }
    delete dialog;
}

void TaskRunner::Run(Task task)
{
    queue.push_back(std::move(task));
    if (!running && queue.size() == 1)
        QTimer::singleShot(0, this, &TaskRunner::StartNext);
}

void TaskRunner::CancelAll()
{
    std::deque<Task> dropped;
    dropped.swap(queue);
    if (running)
        running->control->Cancel();
    for (Task &task : dropped) {
        if (task.ended)
            task.ended(TaskOutcome::Cancelled, QString());
    }
}

void TaskRunner::StartNext()
{
    if (running || queue.empty())
        return;
    running = std::make_unique<Running>(std::move(queue.front()));
    queue.pop_front();
    running->since.start();
    qApp->installEventFilter(&running->shield);
    running->shielded = true;
    progressTimer->start();
    if (progressDelayMs <= 0)
        ShowProgress();
    RunStep();
}

void TaskRunner::RunStep()
{
    if (!running || running->finishing)
        return;
    if (running->control->Cancelled())
        return Finish(TaskOutcome::Cancelled, QString());
    if (running->step >= running->task.steps.size())
        return Finish(TaskOutcome::Done, QString());
    const Task::Step &step = running->task.steps[running->step];
    if (step.onGui) {
        QTimer::singleShot(0, this, &TaskRunner::GuiSlice);
        return;
    }
    auto *watcher = new QFutureWatcher<StepResult>(this);
    connect(watcher, &QFutureWatcher<StepResult>::finished, this, [this, watcher] {
        const StepResult result = watcher->result();
        watcher->deleteLater();
        StepEnded(result.first, result.second);
    });
    watcher->setFuture(QtConcurrent::run(
        TaskThreads(), [control = running->control, work = step.background]() -> StepResult {
            try {
                work(*control);
                return { TaskOutcome::Done, QString() };
            } catch (const std::bad_alloc &) {
                return { TaskOutcome::OutOfMemory, QString() };
            } catch (const std::exception &error) {
                return { TaskOutcome::Failed, QString::fromLocal8Bit(error.what()) };
            }
        }));
}

void TaskRunner::StepEnded(TaskOutcome outcome, const QString &failure)
{
    if (!running)
        return;
    if (outcome != TaskOutcome::Done)
        return Finish(outcome, failure);
    ++running->step;
    RunStep();
}

void TaskRunner::GuiSlice()
{
    if (!running || running->finishing)
        return;
    if (running->control->Cancelled())
        return Finish(TaskOutcome::Cancelled, QString());
    bool more = false;
    try {
        more = running->task.steps[running->step].onGui(*running->control);
    } catch (const std::bad_alloc &) {
        return Finish(TaskOutcome::OutOfMemory, QString());
    } catch (const std::exception &error) {
        return Finish(TaskOutcome::Failed, QString::fromLocal8Bit(error.what()));
    }
    if (more) {
        QTimer::singleShot(0, this, &TaskRunner::GuiSlice);
        return;
    }
    StepEnded(TaskOutcome::Done, QString());
}

void TaskRunner::Finish(TaskOutcome outcome, const QString &failure)
{
    // A cancel that came after the last step is too late to undo anything.
    running->finishing = true;
    progressTimer->stop();
    CloseProgress();
    if (running->shielded) {
        qApp->removeEventFilter(&running->shield);
        running->shielded = false;
    }
    // Still running while Ended runs: a message box it shows runs an event
    // loop, and new work given meanwhile must wait behind this task.
    if (running->task.ended)
        running->task.ended(outcome, failure);
    running.reset();
    if (queue.empty())
        emit Idle();
    else
        QTimer::singleShot(0, this, &TaskRunner::StartNext);
}

void TaskRunner::UpdateProgress()
{
    if (!running || running->finishing)
        return;
    if (!dialog) {
        // Once cancelled, the window has gone and stays gone.
        if (running->since.elapsed() < progressDelayMs || running->control->Cancelled())
            return;
        ShowProgress();
    }
    const TaskControl &control = *running->control;
    const qint64 total = control.Total();
    const qint64 done = std::min(control.Done(), total);
    QString label = control.Stage();
    if (total > 0) {
        label.replace(QLatin1String("%1"), QString::number(std::min(done + 1, total)));
        label.replace(QLatin1String("%2"), QString::number(total));
    }
    if (dialog->labelText() != label)
        dialog->setLabelText(label);
    // The bar is set directly: the dialog's own setValue runs a nested event
    // loop while it is modal, in which this task could end under it.
    if (total <= 0) {
        bar->setRange(0, 0);
        return;
    }
    // The bar counts in int: large totals are shown by the thousandth.
    const int scale = total > std::numeric_limits<int>::max() ? 1000 : 0;
    bar->setRange(0, scale ? scale : static_cast<int>(total));
    bar->setValue(scale ? static_cast<int>(done * scale / total) : static_cast<int>(done));
}

void TaskRunner::ShowProgress()
{
    if (!running || dialog)
        return;
    // One window per task, shown by the runner alone.
    dialog = new QProgressDialog(window);
    dialog->setObjectName(running->task.progressName);
    dialog->setWindowModality(Qt::ApplicationModal);
    // Closed by the runner only: the window must not close itself when the
    // count of one stage reaches its total.
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    bar = new QProgressBar(dialog);
    dialog->setBar(bar);
    // Stops the dialog's own timer, which would show it (and from then on
    // make every update run an event loop).
    dialog->reset();
    std::shared_ptr<TaskControl> control = running->control;
    connect(dialog, &QProgressDialog::canceled, this, [control] { control->Cancel(); });
    bar->setRange(0, 0);
    dialog->setLabelText(control->Stage());
    dialog->show();
    // The window itself is modal now and takes the input.
    if (running->shielded) {
        qApp->removeEventFilter(&running->shield);
        running->shielded = false;
    }
    UpdateProgress();
}

void TaskRunner::CloseProgress()
{
    if (!dialog)
        return;
    dialog->disconnect(this);
    dialog->hide();
    dialog->deleteLater();
    dialog = nullptr;
    bar = nullptr;
}
