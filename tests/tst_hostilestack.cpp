// A stack on a file system or in a process that works against it: a slice
// whose read does not return draws the step's markers over a plain background
// and arrives later; the real program, started on an X server of its own,
// stays alive and answers with a pipe in place of a slice, and under an
// address-space limit ends a load in the images or in a message, never in a
// hang or an abort.
#include "model/normalfiber.h"
#include "realdisplay_x11.h"
#include "review/tformstrandsight.h"
#include "stack/imagesequence.h"
#include "stack/sliceloader.h"
#include "testsupport.h"
#include "tools/sampledata.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QDeadlineTimer>
#include <QGraphicsView>
#include <QProcess>
#include <QSemaphore>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const int kWaitMs = 30000;

// Slices of 64 KB whose grey level tells their index (5 per slice).
QStringList WriteNumberedSlices(const QString &directory, int count)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        QImage image(256, 256, QImage::Format_Grayscale8);
        image.fill(5 * i);
        files << QDir(directory).filePath(
            QStringLiteral("s%1.png").arg(i, 3, 10, QLatin1Char('0')));
        image.save(files.last());
    }
    return files;
}

} // namespace

class TestHostileStack : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void cleanup();

    void stalledSliceShowsMarkersOverPlainBackground();
    void programAnswersWithPipeInPlaceOfSlice();
    void programUnderAddressLimitEndsInImagesOrMessage_data();
    void programUnderAddressLimitEndsInImagesOrMessage();

private:
    // An X server of the test's own; false (and the test skipped) when the
    // tools for it are missing.
    bool StartDisplay();
    QString Run(const QString &program, const QStringList &arguments);
    QStringList ProgramWindows(const QString &title);
    bool WaitForWindow(const QString &title, QString &window);
    void StartProgram(const QStringList &arguments, const QString &home, qint64 addressLimit = 0);
    // Closes every window of the program, messages first; true when it then
    // ended by itself with exit code 0.
    bool CloseProgram();

    RealDisplayX11::Server server;
    QByteArray display;
    std::unique_ptr<RealDisplayX11::Connection> x11;
    std::unique_ptr<QProcess> program;
    std::unique_ptr<QTemporaryDir> largeStack;
};

void TestHostileStack::cleanupTestCase()
{
    largeStack.reset();
    x11.reset();
    server.Stop();
}

void TestHostileStack::cleanup()
{
    ImageSequence::SetDecodeGate({});
    qunsetenv("STRANDSIGHT_CACHE_MB");
    if (program && program->state() != QProcess::NotRunning) {
        program->kill();
        program->waitForFinished();
    }
    if (program && QTest::currentTestFailed())
        qInfo().noquote() << "program output:\n" << program->readAll();
    program.reset();
}

// The read of slice 30 is held, as a stalled network mount would hold it:
// stepping onto it returns at once, the markers of image 30 are drawn over a
// plain background (never over slice 29), the status bar says what is being
// read, and the image is drawn once it arrives.
void TestHostileStack::stalledSliceShowsMarkersOverPlainBackground()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("STRANDSIGHT_CACHE_MB", "1"); // slices 0 to 15 are held
    const QStringList files = WriteNumberedSlices(dir.path(), 40);
    const auto release = std::make_shared<QSemaphore>();
    ImageSequence::SetDecodeGate([release, stalled = files[30]](const QString &path) {
        if (path == stalled)
            release->acquire();
    });

    auto owner = std::make_unique<TFormStrandsight>();
    TFormStrandsight &window = *owner;
    TFormTrackView *view = window.ViewWindow();
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    TrackScene *scene = view->scene;
    scene->AddNormalFiber(7, PointMap { { 29, { 200.0f, 200.0f } }, { 30, { 200.0f, 200.0f } } },
                          Qt::red);
    scene->ShowNormalFibers();
    QVERIFY(TestSupport::LoadImagesAndWait(&window, files));
    QTRY_VERIFY(!scene->ImageLoader()->Loading());
    auto *slider = view->findChild<QSlider *>(QStringLiteral("hsImage"));
    auto *graphics = view->findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    const auto render = [graphics] {
        return graphics->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QPoint background = graphics->mapFromScene(QPointF(40, 40));
    const QPoint marker = graphics->mapFromScene(QPointF(200, 200));

    slider->setValue(29);
    QCOMPARE(qGray(render().pixel(background)), 145);
    slider->setValue(30);
    QCOMPARE(scene->CurrentImage(), 30);
    QVERIFY(scene->CurrentImagePending());
    QCOMPARE(view->statusBar()->currentMessage(), QStringLiteral("Loading s030.png"));
    QImage shot = render();
    QCOMPARE(shot.pixelColor(background), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(marker), QColor(Qt::red));

    release->release();
    QTRY_VERIFY(!scene->CurrentImagePending());
    QTRY_COMPARE(qGray(render().pixel(background)), 150);
    QCOMPARE(render().pixelColor(marker), QColor(Qt::red));
    QVERIFY(view->statusBar()->currentMessage().isEmpty());

    // Closing the windows while a read hangs does not wait for it.
    const auto hold = std::make_shared<QSemaphore>();
    ImageSequence::SetDecodeGate([hold, stalled = files[3]](const QString &path) {
        if (path == stalled)
            hold->acquire();
    });
    QVERIFY(!scene->ImageLoader()->Cache().Holds(3));
    slider->setValue(3);
    QVERIFY(scene->CurrentImagePending());
    owner.reset();
    hold->release();
}

