#include "edit/trackeditor.h"

#include "edit/sortedlist.h"
#include "edit/unsavedchanges.h"

#include <QUndoCommand>
#include <QUndoStack>
#include <algorithm>

// One step of the history. The edit is shared, so that rebuilding the history
// without its oldest steps can hand the others to new commands.
class TrackEditor::Step : public QUndoCommand
{
public:
    Step(TrackEditor *editor, std::shared_ptr<const TrackEdit> edit)
        : QUndoCommand(edit->name)
        , editor(editor)
        , edit(std::move(edit))
        , bytes(this->edit->Bytes())
    {
        editor->historyBytes += bytes;
    }
    ~Step() override { editor->historyBytes -= bytes; }

    void redo() override
    {
        if (!editor->rebuilding)
            editor->Perform(*edit, true);
    }
    void undo() override
    {
        if (!editor->rebuilding)
            editor->Perform(*edit, false);
    }

    const std::shared_ptr<const TrackEdit> &Edit() const { return edit; }
    qint64 Bytes() const { return bytes; }

private:
    TrackEditor *editor;
    std::shared_ptr<const TrackEdit> edit;
    qint64 bytes;
};

TrackEditor::TrackEditor(TrackRegistry registry, QObject *parent)
    : QObject(parent)
    , registry(registry)
    , history(new QUndoStack(this))
    , changes(new UnsavedChanges(this))
{
}

TrackEditor::~TrackEditor()
{
    // The steps count their memory here as they go.
    delete history;
}

bool TrackEditor::IsPicked(TrackKey key) const
{
    return picks && SortedContains(picks, PickText(key));
}

PickedTest TrackEditor::Picked() const
{
    return [this](TrackKey key) { return IsPicked(key); };
}

QString TrackEditor::Apply(EditPlan plan)
{
    if (!plan.Refused()) {
        history->push(new Step(this, std::make_shared<const TrackEdit>(std::move(plan.edit))));
        TrimHistory();
    }
    return plan.message;
}

void TrackEditor::TracksLoaded(bool error)
{
    history->clear();
    changes->MarkSaved(error);
}

void TrackEditor::SetHistoryLimit(qint64 bytes)
{
    historyLimit = bytes;
    TrimHistory();
}

void TrackEditor::Perform(const TrackEdit &edit, bool forward)
{
    std::vector<TrackKey> changed;
    QStringList added;
    QStringList removed;
    for (const TrackChange &change : edit.changes) {
        const TrackKey key = change.key;
        changes->MarkChanged(key.error);
        if (change.track) {
            const TrackState &state = forward ? change.after : change.before;
            TrackTable &tracks = registry.Tracks(key.error);
            ColorTable &colors = registry.Colors(key.error);
            if (state.present) {
                tracks.insert_or_assign(key.id, state.points);
                if (state.color.isValid())
                    colors.insert_or_assign(key.id, state.color);
                else
                    colors.erase(key.id);
            } else {
                tracks.erase(key.id);
                colors.erase(key.id);
            }
            changed.push_back(key);
        }
        if (change.pick) {
            const bool picked = forward ? change.pickedAfter : change.pickedBefore;
            (picked ? added : removed) << PickText(key);
        }
    }
    if (picks)
        ChangeSortedList(picks, added, removed);
    if (!changed.empty()) {
        std::sort(changed.begin(), changed.end());
        emit TracksChanged(changed);
    }
}

// Qt's undo stack drops old commands only by a count fixed while it is
// empty, so the history is rebuilt without its oldest steps instead: the
// steps kept are pushed again and those that were undone are undone again,
// with nothing carried out meanwhile. The newest step always stays.
void TrackEditor::TrimHistory()
{
    const int count = history->count();
    if (historyBytes <= historyLimit || count <= 1)
        return;
    int dropped = 0;
    qint64 bytes = historyBytes;
    while (dropped < count - 1 && bytes > historyLimit) {
        bytes -= static_cast<const Step *>(history->command(dropped))->Bytes();
        ++dropped;
    }
    std::vector<std::shared_ptr<const TrackEdit>> kept;
    for (int i = dropped; i < count; ++i)
        kept.push_back(static_cast<const Step *>(history->command(i))->Edit());
    const int undone = count - history->index();

    rebuilding = true;
    history->clear();
    for (const std::shared_ptr<const TrackEdit> &edit : kept)
        history->push(new Step(this, edit));
    for (int i = 0; i < undone && history->canUndo(); ++i)
        history->undo();
    rebuilding = false;
}
