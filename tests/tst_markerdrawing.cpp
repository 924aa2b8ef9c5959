#include "view/tformtrackview.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QTemporaryDir>
#include <QtTest>

// What the view draws, looked at on its pixels at the fitted view, the zoom
// users look at most: markers only where their track is on the current image,
// the selection frame, error stars over circles, and the two tones of the
// hovered track's path.
class TestMarkerDrawing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void markersOnlyWhereShownOnTheCurrentImage();
    void selectedMarkersFramed();
    void starsOverCircles();
    void hoverPathLightBeforeDarkAfterTheCurrentPoint();
    void stampedMarkersAreWhatThePainterDraws();

private:
    void AddTrack(bool error, unsigned int id, const PointMap &points, const QColor &colour);
    QPoint At(QPointF scenePos) const { return graphics->mapFromScene(scenePos); }
    QColor Pixel(QPointF scenePos) const;
    QImage Shot() const;

    QTemporaryDir dir;
    TFormTrackView *view = nullptr;
    TrackGraphicsView *graphics = nullptr;
};

void TestMarkerDrawing::init()
{
    view = new TFormTrackView;
    graphics = view->findChild<TrackGraphicsView *>(QStringLiteral("graphicsView"));
    view->resize(900, 700);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    // Three white slices, so that whatever is not white was drawn.
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        QImage slice(400, 300, QImage::Format_RGB32);
        slice.fill(Qt::white);
        files << dir.filePath(QStringLiteral("s%1.png").arg(i));
        QVERIFY(slice.save(files.back()));
    }
    std::vector<unsigned int> failed;
    view->scene->LoadImages(files, failed);
    view->UpdateImageRange();
    QVERIFY(graphics->IsFitted());
    // Markers large on the screen, so that their inside is whole pixels.
    QVERIFY(graphics->transform().m11() > 1.5 && graphics->transform().m22() > 1.5);
}

void TestMarkerDrawing::cleanup()
{
    delete view;
    view = nullptr;
}

void TestMarkerDrawing::AddTrack(bool error, unsigned int id, const PointMap &points,
                                 const QColor &colour)
{
    (error ? view->errTracks : view->corrTracks)[id] = points;
    (error ? view->errColors : view->corrColors)[id] = colour;
    view->scene->DeleteNormalFibers();
    view->scene->DeleteErrorFibers();
    view->CreateNormalFibers();
    view->CreateErrorFibers();
}

