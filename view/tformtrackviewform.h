#pragma once

class QAction;
class QGridLayout;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QSlider;
class QSpacerItem;
class QStatusBar;
class QToolButton;
class QWidget;
class TrackGraphicsView;

// The view window's widgets, built once by setupUi; the widgets belong to their
// Qt parents, these pointers only find them.
class TFormTrackViewForm
{
public:
    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);

    QWidget *centralwidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    TrackGraphicsView *graphicsView = nullptr;
    QToolButton *btMask = nullptr;
    QToolButton *btRemove = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QSlider *hsImage = nullptr;
    QToolButton *btCancel = nullptr;
    QToolButton *btNew = nullptr;
    QToolButton *btAdd = nullptr;

    QMenuBar *menubar = nullptr;
    // The "File" menu: sessions, tracks as CSV, pictures of the view, the
    // review window and quitting.
    QMenu *menuFile = nullptr;
    QAction *actionOpenSession = nullptr;
    QAction *actionSaveSession = nullptr;
    QAction *actionSaveSessionAs = nullptr;
    QAction *actionImportCsv = nullptr;
    QAction *actionExportCsv = nullptr;
    QAction *actionExportViewImage = nullptr;
    QAction *actionShowReviewWindow = nullptr;
    QAction *actionQuit = nullptr;

    // The "Edit" menu: undo, and correcting tracks.
    QMenu *menuEdit = nullptr;
    QAction *actionUndo = nullptr;
    QAction *actionRedo = nullptr;
    QAction *actionEditPoints = nullptr;
    QAction *actionDeletePoint = nullptr;
    QAction *actionDeleteTrack = nullptr;
    QAction *actionSplitTrack = nullptr;
    QAction *actionJoinTracks = nullptr;
    QAction *actionChangeKind = nullptr;
    // The "View" menu: how markers look, and the zoom.
    QMenu *menuView = nullptr;
    QAction *actionMarkerSize = nullptr;
    QAction *actionOutlineMarkers = nullptr;
    QAction *actionZoomIn = nullptr;
    QAction *actionZoomOut = nullptr;
    QAction *actionActualPixels = nullptr;
    QAction *actionFitToWindow = nullptr;
    QAction *actionKeepAspectRatio = nullptr;
    QAction *actionBrightColours = nullptr;
    QAction *actionTrackTails = nullptr;
    QAction *actionTailLength = nullptr;
    QAction *actionGoToImage = nullptr;

    // The status bar: the image shown, the cursor's position and pixel value,
    // the zoom, and "Editing points" while that mode is on. The image label
    // gives way to load and edit messages.
    QStatusBar *statusbar = nullptr;
    QLabel *lbImage = nullptr;
    QLabel *lbPosition = nullptr;
    QLabel *lbValue = nullptr;
    QLabel *lbZoom = nullptr;
    QLabel *lbMode = nullptr;
};
