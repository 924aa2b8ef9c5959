// The real program on a real X server (Xvfb), driven with synthetic input the
// way a user would: both windows appear, the review window cannot be resized,
// a sample set loads through the real file dialogs (and from the command line),
// the view shows markers on a visible image and steps, a dense set zooms to
// 800 %, a track splits with the paths of both parts drawn, and closing both
// windows ends the program with exit code 0 (after a question when changes
// are unsaved).
// Screenshots of the view window are kept in the build tree.

#include "realdisplay_x11.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineF>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const int kWaitMs = 30000;

// What a screenshot of the view window shows inside the graphics view (the
// buttons and the slider below it are left out: the slider's groove is blue).
struct ViewContent
{
    int coloured = 0; // marker pixels: the images are grey, the markers are not
    int gray = 0; // pixels that are not
    qint64 graySum = 0;
    int pixels = 0;
    int lowGray = 255;
    int highGray = 0;
};

QRect ImageArea(const QImage &shot)
{
    return QRect(20, 20, shot.width() - 40, shot.height() - 120);
}

ViewContent Inspect(const QImage &shot)
{
    ViewContent content;
    const QRect area = ImageArea(shot);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor colour = shot.pixelColor(x, y);
            ++content.pixels;
            if (colour.hsvSaturation() > 60 && colour.value() > 60) {
                ++content.coloured;
                continue;
            }
            const int level = qGray(colour.rgb());
            ++content.gray;
            content.graySum += level;
            content.lowGray = std::min(content.lowGray, level);
            content.highGray = std::max(content.highGray, level);
        }
    }
    return content;
}

double MeanGray(const ViewContent &content)
{
    return content.gray ? double(content.graySum) / content.gray : 0.0;
}

// Not a black field: a visible background and the bright end of the display
// range in use, as a 16-bit stack shows once its contrast is stretched.
bool ShowsImage(const ViewContent &content)
{
    return MeanGray(content) >= 12.0 && content.highGray >= 200;
}

QString Describe(const ViewContent &content)
{
    return QStringLiteral("%1 of %2 pixels coloured, grey mean %3 from %4 to %5")
        .arg(content.coloured)
        .arg(content.pixels)
        .arg(MeanGray(content), 0, 'f', 1)
        .arg(content.lowGray)
        .arg(content.highGray);
}

} // namespace

class TestRealDisplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void windowsAppearFixedAndCloseCleanly();
    void loadsSampleSetThroughFileDialogs();
    void loadsSampleSetFromCommandLine();
    void zoomsIntoADenseSet();
    void reviewsTheWrongTracksFirst();
    void splitsATrackWithBothPathsShown();

private:
    QProcessEnvironment DisplayEnvironment() const;
    QString Run(const QString &program, const QStringList &arguments, int *exitCode = nullptr);
    QStringList VisibleWindows(const QString &titlePattern);
    QStringList ProgramWindows();
    QRect WindowGeometry(const QString &window);
    QSize WindowSize(const QString &window);
    QImage Screenshot(const QString &window, const QString &path, bool withPopups = false);
    void StartProgram(const QString &home, const QStringList &arguments = {});
    bool StartSideBySide(const QString &home, QString &review, QString &view);
    bool WriteSample(const QString &sample, int slices = 8, int fibres = 40, int side = 256,
                     int seed = 7);
    bool WaitForWindow(const QString &title, QString &window);
    bool CloseWindow(const QString &window);
    bool ProgramEnded(int timeoutMs);
    bool OnlyWindowsVisible(const QStringList &windows);
    bool LoadThroughDialog(const QString &review, const QString &view, const QPoint &button,
                           const QStringList &files);

    RealDisplayX11::Server server;
    QByteArray display;
    std::unique_ptr<RealDisplayX11::Connection> x11;
    QString artifacts;
    QProcess *program = nullptr;
};

void TestRealDisplay::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("Xvfb is not installed (package xvfb): no real display to test on");
    for (const char *tool : { "xdotool", "xprop", "import" }) {
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                 qPrintable(QStringLiteral("%1 is not installed (packages xdotool, x11-utils, "
                                           "imagemagick)")
                                .arg(QLatin1String(tool))));
    }

    const QString failure = server.Start(QStringLiteral("1600x1200x24"), kWaitMs);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    display = server.Display();
    x11 = std::make_unique<RealDisplayX11::Connection>(display);
    QVERIFY2(x11->IsOpen(),
             qPrintable(
                 QStringLiteral("no connection to display %1").arg(QString::fromLatin1(display))));

    artifacts = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("artifacts");
    QVERIFY(QDir().mkpath(artifacts));
}

void TestRealDisplay::cleanupTestCase()
{
    x11.reset();
    server.Stop();
}

