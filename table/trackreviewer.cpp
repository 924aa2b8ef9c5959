#include "table/trackreviewer.h"

#include "dialogs/informationbox.h"
#include "table/tformtracktable.h"
#include "table/trackstrip.h"
#include "table/tracktablemodel.h"
#include "view/tformtrackview.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QRegularExpression>
#include <QStatusBar>
#include <memory>

namespace {

// Going to a track shows its point at least this large (screen pixels per
// image pixel).
const qreal kGoToZoom = 4.0;

const int kMessageMs = 4000;

// Room the layout leaves between the strip and the slider above it.
const int kStripSpacing = 6;

QString Count(int n)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(n);
}

QString TrackName(TrackRef track)
{
    return track.error ? TrackReviewer::tr("Error track %1").arg(track.id)
                       : TrackReviewer::tr("Track %1").arg(track.id);
}

// The ids and points of a table, for helpers that measure them while the
// task runner keeps the table from changing.
struct MeasureJob
{
    bool stale = false;
    std::vector<TrackToMeasure> tracks;
    std::vector<TrackMeasure> measures;
};

} // namespace

TrackReviewer::TrackReviewer(TFormTrackView *view, TaskRunner *tasks, QObject *parent)
    : QObject(parent)
    , view(view)
    , tasks(tasks)
    , model(new TrackTableModel(this))
    , strip(new TrackStrip(view->scene->ImageLoader(), view))
    , status(new QLabel(view))
{
    status->setObjectName(QStringLiteral("lbTrack"));
    view->statusBar()->addWidget(status);
    strip->hide();
    view->AddUnderImage(strip);
    strip->SetTrack([this]() -> const PointMap * {
        if (!hasCurrent)
            return nullptr;
        const TrackTable &tracks = Tracks(current.error);
        const auto found = tracks.find(current.id);
        return found == tracks.end() ? nullptr : &found->second;
    });
    connect(strip, &TrackStrip::ImageClicked, view, &TFormTrackView::GoToImage);
    connect(view, &TFormTrackView::ImageSwitched, strip, &TrackStrip::SetCurrentImage);
    connect(view, &TFormTrackView::TracksReplaced, this, &TrackReviewer::TracksReplaced);
    connect(view, &TFormTrackView::TracksEdited, this, &TrackReviewer::TracksEdited);
    connect(model, &TrackTableModel::CountsChanged, this, &TrackReviewer::UpdateStatus);
    AddCommands();
    // Tracks may be there already.
    Measure(false);
    Measure(true);
}

TrackReviewer::~TrackReviewer() = default;

const TrackTable &TrackReviewer::Tracks(bool error) const
{
    static const TrackTable none;
    if (!view)
        return none;
    return error ? view->errTracks : view->corrTracks;
}

void TrackReviewer::AddCommands()
{
    QMenu *menu = view->ViewMenu();
    menu->addSeparator();
    const auto add = [menu](const char *name, const QString &text, const QKeySequence &key) {
        auto *action = new QAction(text, menu);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        menu->addAction(action);
        return action;
    };
    connect(add("actionTrackTable", tr("Track Table"), QKeySequence(Qt::CTRL | Qt::Key_T)),
            &QAction::triggered, this, &TrackReviewer::ShowTable);
    connect(add("actionGoToTrack", tr("Go to Track..."), QKeySequence(Qt::CTRL | Qt::Key_G)),
            &QAction::triggered, this, &TrackReviewer::AskTrack);
    connect(add("actionNextTrack", tr("Next Track"), QKeySequence(Qt::Key_N)), &QAction::triggered,
            this, &TrackReviewer::NextTrack);
    connect(add("actionPreviousTrack", tr("Previous Track"), QKeySequence(Qt::SHIFT | Qt::Key_N)),
            &QAction::triggered, this, &TrackReviewer::PreviousTrack);
    connect(add("actionPickTrack", tr("Pick Track"), QKeySequence(Qt::Key_P)), &QAction::triggered,
            this, &TrackReviewer::PickCurrentTrack);
    stripAction = add("actionTrackStrip", tr("Track Strip"), QKeySequence(Qt::CTRL | Qt::Key_B));
    stripAction->setCheckable(true);
    connect(stripAction, &QAction::toggled, this, &TrackReviewer::ShowStrip);
}

