#pragma once

#include "model/tracksetwriter.h"
#include "model/tracktypes.h"
#include "review/loadselection.h"

#include <QMainWindow>
#include <QString>
#include <memory>
#include <vector>

class QListWidget;
class TaskRunner;
class TFormStrandsightForm;
class TFormTrackView;

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

    // What the load slots do once their file dialog has been answered; files
    // in any order (they are sorted by name here). False when nothing changed
    // (a file could not be read, the load was cancelled or refused).
    bool LoadTrackSet(const QStringList &files, bool error);
    bool LoadImageFiles(const QStringList &files);

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
    // the usual load-failure message. An empty list leaves its kind alone.
    void OpenPaths(const QStringList &images, const QStringList &nonError,
                   const QStringList &error);

    // What a save does for one kind once directory and base filename are
    // known: one file per loaded image, all or nothing. On failure returns
    // false and tells which file failed and why; no file was replaced then.
    bool WriteTrackSet(const QString &directory, const QString &base,
                       const std::vector<unsigned int> &ids, const TrackTable &table, bool invert,
                       TrackSetWriter::Failure &failure) const;

signals:
    // Picks were added or removed (also by a load dropping a kind's picks).
    void PicksChanged();

public slots:
    void ShowReviewWindow();
    // Closes both windows, which ends the program.
    void Quit();

protected:
    // Drops of image or track files on either window.
    bool eventFilter(QObject *watched, QEvent *event) override;

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

private:
    void ConnectForm();
    void ConnectViewWindow();
    void ConnectFileMenu();

    // Loading. A track set is read into a scratch table (LoadTrackFiles runs
    // the dialog, ReadTrackFiles the files) and replaces the registry's table
    // of its kind (ReplaceTracks) only once every file has been read.
    bool ChooseLoadFiles(const QString &filter, QStringList &files);
    bool LoadTrackFiles(TrackTable &table);
    bool ReadTrackFiles(QStringList files, TrackTable &table);
    void ReplaceTracks(TrackTable &loaded, bool error);
    // Fills list with labels already in the list's own order.
    void FillIdList(QListWidget *list, const QStringList &labels);
    // The image sequence: its loader reports progress in the view window's
    // status bar and undecodable slices in a message once decoding rests.
    void ConnectImageLoading();
    void ReportUndecodedImages(const std::vector<unsigned int> &failed);

    // Opening paths given on the command line or dropped.
    bool ExpandOrReport(const QStringList &paths, LoadKind kind, QStringList &files);
    void AcceptFileDrops(QWidget *window);
    void LoadDrop(QWidget *window, LoadKind kind, const QStringList &files);

    // Saving.
    void SaveSelection(bool invert);
    void SplitPickedIds(std::vector<unsigned int> &norms, std::vector<unsigned int> &errs) const;
    bool SaveTracks(const std::vector<unsigned int> &ids, const TrackTable &table, bool error,
                    bool invert);
    bool ChooseSaveDirectory(bool error, QString &directory);
    bool PromptBaseFilename(QString &base);
    bool WouldOverwrite(const QString &directory, const QStringList &names) const;
    void ShowHint(const QString &text);

    TFormStrandsightForm *form;
    std::unique_ptr<TFormTrackView> viewWindow;
    TaskRunner *tasks;
    QString workingDirectory;
    QStringList imageFiles;
    QStringList corrFiles;
    QStringList errFiles;
    // The files ReadTrackFiles read last, until ReplaceTracks takes them.
    QStringList filesRead;
    // The drop being dragged over a window, read once when it enters.
    bool dropLoadable = false;
    LoadKind dropKind = LoadKind::Images;
    QStringList dropFiles;
};
