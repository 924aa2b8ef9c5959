#pragma once

#include "model/tracktypes.h"
#include "review/loadselection.h"

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QListWidget;
class TaskControl;
class TaskRunner;
class TFormStrandsightForm;
class TFormTrackView;
class TrackReviewer;
struct PendingSave;
struct SaveResult;
struct TrackLoad;
struct TrackRef;
enum class TaskOutcome;

// The main window: loads images and track sets (through its dialogs, from the
// command line or dropped on either window), lists the tracks of each kind,
// collects picks and saves picked (or all but picked) tracks as track-file sets.
// It owns the view window, which holds the scene and the track registry.
class TFormStrandsight : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFormStrandsight(QWidget *parent = nullptr);
    ~TFormStrandsight() override;

    TFormTrackView *ViewWindow() const { return viewWindow.get(); }
    QString WorkingDirectory() const { return workingDirectory; }
    // Runs the program's long work (loads, saves) one task at a time behind
    // both windows, with its progress window over this one.
    TaskRunner *Tasks() const { return tasks; }
    // The review queue of the Track View: the current track and the reviewed
    // marks, the track table and the strip.
    TrackReviewer *Reviewer() const { return reviewer; }

    // What the load slots do once their file dialog has been answered; files
    // in any order (they are sorted by name here). A track set loads behind
    // the windows, as a task of Tasks(): this returns at once, and done (if
    // given) runs once the load has ended, with false when nothing changed (a
    // file could not be read, the set does not fit in memory, or the user
    // cancelled; a message has said why, but for a cancel).
    void LoadTrackSet(const QStringList &files, bool error,
                      std::function<void(bool loaded)> done = {});
    // Queues opening an image sequence on Tasks() and returns at once; done,
    // if given, is called at the end with whether the sequence shown was
    // replaced (false when the load was cancelled or refused).
    void LoadImageFiles(const QStringList &files, std::function<void(bool loaded)> done = {});

    // The files of the last complete load of images or of a kind of tracks
    // (sorted, as loaded); empty for a kind replaced otherwise.
    QStringList ImageFiles() const { return imageFiles; }
    QStringList TrackFiles(bool error) const { return error ? errFiles : corrFiles; }
    // Replaces a kind's tracks as a load does (its picks go, its list and
    // markers are rebuilt), with tracks that did not come from track files.
    void ReplaceTrackSet(TrackTable tracks, bool error);

    // The picked list's texts ("12", "E7"), and replacing them all.
    QStringList PickedTexts() const;
    void SetPickedTexts(const QStringList &texts);

    // Loads what the command line names, as the load buttons would, images
    // first. Paths are files or folders; a kind with a path that does not
    // exist or holds no matching file is not loaded, and the path is named in
    // the usual load-failure message with the reason. An empty list leaves
    // its kind alone. The track sets load behind the windows, one after the
    // other: this returns before they have.
    void OpenPaths(const QStringList &images, const QStringList &nonError,
                   const QStringList &error);

signals:
    // Picks were added or removed (also by a load dropping a kind's picks).
    void PicksChanged();
    // A session file (*.strandsight) was dropped on either window. Such
    // drops are taken only while something is connected here to open them.
    void SessionDropped(const QString &path);

public slots:
    void ShowReviewWindow();
    // Closes both windows, which ends the program.
    void Quit();

protected:
    // Drops of image or track files on either window, and closing the view
    // window.
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void DeleteCorrPicks();
    void DeleteErrPicks();
    void Directory();
    void LoadImageSeq();
    void LoadCorr();
    void LoadErr();
    void PickCorr();
    void PickErr();
    void Remove();
    void RemoveAll();
    void Save();
    void SaveInvert();
    void SelectAllCorr();
    void SelectAllError();
    void SelectAllPick();
    void ShowPick();
    void ShowViewForm();
    void UnselectCorr();
    void UnselectError();
    void UnselectPick();
    void AddNewLabel(unsigned int label, bool error);
    void ShowMaskedSelection(const std::vector<unsigned int> &norms,
                             const std::vector<unsigned int> &errs);
    // The id lists follow tracks added or deleted by edits.
    void FollowEditedIds(bool error, const std::vector<unsigned int> &ids);
    void ShowUnsavedChanges(bool modified);