TrackStrip *TrackReviewer::Strip() const { return strip; }

TFormTrackTable *TrackReviewer::TableWindow()
{
    if (!table && view) {
        table = new TFormTrackTable(model, view);
        connect(table, &TFormTrackTable::GoToTrack, this, [this](TrackRef track) {
            if (GoToTrack(track) && view) {
                // Forward, but the keyboard stays in the table.
                view->show();
                view->raise();
            }
        });
        table->ShowCurrentTrack(current, hasCurrent);
        UpdatePending();
    }
    return table;
}

void TrackReviewer::ShowTable()
{
    // A measuring cancelled earlier starts again.
    for (const bool error : { false, true }) {
        if (measures[error] == Measures::NotMeasured)
            Measure(error);
    }
    if (TFormTrackTable *window = TableWindow())
        window->Open();
}

void TrackReviewer::TracksReplaced(bool error)
{
    reviewed[error].clear();
    if (hasCurrent && current.error == error)
        ClearCurrentTrack();
    Measure(error);
    if (strip)
        strip->update();
}

void TrackReviewer::TracksEdited(bool error, const std::vector<unsigned int> &ids)
{
    if (measures[error] != Measures::Measured) {
        // The whole kind is measured (again) anyway.
        Measure(error);
        return;
    }
    const TrackTable &tracks = Tracks(error);
    std::vector<TrackMeasure> changed;
    std::vector<unsigned int> deleted;
    for (const unsigned int id : ids) {
        const auto found = tracks.find(id);
        if (found != tracks.end()) {
            changed.push_back(MeasureTrack(id, found->second));
            continue;
        }
        deleted.push_back(id);
        reviewed[error].erase(id);
        if (hasCurrent && current == TrackRef { error, id })
            ClearCurrentTrack();
    }
    model->UpdateTracks(error, changed, deleted);
    model->SetPicked(error, picked[error]);
    model->SetReviewed(error, ReviewedIds(error));
    if (strip)
        strip->update();
}

void TrackReviewer::Measure(bool error)
{
    const quint64 ticket = ++generation[error];
    const TrackTable &tracks = Tracks(error);
    qint64 points = 0;
    for (const auto &track : tracks)
        points += static_cast<qint64>(track.second.size());
    if (points <= inlinePoints || tracks.empty()) {
        std::vector<TrackMeasure> measured;
        measured.reserve(tracks.size());
        for (const auto &[id, track] : tracks)
            measured.push_back(MeasureTrack(id, track));
        ApplyMeasures(error, measured);
        return;
    }
    // Listed once measured.
    model->SetTracks(error, {});
    measures[error] = Measures::Measuring;
    UpdatePending();
    auto job = std::make_shared<MeasureJob>();
    QPointer<TrackReviewer> self(this);
    Task task(QStringLiteral("measureProgress"));
    // The snapshot is taken when the task starts: loads queued before it have
    // changed the table by then, and none can change it until it has ended.
    task.ThenOnGui([self, error, ticket, job](TaskControl &control) {
            control.SetStage(tr("Measuring the tracks"));
            if (!self || self->generation[error] != ticket) {
                job->stale = true;
                return false;
            }
            const TrackTable &tracks = self->Tracks(error);
            job->tracks.reserve(tracks.size());
            for (const auto &[id, points] : tracks)
                job->tracks.emplace_back(id, &points);
            return false;
        })
        .Then([job](TaskControl &control) {
            if (!job->stale)
                job->measures = MeasureTracks(job->tracks, control.CancelFlag());
        })
        .Finally([self, error, ticket, job](TaskOutcome outcome, const QString &failure) {
            if (self && !job->stale)
                self->MeasuringEnded(error, ticket, outcome, failure, job->measures);
        });
    tasks->Run(std::move(task));
}