void TestRealDisplay::cleanup()
{
    if (!program)
        return;
    if (program->state() != QProcess::NotRunning) {
        program->kill();
        program->waitForFinished();
    }
    if (QTest::currentTestFailed())
        qInfo().noquote() << "program output:\n" << program->readAll();
    delete program;
    program = nullptr;
}

QProcessEnvironment TestRealDisplay::DisplayEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Qt's own file dialog, whatever desktop the tests run from, and pixel
    // sizes as the program sets them.
    for (const char *name :
         { "QT_QPA_PLATFORMTHEME", "XAUTHORITY", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
           "QT_ENABLE_HIGHDPI_SCALING", "QT_STYLE_OVERRIDE" })
        environment.remove(QLatin1String(name));
    return environment;
}

QString TestRealDisplay::Run(const QString &programName, const QStringList &arguments,
                             int *exitCode)
{
    QProcess process;
    process.setProcessEnvironment(DisplayEnvironment());
    process.start(programName, arguments);
    const bool finished = process.waitForStarted(kWaitMs) && process.waitForFinished(kWaitMs);
    if (exitCode)
        *exitCode
            = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

QStringList TestRealDisplay::VisibleWindows(const QString &titlePattern)
{
    return Run(QStringLiteral("xdotool"),
               { QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--name"), titlePattern })
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Every window of the program on the screen, dialogs and tooltips included
// (the toolkit marks each with the process id); the root window, which a name
// search matches too, left out.
QStringList TestRealDisplay::ProgramWindows()
{
    return Run(QStringLiteral("xdotool"),
               { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                 QString::number(program->processId()) })
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect TestRealDisplay::WindowGeometry(const QString &window)
{
    QRect geometry;
    const QStringList lines
        = Run(QStringLiteral("xdotool"),
              { QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window })
              .split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("X=")))
            geometry.moveLeft(line.mid(2).toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            geometry.moveTop(line.mid(2).toInt());
        else if (line.startsWith(QLatin1String("WIDTH=")))
            geometry.setWidth(line.mid(6).toInt());
        else if (line.startsWith(QLatin1String("HEIGHT=")))
            geometry.setHeight(line.mid(7).toInt());
    }
    return geometry;
}

QSize TestRealDisplay::WindowSize(const QString &window) { return WindowGeometry(window).size(); }

// withPopups takes the window's place on the screen, tooltips over it
// included (a capture of the window alone shows them black).
QImage TestRealDisplay::Screenshot(const QString &window, const QString &path, bool withPopups)
{
    QFile::remove(path);
    if (withPopups) {
        const QRect area = WindowGeometry(window);
        Run(QStringLiteral("import"),
            { QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
              QStringLiteral("%1x%2+%3+%4")
                  .arg(area.width())
                  .arg(area.height())
                  .arg(area.x())
                  .arg(area.y()),
              QStringLiteral("+repage"), path });
    } else {
        Run(QStringLiteral("import"), { QStringLiteral("-window"), window, path });
    }
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

void TestRealDisplay::StartProgram(const QString &home, const QStringList &arguments)
{
    program = new QProcess;
    QProcessEnvironment environment = DisplayEnvironment();
    // The file dialogs open in the home directory: keep them in test data.
    // Settings and recovery sessions too, so that no start sees what an
    // earlier one left.
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    // A sanitized build must end with the program's own exit code, as under
    // CTest, not with a leak report on libraries it uses.
    QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    if (!sanitizer.contains(QLatin1String("detect_leaks"))) {
        sanitizer += QLatin1String(sanitizer.isEmpty() ? "detect_leaks=0" : ":detect_leaks=0");
        environment.insert(QStringLiteral("ASAN_OPTIONS"), sanitizer);
    }
    program->setProcessEnvironment(environment);
    program->setProcessChannelMode(QProcess::MergedChannels);
    program->setWorkingDirectory(home);
    program->start(QStringLiteral(STRANDSIGHT_BINARY), arguments);
}

// Starts the program and puts its windows side by side, so that neither hides
// the other's clicks or screenshot.
bool TestRealDisplay::StartSideBySide(const QString &home, QString &review, QString &view)
{
    StartProgram(home);
    if (!program->waitForStarted(kWaitMs) || !WaitForWindow(QStringLiteral("Strandsight"), review)
        || !WaitForWindow(QStringLiteral("Track View"), view))
        return false;
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), review, QStringLiteral("0"), QStringLiteral("0") });
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), view, QStringLiteral("0"), QStringLiteral("420") });
    return true;
}

