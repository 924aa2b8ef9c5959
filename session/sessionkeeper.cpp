#include "session/sessionkeeper.h"

#include "dialogs/informationbox.h"
#include "review/commandline.h"
#include "review/tformstrandsight.h"
#include "session/rememberedsettings.h"
#include "table/tformtracktable.h"
#include "table/trackreviewer.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/tformtrackviewform.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// A recovery write due while a load or a save runs waits this long again.
const int kBusyRetryMs = 1000;

} // namespace

SessionKeeper::SessionKeeper(TFormStrandsight *window, const QString &recoveryFolder)
    : QObject(window)
    , window(window)
    , settings(new RememberedSettings(this))
    , recovery(recoveryFolder)
    , autosave(new QTimer(this))
{
    autosave->setSingleShot(true);
    connect(autosave, &QTimer::timeout, this, &SessionKeeper::AutosaveDue);
    recoveryWriter.setMaxThreadCount(1);
    ConnectWindows();
    RememberSettings();
    // Tracks loaded before the keeper came count as loaded.
    for (const bool error : { false, true })
        TracksReplaced(error);
}

// Whatever is still being written is finished first (the pool waits).
SessionKeeper::~SessionKeeper() { recoveryWriter.waitForDone(); }

TFormTrackView *SessionKeeper::View() const { return window->ViewWindow(); }

// The File menu is in the view window: its questions and file dialogs open
// over it.
QWidget *SessionKeeper::DialogParent() const { return View(); }

void SessionKeeper::ConnectWindows()
{
    const TFormTrackViewForm *form = View()->Form();
    connect(form->actionOpenSession, &QAction::triggered, this,
            &SessionKeeper::ChooseSessionToOpen);
    connect(form->actionSaveSession, &QAction::triggered, this, &SessionKeeper::SaveSessionHere);
    connect(form->actionSaveSessionAs, &QAction::triggered, this,
            &SessionKeeper::ChooseSessionToSave);
    connect(form->actionImportCsv, &QAction::triggered, this, &SessionKeeper::ChooseCsvImport);
    connect(form->actionExportCsv, &QAction::triggered, this, &SessionKeeper::ChooseCsvExport);
    connect(form->actionExportViewImage, &QAction::triggered, this,
            &SessionKeeper::ChooseViewImageExport);

    connect(window, &TFormStrandsight::PicksChanged, this, &SessionKeeper::NoteChange);
    connect(View(), &TFormTrackView::NewFiber, this, &SessionKeeper::NoteChange);
    connect(View(), &TFormTrackView::TracksEdited, this, &SessionKeeper::NoteChange);
    connect(View(), &TFormTrackView::TracksReplaced, this, &SessionKeeper::TracksReplaced);
    connect(window->Reviewer(), &TrackReviewer::WentToTrack, this, &SessionKeeper::NoteChange);
    connect(window, &TFormStrandsight::SessionDropped, this, &SessionKeeper::OpenSession);
}

void SessionKeeper::RememberSettings()
{
    TrackScene *scene = View()->scene;
    settings->Remember(
        QStringLiteral("view/markerRadius"), [scene] { return scene->MarkerRadius(); },
        [scene](const QVariant &value) {
            bool ok = false;
            const int radius = value.toInt(&ok);
            if (ok && radius >= 1 && radius <= 50)
                scene->SetMarkerRadius(radius);
        });
    // Before the toggles: turning the tails on draws them at the length set.
    QAction *tailLength = View()->Form()->actionTailLength;
    settings->Remember(
        QStringLiteral("view/tailLength"), [tailLength] { return tailLength->data(); },
        [tailLength](const QVariant &value) {
            bool ok = false;
            const int length = value.toInt(&ok);
            if (ok && length >= 1 && length <= 100)
                tailLength->setData(length);
        });
    // Every toggle of the View menu, the outline of markers and the Track
    // Strip among them.
    settings->RememberCheckables(View()->Form()->menuView, QStringLiteral("view/"));
    settings->RememberWindow(window, QStringLiteral("windows/review"));
    settings->RememberWindow(View(), QStringLiteral("windows/view"));
    RememberTrackTable();
}

