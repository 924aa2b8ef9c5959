#include "view/tformtrackviewform.h"

#include "view/trackgraphicsview.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSizePolicy>
#include <QSlider>
#include <QSpacerItem>
#include <QStatusBar>
#include <QToolButton>
#include <QWidget>

namespace {

QLabel *StatusLabel(QStatusBar *bar, const char *name)
{
    auto *label = new QLabel(bar);
    label->setObjectName(QLatin1String(name));
    return label;
}

QAction *MenuAction(QMenu *menu, const char *name, QList<QKeySequence> shortcuts = {})
{
    auto *action = new QAction(menu);
    action->setObjectName(QLatin1String(name));
    action->setShortcuts(shortcuts);
    menu->addAction(action);
    return action;
}

} // namespace

void TFormTrackViewForm::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("TFormTrackView"));
    window->setWindowModality(Qt::NonModal);
    window->resize(800, 600);
    window->setMinimumSize(QSize(800, 600));
    window->setDockNestingEnabled(false);

    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    centralwidget->setMinimumSize(QSize(0, 0));

    gridLayout = new QGridLayout(centralwidget);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));

    graphicsView = new TrackGraphicsView(centralwidget);
    graphicsView->setObjectName(QStringLiteral("graphicsView"));
    gridLayout->addWidget(graphicsView, 0, 0, 1, 18);

    btMask = new QToolButton(centralwidget);
    btMask->setObjectName(QStringLiteral("btMask"));
    btMask->setCheckable(false);
    btMask->setChecked(false);
    gridLayout->addWidget(btMask, 1, 1, 1, 2);

    btRemove = new QToolButton(centralwidget);
    btRemove->setObjectName(QStringLiteral("btRemove"));
    gridLayout->addWidget(btRemove, 1, 3, 1, 2);

    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    gridLayout->addItem(horizontalSpacer, 1, 8, 1, 1);

    hsImage = new QSlider(centralwidget);
    hsImage->setObjectName(QStringLiteral("hsImage"));
    QSizePolicy sliderPolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    sliderPolicy.setHorizontalStretch(0);
    sliderPolicy.setVerticalStretch(0);
    sliderPolicy.setHeightForWidth(hsImage->sizePolicy().hasHeightForWidth());
    hsImage->setSizePolicy(sliderPolicy);
    hsImage->setOrientation(Qt::Horizontal);
    hsImage->setTickPosition(QSlider::NoTicks);
    gridLayout->addWidget(hsImage, 2, 0, 1, 17);

    btCancel = new QToolButton(centralwidget);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    gridLayout->addWidget(btCancel, 1, 15, 1, 2);

    btNew = new QToolButton(centralwidget);
    btNew->setObjectName(QStringLiteral("btNew"));
    gridLayout->addWidget(btNew, 1, 10, 1, 2);

    btAdd = new QToolButton(centralwidget);
    btAdd->setObjectName(QStringLiteral("btAdd"));
    gridLayout->addWidget(btAdd, 1, 12, 1, 3);

    window->setCentralWidget(centralwidget);

    menubar = new QMenuBar(window);
    menubar->setObjectName(QStringLiteral("menubar"));
    menuFile = new QMenu(menubar);
    menuFile->setObjectName(QStringLiteral("menuFile"));
    actionOpenSession
        = MenuAction(menuFile, "actionOpenSession", { QKeySequence(Qt::CTRL | Qt::Key_O) });
    actionSaveSession
        = MenuAction(menuFile, "actionSaveSession", { QKeySequence(Qt::CTRL | Qt::Key_S) });
    actionSaveSessionAs = MenuAction(menuFile, "actionSaveSessionAs",
                                     { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) });
    menuFile->addSeparator();
    actionImportCsv = MenuAction(menuFile, "actionImportCsv");
    actionExportCsv = MenuAction(menuFile, "actionExportCsv");
    actionExportViewImage = MenuAction(menuFile, "actionExportViewImage");
    menuFile->addSeparator();
    actionShowReviewWindow = MenuAction(menuFile, "actionShowReviewWindow");
    menuFile->addSeparator();
    actionQuit = MenuAction(menuFile, "actionQuit", { QKeySequence(Qt::CTRL | Qt::Key_Q) });
    menubar->addAction(menuFile->menuAction());
    menuEdit = new QMenu(menubar);
    menuEdit->setObjectName(QStringLiteral("menuEdit"));
    actionUndo = MenuAction(menuEdit, "actionUndo", { QKeySequence(Qt::CTRL | Qt::Key_Z) });
    actionRedo = MenuAction(
        menuEdit, "actionRedo",
        { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y) });
    menuEdit->addSeparator();
    actionEditPoints = MenuAction(menuEdit, "actionEditPoints", { QKeySequence(Qt::Key_E) });
    actionEditPoints->setCheckable(true);
    actionDeletePoint = MenuAction(menuEdit, "actionDeletePoint", { QKeySequence(Qt::Key_Delete) });
    actionDeleteTrack
        = MenuAction(menuEdit, "actionDeleteTrack", { QKeySequence(Qt::SHIFT | Qt::Key_Delete) });
    actionSplitTrack = MenuAction(menuEdit, "actionSplitTrack", { QKeySequence(Qt::Key_S) });
    actionJoinTracks = MenuAction(menuEdit, "actionJoinTracks", { QKeySequence(Qt::Key_J) });
    actionChangeKind = MenuAction(menuEdit, "actionChangeKind", { QKeySequence(Qt::Key_K) });
    menubar->addAction(menuEdit->menuAction());
    menuView = new QMenu(menubar);
    menuView->setObjectName(QStringLiteral("menuView"));
    actionMarkerSize = MenuAction(menuView, "actionMarkerSize");
    actionOutlineMarkers = MenuAction(menuView, "actionOutlineMarkers");
    actionOutlineMarkers->setCheckable(true);
    menuView->addSeparator();
    actionZoomIn = MenuAction(menuView, "actionZoomIn",
                              { QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal) });
    actionZoomOut = MenuAction(menuView, "actionZoomOut", { QKeySequence(Qt::Key_Minus) });
    actionActualPixels = MenuAction(menuView, "actionActualPixels", { QKeySequence(Qt::Key_1) });
    actionFitToWindow = MenuAction(menuView, "actionFitToWindow", { QKeySequence(Qt::Key_0) });
    actionKeepAspectRatio = MenuAction(menuView, "actionKeepAspectRatio");
    actionKeepAspectRatio->setCheckable(true);
    menuView->addSeparator();
    actionBrightColours = MenuAction(menuView, "actionBrightColours");
    actionBrightColours->setCheckable(true);
    actionTrackTails = MenuAction(menuView, "actionTrackTails", { QKeySequence(Qt::Key_T) });
    actionTrackTails->setCheckable(true);
    actionTailLength = MenuAction(menuView, "actionTailLength");
    menuView->addSeparator();
    actionGoToImage
        = MenuAction(menuView, "actionGoToImage", { QKeySequence(Qt::CTRL | Qt::Key_J) });
    menubar->addAction(menuView->menuAction());
    window->setMenuBar(menubar);

    statusbar = new QStatusBar(window);
    statusbar->setObjectName(QStringLiteral("statusbar"));
    lbImage = StatusLabel(statusbar, "lbImage");
    lbPosition = StatusLabel(statusbar, "lbPosition");
    lbValue = StatusLabel(statusbar, "lbValue");
    lbZoom = StatusLabel(statusbar, "lbZoom");
    lbMode = StatusLabel(statusbar, "lbMode");
    lbMode->hide();
    // Wide enough for the longest usual figures, so that the bar does not
    // shift as the cursor moves.
    const QFontMetrics metrics = lbPosition->fontMetrics();
    lbPosition->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("x 00000.0  y 00000.0")));
    lbValue->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("value 00000")));
    lbZoom->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("Fit 000 % x 000 %")));
    statusbar->addWidget(lbImage, 1);
    statusbar->addPermanentWidget(lbPosition);
    statusbar->addPermanentWidget(lbValue);
    statusbar->addPermanentWidget(lbZoom);
    statusbar->addPermanentWidget(lbMode);
    window->setStatusBar(statusbar);

    retranslateUi(window);
}

