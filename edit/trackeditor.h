#pragma once

// Editing tracks with undo: every change of tracks and picks as one step of
// a bounded history.

#include "edit/trackchange.h"
#include "edit/trackedits.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <vector>

class QListWidget;
class QUndoStack;
class UnsavedChanges;

// Carries out edits on the registry and the picked list, each as one step of
// the undo history (Qt's undo stack), and reports every change of tracks, so
// that the markers and the lists follow. The history has no limit on its
// steps but one on the memory they hold: past it the oldest steps go.
class TrackEditor : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kDefaultHistoryLimit = 256LL * 1024 * 1024;

    explicit TrackEditor(TrackRegistry registry, QObject *parent = nullptr);
    ~TrackEditor() override;

    const TrackRegistry &Registry() const { return registry; }
    QUndoStack *History() const { return history; }
    UnsavedChanges *Changes() const { return changes; }

    // The review window's picked list, which steps change along with the
    // tracks (a deleted track's pick goes with it). Without one, nothing is
    // picked.
    void SetPickList(QListWidget *list) { picks = list; }
    bool IsPicked(TrackKey key) const;
    PickedTest Picked() const;

    // Carries plan out as a new step of the history, unless it was refused;
    // returns its message either way.
    QString Apply(EditPlan plan);

    // A kind was replaced by a load: the history no longer fits the tracks,
    // so it is cleared, and the kind has nothing left to save.
    void TracksLoaded(bool error);

    void SetHistoryLimit(qint64 bytes);
    qint64 HistoryLimit() const { return historyLimit; }
    // What the steps in the history hold, as TrackEdit::Bytes estimates it.
    qint64 HistoryBytes() const { return historyBytes; }

signals:
    // After a step was carried out, undone or redone: the tracks it added,
    // changed or deleted, in ascending order (non-error first). The registry
    // holds their new state already.
    void TracksChanged(const std::vector<TrackKey> &tracks);

private:
    class Step;

    void Perform(const TrackEdit &edit, bool forward);
    void TrimHistory();

    TrackRegistry registry;
    QUndoStack *history;
    UnsavedChanges *changes;
    QListWidget *picks = nullptr;
    qint64 historyLimit = kDefaultHistoryLimit;
    qint64 historyBytes = 0;
    // Set while the history is rebuilt without its oldest steps: the steps
    // pushed and undone then change nothing.
    bool rebuilding = false;
};