bool TestRealDisplay::WaitForWindow(const QString &title, QString &window)
{
    QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired() && program->state() != QProcess::NotRunning) {
        const QStringList found = VisibleWindows(QLatin1Char('^') + title + QLatin1Char('$'));
        if (found.size() == 1) {
            window = found.first();
            return true;
        }
        QTest::qWait(100);
    }
    return false;
}

// The program may have ended while the test waited with events running, and
// waitForFinished reports false for a process that is already gone.
bool TestRealDisplay::ProgramEnded(int timeoutMs)
{
    return program->state() == QProcess::NotRunning || program->waitForFinished(timeoutMs);
}

bool TestRealDisplay::CloseWindow(const QString &window)
{
    // One request is enough once the server has taken it. A window that a
    // modal dialog blocks ignores it, though, so it is asked again while it
    // stays on the screen.
    QDeadlineTimer deadline(kWaitMs);
    int requests = 0;
    while (!deadline.hasExpired()) {
        if (!x11->SendDeleteWindow(window.toUInt())) {
            qWarning("the server refused the close request for window %s", qPrintable(window));
            return false;
        }
        ++requests;
        QDeadlineTimer answer(5000);
        while (!answer.hasExpired() && !deadline.hasExpired()) {
            if (!x11->IsViewable(window.toUInt())) {
                if (requests > 1)
                    qInfo("window %s closed after %d close requests", qPrintable(window), requests);
                return true;
            }
            QTest::qWait(50);
        }
    }
    return false;
}

// True once exactly these windows are on the screen: no dialog, progress
// window or tooltip besides.
bool TestRealDisplay::OnlyWindowsVisible(const QStringList &windows)
{
    QStringList visible = ProgramWindows();
    QStringList expected = windows;
    visible.sort();
    expected.sort();
    return visible == expected;
}

// Clicks a "Load" button of the review window, types the files' folder into
// the file dialog's name field and Enter (the dialog goes there), then their
// names as the dialog takes several ("a" "b" ...) and Enter; true once the
// dialog has gone. Names, not whole paths: the dialog selects what typed
// whole paths name in its list as they are typed, and the first of several
// fell out of that selection (a load of 8 slices came out as 7).
bool TestRealDisplay::LoadThroughDialog(const QString &review, const QString &view,
                                        const QPoint &button, const QStringList &files)
{
    // Off every window: a button's tooltip, shown after the pointer rests on
    // it, could cover the button to be clicked.
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("1590"), QStringLiteral("1190") });
    // A click while an earlier load still shows its (application modal)
    // progress window would be thrown away as blocked input.
    QDeadlineTimer deadline(kWaitMs);
    while (!OnlyWindowsVisible({ review, view })) {
        if (deadline.hasExpired()) {
            qWarning("windows besides the program's two stayed open: %s",
                     qPrintable(ProgramWindows().join(' ')));
            return false;
        }
        QTest::qWait(100);
    }
    QString dialog;
    deadline.setRemainingTime(kWaitMs);
    while (dialog.isEmpty() && !deadline.hasExpired()) {
        // Clicked again if no dialog comes: a load can still be running
        // unseen (its progress window waits half a second before it shows)
        // and throw the click away once it shows. A click that was only
        // slow opens its dialog first, and the dialog blocks the next one.
        Run(QStringLiteral("xdotool"),
            { QStringLiteral("mousemove"), QStringLiteral("--window"), review,
              QString::number(button.x()), QString::number(button.y()), QStringLiteral("click"),
              QStringLiteral("1") });
        QDeadlineTimer answer(5000);
        while (dialog.isEmpty() && !answer.hasExpired() && !deadline.hasExpired()) {
            // New and dialog-sized: a tooltip may come and go meanwhile.
            for (const QString &window : ProgramWindows()) {
                if (window == review || window == view)
                    continue;
                const QSize size = WindowSize(window);
                if (size.width() >= 300 && size.height() >= 200)
                    dialog = window;
            }
            if (dialog.isEmpty())
                QTest::qWait(100);
        }
    }
    if (dialog.isEmpty()) {
        qWarning("no file dialog appeared");
        return false;
    }
    QStringList quoted;
    for (const QString &file : files)
        quoted << QLatin1Char('"') + QFileInfo(file).fileName() + QLatin1Char('"');
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), dialog });
    for (const QString &typed : { QFileInfo(files.value(0)).absolutePath(), quoted.join(' ') }) {
        Run(QStringLiteral("xdotool"),
            { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), typed });
        Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("Return") });
    }

    deadline.setRemainingTime(kWaitMs);
    while (x11->IsViewable(dialog.toUInt())) {
        if (deadline.hasExpired()) {
            qWarning("the file dialog did not take the typed files");
            return false;
        }
        QTest::qWait(100);
    }
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("1590"), QStringLiteral("1190") });
    return true;
}

