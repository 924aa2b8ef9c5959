#include "review/commandline.h"
#include "review/tformstrandsight.h"
#include "session/sessionkeeper.h"
#include "stack/helperpool.h"
#include "stack/imagesequence.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Prints help or version; false for any other request.
bool Answer(const CommandLine &commandLine)
{
    if (commandLine.request == CommandLine::Help)
        std::fputs(qPrintable(commandLine.Usage()), stdout);
    else if (commandLine.request == CommandLine::Version)
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
    else
        return false;
    return true;
}

// --help and --version are answered before the window system is opened, so
// that they work without a display (over ssh, say). Anything else waits for
// QApplication, which takes its own options (-style, -platform) out first.
bool AnswerWithoutDisplay(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(STRANDSIGHT_VERSION));
    return Answer(CommandLine(QCoreApplication::arguments()));
}

// Under an address-space limit (ulimit -v) every thread that allocates would
// reserve an arena of 64 MB of address space for itself: a handful of threads
// use up the limit before any image is read, and the toolkit then fails to
// start the threads it draws with. Under such a limit the threads share one.
void ShareOneArenaUnderAddressLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        mallopt(M_ARENA_MAX, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    ShareOneArenaUnderAddressLimit();
    std::vector<QByteArray> words;
    std::vector<char *> arguments = CommandLine::KeepSessionOption(argc, argv, words);
    argc = static_cast<int>(words.size());
    argv = arguments.data();
    if (AnswerWithoutDisplay(argc, argv))
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(STRANDSIGHT_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("strandsight"));
    const CommandLine commandLine(QCoreApplication::arguments());
    if (Answer(commandLine))
        return 0;
    if (commandLine.request == CommandLine::Mistake) {
        std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(commandLine.mistake), qPrintable(commandLine.Usage()));
        return 2;
    }
    // Beside the executable, for an installation that ships its own image-format
    // plug-ins (the path is joined without a separator, as the toolkit returns it).
    QApplication::addLibraryPath(QApplication::applicationDirPath()
                                 + QStringLiteral("imageformats"));
    ImageSequence::AllowLargeImages();
    // On a machine shared with other work the free memory the system reports
    // is not all there is to take: the images' cache and the refusal of a
    // track set too large plan with this many megabytes instead.
    bool limited = false;
    const qint64 memoryMb = qEnvironmentVariable("STRANDSIGHT_MEMORY_MB").toLongLong(&limited);
    if (limited && memoryMb >= 0)
        ImageSequence::SetAvailableBytesOverride(memoryMb * 1024 * 1024);

    int exitCode = 0;
    {
        TFormStrandsight window(nullptr);
        SessionKeeper keeper(&window);
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &keeper, &SessionKeeper::Quitting);
        window.show();
        // From the event loop, so that both windows are up before a load's
        // progress or messages appear over them.
        QTimer::singleShot(0, &keeper, [&keeper, &commandLine] { keeper.Start(commandLine); });
        exitCode = app.exec();
    }
    // A helper can still be reading a slice, or be stuck in a read on a dead
    // network mount: the program ends without waiting for it, and without
    // tearing down what it may still use.
    if (ImageSequence::Helpers().Busy()) {
        std::fflush(nullptr);
        _exit(exitCode);
    }
    return exitCode;
}