// The table window is made on first use: its place is remembered once it
// has been made, and it comes back open when it was open at the end.
void SessionKeeper::RememberTrackTable()
{
    const QPointer<TrackReviewer> reviewer(window->Reviewer());
    const QPointer<TFormTrackView> view(View());
    const auto made = [view]() -> TFormTrackTable * {
        return view ? view->findChild<TFormTrackTable *>(QString(), Qt::FindDirectChildrenOnly)
                    : nullptr;
    };
    settings->Remember(
        QStringLiteral("windows/trackTable"),
        [made] {
            const TFormTrackTable *table = made();
            return table ? QVariant(table->saveGeometry()) : QVariant();
        },
        [reviewer](const QVariant &value) {
            if (TFormTrackTable *table = reviewer ? reviewer->TableWindow() : nullptr)
                table->restoreGeometry(value.toByteArray());
        });
    settings->Remember(
        QStringLiteral("windows/trackTableShown"),
        [made] {
            const TFormTrackTable *table = made();
            // Asked at quitting, when the windows may be closed already: an
            // open table is hidden with its view window, not by itself.
            return QVariant(table && table->isVisibleTo(table->parentWidget()));
        },
        [this, reviewer](const QVariant &value) {
            // From the event loop: it opens over the view window, once that is up.
            if (value.toBool())
                QTimer::singleShot(0, this, [reviewer] {
                    if (reviewer)
                        reviewer->ShowTable();
                });
        });
}

// Copies the tracks as loaded once, at the load: edits change the registry's
// tables in place afterwards, and the changes are found against this copy.
void SessionKeeper::TracksReplaced(bool error)
{
    KindState &kind = Kind(error);
    const TrackTable &tracks = error ? View()->errTracks : View()->corrTracks;
    if (!csvSource.isEmpty()) {
        kind.source = TrackSource::Csv;
        kind.files = { DescribeFile(csvSource) };
    } else {
        kind.files = DescribeFiles(window->TrackFiles(error));
        kind.source = kind.files.empty() ? TrackSource::None : TrackSource::TrackFiles;
    }
    kind.loaded = tracks.empty() ? nullptr : std::make_shared<const TrackTable>(tracks);
    // The recovery session, if one is kept, follows the new files.
    if (HasUnsavedChanges() && !autosave->isActive())
        autosave->start(autosaveMs);
}

ReviewSnapshot SessionKeeper::TakeSnapshot()
{
    ReviewSnapshot snapshot;
    SessionRecord &record = snapshot.record;
    record.saved = QDateTime::currentDateTimeUtc();
    // Described when first saved after they were loaded; the files are read
    // slice by slice behind the window anyway.
    if (window->ImageFiles() != imagePaths) {
        imagePaths = window->ImageFiles();
        images = DescribeFiles(imagePaths);
    }
    record.images = images;
    const TFormTrackView *view = View();
    for (const bool error : { false, true }) {
        const KindState &kind = Kind(error);
        SessionTracks &tracks = record.Tracks(error);
        tracks.source = kind.source;
        tracks.files = kind.files;
        snapshot.loaded[error ? 1 : 0] = kind.loaded;
        snapshot.now[error ? 1 : 0] = error ? view->errTracks : view->corrTracks;
    }
    record.picks = window->PickedTexts();
    const TrackScene *scene = view->scene;
    record.image = std::max(0, scene->CurrentImage());
    const TrackGraphicsView *graphics = view->GraphicsView();
    record.fitted = graphics->IsFitted();
    record.zoom = record.fitted ? 1.0 : graphics->ZoomX();
    record.centre = record.fitted ? QPointF() : graphics->ViewCentre();
    record.markerRadius = scene->MarkerRadius();
    record.outlineMarkers = scene->OutlineMarkers();
    for (const QAction *action : view->Form()->menuView->actions()) {
        if (action->isCheckable() && !action->objectName().isEmpty())
            record.options[action->objectName()] = action->isChecked();
    }
    const TrackReviewer *reviewer = window->Reviewer();
    for (const bool error : { false, true })
        record.Tracks(error).reviewed = reviewer->ReviewedIds(error);
    if (reviewer->HasCurrentTrack()) {
        const TrackRef current = reviewer->CurrentTrack();
        record.currentTrack = { true, current.error, current.id };
    }
    record.sessionFile = sessionPath;
    return snapshot;
}

