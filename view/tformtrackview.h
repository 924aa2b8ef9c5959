#pragma once

#include "edit/trackchange.h"
#include "model/tracktypes.h"

#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QStringList>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QTimer;
class TrackEditor;
class TrackGraphicsView;
class TrackScene;
class TFormTrackViewForm;

// The second window: the track scene in a graphics view with a slider to step
// through the images, the tools for masks and for creating tracks by hand, and
// the registry of every track the program knows (points and colours per kind).
// The window takes the keys and the wheel itself (the graphics view takes no
// focus): arrows and the plain wheel step, Ctrl + wheel and the "View" menu's
// keys zoom, Shift + wheel and Space + drag pan. Its "Edit" menu corrects
// tracks through the track editor, which keeps the undo history.
class TFormTrackView : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFormTrackView(QWidget *parent = nullptr);
    ~TFormTrackView() override;

    void UpdateImageRange();
    int ImageCount() const;
    void RefreshView();
    // Shows what a load running behind the window is doing ("Loading images:
    // 120 of 300") in the status bar; an empty text clears it.
    void ShowLoadStatus(const QString &text);
    // The message the status bar shows in place of the image: the load, the
    // state of the current image, a slice that just failed.
    QString LoadStatus() const;

    // For views of the tracks that work with this window (the review queue):
    // makes image current as the slider would (an index outside the sequence
    // goes to its nearest end), the graphics view, the "View" menu, and room
    // for a widget under the image and its controls.
    void GoToImage(int image);
    TrackGraphicsView *GraphicsView() const;
    // The window's widgets and menus (the File menu's actions are wired by
    // their owners).
    TFormTrackViewForm *Form() const { return ui; }
    QMenu *ViewMenu() const;
    void AddUnderImage(QWidget *widget);

    // Registry operations.
    void AssignTrackColors(const TrackTable &tracks, ColorTable &colors);
    void CreateNormalFibers();
    void CreateErrorFibers();
    void AppendIdLabels(const TrackTable &tracks, QStringList &labels) const;

    // Colour of a track created by hand.
    QColor ChooseNewTrackColor(const PointMap &points) const;
    QColor RandomTrackColor() const;
    int MidHueOfWidestGap(const QList<QColor> &colours) const;

    TrackScene *scene;
    TrackTable corrTracks;
    TrackTable errTracks;
    ColorTable corrColors;
    ColorTable errColors;
    std::vector<unsigned int> maskedErrs;
    std::vector<unsigned int> maskedNorms;

    // Edits of the registry with their undo history, the picked list's
    // changes included, and whether anything is left unsaved.
    TrackEditor *Editor() const { return editor; }
    // "Undo" and "Redo", for other windows to offer with the same keys.
    QList<QAction *> HistoryActions() const;

    // Tell everything that shows tracks (lists, tables) that the registry
    // changed: a kind replaced whole by a load, or some of its tracks added,
    // changed or deleted.
    void NotifyTracksReplaced(bool error) { emit TracksReplaced(error); }
    void NotifyTracksEdited(bool error, const std::vector<unsigned int> &ids)
    {
        emit TracksEdited(error, ids);
    }

signals:
    void Mask(const std::vector<unsigned int> &norms, const std::vector<unsigned int> &errs);
    void NewFiber(unsigned int id, bool error);
    void TracksReplaced(bool error);
    void TracksEdited(bool error, const std::vector<unsigned int> &ids);
    // The scene shows image now (after a step, or a new sequence).
    void ImageSwitched(int image);

public slots:
    void SceneSwitch(int val);
    void Mask();
    void RemoveMask();
    void NewTrack();
    void AddTrack();
    void CancelNewTrack();

private slots:
    void AddNewErrorTrack();
    void AddNewNonErrorTrack();
    void ChooseMarkerSize();
    void ShowCursorStatus(QPointF scenePos);
    void ClearCursorStatus();
    void ShowZoomStatus();
    void RefreshPixelValue(int image);
    void ShowImageFailure(int image);
    void ShowLoadMessage();
    void ChooseTailLength();
    void AskImage();

    // The "Edit" menu (tformtrackview_edit.cpp).
    void Undo();
    void Redo();
    void SetEditingPoints(bool on);
    void DeletePoint();
    void DeleteTrack();
    void SplitTrack();
    void JoinTracks();
    void ChangeKind();
    void MovePoint(TrackKey key, int image, QPointF scenePos);
    void PlacePoint(QPointF scenePos);
    void FollowEdit(const std::vector<TrackKey> &tracks);
    void FollowSelection();
    void ForgetEdits();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void AddNewTrackOfKind(bool error);
    void ShowImageStatus();
    void ConnectViewOptions();
    bool StepKey(int key);

    void ConnectEditing();
    // The tracks an edit works on: the one under the pointer when its marker
    // is not selected, else those of the selected markers.
    std::vector<TrackKey> EditTargets() const;
    bool RefusedWhileCreating();
    std::optional<TrackKey> OneEditTarget(const QString &none, const QString &action);
    void ShowEditMessage(const QString &text);
    void UpdateMarkedPaths();
    void ReselectEditTarget();

    TFormTrackViewForm *ui;
    bool creating;
    QString loadProgress;
    // The last slice found undecodable, named for a few seconds.
    QString failureNotice;
    QTimer *failureNoticeTimer;
    TrackEditor *editor;
    // The track whose points a click places while points are edited: the one
    // selected last, kept while its marker is away on images where it has no
    // point (the toolkit deselects a marker that it hides).
    std::optional<TrackKey> editTarget;
    // The tracks the last edit left, whose paths stay drawn until the next
    // click in the view.
    std::vector<TrackKey> lastEdited;
    // Selections that change while images switch or an edit is followed are
    // not the user's.
    bool followingScene = false;
};