// Eight 256 x 256 16-bit slices with 40 fibres: images/, tracks/normal/ and
// tracks/error/ under sample.
bool TestRealDisplay::WriteSample(const QString &sample, int slices, int fibres, int side, int seed)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(STRANDSIGHT_SAMPLE_TOOL),
               { QStringLiteral("--out"), sample, QStringLiteral("--slices"),
                 QString::number(slices), QStringLiteral("--fibres"), QString::number(fibres),
                 QStringLiteral("--width"), QString::number(side), QStringLiteral("--height"),
                 QString::number(side), QStringLiteral("--format"), QStringLiteral("tiff16"),
                 QStringLiteral("--seed"), QString::number(seed) });
    if (tool.waitForFinished(kWaitMs) && tool.exitStatus() == QProcess::NormalExit
        && tool.exitCode() == 0)
        return true;
    qWarning("the sample tool failed: %s", tool.readAll().constData());
    return false;
}

static QStringList SampleFiles(const QString &sample, const QString &sub, const QString &pattern)
{
    QDir dir(QDir(sample).filePath(sub));
    QStringList paths;
    for (const QString &name : dir.entryList({ pattern }, QDir::Files, QDir::Name))
        paths << dir.absoluteFilePath(name);
    return paths;
}

void TestRealDisplay::windowsAppearFixedAndCloseCleanly()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    StartProgram(home.path());
    QVERIFY2(program->waitForStarted(kWaitMs), STRANDSIGHT_BINARY);

    QString review, view;
    QVERIFY2(WaitForWindow(QStringLiteral("Strandsight"), review), "no window titled Strandsight");
    QVERIFY2(WaitForWindow(QStringLiteral("Track View"), view), "no window titled Track View");

    // Without a window manager only the size hints can say "not resizable":
    // they are what any window manager obeys.
    QCOMPARE(WindowSize(review), QSize(800, 380));
    const QString hints = Run(QStringLiteral("xprop"),
                              { QStringLiteral("-id"), review, QStringLiteral("WM_NORMAL_HINTS") });
    QVERIFY2(hints.contains(QLatin1String("program specified minimum size: 800 by 380"))
                 && hints.contains(QLatin1String("program specified maximum size: 800 by 380")),
             qPrintable(hints));
    const QSize viewSize = WindowSize(view);
    QVERIFY2(viewSize.width() >= 800 && viewSize.height() >= 600,
             qPrintable(
                 QStringLiteral("view window %1x%2").arg(viewSize.width()).arg(viewSize.height())));

    // Closing the review window alone leaves the program running with the view.
    QVERIFY2(CloseWindow(review), "the review window did not close");
    QVERIFY2(!ProgramEnded(1500), "the program ended with the view window still open");
    QVERIFY(x11->IsViewable(view.toUInt()));

    QVERIFY2(CloseWindow(view), "the view window did not close");
    QVERIFY2(ProgramEnded(kWaitMs), "the program did not end after both windows closed");
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
}

