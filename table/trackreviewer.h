#pragma once

#include "table/trackmeasures.h"
#include "table/trackref.h"
#include "tasks/taskrunner.h"

#include <QObject>
#include <QPointer>
#include <set>
#include <vector>

class QAction;
class QLabel;
class TFormTrackTable;
class TFormTrackView;
class TrackStrip;
class TrackTableModel;

// The review queue of the Track View: the track under review (the current
// track), the tracks already reviewed, and the ways between them: the track
// table with its measures, "Go to Track...", N and Shift+N through the
// table's order, P to pick the current track, and the strip of crops along
// it. The table follows every change of the registry through the view
// window's signals; a large set is measured on helper threads through the
// task runner, which keeps loads and input from changing the tracks meanwhile.
class TrackReviewer : public QObject
{
    Q_OBJECT

public:
    // Adds its commands to view's "View" menu and its strip and status to view.
    TrackReviewer(TFormTrackView *view, TaskRunner *tasks, QObject *parent = nullptr);
    ~TrackReviewer() override;

    // What a session keeps. Reviewed marks last until their kind is loaded
    // again; ids not loaded are kept as given.
    std::vector<unsigned int> ReviewedIds(bool error) const;
    void SetReviewedIds(bool error, const std::vector<unsigned int> &ids);
    bool HasCurrentTrack() const { return hasCurrent; }
    TrackRef CurrentTrack() const { return current; }
    // Makes track current (its path drawn, the strip along it) without moving
    // the view or marking it reviewed; false for a track that is not loaded.
    bool SetCurrentTrack(TrackRef track);
    void ClearCurrentTrack();

    // Steps to the image of track's largest jump (its first image if it has
    // no step), centres its point at a zoom of at least 400 % and makes it
    // the current track, marked reviewed. False for a track not loaded.
    bool GoToTrack(TrackRef track);

    // The picked tracks as the picked list holds them, for the table's column.
    void SetPickedIds(const std::vector<unsigned int> &norms,
                      const std::vector<unsigned int> &errs);

    TrackTableModel *Model() const { return model; }
    // Made on first use, as a window of the view window.
    TFormTrackTable *TableWindow();
    TrackStrip *Strip() const;

    // Sets with at most this many points (200,000 at first) are measured on
    // the spot: sooner than a trip to a helper thread and back. Tests and the
    // benchmark set 0 to measure every set on helpers.
    void SetInlinePoints(qint64 points) { inlinePoints = points; }

public slots:
    void ShowTable();
    void NextTrack();
    void PreviousTrack();
    void PickCurrentTrack();
    void AskTrack();
    void ShowStrip(bool shown);

signals:
    // P in the Track View: the current track is to be picked, or unpicked.
    void PickToggled(TrackRef track);
    void CurrentTrackChanged();
    // The user went to a track (N, Shift+N, the table, "Go to Track..."): it
    // is current now and marked reviewed. Not emitted for marks and a current
    // track set from outside, nor for those a load clears.
    void WentToTrack(TrackRef track);

private:
    enum class Measures { Measured, Measuring, NotMeasured };

    const TrackTable &Tracks(bool error) const;
    void AddCommands();
    void TracksReplaced(bool error);
    void TracksEdited(bool error, const std::vector<unsigned int> &ids);
    void Measure(bool error);
    void MeasuringEnded(bool error, quint64 ticket, TaskOutcome outcome, const QString &failure,
                        const std::vector<TrackMeasure> &measures);
    void ApplyMeasures(bool error, const std::vector<TrackMeasure> &measures);
    void Step(int direction);
    void ShowMessage(const QString &text);
    void UpdateStatus();
    void FollowCurrentTrack();
    void UpdatePending();

    QPointer<TFormTrackView> view;
    TaskRunner *tasks;
    TrackTableModel *model;
    QPointer<TFormTrackTable> table;
    QPointer<TrackStrip> strip;
    QPointer<QLabel> status;
    QAction *stripAction = nullptr;

    bool hasCurrent = false;
    TrackRef current;
    // The row the current track had when it became current: the next track
    // of the queue once a filter has dropped the current one ("reviewed = no").
    int queueRow = -1;
    std::set<unsigned int> reviewed[2];
    std::vector<unsigned int> picked[2];
    Measures measures[2] = { Measures::Measured, Measures::Measured };
    quint64 generation[2] = { 0, 0 };
    qint64 inlinePoints = 200000;
};