private:
    void ConnectForm();
    void ConnectViewWindow();
    // The lists lead to the review queue, and its picks to the picked list.
    void ConnectReviewer();
    void TogglePick(TrackRef track);
    void ScheduleListCounts();
    void UpdateListCounts();
    void SchedulePickedUpdate();
    void ChangePicks(const QString &name, const QStringList &added, const QStringList &removed);
    // Whether closing window may go on: when it would end the program with
    // changes unsaved, the user is asked first.
    bool MayClose(QWidget *window);
    void ConnectFileMenu();

    // Loading. A track set is read, its markers made and its list entries
    // prepared aside (TrackLoad); the registry, the markers, the list and the
    // picks of its kind are replaced together at the end (ReplaceTracks), so
    // a load that fails or is cancelled at any stage changes nothing.
    bool ChooseLoadFiles(const QString &filter, QStringList &files);
    void LoadTracksChosen(bool error);
    bool MakeMarkers(TrackLoad &load, TaskControl &control);
    void ReplaceTracks(TrackLoad &load);
    void ReportFailedLoad(const TrackLoad &load, TaskOutcome outcome, const QString &failure);
    // Fills list with labels already in the list's own order.
    void FillIdList(QListWidget *list, const QStringList &labels);
    // Tracks the images cannot show (files beyond the last image, points
    // outside the slices), of either kind or both, told in one message.
    void WarnTracksOutsideImages(bool corr, bool err);
    // The image sequence: what could not be shown of it is named in one
    // message when the first pass over its slices ends.
    void ConnectImageLoading();
    void ReportImageProblems(const std::vector<unsigned int> &failed);

    // Opening paths given on the command line or dropped.
    bool ExpandOrReport(const QStringList &paths, LoadKind kind, QStringList &files);
    void AcceptFileDrops(QWidget *window);
    void LoadDrop(QWidget *window, LoadKind kind, const QStringList &files);
    // The session file that paths are, if they are one and a session can be
    // opened here; empty otherwise.
    QString DroppedSession(const QStringList &paths);

    // Saving: each kind's prompts run on the GUI thread (SaveNextKind), then
    // its set is written as a task (WriteKind); the next kind's prompts follow
    // when it has ended.
    void SaveSelection(bool invert);
    void SplitPickedIds(std::vector<unsigned int> &norms, std::vector<unsigned int> &errs) const;
    void SaveNextKind(const std::shared_ptr<PendingSave> &save);
    void WriteKind(const std::shared_ptr<PendingSave> &save);
    void SaveEnded(const std::shared_ptr<PendingSave> &save, const SaveResult &result,
                   TaskOutcome outcome, const QString &error);
    bool ChooseSaveDirectory(bool error, QString &directory);
    bool PromptBaseFilename(bool error, QString &base);
    bool ConfirmOverwrite();
    void ShowHint(const QString &text);

    TFormStrandsightForm *form;
    std::unique_ptr<TFormTrackView> viewWindow;
    TaskRunner *tasks;
    TrackReviewer *reviewer = nullptr;
    bool pickedUpdatePending = false;
    bool listCountsPending = false;
    QString workingDirectory;
    // The files of the last complete load of images or of each kind of
    // tracks (sorted, as loaded): a track's image is the position of its file,
    // so more files than images leave tracks unseen.
    QStringList imageFiles;
    QStringList corrFiles;
    QStringList errFiles;
    // The drop being dragged over a window, read once when it enters.
    bool dropLoadable = false;
    LoadKind dropKind = LoadKind::Images;
    QStringList dropFiles;
    QString dropSession;
};