bool TestHostileStack::StartDisplay()
{
    if (!display.isEmpty())
        return true;
    for (const char *tool : { "Xvfb", "xdotool" }) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return false;
    }
    if (!server.Start(QStringLiteral("1280x1024x24"), kWaitMs).isEmpty())
        return false;
    display = server.Display();
    x11 = std::make_unique<RealDisplayX11::Connection>(display);
    return x11->IsOpen();
}

QString TestHostileStack::Run(const QString &programName, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    process.setProcessEnvironment(environment);
    process.start(programName, arguments);
    process.waitForFinished(kWaitMs);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

QStringList TestHostileStack::ProgramWindows(const QString &title)
{
    return Run(QStringLiteral("xdotool"),
               { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                 QString::number(program->processId()), QStringLiteral("--name"), title })
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool TestHostileStack::WaitForWindow(const QString &title, QString &window)
{
    QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired() && program->state() != QProcess::NotRunning) {
        const QStringList found = ProgramWindows(QLatin1Char('^') + title + QLatin1Char('$'));
        if (!found.isEmpty()) {
            window = found.first();
            return true;
        }
        QTest::qWait(100);
    }
    return false;
}

void TestHostileStack::StartProgram(const QStringList &arguments, const QString &home,
                                    qint64 addressLimit)
{
    program = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("HOME"), home);
    for (const char *name : { "QT_QPA_PLATFORMTHEME", "XAUTHORITY", "QT_SCALE_FACTOR" })
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    program->setProcessEnvironment(environment);
    program->setProcessChannelMode(QProcess::MergedChannels);
    program->setWorkingDirectory(home);
    if (addressLimit > 0) {
        program->setChildProcessModifier([addressLimit] {
            const rlimit limit { static_cast<rlim_t>(addressLimit),
                                 static_cast<rlim_t>(addressLimit) };
            setrlimit(RLIMIT_AS, &limit);
        });
    }
    program->start(QStringLiteral(STRANDSIGHT_BINARY), arguments);
}

bool TestHostileStack::CloseProgram()
{
    // A window that a modal message blocks ignores the request: messages
    // first, and every window asked again while it stays.
    QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired() && program->state() != QProcess::NotRunning) {
        QStringList windows = ProgramWindows(QStringLiteral("^Error$"));
        if (windows.isEmpty())
            windows = ProgramWindows(QStringLiteral("^(Strandsight|Track View)$"));
        for (const QString &window : std::as_const(windows))
            x11->SendDeleteWindow(window.toUInt());
        program->waitForFinished(500);
    }
    return program->state() == QProcess::NotRunning && program->exitStatus() == QProcess::NormalExit
        && program->exitCode() == 0;
}

