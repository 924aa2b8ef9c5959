#include "view/tformtrackview.h"

#include "view/tformtrackviewform.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAbstractSlider>
#include <QAction>
#include <QInputDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QSlider>
#include <QStatusBar>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <cstdlib>

namespace {

// One wheel notch zooms one step of the ladder (a factor of the square root
// of two) and pans an eighth of the view.
const qreal kNotch = 120.0;

} // namespace

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

    TrackGraphicsView *view = ui->graphicsView;
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

    connect(ui->actionZoomIn, &QAction::triggered, view, &TrackGraphicsView::ZoomIn);
    connect(ui->actionZoomOut, &QAction::triggered, view, &TrackGraphicsView::ZoomOut);
    connect(ui->actionActualPixels, &QAction::triggered, view,
            &TrackGraphicsView::ShowActualPixels);
    connect(ui->actionFitToWindow, &QAction::triggered, view, &TrackGraphicsView::FitToWindow);
    connect(ui->actionMarkerSize, &QAction::triggered, this, &TFormTrackView::ChooseMarkerSize);
    connect(ui->actionOutlineMarkers, &QAction::toggled, scene, &TrackScene::SetOutlineMarkers);
    connect(view, &TrackGraphicsView::ZoomChanged, this, &TFormTrackView::ShowZoomStatus);
    connect(view, &TrackGraphicsView::CursorMoved, this, &TFormTrackView::ShowCursorStatus);
    connect(view, &TrackGraphicsView::CursorLeft, this, &TFormTrackView::ClearCursorStatus);
    connect(scene, &TrackScene::PixelValuesReady, this, &TFormTrackView::RefreshPixelValue);
    // Space pans while held; a focused button must not take it as a click.
    for (QToolButton *button : findChildren<QToolButton *>())
        button->installEventFilter(this);
    ShowZoomStatus();

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
    ui->graphicsView->SequenceLoaded();
    ShowImageStatus();
}

int TFormTrackView::ImageCount() const { return scene->ImageCount(); }

TrackGraphicsView *TFormTrackView::GraphicsView() const { return ui->graphicsView; }

void TFormTrackView::ShowImage(int image) { ui->hsImage->setValue(image); }

void TFormTrackView::RefreshView()
{
    ui->graphicsView->update();
    ui->graphicsView->show();
}

void TFormTrackView::SceneSwitch(int val)
{
    scene->SwitchImage(val);
    // Also brings the status of a still cursor to the new image.
    ui->graphicsView->ApplyZoom();
    ShowImageStatus();
}

void TFormTrackView::wheelEvent(QWheelEvent *event)
{
    // Touchpads open and close each gesture with an event that carries no
    // motion; counted as a backward notch it would undo the step just made.
    if (event->phase() != Qt::NoScrollPhase && event->angleDelta().isNull()) {
        event->accept();
        return;
    }
    // A sideways swipe or a tilted wheel counts as much as a turned one.
    const QPoint angle = event->angleDelta();
    const int delta = std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y();
    TrackGraphicsView *view = ui->graphicsView;
    if (event->modifiers() & Qt::ControlModifier) {
        // About the cursor when it is over the image, else about the centre.
        QPointF anchor = view->viewport()->mapFrom(this, event->position());
        if (!QRectF(view->viewport()->rect()).contains(anchor))
            anchor = view->ViewportMiddle();
        view->ZoomBy(std::pow(2.0, delta / (2.0 * kNotch)), anchor);
    } else if (event->modifiers() & Qt::ShiftModifier) {
        view->PanBy(QPoint(-qRound(delta / kNotch * view->viewport()->width() / 8.0), 0));
    } else if (delta > 0) {
        ui->hsImage->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    } else {
        ui->hsImage->triggerAction(QAbstractSlider::SliderSingleStepSub);
    }
    event->accept();
}

void TFormTrackView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            ui->graphicsView->SetPanKeyHeld(true);
        break;
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

void TFormTrackView::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat())
            ui->graphicsView->SetPanKeyHeld(false);
        return;
    }
    QMainWindow::keyReleaseEvent(event);
}

void TFormTrackView::changeEvent(QEvent *event)
{
    // The release of a key held while the window lost the focus never comes.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        ui->graphicsView->SetPanKeyHeld(false);
    QMainWindow::changeEvent(event);
}

bool TFormTrackView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Space) {
            if (event->type() == QEvent::KeyPress)
                keyPressEvent(key);
            else
                keyReleaseEvent(key);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormTrackView::ChooseMarkerSize()
{
    bool ok = false;
    const int radius = QInputDialog::getInt(this, tr("Marker Size"),
                                            tr("Marker radius in image pixels (1 to 50):"),
                                            scene->MarkerRadius(), 1, 50, 1, &ok);
    if (ok)
        scene->SetMarkerRadius(radius);
}
