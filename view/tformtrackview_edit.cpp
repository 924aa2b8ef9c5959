#include "view/tformtrackview.h"

#include "dialogs/jointrackdialog.h"
#include "edit/trackeditor.h"
#include "edit/trackedits.h"
#include "model/fiber.h"
#include "view/tformtrackviewform.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QUndoStack>
#include <algorithm>

namespace {

// Edit messages stay this long in the status bar.
const int kMessageMs = 8000;

// More paths than this at once would hide the image.
const size_t kMarkedPathsShown = 16;

} // namespace

void TFormTrackView::ConnectEditing()
{
    QUndoStack *history = editor->History();
    TrackGraphicsView *view = ui->graphicsView;
    connect(ui->actionUndo, &QAction::triggered, this, &TFormTrackView::Undo);
    connect(ui->actionRedo, &QAction::triggered, this, &TFormTrackView::Redo);
    connect(ui->actionEditPoints, &QAction::toggled, this, &TFormTrackView::SetEditingPoints);
    connect(ui->actionDeletePoint, &QAction::triggered, this, &TFormTrackView::DeletePoint);
    connect(ui->actionDeleteTrack, &QAction::triggered, this, &TFormTrackView::DeleteTrack);
    connect(ui->actionSplitTrack, &QAction::triggered, this, &TFormTrackView::SplitTrack);
    connect(ui->actionJoinTracks, &QAction::triggered, this, &TFormTrackView::JoinTracks);
    connect(ui->actionChangeKind, &QAction::triggered, this, &TFormTrackView::ChangeKind);

    // Undo and Redo name the step they would take back or do again.
    QAction *undo = ui->actionUndo;
    QAction *redo = ui->actionRedo;
    const auto name = [this, history, undo, redo] {
        undo->setEnabled(history->canUndo());
        redo->setEnabled(history->canRedo());
        undo->setText(history->canUndo() ? tr("Undo %1").arg(history->undoText()) : tr("Undo"));
        redo->setText(history->canRedo() ? tr("Redo %1").arg(history->redoText()) : tr("Redo"));
    };
    connect(history, &QUndoStack::indexChanged, this, name);
    connect(history, &QUndoStack::cleanChanged, this, name);
    connect(history, &QUndoStack::canUndoChanged, this, name);
    connect(history, &QUndoStack::canRedoChanged, this, name);
    name();

    connect(editor, &TrackEditor::TracksChanged, this, &TFormTrackView::FollowEdit);
    connect(view, &TrackGraphicsView::PointDragged, this, &TFormTrackView::MovePoint);
    connect(view, &TrackGraphicsView::ImageClicked, this, &TFormTrackView::PlacePoint);
    connect(view, &TrackGraphicsView::Pressed, this, [this] {
        lastEdited.clear();
        UpdateMarkedPaths();
    });
    connect(scene, &QGraphicsScene::selectionChanged, this, &TFormTrackView::FollowSelection);
    connect(this, &TFormTrackView::TracksReplaced, this, &TFormTrackView::ForgetEdits);
}

QList<QAction *> TFormTrackView::HistoryActions() const
{
    return { ui->actionUndo, ui->actionRedo };
}

