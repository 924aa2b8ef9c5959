#include "session/sessionkeeper.h"

#include "dialogs/informationbox.h"
#include "edit/trackeditor.h"
#include "edit/unsavedchanges.h"
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "review/tformstrandsight.h"
#include "session/sessionformat.h"
#include "session/trackcsv.h"
#include "table/trackreviewer.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/tformtrackviewform.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

// Files named in one message; the rest are counted.
const int kFilesNamed = 10;

QString SessionFilter()
{
    return QCoreApplication::translate("SessionKeeper", "Strandsight Sessions (*.%1)")
        .arg(SessionSuffix());
}

} // namespace

void SessionKeeper::ChooseSessionToOpen()
{
    const QString path
        = ChooseFile(tr("Open Session"), SessionFilter(), SessionSuffix(), false,
                     sessionPath.isEmpty() ? QString() : QFileInfo(sessionPath).absolutePath());
    if (!path.isEmpty())
        OpenSession(path);
}

void SessionKeeper::SaveSessionHere()
{
    if (sessionPath.isEmpty())
        ChooseSessionToSave();
    else
        SaveSession(sessionPath);
}

void SessionKeeper::ChooseSessionToSave()
{
    const QString path = ChooseFile(tr("Save Session As"), SessionFilter(), SessionSuffix(), true,
                                    sessionPath.isEmpty() ? QString() : sessionPath);
    if (!path.isEmpty())
        SaveSession(path);
}