void TestRealDisplay::loadsSampleSetThroughFileDialogs()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString sample = home.filePath(QStringLiteral("sample"));
    QVERIFY(WriteSample(sample));
    const QStringList images
        = SampleFiles(sample, QStringLiteral("images"), QStringLiteral("*.tif"));
    const QStringList normal
        = SampleFiles(sample, QStringLiteral("tracks/normal"), QStringLiteral("*.txt"));
    const QStringList error
        = SampleFiles(sample, QStringLiteral("tracks/error"), QStringLiteral("*.txt"));
    QCOMPARE(images.size(), 8);
    QVERIFY(!normal.isEmpty() && !error.isEmpty());

    QString review, view;
    QVERIFY2(StartSideBySide(home.path(), review, view), "the program's windows did not appear");

    // "Images", "Non-Error" and "Error" in the "Load" group.
    QVERIFY(LoadThroughDialog(review, view, QPoint(50, 70), images));
    const QString imagesShot
        = QDir(artifacts).filePath(QStringLiteral("realdisplay-view-images.png"));
    ViewContent content;
    QImage shot;
    QTRY_VERIFY_WITH_TIMEOUT(ShowsImage(content = Inspect(shot = Screenshot(view, imagesShot))),
                             kWaitMs);
    // A 16-bit stack shows with contrast, not as a nearly black field.
    QVERIFY2(ShowsImage(content), qPrintable(Describe(content)));
    QVERIFY2(content.coloured < 50, qPrintable(Describe(content)));
    const QImage imagesOnly = shot;

    QVERIFY(LoadThroughDialog(review, view, QPoint(50, 100), normal));
    QVERIFY(LoadThroughDialog(review, view, QPoint(50, 120), error));
    const QString tracksShot
        = QDir(artifacts).filePath(QStringLiteral("realdisplay-view-tracks.png"));
    QTRY_VERIFY_WITH_TIMEOUT(
        (content = Inspect(shot = Screenshot(view, tracksShot))).coloured > 1000, kWaitMs);
    QVERIFY(shot != imagesOnly);

    // The last load done (its progress window, if it showed, is gone: one
    // would swallow the key presses) and painted: two screenshots alike.
    QTRY_VERIFY_WITH_TIMEOUT(OnlyWindowsVisible({ review, view }), kWaitMs);
    auto paintedAlike = [&] {
        const QImage before = shot;
        shot = Screenshot(view, tracksShot);
        return shot == before;
    };
    QTRY_VERIFY_WITH_TIMEOUT(paintedAlike(), kWaitMs);

    // Step three images with the arrow key; each step must change the image
    // itself, not only a focus frame: one press, one image. However long the
    // program takes to paint, a press is never repeated.
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), view });
    const QString finalShot = QDir(artifacts).filePath(QStringLiteral("realdisplay-view.png"));
    for (int step = 0; step < 3; ++step) {
        const QImage previous = shot.copy(ImageArea(shot));
        Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("Right") });
        bool stepped = false;
        QDeadlineTimer deadline(kWaitMs);
        for (;;) {
            shot = Screenshot(view, finalShot);
            stepped = shot.copy(ImageArea(shot)) != previous;
            if (stepped || deadline.hasExpired())
                break;
            QTest::qWait(100);
        }
        QVERIFY2(stepped,
                 qPrintable(QStringLiteral("step %1: the image did not change").arg(step + 1)));
    }
    content = Inspect(shot);
    qInfo().noquote() << "view window screenshot:" << finalShot << Describe(content);
    QVERIFY2(content.coloured > 1000, qPrintable(Describe(content)));
    // Markers may cover the bright discs now; the image must still not be black.
    QVERIFY2(MeanGray(content) >= 12.0, qPrintable(Describe(content)));

    QVERIFY2(CloseWindow(review), "the review window did not close");
    QVERIFY2(CloseWindow(view), "the view window did not close");
    QVERIFY2(ProgramEnded(kWaitMs), "the program did not end after both windows closed");
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
}

// The set named on the command line, folders for each option, is on the
// screen without a click: the image with its markers, and no dialog left over.
void TestRealDisplay::loadsSampleSetFromCommandLine()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QDir sample(home.filePath(QStringLiteral("sample")));
    QVERIFY(WriteSample(sample.path()));

    StartProgram(home.path(),
                 { QStringLiteral("--images"), sample.filePath(QStringLiteral("images")),
                   QStringLiteral("--non-error"), sample.filePath(QStringLiteral("tracks/normal")),
                   QStringLiteral("--error"), sample.filePath(QStringLiteral("tracks/error")) });
    QVERIFY2(program->waitForStarted(kWaitMs), STRANDSIGHT_BINARY);
    QString review, view;
    QVERIFY2(WaitForWindow(QStringLiteral("Strandsight"), review), "no window titled Strandsight");
    QVERIFY2(WaitForWindow(QStringLiteral("Track View"), view), "no window titled Track View");
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), view, QStringLiteral("0"), QStringLiteral("420") });

    const QString path = QDir(artifacts).filePath(QStringLiteral("realdisplay-commandline.png"));
    ViewContent content;
    QTRY_VERIFY_WITH_TIMEOUT((content = Inspect(Screenshot(view, path))).coloured > 1000
                                 && ShowsImage(content),
                             kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(OnlyWindowsVisible({ review, view }), kWaitMs);
    qInfo().noquote() << "view window screenshot:" << path << Describe(content);

    QVERIFY2(CloseWindow(review), "the review window did not close");
    QVERIFY2(CloseWindow(view), "the view window did not close");
    QVERIFY2(ProgramEnded(kWaitMs), "the program did not end after both windows closed");
    QCOMPARE(program->exitCode(), 0);
}

