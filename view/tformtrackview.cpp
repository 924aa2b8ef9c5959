#include "view/tformtrackview.h"

#include "view/tformtrackviewform.h"
#include "view/trackscene.h"

TFormTrackView::TFormTrackView(QWidget *parent)
    : QMainWindow(parent)
    , scene(new TrackScene(this))
    , ui(new TFormTrackViewForm)
    , creating(false)
{
    ui->setupUi(this);
}

TFormTrackView::~TFormTrackView()
{
    delete ui;
    delete scene;
}

void TFormTrackView::UpdateImageRange() {}
int TFormTrackView::ImageCount() const { return scene->ImageCount(); }
void TFormTrackView::RefreshView() {}
void TFormTrackView::SceneSwitch(int val) { scene->SwitchImage(val); }
void TFormTrackView::FitSceneInView() {}
void TFormTrackView::wheelEvent(QWheelEvent *event) { QMainWindow::wheelEvent(event); }
void TFormTrackView::keyPressEvent(QKeyEvent *event) { QMainWindow::keyPressEvent(event); }
void TFormTrackView::resizeEvent(QResizeEvent *event) { QMainWindow::resizeEvent(event); }
