#include "view/tformtrackview.h"

#include "view/tformtrackviewform.h"
#include "view/trackscene.h"

#include <QAbstractSlider>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QSlider>
#include <QStatusBar>
#include <QToolButton>
#include <QWheelEvent>

TFormTrackView::TFormTrackView(QWidget *parent)
    : QMainWindow(parent)
    , scene(new TrackScene(this))
    , ui(new TFormTrackViewForm)
    , creating(false)
{
    ui->setupUi(this);
    connect(ui->btNew, &QToolButton::clicked, this, &TFormTrackView::NewTrack);
    connect(ui->btAdd, &QToolButton::clicked, this, &TFormTrackView::AddTrack);
    connect(ui->hsImage, &QSlider::valueChanged, this, &TFormTrackView::SceneSwitch);
    connect(ui->btRemove, &QToolButton::clicked, this, &TFormTrackView::RemoveMask);
    connect(ui->btMask, &QToolButton::clicked, this, qOverload<>(&TFormTrackView::Mask));
    connect(ui->btCancel, &QToolButton::clicked, this, &TFormTrackView::CancelNewTrack);
    QMetaObject::connectSlotsByName(this);

    QGraphicsView *view = ui->graphicsView;
    view->setScene(scene);
    view->setDragMode(QGraphicsView::RubberBandDrag);
    view->setRenderHint(QPainter::Antialiasing);
    // Every marker moves on every image step; collecting a dirty region per
    // marker costs far more than repainting the whole viewport once.
    view->setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    // Clicks on the view (rubber band, placing points) must leave the keyboard
    // focus with the window, or the view would eat the arrow keys as scrolling.
    view->setFocusPolicy(Qt::NoFocus);
    view->show();

    setFocusPolicy(Qt::StrongFocus);
    // Start with the focus on the window itself, not on its first button: a
    // focused button would take the arrow keys to move the focus along.
    setFocus(Qt::OtherFocusReason);
}

TFormTrackView::~TFormTrackView()
{
    delete ui;
    delete scene;
}

void TFormTrackView::UpdateImageRange()
{
    const int count = scene->ImageCount();
    ui->hsImage->setMinimum(0);
    ui->hsImage->setMaximum(count > 0 ? count - 1 : 0);
    ui->hsImage->setSingleStep(1);
    ui->hsImage->setPageStep(1);
    // A new sequence starts at image 0 in the scene, while the slider keeps its
    // position when that is still in range (a shorter range clamps it, which
    // switches the scene itself). Bring the scene to the slider so the image
    // shown is the one the slider points at.
    if (count > 0 && scene->CurrentImage() != ui->hsImage->value())
        SceneSwitch(ui->hsImage->value());
}

int TFormTrackView::ImageCount() const { return scene->ImageCount(); }

void TFormTrackView::RefreshView()
{
    ui->graphicsView->update();
    ui->graphicsView->show();
}

void TFormTrackView::ShowLoadStatus(const QString &text)
{
    if (!findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly)) {
        // The first status bar takes its height from the view: lay the window
        // out now and fit the image again, or the view would scroll.
        statusBar()->show();
        layout()->activate();
        FitSceneInView();
    }
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text);
}

void TFormTrackView::SceneSwitch(int val)
{
    scene->SwitchImage(val);
    FitSceneInView();
}

void TFormTrackView::FitSceneInView()
{
    ui->graphicsView->fitInView(scene->sceneRect(), Qt::IgnoreAspectRatio);
}

void TFormTrackView::wheelEvent(QWheelEvent *event)
{
    // Touchpads open and close each gesture with an event that carries no
    // motion; counted as a backward notch it would undo the step just made.
    if (event->phase() != Qt::NoScrollPhase && event->angleDelta().isNull()) {
        event->accept();
        return;
    }
    if (event->angleDelta().y() > 0)
        ui->hsImage->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    else
        ui->hsImage->triggerAction(QAbstractSlider::SliderSingleStepSub);
}

void TFormTrackView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        ui->hsImage->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Up:
    case Qt::Key_Right:
        ui->hsImage->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    default:
        QWidget::keyPressEvent(event);
        break;
    }
}

void TFormTrackView::resizeEvent(QResizeEvent *event)
{
    FitSceneInView();
    event->accept();
}
