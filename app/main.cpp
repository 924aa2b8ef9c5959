#include "review/tformstrandsight.h"
#include "view/imagesequence.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Beside the executable, for an installation that ships its own image-format
    // plug-ins (the path is joined without a separator, as the toolkit returns it).
    QApplication::addLibraryPath(QApplication::applicationDirPath()
                                 + QStringLiteral("imageformats"));
    ImageSequence::AllowLargeImages();

    int exitCode = 0;
    {
        TFormStrandsight window(nullptr);
        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