// Zoomed in on a slice of a dense set, the size people review: the image's
// pixels as blocks, every marker whole with a hairline outline, the hovered
// track's path and name, and the zoom in the status bar.
void TestRealDisplay::zoomsIntoADenseSet()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    // Two slices keep it quick; the density is that of a full scan.
    const QString sample = home.filePath(QStringLiteral("sample"));
    QVERIFY(WriteSample(sample, 2, 20000, 2048, 11));
    QString review, view;
    QVERIFY2(StartSideBySide(home.path(), review, view), "the program's windows did not appear");
    QVERIFY(
        LoadThroughDialog(review, view, QPoint(50, 70),
                          SampleFiles(sample, QStringLiteral("images"), QStringLiteral("*.tif"))));
    QVERIFY(LoadThroughDialog(
        review, view, QPoint(50, 100),
        SampleFiles(sample, QStringLiteral("tracks/normal"), QStringLiteral("*.txt"))));
    QVERIFY(LoadThroughDialog(
        review, view, QPoint(50, 120),
        SampleFiles(sample, QStringLiteral("tracks/error"), QStringLiteral("*.txt"))));
    QTRY_VERIFY_WITH_TIMEOUT(OnlyWindowsVisible({ review, view }), kWaitMs);

    const QString fittedShot
        = QDir(artifacts).filePath(QStringLiteral("realdisplay-view-dense-fit.png"));
    QImage fitted;
    QTRY_VERIFY_WITH_TIMEOUT(Inspect(fitted = Screenshot(view, fittedShot)).coloured > 100000,
                             kWaitMs);

    // 100 %, then six steps up: 800 %. The keys are the View menu's, typed
    // as a user types them ("+" takes Shift here).
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), view });
    Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("1") });
    for (int step = 0; step < 6; ++step)
        Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("plus") });
    // The pointer rests on the middle of the image: hover and tooltip.
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("--window"), view, QStringLiteral("400"),
          QStringLiteral("270") });

    // Markers are about 160 pixels wide at 800 %: far fewer colour changes
    // along the rows than in the fitted view, where they are 8 pixels wide.
    const auto changes = [](const QImage &shot) {
        const QRect area = ImageArea(shot);
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); y += 10) {
            for (int x = area.left() + 1; x <= area.right(); ++x)
                count += shot.pixel(x, y) != shot.pixel(x - 1, y);
        }
        return count;
    };
    const QString zoomedShot = QDir(artifacts).filePath(QStringLiteral("realdisplay-view-8x.png"));
    QImage zoomed;
    QTRY_VERIFY_WITH_TIMEOUT(changes(zoomed = Screenshot(view, zoomedShot)) * 5 < changes(fitted),
                             kWaitMs);
    QTest::qWait(1500); // the tooltip comes after a rest
    zoomed = Screenshot(view, zoomedShot, true);
    const ViewContent content = Inspect(zoomed);
    qInfo().noquote() << "800 % screenshot:" << zoomedShot
                      << "(a 2048 x 2048 slice with 20,000 tracks, zoomed about its middle: image "
                         "pixels as blocks, whole markers with hairline outlines, the hovered "
                         "track's path and tooltip, position, value and \"800 %\" in the status "
                         "bar)"
                      << Describe(content);
    QVERIFY2(content.coloured > content.pixels / 5, qPrintable(Describe(content)));
    QVERIFY2(content.gray > content.pixels / 20, qPrintable(Describe(content)));

    QVERIFY2(CloseWindow(review), "the review window did not close");
    QVERIFY2(CloseWindow(view), "the view window did not close");
    QVERIFY2(ProgramEnded(kWaitMs), "the program did not end after both windows closed");
    QCOMPARE(program->exitCode(), 0);
}