// A named pipe put in place of a slice after the stack was opened: opening
// it the usual way waits for a writer that never comes. Stepping onto it
// must leave the program answering, and closing its windows must end it.
void TestHostileStack::programAnswersWithPipeInPlaceOfSlice()
{
    if (!StartDisplay())
        QSKIP("no X server for the real program (packages xvfb, xdotool)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.filePath("images")));
    const QStringList files = WriteNumberedSlices(dir.filePath("images"), 60);
    qputenv("STRANDSIGHT_CACHE_MB", "1"); // the child's: slice 40 is read when shown
    StartProgram({ QStringLiteral("--images"), dir.filePath("images") }, dir.path());
    QString review, view;
    QVERIFY2(WaitForWindow(QStringLiteral("Strandsight"), review), "no review window");
    QVERIFY2(WaitForWindow(QStringLiteral("Track View"), view), "no view window");
    // The images are in once the first pass has ended; a moment is plenty.
    QTest::qWait(2000);
    QVERIFY(QFile::remove(files[40]));
    QCOMPARE(::mkfifo(QFile::encodeName(files[40]).constData(), 0600), 0);

    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), view });
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("key"), QStringLiteral("--repeat"), QStringLiteral("45"),
          QStringLiteral("--delay"), QStringLiteral("30"), QStringLiteral("Right") });
    QTest::qWait(1000);
    QVERIFY2(program->state() == QProcess::Running, "the program ended");
    QVERIFY2(CloseProgram(), "the program did not end when its windows were closed");
}

void TestHostileStack::programUnderAddressLimitEndsInImagesOrMessage_data()
{
    QTest::addColumn<qint64>("limitKb");
    QTest::newRow("250 MB") << qint64(250000);
    QTest::newRow("450 MB") << qint64(450000);
}

// 2048 x 2048 16-bit slices under ulimit -v: the toolkit alone takes most of
// the first limit. Helpers that cannot start, a cache larger than what is
// left, or allocations of the toolkit that fail would end in a hang or an
// abort; the load must end in the images or in a message, and the program
// must close normally.
void TestHostileStack::programUnderAddressLimitEndsInImagesOrMessage()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer reserves more address space than any such limit");
#endif
    QFETCH(qint64, limitKb);
    if (!StartDisplay())
        QSKIP("no X server for the real program (packages xvfb, xdotool)");
    // Written once for both limits: 320 MB of uncompressed, noisy slices.
    if (!largeStack) {
        largeStack = std::make_unique<QTemporaryDir>();
        QVERIFY(largeStack->isValid());
        SampleOptions options;
        options.slices = 40;
        options.width = options.height = 2048;
        options.format = SampleOptions::Tiff16;
        options.fibres = 50;
        options.imagesOnly = true;
        const SampleResult sample = WriteSampleData(largeStack->path(), options);
        QVERIFY2(sample.ok, qPrintable(sample.message));
    }
    const QTemporaryDir &dir = *largeStack;
    StartProgram({ QStringLiteral("--images"), dir.filePath("images") }, dir.path(),
                 limitKb * 1024);
    QString review, view;
    QVERIFY2(WaitForWindow(QStringLiteral("Track View"), view), "no view window");

    // Stepping through the stack makes every part of the program work:
    // decoding, the cache, drawing scaled images.
    QTest::qWait(3000);
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), view });
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("key"), QStringLiteral("--repeat"), QStringLiteral("39"),
          QStringLiteral("--delay"), QStringLiteral("100"), QStringLiteral("Right") });
    QTest::qWait(1000);
    QVERIFY2(program->state() == QProcess::Running, "the program ended");
    // The last slice on the screen (noise and bright fibres, not a plain
    // field), or a message saying why the images were not loaded.
    QTemporaryDir shots;
    const QString shotPath = shots.filePath("view.png");
    int low = 255, high = 0;
    QDeadlineTimer deadline(15000);
    while (ProgramWindows(QStringLiteral("^Error$")).isEmpty() && high - low <= 100
           && !deadline.hasExpired()) {
        Run(QStringLiteral("import"), { QStringLiteral("-window"), view, shotPath });
        const QImage shot = QImage(shotPath).convertToFormat(QImage::Format_RGB32);
        QVERIFY2(!shot.isNull(), "no screenshot (package imagemagick)");
        low = 255;
        high = 0;
        for (int x = 40; x < shot.width() - 40; x += 8) {
            const int gray = qGray(shot.pixel(x, shot.height() / 3));
            low = std::min(low, gray);
            high = std::max(high, gray);
        }
        QTest::qWait(500);
    }
    QVERIFY2(
        !ProgramWindows(QStringLiteral("^Error$")).isEmpty() || high - low > 100,
        qPrintable(QStringLiteral("no image on the screen: greys %1 to %2").arg(low).arg(high)));
    const QByteArray output = program->readAll();
    QVERIFY2(!output.contains("Thread creation error"), output.constData());
    QVERIFY2(CloseProgram(), "the program did not end when its windows were closed");
}

QTEST_MAIN(TestHostileStack)
#include "tst_hostilestack.moc"