std::vector<TrackKey> TFormTrackView::EditTargets() const
{
    if (ui->graphicsView->CursorInside()) {
        if (const Fiber *hovered = scene->HoveredFiber()) {
            const TrackKey key { hovered->error, hovered->id };
            const QGraphicsItem *marker = scene->FindMarker(key);
            if (marker && !marker->isSelected())
                return { key };
        }
    }
    std::vector<TrackKey> keys;
    for (QGraphicsItem *item : scene->selectedItems()) {
        if (const Fiber *fiber = dynamic_cast<const Fiber *>(item))
            keys.push_back({ fiber->error, fiber->id });
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool TFormTrackView::RefusedWhileCreating()
{
    if (!creating)
        return false;
    ShowEditMessage(tr("A track is being created: add it or cancel it first."));
    return true;
}

void TFormTrackView::ShowEditMessage(const QString &text)
{
    if (!text.isEmpty())
        statusBar()->showMessage(text, kMessageMs);
}

void TFormTrackView::Undo()
{
    QUndoStack *history = editor->History();
    if (RefusedWhileCreating() || !history->canUndo())
        return;
    const QString name = history->undoText();
    history->undo();
    ShowEditMessage(tr("Undone: %1.").arg(name));
}

void TFormTrackView::Redo()
{
    QUndoStack *history = editor->History();
    if (RefusedWhileCreating() || !history->canRedo())
        return;
    const QString name = history->redoText();
    history->redo();
    ShowEditMessage(tr("Redone: %1.").arg(name));
}

void TFormTrackView::SetEditingPoints(bool on)
{
    ui->graphicsView->SetEditingPoints(on);
    ui->lbMode->setVisible(on);
    if (on)
        FollowSelection();
    UpdateMarkedPaths();
}

void TFormTrackView::DeletePoint()
{
    if (RefusedWhileCreating())
        return;
    const std::vector<TrackKey> keys = EditTargets();
    if (keys.empty()) {
        ShowEditMessage(tr("No track to delete a point of: rest the pointer on a marker or "
                           "select markers."));
        return;
    }
    ShowEditMessage(editor->Apply(
        PlanDeletePoints(editor->Registry(), keys, scene->CurrentImage(), editor->Picked())));
}

void TFormTrackView::DeleteTrack()
{
    if (RefusedWhileCreating())
        return;
    const std::vector<TrackKey> keys = EditTargets();
    if (keys.empty()) {
        ShowEditMessage(tr("No track to delete: rest the pointer on a marker or select markers."));
        return;
    }
    ShowEditMessage(editor->Apply(PlanDeleteTracks(editor->Registry(), keys, editor->Picked())));
}

// The one track an action works on, or nothing (and why in the status bar,
// none naming the lack of a track, action the action's name).
std::optional<TrackKey> TFormTrackView::OneEditTarget(const QString &none, const QString &action)
{
    if (RefusedWhileCreating())
        return std::nullopt;
    const std::vector<TrackKey> keys = EditTargets();
    if (keys.size() == 1)
        return keys.front();
    ShowEditMessage(
        keys.empty() ? tr("%1: rest the pointer on a marker or select one.").arg(none)
                     : tr("%1 tracks are selected: %2 works on one.").arg(keys.size()).arg(action));
    return std::nullopt;
}

void TFormTrackView::SplitTrack()
{
    const std::optional<TrackKey> key = OneEditTarget(tr("No track to split"), tr("Split Track"));
    if (!key)
        return;
    EditPlan plan
        = PlanSplitTrack(editor->Registry(), *key, scene->CurrentImage(),
                         [this](const PointMap &points) { return ChooseNewTrackColor(points); });
    const bool refused = plan.Refused();
    const TrackKey added = refused ? TrackKey() : plan.edit.changes.back().key;
    ShowEditMessage(editor->Apply(std::move(plan)));
    // The part from this image on is selected: it is usually the wrong one,
    // to be deleted or joined to another track next.
    if (refused)
        return;
    if (QGraphicsItem *marker = scene->FindMarker(added)) {
        scene->clearSelection();
        marker->setSelected(true);
    }
}

void TFormTrackView::JoinTracks()
{
    const std::optional<TrackKey> target = OneEditTarget(tr("No track to join"), tr("Join Tracks"));
    if (!target)
        return;
    const TrackKey key = *target;
    const std::optional<unsigned int> proposal
        = ProposeJoin(editor->Registry().Tracks(key.error), key.id);
    JoinTrackDialog prompt(TrackName(key), proposal ? QString::number(*proposal) : QString(), this);
    if (prompt.exec() != QDialog::Accepted)
        return;
    bool ok = false;
    const unsigned int other = prompt.idEdit->text().toUInt(&ok, 10);
    if (!ok) {
        ShowEditMessage(tr("No track id was given: nothing joined."));
        return;
    }
    ShowEditMessage(
        editor->Apply(PlanJoinTracks(editor->Registry(), key, other, editor->Picked())));
}

void TFormTrackView::ChangeKind()
{
    if (RefusedWhileCreating())
        return;
    const std::vector<TrackKey> keys = EditTargets();
    if (keys.empty()) {
        ShowEditMessage(tr("No track to change: rest the pointer on a marker or select markers."));
        return;
    }
    ShowEditMessage(editor->Apply(PlanChangeKind(editor->Registry(), keys, editor->Picked())));
}

void TFormTrackView::MovePoint(TrackKey key, int image, QPointF scenePos)
{
    if (creating)
        return;
    if (image != scene->CurrentImage()) {
        ShowEditMessage(tr("The image changed during the drag: the point stayed."));
        return;
    }
    if (!scene->sceneRect().contains(scenePos)) {
        ShowEditMessage(tr("A point must lie on the image: the point stayed."));
        return;
    }
    const TrackPoint point { static_cast<float>(scenePos.x()), static_cast<float>(scenePos.y()) };
    ShowEditMessage(editor->Apply(PlanPlacePoint(editor->Registry(), key, image, point)));
}

void TFormTrackView::PlacePoint(QPointF scenePos)
{
    if (creating)
        return;
    std::vector<TrackKey> keys = EditTargets();
    if (keys.empty() && editTarget)
        keys.push_back(*editTarget);
    if (keys.size() != 1) {
        ShowEditMessage(keys.empty() ? tr("Select the track to place a point of: click its "
                                          "marker.")
                                     : tr("%1 tracks are selected: select one to place its "
                                          "point.")
                                           .arg(keys.size()));
        return;
    }
    if (!scene->sceneRect().contains(scenePos)) {
        ShowEditMessage(tr("A point must lie on the image."));
        return;
    }
    const TrackPoint point { static_cast<float>(scenePos.x()), static_cast<float>(scenePos.y()) };
    ShowEditMessage(editor->Apply(
        PlanPlacePoint(editor->Registry(), keys.front(), scene->CurrentImage(), point)));
}

void TFormTrackView::FollowEdit(const std::vector<TrackKey> &tracks)
{
    followingScene = true;
    for (const bool error : { false, true }) {
        std::vector<unsigned int> ids;
        for (const TrackKey &key : tracks) {
            if (key.error == error)
                ids.push_back(key.id);
        }
        if (ids.empty())
            continue;
        scene->SyncFibers(error, error ? errTracks : corrTracks, error ? errColors : corrColors,
                          ids);
        NotifyTracksEdited(error, ids);
    }
    followingScene = false;

    const TrackRegistry &registry = editor->Registry();
    lastEdited.clear();
    for (const TrackKey &key : tracks) {
        if (registry.Find(key) && lastEdited.size() < kMarkedPathsShown)
            lastEdited.push_back(key);
    }
    if (editTarget && !registry.Find(*editTarget))
        editTarget.reset();
    UpdateMarkedPaths();
}

void TFormTrackView::FollowSelection()
{
    if (followingScene)
        return;
    const QList<QGraphicsItem *> selected = scene->selectedItems();
    const Fiber *fiber
        = selected.size() == 1 ? dynamic_cast<const Fiber *>(selected.front()) : nullptr;
    if (fiber)
        editTarget = TrackKey { fiber->error, fiber->id };
    else
        editTarget.reset();
    UpdateMarkedPaths();
}

void TFormTrackView::ReselectEditTarget()
{
    if (!ui->graphicsView->EditingPoints() || !editTarget || !scene->selectedItems().isEmpty())
        return;
    if (QGraphicsItem *marker = scene->FindMarker(*editTarget)) {
        if (marker->isVisible())
            marker->setSelected(true);
    }
}

void TFormTrackView::ForgetEdits()
{
    lastEdited.clear();
    editTarget.reset();
    UpdateMarkedPaths();
}

void TFormTrackView::UpdateMarkedPaths()
{
    std::vector<TrackKey> keys = lastEdited;
    if (ui->graphicsView->EditingPoints() && editTarget
        && std::find(keys.begin(), keys.end(), *editTarget) == keys.end())
        keys.push_back(*editTarget);
    scene->SetMarkedPaths(std::move(keys));
}