void TrackReviewer::MeasuringEnded(bool error, quint64 ticket, TaskOutcome outcome,
                                   const QString &failure,
                                   const std::vector<TrackMeasure> &measured)
{
    if (ticket != generation[error])
        return;
    if (outcome == TaskOutcome::Done) {
        ApplyMeasures(error, measured);
        return;
    }
    measures[error] = Measures::NotMeasured;
    UpdatePending();
    const QString kind = error ? tr("error tracks") : tr("non-error tracks");
    if (outcome == TaskOutcome::OutOfMemory)
        ShowErrorBox(view,
                     tr("There was not enough memory to measure the %1: the Track Table "
                        "does not list them.")
                         .arg(kind));
    else if (outcome == TaskOutcome::Failed)
        ShowErrorBox(view, tr("The %1 could not be measured: %2").arg(kind, failure));
}

void TrackReviewer::ApplyMeasures(bool error, const std::vector<TrackMeasure> &measured)
{
    measures[error] = Measures::Measured;
    model->SetTracks(error, measured);
    model->SetPicked(error, picked[error]);
    model->SetReviewed(error, ReviewedIds(error));
    UpdatePending();
    if (table)
        table->ShowCurrentTrack(current, hasCurrent);
}

void TrackReviewer::UpdatePending()
{
    QStringList notes;
    for (const bool error : { false, true }) {
        const QString kind = error ? tr("error tracks") : tr("non-error tracks");
        if (measures[error] == Measures::Measuring)
            notes << tr("(measuring the %1...)").arg(kind);
        else if (measures[error] == Measures::NotMeasured)
            notes
                << tr("(the %1 are not measured: open the table again to measure them)").arg(kind);
    }
    if (table)
        table->SetPending(notes.join(QLatin1Char(' ')));
}

std::vector<unsigned int> TrackReviewer::ReviewedIds(bool error) const
{
    return { reviewed[error].begin(), reviewed[error].end() };
}

void TrackReviewer::SetReviewedIds(bool error, const std::vector<unsigned int> &ids)
{
    reviewed[error] = std::set<unsigned int>(ids.begin(), ids.end());
    model->SetReviewed(error, ids);
    UpdateStatus();
}

bool TrackReviewer::SetCurrentTrack(TrackRef track)
{
    if (!Tracks(track.error).count(track.id))
        return false;
    hasCurrent = true;
    current = track;
    if (view)
        view->scene->SetCurrentTrack(track.error, track.id);
    FollowCurrentTrack();
    return true;
}

void TrackReviewer::ClearCurrentTrack()
{
    if (!hasCurrent)
        return;
    hasCurrent = false;
    queueRow = -1;
    if (view)
        view->scene->ClearCurrentTrack();
    FollowCurrentTrack();
}

// The strip, the table's mark and the status follow the current track.
void TrackReviewer::FollowCurrentTrack()
{
    if (strip)
        strip->update();
    if (table)
        table->ShowCurrentTrack(current, hasCurrent);
    UpdateStatus();
    emit CurrentTrackChanged();
}

bool TrackReviewer::GoToTrack(TrackRef track)
{
    if (!view || !SetCurrentTrack(track))
        return false;
    const int rowBefore = model->RowOf(track);
    const TrackMeasure measure = MeasureTrack(track.id, Tracks(track.error).at(track.id));
    if (measure.first >= 0) {
        const int image = measure.jumpImage >= 0 ? measure.jumpImage : measure.first;
        view->GoToImage(image);
        // Looked up again: stepping ran the window's own code.
        const PointMap &points = Tracks(track.error).at(track.id);
        const auto point = points.find(static_cast<unsigned int>(image));
        if (point != points.end() && view->scene->CurrentImage() == image)
            view->GraphicsView()->ShowPoint(QPointF(point->second.x, point->second.y), kGoToZoom);
    }
    if (reviewed[track.error].insert(track.id).second)
        model->SetReviewed(track, true);
    const int rowAfter = model->RowOf(track);
    queueRow = rowAfter >= 0 ? rowAfter : rowBefore;
    if (table)
        table->ShowCurrentTrack(current, true);
    UpdateStatus();
    emit WentToTrack(track);
    return true;
}

void TrackReviewer::NextTrack() { Step(1); }