QString SessionKeeper::ChooseFile(const QString &caption, const QString &filter,
                                  const QString &suffix, bool save, const QString &directory)
{
    QFileDialog dialog(DialogParent(), caption);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    // Set explicitly, or the dialog would open wherever the last one was.
    const QFileInfo start(directory);
    if (!directory.isEmpty() && start.isFile())
        dialog.selectFile(start.absoluteFilePath());
    else
        dialog.setDirectory(directory.isEmpty() || !start.isDir() ? window->WorkingDirectory()
                                                                  : directory);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void SessionKeeper::ReportWriteFailure(const QString &path, const QString &why)
{
    ShowErrorBox(DialogParent(), tr("Could not write \"%1\": %2").arg(path, why));
}

// The copy is taken now; finding the changes and writing run behind the
// windows, so that the review can go on meanwhile. A change made meanwhile is
// not in the file and stays unsaved.
void SessionKeeper::SaveSession(const QString &path)
{
    auto snapshot = std::make_shared<ReviewSnapshot>(TakeSnapshot());
    snapshot->record.sessionFile.clear();
    const quint64 saving = changes;
    auto why = std::make_shared<QString>();
    auto written = std::make_shared<bool>(false);
    const QString target = QFileInfo(path).absoluteFilePath();
    Task task(QStringLiteral("sessionProgress"));
    task.Then([snapshot, target, why, written](TaskControl &control) {
        control.SetStage(tr("Saving the session"));
        *written = WriteSnapshot(*snapshot, target, *why);
    });
    const QPointer<SessionKeeper> self(this);
    task.Finally([self, target, why, written, saving](TaskOutcome outcome, const QString &failure) {
        if (!self)
            return;
        if (*written) {
            self->sessionPath = target;
            self->savedChanges = saving;
            // The session holds every change, so nothing is left to ask about
            // at quitting; a change made while it was written is.
            if (!self->HasUnsavedChanges()) {
                self->RemoveRecovery();
                self->View()->Editor()->Changes()->MarkAllSaved();
            }
            emit self->SessionSaved(target);
        } else if (outcome != TaskOutcome::Cancelled) {
            self->ReportWriteFailure(target,
                                     outcome == TaskOutcome::OutOfMemory
                                         ? tr("There is not enough memory.")
                                         : (why->isEmpty() ? failure : *why));
        }
    });
    window->Tasks()->Run(std::move(task));
}

// Absolute: a path given on the command line is relative to where the
// program started, and the session is saved back there later.
void SessionKeeper::OpenSession(const QString &path)
{
    Open(QFileInfo(path).absoluteFilePath(), false);
}

void SessionKeeper::Open(const QString &path, bool recovered)
{
    if (!recovered && HasUnsavedChanges()
        && !ConfirmDiscardingChanges(
            tr("The tracks have unsaved changes. Open the session anyway?")))
        return;
    auto record = std::make_shared<SessionRecord>();
    auto why = std::make_shared<QString>();
    auto changed = std::make_shared<QStringList>();
    Task task(QStringLiteral("sessionProgress"));
    task.Then([path, record, why, changed](TaskControl &control) {
        control.SetStage(tr("Reading the session"));
        if (ReadSessionFile(path, *record, *why))
            *changed = ChangedFiles(*record);
    });
    const QPointer<SessionKeeper> self(this);
    task.Finally(
        [self, path, recovered, record, why, changed](TaskOutcome outcome, const QString &failure) {
            if (!self || outcome == TaskOutcome::Cancelled)
                return;
            if (outcome != TaskOutcome::Done || !why->isEmpty()) {
                const QString reason = outcome == TaskOutcome::OutOfMemory
                    ? tr("There is not enough memory.")
                    : (why->isEmpty() ? failure : *why);
                ShowErrorBox(self->DialogParent(),
                             tr("Could not open the session \"%1\".\n\n%2").arg(path, reason));
                // A recovery session that cannot be read never will be.
                if (recovered)
                    self->RemoveRecovery();
                return;
            }
            if (!changed->isEmpty() && !self->ConfirmChangedFiles(*changed)) {
                // Offered again at the next start, when the files may be back.
                if (recovered)
                    self->recovery.Release();
                return;
            }
            self->ApplyRecord(*record, path, recovered);
        });
    window->Tasks()->Run(std::move(task));
}

bool SessionKeeper::ConfirmDiscardingChanges(const QString &question)
{
    return QMessageBox::question(DialogParent(), tr("Strandsight"), question,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

bool SessionKeeper::ConfirmChangedFiles(const QStringList &changed)
{
    QString list = changed.mid(0, kFilesNamed).join(QLatin1Char('\n'));
    if (changed.size() > kFilesNamed)
        list += QLatin1Char('\n')
            + tr("... and %n more.", nullptr, static_cast<int>(changed.size() - kFilesNamed));
    QMessageBox box(QMessageBox::Warning, tr("Strandsight"),
                    tr("These files have changed since the session was saved:\n%1").arg(list),
                    QMessageBox::NoButton, DialogParent());
    box.setObjectName(QStringLiteral("changedFilesPrompt"));
    box.setInformativeText(tr("Open the session with the files as they are now?"));
    QPushButton *open = box.addButton(tr("Open Anyway"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == open;
}

// The files load as the Load buttons load them (with their messages when a
// file cannot be read), each kind's changes replace it once more, then the
// picks, the look and the view come back. The loads run behind the windows,
// one after the other: each step goes on from the event loop once the one
// before has ended.
void SessionKeeper::ApplyRecord(const SessionRecord &record, const QString &path, bool recovered)
{
    opening = true;
    auto missing = std::make_shared<QStringList>();
    const auto later
        = [this](std::function<void()> step) { QTimer::singleShot(0, this, std::move(step)); };
    const auto finish = [this, record, path, recovered, missing] {
        window->SetPickedTexts(record.picks);
        ApplyView(record);
        opening = false;

        // What was opened is saved; what was recovered is not, until it is
        // saved in a session.
        savedChanges = changes;
        UnsavedChanges *unsaved = View()->Editor()->Changes();
        if (recovered) {
            sessionPath = record.sessionFile;
            ++changes;
            unsaved->MarkChanged(false);
        } else {
            sessionPath = path;
            RemoveRecovery();
            unsaved->MarkAllSaved();
        }
        if (!missing->isEmpty())
            ShowErrorBox(DialogParent(),
                         tr("The session was opened without %1, which could not be loaded; "
                            "their changes were not applied.")
                             .arg(missing->join(tr(" and "))));
        emit SessionOpened(path);
    };
    const auto tracks = [this, record, missing, finish, later] {
        ApplyTracks(record, false, [this, record, missing, finish, later](bool nonErrorLoaded) {
            if (!nonErrorLoaded)
                *missing << tr("the non-error tracks");
            later([this, record, missing, finish] {
                ApplyTracks(record, true, [missing, finish](bool errorLoaded) {
                    if (!errorLoaded)
                        *missing << tr("the error tracks");
                    finish();
                });
            });
        });
    };
    if (record.images.empty()) {
        tracks();
        return;
    }
    window->LoadImageFiles(FilePaths(record.images), [missing, tracks, later](bool loaded) {
        if (!loaded)
            *missing << tr("the images");
        later(tracks);
    });
}

void SessionKeeper::ApplyTracks(const SessionRecord &record, bool error,
                                std::function<void(bool loaded)> done)
{
    const SessionTracks &tracks = record.Tracks(error);
    const auto loadEnded = [this, changes = tracks.changes, error, done](bool loaded) {
        if (!loaded) {
            // Not a mix of the review before and the session.
            window->ReplaceTrackSet({}, error);
        } else if (!changes.Empty()) {
            ApplyChangesAsEdits(error, changes);
        }
        done(loaded);
    };
    if (tracks.source == TrackSource::TrackFiles) {
        window->LoadTrackSet(FilePaths(tracks.files), error, loadEnded);
    } else if (tracks.source == TrackSource::Csv) {
        CsvTracks table;
        QString why;
        const QString csv = tracks.files.front().path;
        const bool read = ReadTracksCsv(csv, table, why);
        if (read)
            ReplaceFromCsv(
                csv, table.hasKind && error ? std::move(table.error) : std::move(table.nonError),
                error);
        else
            ShowErrorBox(DialogParent(), tr("Could not import \"%1\": %2").arg(csv, why));
        loadEnded(read);
    } else {
        window->ReplaceTrackSet({}, error);
        loadEnded(true);
    }
}

// The changes go in as edits do: only the markers and list entries of the
// tracks they name are made again, rather than every marker of a kind of
// tens of thousands of tracks a second time. The tracks as loaded stay those
// of the files, which later changes are found against.
void SessionKeeper::ApplyChangesAsEdits(bool error, const TrackChanges &changes)
{
    TFormTrackView *view = View();
    TrackTable &tracks = error ? view->errTracks : view->corrTracks;
    ColorTable &colors = error ? view->errColors : view->corrColors;
    std::vector<unsigned int> ids = changes.deleted;
    std::vector<unsigned int> created;
    for (const unsigned int id : changes.deleted) {
        tracks.erase(id);
        colors.erase(id);
    }
    for (const auto &[id, points] : changes.changed) {
        ids.push_back(id);
        if (!tracks.count(id))
            created.push_back(id); // ascending, as the table is
        tracks.insert_or_assign(id, points);
        // A track created in the review gets a colour as one created by hand.
        if (!colors.count(id))
            colors.insert_or_assign(id, view->ChooseNewTrackColor(points));
    }
    TrackScene *scene = view->scene;
    scene->SyncFibers(error, tracks, colors, ids);
    // New markers are shown, as for a track just created by hand; after a
    // load every marker waits for a Show.
    const auto hide = [&created](const auto &markers) {
        for (auto *marker : markers) {
            if (std::binary_search(created.begin(), created.end(), marker->id))
                marker->HideFiber();
        }
    };
    if (!created.empty()) {
        if (error)
            hide(scene->ErrorFibers());
        else
            hide(scene->NormalFibers());
    }
    view->NotifyTracksEdited(error, ids);
}

// After the loads, which clear the reviewed marks and the current track of
// their kind. The current track is set before the image and the zoom, which
// it leaves where they are.
void SessionKeeper::ApplyView(const SessionRecord &record)
{
    TrackReviewer *reviewer = window->Reviewer();
    for (const bool error : { false, true })
        reviewer->SetReviewedIds(error, record.Tracks(error).reviewed);
    if (record.currentTrack.set)
        reviewer->SetCurrentTrack({ record.currentTrack.error, record.currentTrack.id });
    else
        reviewer->ClearCurrentTrack();
    TFormTrackView *view = View();
    view->scene->SetMarkerRadius(record.markerRadius);
    view->Form()->actionOutlineMarkers->setChecked(record.outlineMarkers);
    for (QAction *action : view->Form()->menuView->actions()) {
        const auto option = record.options.find(action->objectName());
        if (action->isCheckable() && option != record.options.end())
            action->setChecked(option->second);
    }
    const int count = view->ImageCount();
    if (count > 0)
        view->GoToImage(std::min(record.image, count - 1));
    if (record.fitted)
        view->GraphicsView()->FitToWindow();
    else
        view->GraphicsView()->ZoomAt(record.zoom, record.centre);
}
