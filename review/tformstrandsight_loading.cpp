#include "review/tformstrandsight.h"

#include "dialogs/informationbox.h"
#include "model/trackfile.h"
#include "model/tracksetreader.h"
#include "review/tformstrandsightform.h"
#include "stack/imagesequence.h"
#include "stack/sliceloader.h"
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
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

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
        Update(0);
        // Whatever is already waiting (a Cancel, a repaint) is handled
        // before the first file is looked at. User input waits, so nothing
        // can start another load here.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

    // Keeps the windows responding while work runs on other threads, until
    // finished() or the user cancels (then false). The event loop is woken
    // at least every kWakeMs, so Cancel acts within a fraction of a second.
    // Until the dialog shows, user input waits, so nothing can start another
    // load here; once shown it is modal and takes the input itself.
    bool WaitUntil(const std::function<bool()> &finished, const std::function<int()> &done)
    {
        QTimer wake;
        wake.start(kWakeMs);
        while (!finished()) {
            if (dialog.wasCanceled())
                return false;
            Update(done());
            QCoreApplication::processEvents(
                (dialog.isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents)
                | QEventLoop::WaitForMoreEvents);
        }
        return !dialog.wasCanceled();
    }

private:
    static constexpr int kWakeMs = 20;

    // Shows done files finished.
    void Update(int done)
    {
        // Repainting the dialog for every one of hundreds of quick files would
        // cost more than the files themselves: ten updates a second suffice.
        if (done > 0 && done < total && sinceUpdate.isValid() && sinceUpdate.elapsed() < 100)
            return;
        sinceUpdate.start();
        if (done < total)
            dialog.setLabelText(
                QCoreApplication::translate("TFormStrandsight", "Loading %1: file %2 of %3")
                    .arg(what)
                    .arg(done + 1)
                    .arg(total));
        dialog.setValue(done);
    }

    QProgressDialog dialog;
    QString what;
    int total;
    QElapsedTimer sinceUpdate;
};

// The order of a sorted list widget (plain character-code comparison of the
// texts) for decimal ids, by a numeric key instead of string comparisons: the
// digits padded with zeros to ten places, a shorter text first on a tie
// ("1" < "10" < "100" < "11").
quint64 ListTextKey(const QString &label)
{
    const quint64 value = label.toULongLong();
    const int digits = static_cast<int>(label.size());
    quint64 padded = value;
    for (int d = digits; d < 10; ++d)
        padded *= 10;
    return padded * 16 + static_cast<quint64>(digits);
}

void SortAsListText(QStringList &labels)
{
    std::vector<std::pair<quint64, qsizetype>> keys;
    keys.reserve(static_cast<size_t>(labels.size()));
    for (qsizetype i = 0; i < labels.size(); ++i)
        keys.emplace_back(ListTextKey(labels[i]), i);
    std::sort(keys.begin(), keys.end());
    QStringList sorted;
    sorted.reserve(labels.size());
    for (const auto &key : keys)
        sorted << std::move(labels[key.second]);
    labels = std::move(sorted);
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

// Reads the set into table: the registry is only touched once every file has
// been read, so a file that cannot be opened, or a cancel, leaves the tracks of
// the earlier load complete. The files are read on helper threads while the
// windows keep responding; a path that is not a regular file is refused
// before anything is read.
bool TFormStrandsight::ReadTrackFiles(QStringList files, TrackTable &table)
{
    files.sort(Qt::CaseSensitive);
    TrackSetReader reader(files);
    if (reader.Start()) {
        LoadProgress progress(this, tr("track files"), static_cast<int>(files.size()));
        if (!progress.WaitUntil([&reader] { return reader.IsFinished(); },
                                [&reader] { return reader.FilesRead(); }))
            return false; // the reader's helpers stop and clean up on their own
    }
    const TrackSetRead read = reader.Result();
    if (read.outcome == TrackSetRead::Unreadable)
        ShowErrorBox(this, tr("Could not load \"%1\".").arg(files[read.file]));
    if (read.outcome != TrackSetRead::Complete)
        return false;
    table = reader.TakeTable();
    filesRead = files;
    return true;
}

void TFormStrandsight::ReplaceTrackSet(TrackTable tracks, bool error)
{
    filesRead.clear();
    ReplaceTracks(tracks, error);
}

void TFormStrandsight::ReplaceTracks(TrackTable &loaded, bool error)
{
    (error ? errFiles : corrFiles) = std::exchange(filesRead, {});
    TrackTable &tracks = error ? viewWindow->errTracks : viewWindow->corrTracks;
    tracks.swap(loaded);
    if (error)
        DeleteErrPicks();
    else
        DeleteCorrPicks();
    // For hundreds of thousands of tracks the list's labels and the markers
    // each take a good part of the load: the labels are made on a helper
    // thread meanwhile (it only reads the table, as the markers do).
    const TFormTrackView *view = viewWindow.get();
    QFuture<QStringList> labels = QtConcurrent::run([view, &tracks] {
        QStringList made;
        view->AppendIdLabels(tracks, made);
        // The list keeps its entries in text order (10 before 9), but
        // inserting a batch into a sorted list costs time quadratic in its
        // size: the labels go in already in that order with sorting off,
        // which leaves nothing to move.
        SortAsListText(made);
        return made;
    });
    if (error) {
        viewWindow->scene->DeleteErrorFibers();
        viewWindow->AssignTrackColors(tracks, viewWindow->errColors);
        viewWindow->CreateErrorFibers();
    } else {
        viewWindow->scene->DeleteNormalFibers();
        viewWindow->AssignTrackColors(tracks, viewWindow->corrColors);
        viewWindow->CreateNormalFibers();
    }
    FillIdList(error ? form->lwErr : form->lwCorr, labels.result());
    viewWindow->NotifyTracksReplaced(error);
}

void TFormStrandsight::FillIdList(QListWidget *list, const QStringList &labels)
{
    list->clear();
    if (labels.isEmpty())
        return;
    list->setSortingEnabled(false);
    // A shown list relayouts for each inserted row; one layout at the end.
    list->setUpdatesEnabled(false);
    list->addItems(labels);
    list->setUpdatesEnabled(true);
    list->setSortingEnabled(true);
}
