#include "review/tformstrandsight.h"

#include "dialogs/informationbox.h"
#include "edit/trackeditor.h"
#include "model/errorfiber.h"
#include "model/freedmemory.h"
#include "model/normalfiber.h"
#include "review/idlistitem.h"
#include "review/tformstrandsightform.h"
#include "review/trackload.h"
#include "stack/sliceloader.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QListWidget>
#include <QLocale>
#include <QThreadPool>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A GUI-thread step of a load does this much at a time, so that the windows
// keep responding and Cancel acts between steps.
const int kSliceMs = 10;

QString Tr(const char *text) { return QCoreApplication::translate("TFormStrandsight", text); }

// Why a file of a set cannot be read, for a reader that did not say: a
// missing file, another kind of file, a file the user may not read.
QString WhyUnreadable(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0)
        return qt_error_string(errno);
    if (!S_ISREG(status.st_mode))
        return Tr("it is not a regular file");
    const int file = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        return qt_error_string(errno);
    ::close(file);
    return {};
}

// Frees a table on a helper: hundreds of thousands of tracks take a good part
// of a second to free.
void FreeAside(TrackTable &table)
{
    if (table.empty())
        return;
    auto aside = std::make_shared<TrackTable>();
    aside->swap(table);
    QThreadPool::globalInstance()->start([aside]() mutable {
        aside.reset();
        ReturnFreedMemory();
    });
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

void TFormStrandsight::LoadCorr() { LoadTracksChosen(false); }

void TFormStrandsight::LoadErr() { LoadTracksChosen(true); }

void TFormStrandsight::LoadTracksChosen(bool error)
{
    QStringList files;
    if (ChooseLoadFiles(LoadDialogFilter(LoadKind::Tracks), files))
        LoadTrackSet(files, error);
}

// Reading and preparing run on helpers, the markers are made on the GUI
// thread a few at a time, and only the last step touches what the user sees.
void TFormStrandsight::LoadTrackSet(const QStringList &files, bool error,
                                    std::function<void(bool loaded)> done)
{
    auto load = std::make_shared<TrackLoad>(files, error);

    Task task(QStringLiteral("loadProgress"));
    task.Then([load](TaskControl &control) { load->Read(control); })
        .Then([load](TaskControl &control) { load->Prepare(control); })
        .ThenOnGui([this, load](TaskControl &control) { return MakeMarkers(*load, control); })
        .ThenOnGui([this, load](TaskControl &) {
            if (!load->stopped)
                ReplaceTracks(*load);
            return false;
        })
        .Finally([this, load, done = std::move(done)](TaskOutcome outcome, const QString &failure) {
            // Markers of a load that did not end in place, deleted here on
            // the GUI thread, and the table that was replaced.
            qDeleteAll(load->normals);
            load->normals.clear();
            qDeleteAll(load->errors);
            load->errors.clear();
            FreeAside(load->table);
            if (load->replaced)
                WarnTracksOutsideImages(!load->error, load->error);
            else
                ReportFailedLoad(*load, outcome, failure);
            if (done)
                done(load->replaced);
        });
    tasks->Run(std::move(task));
}

bool TFormStrandsight::MakeMarkers(TrackLoad &load, TaskControl &control)
{
    if (load.stopped)
        return false;
    const TrackScene *scene = viewWindow->scene;
    QElapsedTimer slice;
    slice.start();
    try {
        while (load.next != load.table.cend()) {
            const auto &[id, points] = *load.next;
            const QColor &colour = load.colors.at(id);
            if (load.error)
                load.errors.push_back(scene->MakeErrorFiber(id, points, colour));
            else
                load.normals.push_back(scene->MakeNormalFiber(id, points, colour));
            ++load.next;
            if (++load.made % 64 == 0 && slice.elapsed() >= kSliceMs)
                break;
        }
    } catch (const std::bad_alloc &) {
        load.Release();
        throw;
    }
    control.SetDone(load.made);
    if (load.next != load.table.cend())
        return true;
    control.SetStage(tr("Loading %1: filling the list").arg(load.kind));
    return false;
}

// Tracks that come from elsewhere than track files (a session, a CSV file)
// take a kind's place as a load's do, at once: they are in memory already.
void TFormStrandsight::ReplaceTrackSet(TrackTable tracks, bool error)
{
    TrackLoad load(QStringList(), error);
    load.table = std::move(tracks);
    load.available = std::numeric_limits<qint64>::max();
    TaskControl control;
    load.Prepare(control);
    while (MakeMarkers(load, control)) { }
    ReplaceTracks(load);
    FreeAside(load.table);
}

// Everything of the kind at once: the registry, its colours, the picks, the
// markers and the list.
void TFormStrandsight::ReplaceTracks(TrackLoad &load)
{
    const bool error = load.error;
    TrackTable &tracks = error ? viewWindow->errTracks : viewWindow->corrTracks;
    tracks.swap(load.table);
    // An empty set keeps the colours of the tracks it replaced.
    if (!tracks.empty())
        (error ? viewWindow->errColors : viewWindow->corrColors).swap(load.colors);
    if (error) {
        DeleteErrPicks();
        viewWindow->scene->ReplaceErrorFibers(std::exchange(load.errors, {}));
        errFiles = load.files;
    } else {
        DeleteCorrPicks();
        viewWindow->scene->ReplaceNormalFibers(std::exchange(load.normals, {}));
        corrFiles = load.files;
    }
    FillIdList(error ? form->lwErr : form->lwCorr, load.labels);
    load.replaced = true;
    viewWindow->Editor()->TracksLoaded(error);
    viewWindow->NotifyTracksReplaced(error);
}

void TFormStrandsight::ReportFailedLoad(const TrackLoad &load, TaskOutcome outcome,
                                        const QString &failure)
{
    if (outcome == TaskOutcome::Cancelled)
        return;
    const QLocale locale;
    if (outcome == TaskOutcome::OutOfMemory || load.read.outcome == TrackSetRead::OutOfMemory) {
        ShowErrorBox(this,
                     tr("Not enough memory to load the %1. Nothing was changed.").arg(load.kind));
    } else if (outcome == TaskOutcome::Failed) {
        ShowErrorBox(this, tr("Could not load the %1: %2").arg(load.kind, failure));
    } else if (load.refused) {
        ShowErrorBox(this,
                     tr("Not enough memory to load the %1: %2 tracks with %3 points need about "
                        "%4 of memory, but only %5 is available. Nothing was changed.")
                         .arg(load.kind, locale.toString(load.tracks), locale.toString(load.points),
                              locale.formattedDataSize(load.needed),
                              locale.formattedDataSize(load.available)));
    } else if (load.read.outcome == TrackSetRead::Unreadable
               || load.read.outcome == TrackSetRead::NoRecords) {
        const QString path = load.files.value(load.read.file);
        QString reason = load.read.reason;
        if (load.read.outcome == TrackSetRead::NoRecords)
            reason = tr("no track record could be read");
        else if (reason.isEmpty())
            reason = WhyUnreadable(path);
        ShowErrorBox(this,
                     reason.isEmpty() ? tr("Could not load \"%1\".").arg(path)
                                      : tr("Could not load \"%1\": %2").arg(path, reason));
    }
}

void TFormStrandsight::FillIdList(QListWidget *list, const QStringList &labels)
{
    list->clear();
    if (labels.isEmpty())
        return;
    list->setSortingEnabled(false);
    // A shown list relayouts for each inserted row; one layout at the end.
    list->setUpdatesEnabled(false);
    // Entries that keep the id, not a string: a third of the memory of an
    // entry made from its text.
    for (const QString &label : labels) {
        unsigned int id = 0;
        if (IdListItem::IdOfText(label, id))
            list->addItem(new IdListItem(id));
        else
            list->addItem(label);
    }
    list->setUpdatesEnabled(true);
    list->setSortingEnabled(true);
}

void TFormStrandsight::WarnTracksOutsideImages(bool corr, bool err)
{
    const TrackScene *scene = viewWindow->scene;
    const int images = scene->ImageCount();
    if (images == 0)
        return;
    const QSize size = scene->ImageLoader()->SequenceSize();
    QStringList lines;
    for (const bool error : { false, true }) {
        if (!(error ? err : corr))
            continue;
        const QString kind = error ? tr("Error tracks") : tr("Non-error tracks");
        const int files = static_cast<int>((error ? errFiles : corrFiles).size());
        if (files > images) {
            const QString count = images == 1
                ? tr("%1 track files for 1 image").arg(files)
                : tr("%1 track files for %2 images").arg(files).arg(images);
            const QString unseen = files == images + 1
                ? tr("the tracks of image %1 are not shown").arg(files)
                : tr("the tracks of images %1 to %2 are not shown").arg(images + 1).arg(files);
            lines << QStringLiteral("%1: %2: %3.").arg(kind, count, unseen);
        }
        if (size.isEmpty())
            continue;
        qint64 outside = 0;
        for (const auto &track : error ? viewWindow->errTracks : viewWindow->corrTracks) {
            for (const auto &[image, p] : track.second) {
                if (image >= static_cast<unsigned int>(images))
                    break;
                if (p.x < 0 || p.y < 0 || p.x > size.width() || p.y > size.height())
                    ++outside;
            }
        }
        if (outside > 0) {
            const QString where = tr("the images (%1 x %2)").arg(size.width()).arg(size.height());
            lines << (outside == 1 ? tr("%1: 1 point lies outside %2.").arg(kind, where)
                                   : tr("%1: %2 points lie outside %3.")
                                         .arg(kind, QString::number(outside), where));
        }
    }
    if (!lines.isEmpty())
        ShowInformationBox(this, lines.join(QLatin1Char('\n')));
}