// The sample set's error tracks carry jumps: the track table sorted by
// "Largest Jump" lists them first, Enter goes to the first one, and the strip
// along it shows the crops jump from one fibre to another. Both screenshots
// are kept.
void TestRealDisplay::reviewsTheWrongTracksFirst()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QDir sample(home.filePath(QStringLiteral("sample")));
    QVERIFY(WriteSample(sample.path(), 24, 300, 512, 7));
    StartProgram(home.path(),
                 { QStringLiteral("--images"), sample.filePath(QStringLiteral("images")),
                   QStringLiteral("--non-error"), sample.filePath(QStringLiteral("tracks/normal")),
                   QStringLiteral("--error"), sample.filePath(QStringLiteral("tracks/error")) });
    QVERIFY2(program->waitForStarted(kWaitMs), STRANDSIGHT_BINARY);
    QString review, view;
    QVERIFY2(WaitForWindow(QStringLiteral("Strandsight"), review), "no window titled Strandsight");
    QVERIFY2(WaitForWindow(QStringLiteral("Track View"), view), "no window titled Track View");
    // Apart on the screen: a screenshot shows what covers the window black.
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), review, QStringLiteral("800"), QStringLiteral("810") });
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), view, QStringLiteral("0"), QStringLiteral("0") });
    const QString viewShot
        = QDir(artifacts).filePath(QStringLiteral("realdisplay-track-strip.png"));
    QTRY_VERIFY_WITH_TIMEOUT(Inspect(Screenshot(view, viewShot)).coloured > 1000, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(OnlyWindowsVisible({ review, view }), kWaitMs);
    const int viewHeight = WindowSize(view).height();

    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), view });
    Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("ctrl+t") });
    QString table;
    QVERIFY2(WaitForWindow(QStringLiteral("Track Table"), table), "no window titled Track Table");
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), table, QStringLiteral("810"), QStringLiteral("0") });
    QTRY_VERIFY_WITH_TIMEOUT(WindowGeometry(table).topLeft() == QPoint(810, 0), kWaitMs);
    // The header of "Largest Jump": the columns before it are 400 pixels wide,
    // the header lies under the filter line.
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("--window"), table, QStringLiteral("465"),
          QStringLiteral("52"), QStringLiteral("click"), QStringLiteral("1") });
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("1590"), QStringLiteral("1190") });
    const QString tableShot
        = QDir(artifacts).filePath(QStringLiteral("realdisplay-track-table.png"));
    QTest::qWait(500);
    Run(QStringLiteral("xdotool"), { QStringLiteral("windowraise"), table });
    QTest::qWait(300);
    const QImage tableImage = Screenshot(table, tableShot);
    QVERIFY(!tableImage.isNull());
    qInfo().noquote() << "track table screenshot:" << tableShot;

    // Enter in the table goes to the first track; Ctrl+B in the view shows
    // the strip under it.
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), table });
    Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("Return") });
    Run(QStringLiteral("xdotool"), { QStringLiteral("windowraise"), view });
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), view });
    Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("ctrl+b") });
    QTRY_VERIFY_WITH_TIMEOUT(WindowSize(view).height() > viewHeight + 90, kWaitMs);
    QTest::qWait(1000);
    const QImage strip = Screenshot(view, viewShot);
    // The crops: grey images with variation, below the image and its controls.
    const QRect stripArea(20, strip.height() - 150, strip.width() - 40, 90);
    int low = 255;
    int high = 0;
    for (int y = stripArea.top(); y <= stripArea.bottom(); y += 3) {
        for (int x = stripArea.left(); x <= stripArea.right(); x += 3) {
            const int grey = qGray(strip.pixel(x, y));
            low = std::min(low, grey);
            high = std::max(high, grey);
        }
    }
    qInfo().noquote() << "track strip screenshot:" << viewShot;
    QVERIFY2(high - low > 80, qPrintable(QStringLiteral("strip grey %1 to %2").arg(low).arg(high)));

    QVERIFY2(CloseWindow(review), "the review window did not close");
    QVERIFY2(CloseWindow(view), "the view window did not close");
    QVERIFY2(ProgramEnded(kWaitMs), "the program did not end after both windows closed");
    QCOMPARE(program->exitCode(), 0);
}

