#include "review/tformstrandsight.h"

#include "model/trackfile.h"
#include "review/tformstrandsightform.h"
#include "view/imagesequence.h"
#include "view/sliceloader.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

namespace {

const int kMaxNamesListed = 10;

// The progress of one load, over the review window. It appears only once the
// load has taken half a second, and cancelling it makes the load change nothing.
class LoadProgress
{
public:
    LoadProgress(QWidget *window, const QString &what, int total)
        : dialog(window)
        , what(what)
        , total(total)
    {
        dialog.setObjectName(QStringLiteral("loadProgress"));
        // Application modal: the view window must not start a track or step
        // images while a load is about to replace what they work on.
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setMinimumDuration(500);
        // Without auto-reset the last step cannot clear a cancellation made
        // while it ran, and the dialog stays until the load is done.
        dialog.setAutoReset(false);
        dialog.setAutoClose(false);
        dialog.setRange(0, total);
        Step(0);
    }

    // Reports that done files are finished; false once the user cancelled.
    bool Step(int done)
    {
        // Repainting the dialog for every one of hundreds of quick files would
        // cost more than the files themselves: ten updates a second suffice.
        if (done > 0 && done < total && sinceUpdate.isValid() && sinceUpdate.elapsed() < 100)
            return !dialog.wasCanceled();
        sinceUpdate.start();
        if (done < total)
            dialog.setLabelText(
                QCoreApplication::translate("TFormStrandsight", "Loading %1: file %2 of %3")
                    .arg(what)
                    .arg(done + 1)
                    .arg(total));
        dialog.setValue(done);
        // Until the dialog is shown, setValue processes no events, so its own
        // show timer could not fire during a slow file and no window would
        // repaint. User input waits, so nothing can start another load here.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return !dialog.wasCanceled();
    }

private:
    QProgressDialog dialog;
    QString what;
    int total;
    QElapsedTimer sinceUpdate;
};

void ShowError(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QCoreApplication::translate("TFormStrandsight", "Error"), text);
}

} // namespace

// Every multi-file selection is in plain character-code order of the paths:
// t10.txt before t2.txt. The sorted position is the image index.
bool TFormStrandsight::ChooseLoadFiles(const QString &filter, QStringList &files)
{
    QFileDialog dialog(this);
    dialog.setDirectory(workingDirectory);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(filter);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    files = dialog.selectedFiles();
    return true;
}

void TFormStrandsight::LoadCorr()
{
    TrackTable loaded;
    if (LoadTrackFiles(loaded))
        ReplaceTracks(loaded, false);
}

void TFormStrandsight::LoadErr()
{
    TrackTable loaded;
    if (LoadTrackFiles(loaded))
        ReplaceTracks(loaded, true);
}

void TFormStrandsight::LoadImageSeq()
{
    QStringList files;
    if (ChooseLoadFiles(LoadDialogFilter(LoadKind::Images), files))
        LoadImageFiles(files);
}

bool TFormStrandsight::LoadTrackFiles(TrackTable &table)
{
    QStringList files;
    return ChooseLoadFiles(LoadDialogFilter(LoadKind::Tracks), files)
        && ReadTrackFiles(files, table);
}

bool TFormStrandsight::LoadTrackSet(const QStringList &files, bool error)
{
    TrackTable loaded;
    if (!ReadTrackFiles(files, loaded))
        return false;
    ReplaceTracks(loaded, error);
    return true;
}

// Reads the set into table, which the caller gives empty: the registry is only
// touched once every file has been read, so a file that cannot be opened, or a
// cancel, leaves the tracks of the earlier load complete.
bool TFormStrandsight::ReadTrackFiles(QStringList files, TrackTable &table)
{
    files.sort(Qt::CaseSensitive);
    TrackSetRead read;
    {
        LoadProgress progress(this, tr("track files"), static_cast<int>(files.size()));
        read = ReadTrackSet(files, table,
                            [&progress](int done, int) { return progress.Step(done); });
    }
    if (read.outcome == TrackSetRead::Unreadable)
        ShowError(this, tr("Could not load \"%1\".").arg(files[read.file]));
    return read.outcome == TrackSetRead::Complete;
}

void TFormStrandsight::ReplaceTracks(TrackTable &loaded, bool error)
{
    if (error) {
        viewWindow->errTracks.swap(loaded);
        DeleteErrPicks();
        viewWindow->scene->DeleteErrorFibers();
        FillIdList(form->lwErr, viewWindow->errTracks);
        viewWindow->AssignTrackColors(viewWindow->errTracks, viewWindow->errColors);
        viewWindow->CreateErrorFibers();
    } else {
        viewWindow->corrTracks.swap(loaded);
        DeleteCorrPicks();
        viewWindow->scene->DeleteNormalFibers();
        FillIdList(form->lwCorr, viewWindow->corrTracks);
        viewWindow->AssignTrackColors(viewWindow->corrTracks, viewWindow->corrColors);
        viewWindow->CreateNormalFibers();
    }
}

void TFormStrandsight::FillIdList(QListWidget *list, const TrackTable &table)
{
    list->clear();
    if (table.empty())
        return;
    QStringList labels;
    viewWindow->AppendIdLabels(table, labels);
    list->addItems(labels);
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
        ShowError(this,
                  tr("One image of the sequence needs %1 of memory, but only %2 is available. "
                     "The images were not loaded.")
                      .arg(locale.formattedDataSize(needed), locale.formattedDataSize(available)));
        return false;
    }
    scene->OpenImages(std::move(slices), available);
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
    QTimer::singleShot(0, this, [this, text] { ShowError(this, text); });
}
