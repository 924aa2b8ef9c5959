#include "view/tformtrackview.h"

#include "dialogs/informationbox.h"
#include "view/tformtrackviewform.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QAction>
#include <QGridLayout>
#include <QInputDialog>
#include <QMenu>
#include <QSlider>

namespace {

// Page Up and Page Down step this many images.
const int kPageImages = 10;

} // namespace

void TFormTrackView::ConnectViewOptions()
{
    connect(ui->actionKeepAspectRatio, &QAction::toggled, ui->graphicsView,
            &TrackGraphicsView::SetKeepAspectRatio);
    connect(ui->actionBrightColours, &QAction::toggled, scene, &TrackScene::SetBrightColours);
    connect(ui->actionTrackTails, &QAction::toggled, this, [this](bool on) {
        scene->SetTailLength(on ? ui->actionTailLength->data().toInt() : 0);
    });
    ui->actionTailLength->setData(5);
    connect(ui->actionTailLength, &QAction::triggered, this, &TFormTrackView::ChooseTailLength);
    connect(ui->actionGoToImage, &QAction::triggered, this, &TFormTrackView::AskImage);
    // The tooltip naming a hovered marker shows also while the review window
    // is the active one: the two windows are used side by side.
    setAttribute(Qt::WA_AlwaysShowToolTips);
}

void TFormTrackView::ChooseTailLength()
{
    bool ok = false;
    const int length = QInputDialog::getInt(
        this, tr("Tail Length"), tr("Images before and after the current one (1 to 100):"),
        ui->actionTailLength->data().toInt(), 1, 100, 1, &ok);
    if (!ok)
        return;
    ui->actionTailLength->setData(length);
    // Choosing a length means wanting to see the tails.
    if (ui->actionTrackTails->isChecked())
        scene->SetTailLength(length);
    else
        ui->actionTrackTails->setChecked(true);
}

void TFormTrackView::AskImage()
{
    const int count = scene->ImageCount();
    if (count == 0) {
        ShowInformationBox(this, tr("No images are loaded."));
        return;
    }
    bool ok = false;
    const int image
        = QInputDialog::getInt(this, tr("Go to Image"), tr("Image (1 to %1):").arg(count),
                               ui->hsImage->value() + 1, 1, count, 1, &ok);
    if (ok)
        GoToImage(image - 1);
}

bool TFormTrackView::StepKey(int key)
{
    QSlider *slider = ui->hsImage;
    switch (key) {
    case Qt::Key_Home:
        GoToImage(slider->minimum());
        return true;
    case Qt::Key_End:
        GoToImage(slider->maximum());
        return true;
    case Qt::Key_PageUp:
        GoToImage(slider->value() - kPageImages);
        return true;
    case Qt::Key_PageDown:
        GoToImage(slider->value() + kPageImages);
        return true;
    default:
        return false;
    }
}

void TFormTrackView::GoToImage(int image)
{
    ui->hsImage->setValue(std::clamp(image, ui->hsImage->minimum(), ui->hsImage->maximum()));
}

TrackGraphicsView *TFormTrackView::GraphicsView() const { return ui->graphicsView; }

QMenu *TFormTrackView::ViewMenu() const { return ui->menuView; }

void TFormTrackView::AddUnderImage(QWidget *widget)
{
    // Below the slider: the cells of the image and its controls stay as they are.
    ui->gridLayout->addWidget(widget, 3, 0, 1, 18);
}
