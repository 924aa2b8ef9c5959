#include "review/tformstrandsight.h"

#include "dialogs/informationbox.h"
#include "review/loadselection.h"
#include "stack/imagesequence.h"
#include "stack/sliceloader.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QGuiApplication>
#include <QLocale>
#include <QTimer>
#include <utility>
#include <vector>

namespace {

const int kMaxNamesListed = 10;

} // namespace

void TFormStrandsight::LoadImageSeq()
{
    QStringList files;
    if (ChooseLoadFiles(LoadDialogFilter(LoadKind::Images), files))
        LoadImageFiles(files);
}

void TFormStrandsight::ConnectImageLoading()
{
    SliceLoader *loader = viewWindow->scene->ImageLoader();
    connect(loader, &SliceLoader::Progress, this, [this](int done, int total) {
        viewWindow->ShowLoadStatus(tr("Loading images: %1 of %2").arg(done).arg(total));
    });
    connect(loader, &SliceLoader::Settled, this, [this](const std::vector<unsigned int> &failed) {
        viewWindow->ShowLoadStatus(QString());
        if (!failed.empty())
            ReportUndecodedImages(failed);
    });
}

bool TFormStrandsight::LoadImageFiles(const QStringList &selection)
{
    QStringList files = selection;
    files.sort(Qt::CaseSensitive);

    // Headers, the contrast sample and image 0 take a moment on a large stack;
    // everything after that is decoded behind the windows.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<ImageSequence::SliceInfo> slices = ImageSequence::ReadHeaders(files);
    TrackScene *scene = viewWindow->scene;
    // What the sequence shown now holds is given back when it is replaced.
    const qint64 available = ImageSequence::AvailableBytes() + scene->ImageLoader()->HeldBytes();
    const qint64 needed = ImageSequence::LargestDecodeBytes(slices);
    if (needed > available) {
        QGuiApplication::restoreOverrideCursor();
        const QLocale locale;
        ShowErrorBox(
            this,
            tr("One image of the sequence needs %1 of memory, but only %2 is available. "
               "The images were not loaded.")
                .arg(locale.formattedDataSize(needed), locale.formattedDataSize(available)));
        return false;
    }
    scene->OpenImages(std::move(slices), available);
    imageFiles = files;
    viewWindow->UpdateImageRange();
    scene->update();
    QGuiApplication::restoreOverrideCursor();
    return true;
}

void TFormStrandsight::ReportUndecodedImages(const std::vector<unsigned int> &failed)
{
    const TrackScene *scene = viewWindow->scene;
    QStringList names;
    for (const unsigned int index : failed) {
        if (names.size() == kMaxNamesListed)
            break;
        names << scene->SliceName(static_cast<int>(index));
    }
    QString text
        = tr("%n of %1 images could not be loaded:", nullptr, static_cast<int>(failed.size()))
              .arg(scene->ImageCount());
    text += QLatin1Char('\n') + names.join(QLatin1Char('\n'));
    const int unlisted = static_cast<int>(failed.size()) - static_cast<int>(names.size());
    if (unlisted > 0)
        text += QLatin1Char('\n') + tr("... and %n more.", nullptr, unlisted);
    // Reported when the decoding comes to rest, which may be in the middle of
    // the loader's work: the message waits for the event loop.
    QTimer::singleShot(0, this, [this, text] { ShowErrorBox(this, text); });
}
