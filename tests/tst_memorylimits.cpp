// The real program, on a real X server (Xvfb), given a track set that does not
// fit in the memory it may use: under a tight address-space limit (ulimit -v)
// and with less memory to plan with than the set needs, it must refuse the set
// with a message before making its markers (its peak memory stays far below
// what they would take); told it has memory it has not, it runs out while
// making them and must say so. Either way it stays alive and answers: the
// message closes, then both windows, and the program ends with exit code 0.

#include "realdisplay_x11.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/resource.h>

namespace {

const int kWaitMs = 60000;
const int kTracks = 2000000;

// A field of /proc/PID/status in bytes ("VmHWM:  1234 kB").
qint64 StatusBytes(qint64 pid, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.simplified().split(' ').value(1).toLongLong() * 1024;
    }
    return -1;
}

} // namespace

class TestMemoryLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void setThatCannotFitIsRefusedAndProgramAnswers_data();
    void setThatCannotFitIsRefusedAndProgramAnswers();

private:
    void Start(const QStringList &arguments, const QString &memoryMb, qint64 addressSpace);
    QString WaitForWindow(const QString &title);
    bool Close(const QString &window);

    RealDisplayX11::Server server;
    QByteArray display;
    std::unique_ptr<RealDisplayX11::Connection> x11;
    QTemporaryDir data;
    QString tracks;
    std::unique_ptr<QProcess> program;
};

void TestMemoryLimits::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("Xvfb or xdotool is not installed: no real display to test on");
    const QString failure = server.Start(QStringLiteral("1280x1024x24"), kWaitMs);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    display = server.Display();
    x11 = std::make_unique<RealDisplayX11::Connection>(display);
    QVERIFY(x11->IsOpen());

    // Two million short tracks in one file: read in a moment, but their
    // markers would take more than a gigabyte.
    QVERIFY(data.isValid());
    tracks = data.filePath(QStringLiteral("t00.txt"));
    QFile file(tracks);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray text;
    for (int id = 0; id < kTracks; ++id)
        text += QByteArray::number(id % 1000) + '\t' + QByteArray::number(id / 1000) + '\t'
            + QByteArray::number(id) + '\n';
    QCOMPARE(file.write(text), text.size());
}

void TestMemoryLimits::cleanupTestCase()
{
    x11.reset();
    server.Stop();
}

void TestMemoryLimits::cleanup()
{
    if (program && program->state() != QProcess::NotRunning) {
        program->kill();
        program->waitForFinished();
    }
    if (program && QTest::currentTestFailed())
        qInfo().noquote() << "program output:\n" << program->readAll();
    program.reset();
}

void TestMemoryLimits::Start(const QStringList &arguments, const QString &memoryMb,
                             qint64 addressSpace)
{
    program = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("HOME"), data.path());
    environment.remove(QStringLiteral("QT_QPA_PLATFORMTHEME"));
    if (!memoryMb.isEmpty())
        environment.insert(QStringLiteral("STRANDSIGHT_MEMORY_MB"), memoryMb);
    program->setProcessEnvironment(environment);
    program->setProcessChannelMode(QProcess::MergedChannels);
    if (addressSpace > 0) {
        program->setChildProcessModifier([addressSpace] {
            const rlimit limit { rlim_t(addressSpace), rlim_t(addressSpace) };
            setrlimit(RLIMIT_AS, &limit);
        });
    }
    program->start(QStringLiteral(STRANDSIGHT_BINARY), arguments);
    program->waitForStarted(kWaitMs);
}

// The id of the program's one visible window of that title, once it shows.
QString TestMemoryLimits::WaitForWindow(const QString &title)
{
    QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired() && program->state() == QProcess::Running) {
        QProcess search;
        search.setProcessEnvironment(program->processEnvironment());
        search.start(QStringLiteral("xdotool"),
                     { QStringLiteral("search"), QStringLiteral("--all"),
                       QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                       QString::number(program->processId()), QStringLiteral("--name"),
                       QLatin1Char('^') + title + QLatin1Char('$') });
        search.waitForFinished(kWaitMs);
        const QStringList found = QString::fromLatin1(search.readAllStandardOutput())
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (found.size() == 1)
            return found.first();
        QTest::qWait(100);
    }
    return {};
}

// Asks the window to close as its close button would, until it has gone.
bool TestMemoryLimits::Close(const QString &window)
{
    QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired()) {
        if (!x11->SendDeleteWindow(window.toUInt()))
            return false;
        QDeadlineTimer answer(3000);
        while (!answer.hasExpired()) {
            if (!x11->IsViewable(window.toUInt()))
                return true;
            QTest::qWait(50);
        }
    }
    return false;
}

void TestMemoryLimits::setThatCannotFitIsRefusedAndProgramAnswers_data()
{
    QTest::addColumn<QString>("memoryMb");
    QTest::addColumn<bool>("addressSpaceLimit");
    QTest::addColumn<bool>("refused");
    QTest::newRow("less memory to plan with than the set needs") << "200" << false << true;
    QTest::newRow("address space limited (ulimit -v)") << QString() << true << true;
    QTest::newRow("running out while making markers") << "1000000" << true << false;
}

void TestMemoryLimits::setThatCannotFitIsRefusedAndProgramAnswers()
{
    QFETCH(QString, memoryMb);
    QFETCH(bool, addressSpaceLimit);
    QFETCH(bool, refused);
    qint64 addressSpace = 0;
    if (addressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer needs the whole address space");
#endif
        // Room for reading the set, not for its markers: what the program
        // takes once its windows are up, and 700 MB more.
        Start({}, {}, 0);
        QVERIFY(!WaitForWindow(QStringLiteral("Track View")).isEmpty());
        addressSpace = StatusBytes(program->processId(), "VmSize") + 700LL * 1024 * 1024;
        cleanup();
    }

    Start({ QStringLiteral("--non-error"), tracks }, memoryMb, addressSpace);
    const QString message = WaitForWindow(QStringLiteral("Error"));
    QVERIFY2(!message.isEmpty(), "no message came, or the program ended");
    // Refused before the markers were made: they alone would take a gigabyte.
    const qint64 peak = StatusBytes(program->processId(), "VmHWM");
    QVERIFY2(peak > 0 && (!refused || peak < 900LL * 1024 * 1024),
             qPrintable(QStringLiteral("peak %1 MB").arg(peak >> 20)));

    QVERIFY(Close(message));
    for (const QString &title : { QStringLiteral("Strandsight"), QStringLiteral("Track View") }) {
        const QString window = WaitForWindow(title);
        QVERIFY2(!window.isEmpty(), qPrintable(title));
        QVERIFY(Close(window));
    }
    // It may have ended while the test waited with events running.
    QVERIFY(program->state() == QProcess::NotRunning || program->waitForFinished(kWaitMs));
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
}

QTEST_MAIN(TestMemoryLimits)
#include "tst_memorylimits.moc"
