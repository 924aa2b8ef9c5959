#include "testsupport.h"

#include "review/tformstrandsight.h"
#include "session/sessionkeeper.h"
#include "view/tformtrackview.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

namespace {

const QColor kBackground(30, 30, 30);

bool IsMarker(QRgb pixel) { return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60; }
bool IsBackground(QRgb pixel)
{
    return std::abs(qRed(pixel) - 30) < 8 && std::abs(qGreen(pixel) - 30) < 8
        && std::abs(qBlue(pixel) - 30) < 8;
}

QString Pixel(QRgb pixel)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}

} // namespace

// The pictures "Export View Image..." writes, read back from the PNG files:
// a red marker at image point (16, 12) on a dark 64 x 48 image.
class TestViewImage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void shownViewHasMarkersWhereTheViewShowsThem();
    void imagePixelsAreTheVisiblePartAtFullSize();

private:
    QImage Export(bool imagePixels);

    QTemporaryDir dir;
    std::unique_ptr<TFormStrandsight> window;
    SessionKeeper *keeper = nullptr;
    TFormTrackView *view = nullptr;
};

void TestViewImage::init()
{
    window = std::make_unique<TFormStrandsight>();
    keeper = new SessionKeeper(window.get(), dir.filePath(QStringLiteral("recovery")));
    view = window->ViewWindow();
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(kBackground);
    view->scene->SetImages({ image });
    view->UpdateImageRange();
    view->scene->SetMarkerRadius(3);
    PointMap points;
    points.insert_or_assign(0u, TrackPoint { 16.0f, 12.0f });
    view->scene->AddNormalFiber(1, points, QColor(Qt::red));
    view->scene->ShowNormalFibers();
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
}

QImage TestViewImage::Export(bool imagePixels)
{
    const QString path
        = dir.filePath(imagePixels ? QStringLiteral("pixels.png") : QStringLiteral("shown.png"));
    QSignalSpy exported(keeper, &SessionKeeper::Exported);
    keeper->ExportViewImage(path, imagePixels);
    if (!exported.wait(10000))
        return {};
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// At the fitted view, where the image is stretched to the window.
void TestViewImage::shownViewHasMarkersWhereTheViewShowsThem()
{
    TrackGraphicsView *graphics = view->GraphicsView();
    QVERIFY(graphics->IsFitted());
    const QImage shown = Export(false);
    QCOMPARE(shown.size(), graphics->viewport()->size());
    const QPoint marker = graphics->mapFromScene(QPointF(16.0, 12.0));
    const QPoint away = graphics->mapFromScene(QPointF(48.0, 36.0));
    QVERIFY2(IsMarker(shown.pixel(marker)), qPrintable(Pixel(shown.pixel(marker))));
    QVERIFY2(IsBackground(shown.pixel(away)), qPrintable(Pixel(shown.pixel(away))));
}

// Zoomed in, only the part shown, one pixel per image pixel, the marker
// its radius of 3 image pixels wide. The view cannot centre the marker, so
// near the image's edge: it shows as much of the image as it can.
void TestViewImage::imagePixelsAreTheVisiblePartAtFullSize()
{
    TrackGraphicsView *graphics = view->GraphicsView();
    graphics->ZoomAt(16.0, QPointF(16.0, 12.0));
    QVERIFY(!graphics->IsFitted());
    const QImage pixels = Export(true);
    const QSize viewport = graphics->viewport()->size();
    // Whole image pixels: one cut by either edge of the view is taken whole.
    QVERIFY2(pixels.width() >= viewport.width() / 16 && pixels.width() <= viewport.width() / 16 + 2
                 && pixels.height() >= viewport.height() / 16
                 && pixels.height() <= viewport.height() / 16 + 2,
             qPrintable(QStringLiteral("%1 x %2").arg(pixels.width()).arg(pixels.height())));
    // The picture starts at the image pixel in the view's top left corner.
    const QPointF topLeft = graphics->mapToScene(QPoint(0, 0));
    const QPoint marker(16 - static_cast<int>(topLeft.x()), 12 - static_cast<int>(topLeft.y()));
    QVERIFY2(IsMarker(pixels.pixel(marker)), qPrintable(Pixel(pixels.pixel(marker))));
    QVERIFY(IsMarker(pixels.pixel(marker + QPoint(1, 0))));
    const QPoint beyond = marker + QPoint(6, 0);
    QVERIFY2(IsBackground(pixels.pixel(beyond)), qPrintable(Pixel(pixels.pixel(beyond))));
}

QTEST_MAIN(TestViewImage)
#include "tst_viewimage.moc"
