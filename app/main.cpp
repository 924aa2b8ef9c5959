#include "review/commandline.h"
#include "review/tformstrandsight.h"
#include "session/sessionkeeper.h"
#include "stack/imagesequence.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

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

} // namespace

int main(int argc, char *argv[])
{
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

    int exitCode = 0;
    {
        TFormStrandsight window(nullptr);
        SessionKeeper keeper(&window);
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &keeper, &SessionKeeper::Quitting);
        window.show();
        // From the event loop, so that both windows are up before a load's
        // progress or messages appear over them. A review restored after a
        // crash is what the user chose to go on with: the command line's
        // files would replace it.
        QTimer::singleShot(0, &window, [&window, &keeper, &commandLine] {
            if (!keeper.OfferRecovery())
                window.OpenPaths(commandLine.images, commandLine.nonError, commandLine.error);
        });
        exitCode = app.exec();
    }
    return exitCode;
}