QImage TestMarkerDrawing::Shot() const
{
    return graphics->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor TestMarkerDrawing::Pixel(QPointF scenePos) const { return Shot().pixelColor(At(scenePos)); }

void TestMarkerDrawing::markersOnlyWhereShownOnTheCurrentImage()
{
    const QColor red(220, 0, 0);
    const QColor green(0, 160, 0);
    const QColor blue(0, 0, 230);
    AddTrack(false, 1, { { 0, { 100, 100 } }, { 1, { 300, 200 } } }, red);
    AddTrack(false, 2, { { 0, { 200, 150 } } }, green); // on image 0 only
    AddTrack(true, 3, { { 0, { 100, 220 } }, { 1, { 100, 220 } } }, blue);
    QCOMPARE(Pixel({ 100, 100 }), red);
    QCOMPARE(Pixel({ 200, 150 }), green);
    QCOMPARE(Pixel({ 100, 220 }), blue);

    // Hidden, by kind: nothing of them is drawn.
    view->scene->HideNormalFibers();
    QCOMPARE(Pixel({ 100, 100 }), QColor(Qt::white));
    QCOMPARE(Pixel({ 200, 150 }), QColor(Qt::white));
    QCOMPARE(Pixel({ 100, 220 }), blue);
    view->scene->HideErrorFibers();
    QCOMPARE(Pixel({ 100, 220 }), QColor(Qt::white));
    view->scene->ShowAll();
    QCOMPARE(Pixel({ 200, 150 }), green);

    // On image 1 the track that has no point there is not drawn where it was,
    // the one that moved is drawn only at its new place.
    view->SceneSwitch(1);
    QCOMPARE(view->scene->CurrentImage(), 1);
    const QImage shot = Shot();
    QCOMPARE(shot.pixelColor(At({ 200, 150 })), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(At({ 100, 100 })), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(At({ 300, 200 })), red);
    QCOMPARE(shot.pixelColor(At({ 100, 220 })), blue);
}

void TestMarkerDrawing::selectedMarkersFramed()
{
    AddTrack(false, 1, { { 0, { 200, 150 } } }, QColor(0, 160, 0));
    AddTrack(true, 2, { { 0, { 80, 80 } } }, QColor(0, 0, 230));
    // Dark pixels around a marker, outside its own outline: in a ring from
    // just outside its reach (radius 10 for the circle, 18.6 for the star) to
    // where the corners of a frame around it lie.
    const auto darkAround = [this](QPointF centre, qreal reach) {
        const QImage shot = Shot();
        const qreal scale = graphics->transform().m11();
        const QPoint middle = At(centre);
        const qreal inner = reach * scale + 2.5;
        const qreal outer = reach * scale * 1.5 + 6;
        int dark = 0;
        for (int y = middle.y() - int(outer); y <= middle.y() + int(outer); ++y) {
            for (int x = middle.x() - int(outer); x <= middle.x() + int(outer); ++x) {
                const QPointF offset(x - middle.x(),
                                     (y - middle.y()) * scale / graphics->transform().m22());
                const qreal distance = std::hypot(offset.x(), offset.y());
                if (distance > inner && distance < outer && shot.valid(x, y)
                    && shot.pixelColor(x, y).lightness() < 140)
                    ++dark;
            }
        }
        return dark;
    };
    QCOMPARE(darkAround({ 200, 150 }, 10), 0);
    QCOMPARE(darkAround({ 80, 80 }, 18.6), 0);
    for (QGraphicsItem *item : view->scene->items())
        item->setSelected(true);
    const int circleFrame = darkAround({ 200, 150 }, 10);
    const int starFrame = darkAround({ 80, 80 }, 18.6);
    QVERIFY2(circleFrame > 20 && starFrame > 20,
             qPrintable(QStringLiteral("%1 %2").arg(circleFrame).arg(starFrame)));
    // The marker itself still shows whole inside its frame.
    QCOMPARE(Pixel({ 200, 150 }), QColor(0, 160, 0));
    QCOMPARE(Pixel({ 80, 80 }), QColor(0, 0, 230));
}

void TestMarkerDrawing::starsOverCircles()
{
    // Loaded in either order, the error star covers the circle on its point.
    for (const bool errorFirst : { true, false }) {
        view->errTracks.clear();
        view->corrTracks.clear();
        AddTrack(errorFirst, 5, { { 0, { 150, 150 } } }, errorFirst ? Qt::blue : Qt::green);
        AddTrack(!errorFirst, 6, { { 0, { 150, 150 } } }, errorFirst ? Qt::green : Qt::blue);
        const QImage shot = Shot();
        QCOMPARE(shot.pixelColor(At({ 150, 150 })), QColor(Qt::blue));
        // Beside the star's inner part the circle shows.
        QCOMPARE(shot.pixelColor(At({ 150, 158 })), QColor(Qt::green));
    }
}

void TestMarkerDrawing::hoverPathLightBeforeDarkAfterTheCurrentPoint()
{
    const QColor colour(200, 40, 40);
    // Along one line: image 0 on the left, 1 in the middle, 2 on the right.
    AddTrack(false, 7, { { 0, { 40, 150 } }, { 1, { 200, 150 } }, { 2, { 360, 150 } } }, colour);
    view->SceneSwitch(1);
    const QPoint on = At({ 200, 150 });
    QMouseEvent move(QEvent::MouseMove, on, graphics->viewport()->mapToGlobal(on), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(graphics->viewport(), &move);
    QVERIFY(view->scene->HoveredFiber());

    // The most saturated pixel across the line halfway between two points:
    // the line's core, in the track's hue.
    const QImage shot = Shot();
    const auto core = [&](QPointF scenePos) {
        const QPoint middle = At(scenePos);
        QColor best;
        for (int y = middle.y() - 6; y <= middle.y() + 6; ++y) {
            const QColor c = shot.pixelColor(middle.x(), y);
            if (!best.isValid() || c.hslSaturation() > best.hslSaturation())
                best = c;
        }
        return best;
    };
    const QColor before = core({ 120, 150 });
    const QColor after = core({ 280, 150 });
    for (const QColor &part : { before, after }) {
        QVERIFY2(part.hslSaturation() > 80 && (part.hslHue() < 20 || part.hslHue() > 340),
                 qPrintable(part.name()));
    }
    // Light before the current image, dark after it, from the current point on.
    QVERIFY2(before.lightness() > after.lightness() + 60,
             qPrintable(before.name() + QLatin1Char(' ') + after.name()));
    QVERIFY2(after.lightness() < 130, qPrintable(after.name()));
    const QColor start = core({ 215, 150 });
    QVERIFY2(start.lightness() < 130 && start.hslSaturation() > 80, qPrintable(start.name()));
    // Nothing of the path beyond its last point.
    QCOMPARE(shot.pixelColor(At({ 385, 150 })), QColor(Qt::white));
}

void TestMarkerDrawing::stampedMarkersAreWhatThePainterDraws()
{
    // At four times the size, where each marker is stamped from a drawing made
    // once: overlapping circles, a star over them (rows of several runs),
    // and a circle whose centre lies beyond the view's left edge. The reference is painted
    // here by the toolkit, marker by marker in drawing order, each filled in
    // its colour and outlined with a black hairline.
    graphics->ShowActualPixels();
    graphics->ZoomBy(4.0, At({ 200, 150 }));
    QCOMPARE(graphics->transform().m11(), 4.0);
    const QTransform toView = graphics->viewportTransform();
    // Whole pixels, so that the drawing made once lands where the painter's does.
    QCOMPARE(toView.dx(), std::round(toView.dx()));
    QCOMPARE(toView.dy(), std::round(toView.dy()));
    const qreal edge = std::floor(graphics->mapToScene(0, 0).x()) - 7;
    QVERIFY2(edge > 10 && edge < 180, qPrintable(QString::number(edge)));
    struct Marker
    {
        bool error;
        unsigned int id;
        QPointF at;
        QColor colour;
    };
    const std::vector<Marker> markers = {
        { false, 1, { 200, 150 }, QColor(220, 0, 0) },
        { false, 2, { 207, 154 }, QColor(0, 160, 0) },
        { false, 3, { edge, 150 }, QColor(200, 120, 0) },
        { true, 4, { 196, 158 }, QColor(0, 0, 230) },
    };
    for (const Marker &m : markers)
        AddTrack(m.error, m.id, { { 0, { float(m.at.x()), float(m.at.y()) } } }, m.colour);

    const QImage shot = Shot();
    QImage expected(shot.size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    QPainter painter(&expected);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const Marker &m : markers) {
        const QPainterPath shape = toView.map(view->scene->MarkerShape(m.error).translated(m.at));
        painter.fillPath(shape, m.colour);
        painter.strokePath(shape, QPen(Qt::black, 1.0));
    }
    painter.end();
    int differing = 0;
    QPoint first;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb a = shot.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            if (std::abs(qRed(a) - qRed(b)) > 2 || std::abs(qGreen(a) - qGreen(b)) > 2
                || std::abs(qBlue(a) - qBlue(b)) > 2) {
                if (!differing++)
                    first = QPoint(x, y);
            }
        }
    }
    QVERIFY2(
        differing == 0,
        qPrintable(QStringLiteral("%1 pixels differ, the first at %2, %3: %4 instead of %5")
                       .arg(differing)
                       .arg(first.x())
                       .arg(first.y())
                       .arg(shot.pixelColor(first).name(), expected.pixelColor(first).name())));
}

QTEST_MAIN(TestMarkerDrawing)
#include "tst_markerdrawing.moc"
