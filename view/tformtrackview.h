#pragma once

#include "model/tracktypes.h"

#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QStringList>
#include <vector>

class TrackGraphicsView;
class TrackScene;
class TFormTrackViewForm;

// The second window: the track scene in a graphics view with a slider to step
// through the images, the tools for masks and for creating tracks by hand, and
// the registry of every track the program knows (points and colours per kind).
// The window takes the keys and the wheel itself (the graphics view takes no
// focus): arrows and the plain wheel step, Ctrl + wheel and the "View" menu's
// keys zoom, Shift + wheel and Space + drag pan.
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
    // The window's widgets and menus (the File menu's actions are wired by
    // their owners), its graphics view, and moving the slider to image.
    TFormTrackViewForm *Form() const { return ui; }
    TrackGraphicsView *GraphicsView() const;
    void ShowImage(int image);

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

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void AddNewTrackOfKind(bool error);
    void ShowImageStatus();

    TFormTrackViewForm *ui;
    bool creating;
};
