#include "tasks/taskrunner.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <new>

// Long work behind the windows: steps in order on the right threads, the
// windows responding meanwhile, Cancel from the progress window, and memory
// exhaustion reported instead of ending the program.
class TaskRunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void stepsRunInOrderAndTasksQueue();
    void guiStaysResponsiveDuringABackgroundStep();
    void cancelFromTheProgressWindowStopsLaterSteps();
    void allocationFailureEndsTheTaskNotTheProgram();
};

void TaskRunnerTest::stepsRunInOrderAndTasksQueue()
{
    QWidget window;
    TaskRunner runner(&window);
    QSignalSpy idle(&runner, &TaskRunner::Idle);
    QStringList log;
    QThread *gui = QThread::currentThread();
    std::atomic<bool> offGui { false };
    int slices = 0;

    Task first;
    first.Then([&](TaskControl &) { offGui = QThread::currentThread() != gui; })
        .ThenOnGui([&](TaskControl &) {
            log << QStringLiteral("slice");
            return ++slices < 3;
        })
        .Finally([&](TaskOutcome outcome, const QString &) {
            log << (outcome == TaskOutcome::Done ? QStringLiteral("first done")
                                                 : QStringLiteral("first failed"));
        });
    Task second;
    second.ThenOnGui([&](TaskControl &) {
        log << QStringLiteral("second");
        return false;
    });
    runner.Run(std::move(first));
    runner.Run(std::move(second));
    QVERIFY(runner.Busy());
    QVERIFY(idle.wait(5000));
    QCOMPARE(log, QStringList({ "slice", "slice", "slice", "first done", "second" }));
    QVERIFY(offGui);
    QCOMPARE(idle.count(), 1);
    QVERIFY(!runner.Busy());
}

void TaskRunnerTest::guiStaysResponsiveDuringABackgroundStep()
{
    QWidget window;
    TaskRunner runner(&window);
    // The helper can only finish once a GUI-thread timer has fired: a runner
    // that blocked the GUI thread while waiting would never end.
    std::atomic<bool> released { false };
    TaskOutcome ended = TaskOutcome::Failed;
    Task task;
    task.Then([&](TaskControl &) {
            while (!released)
                QThread::msleep(1);
        })
        .Finally([&](TaskOutcome outcome, const QString &) { ended = outcome; });
    runner.Run(std::move(task));
    QTimer::singleShot(50, [&] { released = true; });
    QTRY_VERIFY_WITH_TIMEOUT(!runner.Busy(), 5000);
    QCOMPARE(ended, TaskOutcome::Done);
}

void TaskRunnerTest::cancelFromTheProgressWindowStopsLaterSteps()
{
    QWidget window;
    window.show();
    TaskRunner runner(&window);
    runner.SetProgressDelay(0);
    std::atomic<bool> laterStepRan { false };
    TaskOutcome ended = TaskOutcome::Done;
    Task task(QStringLiteral("testProgress"));
    task.Then([](TaskControl &control) {
            control.SetStage(QStringLiteral("Working: item %1 of %2"), 10);
            while (!control.Cancelled())
                QThread::msleep(1);
        })
        .Then([&](TaskControl &) { laterStepRan = true; })
        .Finally([&](TaskOutcome outcome, const QString &) { ended = outcome; });
    runner.Run(std::move(task));
    QTRY_VERIFY(window.findChild<QProgressDialog *>(QStringLiteral("testProgress")));
    auto *progress = window.findChild<QProgressDialog *>(QStringLiteral("testProgress"));
    QTRY_COMPARE(progress->labelText(), QStringLiteral("Working: item 1 of 10"));
    QVERIFY(progress->isModal());
    QPushButton *cancel = progress->findChild<QPushButton *>();
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!runner.Busy(), 5000);
    QCOMPARE(ended, TaskOutcome::Cancelled);
    QVERIFY(!laterStepRan);
}

void TaskRunnerTest::allocationFailureEndsTheTaskNotTheProgram()
{
    QWidget window;
    TaskRunner runner(&window);
    QList<TaskOutcome> outcomes;
    Task background;
    background.Then([](TaskControl &) { throw std::bad_alloc(); })
        .Finally([&](TaskOutcome outcome, const QString &) { outcomes << outcome; });
    Task onGui;
    onGui.ThenOnGui([](TaskControl &) -> bool { throw std::bad_alloc(); })
        .Finally([&](TaskOutcome outcome, const QString &) { outcomes << outcome; });
    runner.Run(std::move(background));
    runner.Run(std::move(onGui));
    QTRY_VERIFY_WITH_TIMEOUT(!runner.Busy(), 5000);
    QCOMPARE(outcomes, QList<TaskOutcome>({ TaskOutcome::OutOfMemory, TaskOutcome::OutOfMemory }));
}

QTEST_MAIN(TaskRunnerTest)
#include "tst_taskrunner.moc"