void TrackReviewer::PreviousTrack() { Step(-1); }

void TrackReviewer::Step(int direction)
{
    const int count = model->ShownCount();
    if (count == 0) {
        ShowMessage(tr("The Track Table lists no track."));
        return;
    }
    int row = direction > 0 ? 0 : count - 1;
    const int at = hasCurrent ? model->RowOf(current) : -1;
    if (at >= 0)
        row = at + direction;
    else if (hasCurrent && queueRow >= 0)
        // The current track left the list: the row in its place is next.
        row = direction > 0 ? queueRow : queueRow - 1;
    if (row < 0 || row >= count) {
        ShowMessage(direction > 0 ? tr("That was the last track of the Track Table.")
                                  : tr("That was the first track of the Track Table."));
        return;
    }
    GoToTrack(model->TrackAt(row));
}

void TrackReviewer::PickCurrentTrack()
{
    if (!hasCurrent) {
        ShowMessage(tr("There is no current track to pick: press N, or choose one in the Track "
                       "Table (Ctrl+T)."));
        return;
    }
    emit PickToggled(current);
}

void TrackReviewer::SetPickedIds(const std::vector<unsigned int> &norms,
                                 const std::vector<unsigned int> &errs)
{
    picked[false] = norms;
    picked[true] = errs;
    model->SetPicked(false, norms);
    model->SetPicked(true, errs);
}

void TrackReviewer::AskTrack()
{
    if (!view)
        return;
    bool ok = false;
    const QString text
        = QInputDialog::getText(view, tr("Go to Track"),
                                tr("Track id (E before the id of an error track, as in the "
                                   "picked list):"),
                                QLineEdit::Normal, QString(), &ok);
    if (!ok || text.trimmed().isEmpty())
        return;
    static const QRegularExpression pattern(QStringLiteral("^\\s*(E?)\\s*(\\d+)\\s*$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    bool number = false;
    const unsigned int id = match.hasMatch() ? match.captured(2).toUInt(&number) : 0;
    if (!number) {
        ShowInformationBox(view, tr("\"%1\" is not a track id.").arg(text.trimmed()));
        return;
    }
    TrackRef track { !match.captured(1).isEmpty(), id };
    // A plain id names a non-error track, or the error track if only that exists.
    if (!track.error && !Tracks(false).count(id) && Tracks(true).count(id))
        track.error = true;
    if (!GoToTrack(track))
        ShowInformationBox(view, tr("There is no %1.").arg(TrackName(track).toLower()));
}

void TrackReviewer::ShowStrip(bool shown)
{
    if (stripAction->isChecked() != shown) {
        stripAction->setChecked(shown); // which comes back here
        return;
    }
    if (!strip || !view || strip->isHidden() != shown)
        return;
    // The image keeps its room: the window grows by the strip and gives it
    // back. It also grows wide enough for the strip's least crops, which its
    // layout does not do for it (the window has a minimum size of its own).
    const bool sized = !view->isMaximized() && !view->isFullScreen();
    const int height = strip->sizeHint().height() + kStripSpacing;
    const QMargins margins = view->centralWidget()->layout()->contentsMargins();
    const int width = std::max(view->width(),
                               strip->sizeHint().width() + margins.left() + margins.right()
                                   + view->width() - view->centralWidget()->width());
    strip->setVisible(shown);
    strip->SetCurrentImage(view->scene->CurrentImage());
    if (sized)
        view->resize(shown ? width : view->width(), view->height() + (shown ? height : -height));
}

void TrackReviewer::ShowMessage(const QString &text)
{
    if (view)
        view->statusBar()->showMessage(text, kMessageMs);
}

void TrackReviewer::UpdateStatus()
{
    if (!status)
        return;
    if (!hasCurrent) {
        status->clear();
        return;
    }
    QString text = TrackName(current);
    const int row = model->RowOf(current);
    if (row >= 0)
        text += tr(" (%1 of %2)").arg(Count(row + 1), Count(model->ShownCount()));
    text += tr("  reviewed %1").arg(Count(model->ReviewedCount()));
    status->setText(text);
}