SessionRecord SessionKeeper::CurrentRecord() { return FinishRecord(TakeSnapshot()); }

void SessionKeeper::NoteChange()
{
    ++changes;
    if (!autosave->isActive())
        autosave->start(autosaveMs);
}

void SessionKeeper::SetAutosaveDelay(int ms) { autosaveMs = ms; }

void SessionKeeper::AutosaveDue()
{
    if (!HasUnsavedChanges())
        return;
    // A load or a save may be half way through replacing what the snapshot
    // reads, and an opening session is not the review yet.
    if (opening || window->Tasks()->Busy()) {
        autosave->start(kBusyRetryMs);
        return;
    }
    WriteRecovery();
}

// The copy is taken here, on the GUI thread; finding the changes and writing
// run on the recovery writer's thread, one write after the other, so that an
// older review never lands over a newer one.
void SessionKeeper::WriteRecovery()
{
    const QString path = recovery.Path();
    if (path.isEmpty()) {
        RecoveryWriteEnded(path,
                           tr("The folder %1 cannot be used.").arg(RecoveryStore::DefaultFolder()));
        return;
    }
    auto snapshot = std::make_shared<const ReviewSnapshot>(TakeSnapshot());
    auto *watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, path] {
        RecoveryWriteEnded(path, watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(&recoveryWriter, [snapshot, path]() -> QString {
        try {
            QString why;
            return WriteSnapshot(*snapshot, path, why) ? QString() : why;
        } catch (const std::bad_alloc &) {
            return tr("There is not enough memory.");
        }
    }));
}

void SessionKeeper::RecoveryWriteEnded(const QString &path, const QString &failure)
{
    if (failure.isEmpty()) {
        recoveryFailureShown = false;
        emit RecoveryWritten(path);
        return;
    }
    // Once, not every minute: the review itself is still all there.
    if (recoveryFailureShown)
        return;
    recoveryFailureShown = true;
    ShowErrorBox(DialogParent(),
                 tr("The review could not be saved for recovery after a crash: %1\n\nSave a "
                    "session to keep your changes.")
                     .arg(failure));
}

void SessionKeeper::RemoveRecovery()
{
    autosave->stop();
    const QString path = recovery.Claimed();
    if (path.isEmpty())
        return;
    // Queued behind any write still running, which it must follow.
    (void)QtConcurrent::run(&recoveryWriter, [path] { QFile::remove(path); });
}

void SessionKeeper::Quitting()
{
    settings->Store();
    autosave->stop();
    if (HasUnsavedChanges())
        WriteRecovery();
    else
        RemoveRecovery();
}

void SessionKeeper::Start(const CommandLine &commandLine)
{
    if (OfferRecovery())
        return;
    if (!commandLine.session.isEmpty())
        OpenSession(commandLine.session);
    else
        window->OpenPaths(commandLine.images, commandLine.nonError, commandLine.error);
}

bool SessionKeeper::OfferRecovery()
{
    for (const QString &orphan : recovery.Orphans()) {
        QMessageBox question(
            QMessageBox::Question, tr("Strandsight"),
            tr("Restore the review of %1?")
                .arg(QLocale().toString(QFileInfo(orphan).lastModified(), QLocale::ShortFormat)),
            QMessageBox::NoButton, window);
        question.setObjectName(QStringLiteral("restorePrompt"));
        QPushButton *restore = question.addButton(tr("Restore"), QMessageBox::AcceptRole);
        QPushButton *discard = question.addButton(tr("Discard"), QMessageBox::DestructiveRole);
        question.setDefaultButton(restore);
        question.setInformativeText(
            tr("Strandsight ended without saving these changes in a session."));
        question.exec();
        if (question.clickedButton() != restore && question.clickedButton() != discard)
            return false;
        if (!recovery.Adopt(orphan))
            continue; // another instance took it meanwhile
        if (question.clickedButton() == discard) {
            RemoveRecovery();
            continue; // an older one, left by another run, may follow
        }
        Open(orphan, true);
        return true;
    }
    return false;
}
