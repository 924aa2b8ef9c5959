#pragma once

#include "model/tracksetwriter.h"
#include "model/tracktypes.h"

#include <QMainWindow>
#include <QString>
#include <memory>
#include <vector>

class QImage;
class QListWidget;
class TFormStrandsightForm;
class TFormTrackView;

// The main window: loads images and track sets, lists the tracks of each kind,
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

    // What the load slots do once their file dialog has been answered; files
    // in any order (they are sorted by name here). False when nothing changed
    // (a file could not be read, the load was cancelled or refused).
    bool LoadTrackSet(const QStringList &files, bool error);
    bool LoadImageFiles(const QStringList &files);

    // What a save does for one kind once directory and base filename are
    // known: one file per loaded image, all or nothing. On failure returns
    // false and tells which file failed and why; no file was replaced then.
    bool WriteTrackSet(const QString &directory, const QString &base,
                       const std::vector<unsigned int> &ids, const TrackTable &table, bool invert,
                       TrackSetWriter::Failure &failure) const;

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

    // Loading. A track set is read into a scratch table (LoadTrackFiles runs
    // the dialog, ReadTrackFiles the files) and replaces the registry's table
    // of its kind (ReplaceTracks) only once every file has been read.
    bool ChooseLoadFiles(const QString &filter, QStringList &files);
    bool LoadTrackFiles(TrackTable &table);
    bool ReadTrackFiles(QStringList files, TrackTable &table);
    void ReplaceTracks(TrackTable &loaded, bool error);
    void FillIdList(QListWidget *list, const TrackTable &table);
    bool DecodeImages(const QStringList &files, std::vector<QImage> &images,
                      std::vector<unsigned int> &failed);
    void ReportUndecodedImages(const QStringList &files, const std::vector<unsigned int> &failed);

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
    QString workingDirectory;
};
