#include "view/tformtrackview.h"

#include "view/tformtrackviewform.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <cmath>

namespace {

QString Percent(qreal zoom)
{
    const qreal percent = zoom * 100.0;
    return QString::number(percent, 'f', percent < 10.0 ? 1 : 0) + QStringLiteral(" %");
}

} // namespace

void TFormTrackView::ShowLoadStatus(const QString &text)
{
    loadProgress = text;
    ShowLoadMessage();
}

void TFormTrackView::ShowImageFailure(int image)
{
    // The current image says so itself for as long as it is shown.
    if (image != scene->CurrentImage()) {
        failureNotice = scene->ImageProblem(image);
        failureNoticeTimer->start();
    }
    ShowLoadMessage();
}

QString TFormTrackView::LoadStatus() const
{
    QStringList parts;
    if (!loadProgress.isEmpty())
        parts << loadProgress;
    const int image = scene->CurrentImage();
    if (scene->CurrentImagePending())
        parts << tr("Loading %1").arg(scene->SliceName(image));
    else if (!scene->ImageProblem(image).isEmpty())
        parts << scene->ImageProblem(image);
    if (!failureNotice.isEmpty() && !parts.contains(failureNotice))
        parts << failureNotice;
    return parts.join(QStringLiteral("   "));
}

void TFormTrackView::ShowLoadMessage()
{
    const QString text = LoadStatus();
    if (text.isEmpty())
        statusBar()->clearMessage();
    else if (text != statusBar()->currentMessage())
        statusBar()->showMessage(text);
}

void TFormTrackView::ShowImageStatus()
{
    const int image = scene->CurrentImage();
    if (image < 0) {
        ui->lbImage->clear();
        return;
    }
    QString text = tr("Image %1 of %2").arg(image + 1).arg(scene->ImageCount());
    const QString name = scene->SliceName(image);
    if (!name.isEmpty())
        text += QStringLiteral("  ") + name;
    ui->lbImage->setText(text);
}

void TFormTrackView::ShowCursorStatus(QPointF scenePos)
{
    const int image = scene->CurrentImage();
    if (image < 0 || !scene->sceneRect().contains(scenePos)) {
        ui->lbPosition->clear();
        ui->lbValue->clear();
        return;
    }
    ui->lbPosition->setText(
        tr("x %1  y %2").arg(scenePos.x(), 0, 'f', 1).arg(scenePos.y(), 0, 'f', 1));
    const QPoint pixel(static_cast<int>(std::floor(scenePos.x())),
                       static_cast<int>(std::floor(scenePos.y())));
    const QString value = scene->PixelValueText(image, pixel);
    ui->lbValue->setText(value.isEmpty() ? QString() : tr("value %1").arg(value));
}

void TFormTrackView::ClearCursorStatus()
{
    ui->lbPosition->clear();
    ui->lbValue->clear();
}

void TFormTrackView::RefreshPixelValue(int image)
{
    if (ui->graphicsView->CursorInside() && image == scene->CurrentImage())
        ShowCursorStatus(ui->graphicsView->CursorScenePos());
}

void TFormTrackView::ShowZoomStatus()
{
    const TrackGraphicsView *view = ui->graphicsView;
    if (!view->IsFitted()) {
        ui->lbZoom->setText(Percent(view->ZoomX()));
        return;
    }
    // The fitted view stretches the image: two scales when they differ.
    const QString across = Percent(view->ZoomX());
    const QString down = Percent(view->ZoomY());
    ui->lbZoom->setText(across == down ? tr("Fit %1").arg(across)
                                       : tr("Fit %1 x %2").arg(across, down));
}