void TFormTrackViewForm::retranslateUi(QMainWindow *window)
{
    const char *context = "TFormTrackView";
    window->setWindowTitle(QApplication::translate(context, "Track View"));
    btMask->setToolTip(QApplication::translate(
        context,
        "<html><head/><body><p>Select Tracks from a drag-and-drop mask.</p></body></html>"));
    btMask->setText(QApplication::translate(context, "Mask Selection"));
    btRemove->setToolTip(QApplication::translate(
        context,
        "<html><head/><body><p>Clears the current selection and displays all "
        "Tracks.</p></body></html>"));
    btRemove->setText(QApplication::translate(context, "Clear Mask"));
    btCancel->setText(QApplication::translate(context, "Cancel Creation"));
    btNew->setToolTip(QApplication::translate(
        context,
        "<html><head/><body><p>Manually add a new Track to the image sequence. Click to place "
        "a Track Point in each image on a feature you want to track throughout the "
        "sequence.</p></body></html>"));
    btNew->setText(QApplication::translate(context, "Create Track"));
    btAdd->setToolTip(QApplication::translate(
        context,
        "<html><head/><body><p>Adds a new Track to the list view from the manually placed "
        "Track Points.</p></body></html>"));
    btAdd->setText(QApplication::translate(context, "Add Created Track"));

    menuFile->setTitle(QApplication::translate(context, "File"));
    actionOpenSession->setText(QApplication::translate(context, "Open Session..."));
    actionSaveSession->setText(QApplication::translate(context, "Save Session"));
    actionSaveSessionAs->setText(QApplication::translate(context, "Save Session As..."));
    actionImportCsv->setText(QApplication::translate(context, "Import Tracks from CSV..."));
    actionExportCsv->setText(QApplication::translate(context, "Export Tracks as CSV..."));
    actionExportViewImage->setText(QApplication::translate(context, "Export View Image..."));
    actionShowReviewWindow->setText(QApplication::translate(context, "Show Review Window"));
    actionQuit->setText(QApplication::translate(context, "Quit"));
    menuEdit->setTitle(QApplication::translate(context, "Edit"));
    actionUndo->setText(QApplication::translate(context, "Undo"));
    actionRedo->setText(QApplication::translate(context, "Redo"));
    actionEditPoints->setText(QApplication::translate(context, "Edit Points"));
    actionDeletePoint->setText(QApplication::translate(context, "Delete Point"));
    actionDeleteTrack->setText(QApplication::translate(context, "Delete Track"));
    actionSplitTrack->setText(QApplication::translate(context, "Split Track"));
    actionJoinTracks->setText(QApplication::translate(context, "Join Tracks"));
    actionChangeKind->setText(QApplication::translate(context, "Change Kind"));
    lbMode->setText(QApplication::translate(context, "Editing points"));
    menuView->setTitle(QApplication::translate(context, "View"));
    actionMarkerSize->setText(QApplication::translate(context, "Marker Size..."));
    actionOutlineMarkers->setText(QApplication::translate(context, "Outline Markers"));
    actionZoomIn->setText(QApplication::translate(context, "Zoom In"));
    actionZoomOut->setText(QApplication::translate(context, "Zoom Out"));
    actionActualPixels->setText(QApplication::translate(context, "Actual Pixels"));
    actionFitToWindow->setText(QApplication::translate(context, "Fit to Window"));
    actionKeepAspectRatio->setText(QApplication::translate(context, "Keep Aspect Ratio"));
    actionBrightColours->setText(QApplication::translate(context, "Bright Colours"));
    actionTrackTails->setText(QApplication::translate(context, "Track Tails"));
    actionTailLength->setText(QApplication::translate(context, "Tail Length..."));
    actionGoToImage->setText(QApplication::translate(context, "Go to Image..."));
    lbPosition->setToolTip(
        QApplication::translate(context, "The cursor's position in image pixels"));
    lbValue->setToolTip(QApplication::translate(context, "The pixel's value under the cursor"));
    lbZoom->setToolTip(QApplication::translate(context, "Screen pixels per image pixel"));
}