// Where the image is in a screenshot of the view window: the dark slice
// inside the light window, along the middle row and column.
static QRect ShownImage(const QImage &shot)
{
    const auto dark = [&shot](int x, int y) { return qGray(shot.pixel(x, y)) < 150; };
    const int row = shot.height() / 2;
    const int column = shot.width() / 2;
    int left = 0, right = shot.width() - 1, top = 0, bottom = shot.height() - 1;
    while (left < right && !dark(left, row))
        ++left;
    while (right > left && !dark(right, row))
        --right;
    while (top < bottom && !dark(column, top))
        ++top;
    while (bottom > top && !dark(column, bottom))
        --bottom;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// A track that jumps to the neighbouring fibre, as the tracker's commonest
// fault: split where it jumps (the pointer on its marker, "S"), the earlier
// part keeps its id and the rest becomes a new track, and the paths of both
// stay drawn (the earlier one light, ending on the image before; the new one
// dark from here). The review window's title then tells of unsaved changes,
// and closing the last window asks first.
void TestRealDisplay::splitsATrackWithBothPathsShown()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QDir sample(home.filePath(QStringLiteral("sample")));
    QVERIFY(WriteSample(sample.path()));

    // An error track with a jump between two images: its id, the image of
    // the jump and its point there.
    const QStringList files
        = SampleFiles(sample.path(), QStringLiteral("tracks/error"), QStringLiteral("*.txt"));
    QMap<unsigned int, QMap<int, QPointF>> tracks;
    for (int image = 0; image < files.size(); ++image) {
        QFile file(files[image]);
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() == 3)
                tracks[fields[2].toUInt()][image]
                    = QPointF(fields[0].toDouble(), fields[1].toDouble());
        }
    }
    unsigned int jumping = 0;
    int jumpImage = -1;
    for (auto track = tracks.begin(); track != tracks.end() && jumpImage < 0; ++track) {
        for (int image = 1; image < files.size(); ++image) {
            if (track->contains(image - 1) && track->contains(image)
                && QLineF(track->value(image - 1), track->value(image)).length() > 30) {
                jumping = track.key();
                jumpImage = image;
                break;
            }
        }
    }
    QVERIFY2(jumpImage > 0, "the sample has no error track that jumps");
    const QPointF jumpPoint = tracks[jumping][jumpImage];

    StartProgram(home.path(),
                 { QStringLiteral("--images"), sample.filePath(QStringLiteral("images")),
                   QStringLiteral("--error"), sample.filePath(QStringLiteral("tracks/error")) });
    QVERIFY2(program->waitForStarted(kWaitMs), STRANDSIGHT_BINARY);
    QString review, view;
    QVERIFY2(WaitForWindow(QStringLiteral("Strandsight"), review), "no window titled Strandsight");
    QVERIFY2(WaitForWindow(QStringLiteral("Track View"), view), "no window titled Track View");
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), view, QStringLiteral("0"), QStringLiteral("420") });
    const QString path = QDir(artifacts).filePath(QStringLiteral("realdisplay-split.png"));
    QTRY_VERIFY_WITH_TIMEOUT(Inspect(Screenshot(view, path)).coloured > 300, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(OnlyWindowsVisible({ review, view }), kWaitMs);

    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), view });
    for (int step = 0; step < jumpImage; ++step)
        Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("Right") });
    const auto away = [&] {
        Run(QStringLiteral("xdotool"),
            { QStringLiteral("mousemove"), QStringLiteral("1590"), QStringLiteral("1190") });
    };
    away();
    QImage before;
    auto painted = [&] {
        const QImage last = before;
        before = Screenshot(view, path);
        return before == last;
    };
    QTRY_VERIFY_WITH_TIMEOUT(painted(), kWaitMs);

    const QRect image = ShownImage(before);
    const QImage slice(files.isEmpty() ? QString()
                                       : SampleFiles(sample.path(), QStringLiteral("images"),
                                                     QStringLiteral("*.tif"))
                                             .value(0));
    QVERIFY(!slice.isNull());
    const QPoint marker(image.left() + qRound(jumpPoint.x() * image.width() / slice.width()),
                        image.top() + qRound(jumpPoint.y() * image.height() / slice.height()));
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("--window"), view,
          QString::number(marker.x()), QString::number(marker.y()) });
    QTest::qWait(300);
    Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("s") });
    QTRY_COMPARE_WITH_TIMEOUT(
        Run(QStringLiteral("xdotool"), { QStringLiteral("getwindowname"), review }),
        QStringLiteral("Strandsight *"), kWaitMs);

    // Zoomed in about the jump (three notches of Ctrl + wheel), the pointer
    // away: the earlier part's path ends light where the fibre is, the new
    // part's starts dark on the neighbour, and nothing joins them.
    const QPointF before0 = tracks[jumping][jumpImage - 1];
    const QPointF middle = (before0 + jumpPoint) / 2;
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("mousemove"), QStringLiteral("--window"), view,
          QString::number(image.left() + qRound(middle.x() * image.width() / slice.width())),
          QString::number(image.top() + qRound(middle.y() * image.height() / slice.height())) });
    Run(QStringLiteral("xdotool"), { QStringLiteral("keydown"), QStringLiteral("ctrl") });
    for (int notch = 0; notch < 3; ++notch)
        Run(QStringLiteral("xdotool"), { QStringLiteral("click"), QStringLiteral("4") });
    Run(QStringLiteral("xdotool"), { QStringLiteral("keyup"), QStringLiteral("ctrl") });
    away();
    QImage after;
    auto settled = [&] {
        const QImage last = after;
        after = Screenshot(view, path);
        return after == last && after != before;
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), kWaitMs);
    qInfo().noquote() << "split screenshot:" << path
                      << QStringLiteral("(error track %1 split on image %2 of %3, where it "
                                        "jumps to the neighbouring fibre, zoomed in: the "
                                        "earlier part's path light, the new part's dark, both "
                                        "drawn with the pointer away)")
                             .arg(jumping)
                             .arg(jumpImage + 1)
                             .arg(files.size());

    // Closing the review window alone asks nothing; the view window, the
    // last one, asks, and Cancel keeps it open.
    QVERIFY2(CloseWindow(review), "the review window did not close");
    QVERIFY(x11->SendDeleteWindow(view.toUInt()));
    QString question;
    QDeadlineTimer deadline(kWaitMs);
    while (question.isEmpty() && !deadline.hasExpired()) {
        for (const QString &window : ProgramWindows()) {
            if (window != view)
                question = window;
        }
        QTest::qWait(100);
    }
    QVERIFY2(!question.isEmpty(), "closing with unsaved changes asked nothing");
    Run(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), question });
    Run(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("Escape") });
    QTRY_VERIFY_WITH_TIMEOUT(OnlyWindowsVisible({ view }), kWaitMs);
    QVERIFY2(!ProgramEnded(500), "Cancel ended the program");
}

QTEST_GUILESS_MAIN(TestRealDisplay)
#include "tst_realdisplay.moc"
