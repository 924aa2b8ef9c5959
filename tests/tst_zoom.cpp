#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackgraphicsview.h"
#include "view/trackpath.h"
#include "view/trackscene.h"

#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>
#include <qtestspontaneevent.h>

// Zoom, pan and hover in the view window, driven with the window's own keys,
// wheel and mouse: the fitted view as it always was, zooms that keep what the
// user looks at, positions that mean the same image pixels at any zoom, and
// the track under the cursor.
class TestZoom : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fittedViewIsTheStretchedFit();
    void ctrlWheelZoomsAboutTheCursorAndOtherWheelsDoNot();
    void firstStepFromTheFitKeepsTheCursorsPoint();
    void fitStaysFittedAndNamesAcrossFirst();
    void stepsResizesAndSameSizeSequencesKeepZoomAndCentre();
    void clicksAndRubberBandMeanTheSamePixelsAtAnyZoom();
    void spaceAndMiddleDragPanWithoutPointsOrSelection();
    void hoverTellsTheTrackAndDrawsItsPath();
    void markersHaveAHairlineAndShowWholeWhenSelected();
    void markerSizeAndOutlineFromTheViewMenu();
    void statusBarFollowsImageCursorAndZoom();

private:
    void Load(int count, QSize size, QPoint grey = QPoint(-1, -1));
    void AddTrack(bool error, unsigned int id, const PointMap &points, const QColor &colour);
    void Keys(const QList<Qt::Key> &keys);
    void Wheel(QPoint at, QPoint angle, Qt::KeyboardModifiers modifiers);
    void Drag(Qt::MouseButton button, QPoint from, QPoint to);
    QPointF SceneAt(QPointF viewportPos) const;
    QPoint ViewAt(QPointF scenePos) const;
    QImage Shot() const;

    QTemporaryDir dir;
    int batch = 0;
    TFormTrackView *view = nullptr;
    TrackGraphicsView *graphics = nullptr;
    QSlider *slider = nullptr;
};

void TestZoom::init()
{
    batch = 0;
    view = new TFormTrackView;
    graphics = view->findChild<TrackGraphicsView *>(QStringLiteral("graphicsView"));
    slider = view->findChild<QSlider *>(QStringLiteral("hsImage"));
    view->show();
    view->activateWindow();
    // The zoom keys are the View menu's shortcuts: they need the window active.
    QVERIFY(QTest::qWaitForWindowActive(view));
}

void TestZoom::cleanup()
{
    delete view;
    view = nullptr;
}

// White slices, so that drawn markers and paths are what the pixels show;
// one grey pixel if asked for.
void TestZoom::Load(int count, QSize size, QPoint grey)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        if (image.valid(grey))
            image.setPixel(grey, qRgb(77, 77, 77));
        files << dir.filePath(QStringLiteral("s%1_%2.png").arg(batch).arg(i, 3, 10, QChar('0')));
        QVERIFY(image.save(files.back()));
    }
    ++batch;
    std::vector<unsigned int> failed;
    view->scene->LoadImages(files, failed);
    QVERIFY(failed.empty());
    view->UpdateImageRange();
}

void TestZoom::AddTrack(bool error, unsigned int id, const PointMap &points, const QColor &colour)
{
    (error ? view->errTracks : view->corrTracks)[id] = points;
    (error ? view->errColors : view->corrColors)[id] = colour;
    view->scene->DeleteNormalFibers();
    view->scene->DeleteErrorFibers();
    view->CreateNormalFibers();
    view->CreateErrorFibers();
}

void TestZoom::Keys(const QList<Qt::Key> &keys)
{
    for (Qt::Key key : keys)
        QTest::keyClick(view, key);
}

// Delivered as from the mouse, so that the viewport passes it on to the
// window as it does a user's wheel.
void TestZoom::Wheel(QPoint at, QPoint angle, Qt::KeyboardModifiers modifiers)
{
    QWidget *target = graphics->viewport();
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), angle, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(target, &event);
}

void TestZoom::Drag(Qt::MouseButton button, QPoint from, QPoint to)
{
    QWidget *target = graphics->viewport();
    QTest::mousePress(target, button, Qt::NoModifier, from);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = from + (to - from) * step / 4;
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, button,
                         Qt::NoModifier);
        QApplication::sendEvent(target, &move);
    }
    QTest::mouseRelease(target, button, Qt::NoModifier, to);
}

QPointF TestZoom::SceneAt(QPointF viewportPos) const
{
    return graphics->viewportTransform().inverted().map(viewportPos);
}

QPoint TestZoom::ViewAt(QPointF scenePos) const { return graphics->mapFromScene(scenePos); }

QImage TestZoom::Shot() const
{
    return graphics->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void TestZoom::fittedViewIsTheStretchedFit()
{
    Load(2, QSize(200, 50));
    const auto fitted = [this]() {
        const QTransform shown = graphics->transform();
        graphics->QGraphicsView::fitInView(view->scene->sceneRect(), Qt::IgnoreAspectRatio);
        return graphics->IsFitted() && !graphics->horizontalScrollBar()->isVisible()
            && !graphics->verticalScrollBar()->isVisible()
            && graphics->transform() == shown
            // stretched: the aspect ratio is ignored
            && std::abs(shown.m22() / shown.m11() - 1.0) > 0.5;
    };
    QVERIFY(fitted());
    const qreal fitAcross = graphics->transform().m11();

    // Up from the fit: square pixels, larger than the fit both ways.
    Keys({ Qt::Key_Plus });
    QVERIFY(!graphics->IsFitted());
    QCOMPARE(graphics->transform().m11(), graphics->transform().m22());
    QVERIFY(graphics->transform().m11() > fitAcross);
    Keys({ Qt::Key_Minus });
    QVERIFY(fitted());

    Keys({ Qt::Key_1 });
    QCOMPARE(graphics->transform(), QTransform());
    Keys({ Qt::Key_Equal, Qt::Key_Equal }); // 1 -> 1.41 -> 2
    QCOMPARE(graphics->transform().m11(), 2.0);
    for (int i = 0; i < 20; ++i)
        Keys({ Qt::Key_Plus });
    QCOMPARE(graphics->transform().m11(), 32.0);
    QVERIFY(graphics->horizontalScrollBar()->isVisible());
    Keys({ Qt::Key_0 });
    QVERIFY(fitted());
    // Back at the fit, resizing refits as it always did.
    view->resize(1000, 700);
    QTRY_COMPARE(view->size(), QSize(1000, 700));
    QVERIFY(fitted());
}

void TestZoom::ctrlWheelZoomsAboutTheCursorAndOtherWheelsDoNot()
{
    Load(3, QSize(400, 300));
    const QPoint cursor(graphics->viewport()->width() / 3, graphics->viewport()->height() / 4);
    const QPointF under = SceneAt(cursor);
    for (int notch = 0; notch < 6; ++notch)
        Wheel(cursor, QPoint(0, 120), Qt::ControlModifier);
    QVERIFY(!graphics->IsFitted());
    const qreal zoom = graphics->transform().m11();
    QVERIFY(zoom > 4.0);
    // Fixed to within half a screen pixel, which is a fraction of an image pixel.
    QVERIFY2(
        QLineF(SceneAt(cursor), under).length() <= 0.5 / zoom + 1e-6,
        qPrintable(QStringLiteral("moved by %1").arg(QLineF(SceneAt(cursor), under).length())));
    QCOMPARE(slider->value(), 0);

    // Shift + wheel pans sideways; the plain wheel still steps, even sideways.
    const int across = graphics->horizontalScrollBar()->value();
    Wheel(cursor, QPoint(0, -120), Qt::ShiftModifier);
    QVERIFY(graphics->horizontalScrollBar()->value() > across);
    QCOMPARE(slider->value(), 0);
    Wheel(cursor, QPoint(-120, 0), Qt::NoModifier); // a swipe to the right: forward
    QCOMPARE(slider->value(), 1);
    QCOMPARE(graphics->transform().m11(), zoom);

    for (int notch = 0; notch < 12; ++notch)
        Wheel(cursor, QPoint(0, -120), Qt::ControlModifier);
    QVERIFY(graphics->IsFitted());
}

// The scroll bars appear with the first step up from the fit, once the event
// loop has run: the image point under the cursor must still be there then.
void TestZoom::firstStepFromTheFitKeepsTheCursorsPoint()
{
    Load(2, QSize(400, 300));
    QVERIFY(QTest::qWaitForWindowExposed(view));
    const QPoint cursor(graphics->viewport()->width() / 4, graphics->viewport()->height() / 3);
    const QPointF under = SceneAt(cursor);
    Wheel(cursor, QPoint(0, 120), Qt::ControlModifier);
    QTRY_VERIFY(graphics->horizontalScrollBar()->isVisible()
                && graphics->verticalScrollBar()->isVisible());
    QTest::qWait(50);
    const qreal zoom = graphics->ZoomX();
    QVERIFY(!graphics->IsFitted() && zoom > 2.0);
    const QPointF now = SceneAt(cursor);
    QVERIFY2(QLineF(now, under).length() <= 0.5 / zoom + 1e-6,
             qPrintable(QStringLiteral("%1,%2 moved to %3,%4")
                            .arg(under.x())
                            .arg(under.y())
                            .arg(now.x())
                            .arg(now.y())));
}

// "Fit across % x down %": an image wide and low is shrunk across and
// stretched down, and the status bar says so in that order. Zoomed in and
// back at the fit, "-" leaves it fitted.
void TestZoom::fitStaysFittedAndNamesAcrossFirst()
{
    Load(1, QSize(2000, 100));
    auto *zoom = view->findChild<QLabel *>(QStringLiteral("lbZoom"));
    const QRegularExpression figures(QStringLiteral("^Fit (\\d+) % x (\\d+) %$"));
    const QRegularExpressionMatch match = figures.match(zoom->text());
    QVERIFY2(match.hasMatch(), qPrintable(zoom->text()));
    const QSize area = graphics->viewport()->size();
    QVERIFY2(std::abs(match.captured(1).toInt() - area.width() * 100 / 2000) <= 2,
             qPrintable(zoom->text()));
    QVERIFY2(std::abs(match.captured(2).toInt() - area.height() * 100 / 100) <= 5,
             qPrintable(zoom->text()));
    const QString fit = zoom->text();

    Keys({ Qt::Key_1, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus,
           Qt::Key_Plus });
    QCOMPARE(zoom->text(), QStringLiteral("800 %"));
    Keys({ Qt::Key_0, Qt::Key_Minus });
    QVERIFY(graphics->IsFitted());
    QCOMPARE(zoom->text(), fit);
    // The whole image across the view: its last column at the right edge.
    QVERIFY(ViewAt({ 1999.5, 50 }).x() >= area.width() - 4);
}

void TestZoom::stepsResizesAndSameSizeSequencesKeepZoomAndCentre()
{
    Load(3, QSize(400, 300));
    Keys({ Qt::Key_1, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus });
    QCOMPARE(graphics->transform().m11(), 4.0);
    graphics->PanBy(QPoint(-150, 90));
    const QPointF centre = graphics->ViewCentre();
    const auto kept = [&]() {
        QCOMPARE(graphics->transform().m11(), 4.0);
        QVERIFY2(QLineF(graphics->ViewCentre(), centre).length() <= 0.25,
                 qPrintable(QStringLiteral("centre moved from %1,%2 to %3,%4")
                                .arg(centre.x())
                                .arg(centre.y())
                                .arg(graphics->ViewCentre().x())
                                .arg(graphics->ViewCentre().y())));
    };
    Keys({ Qt::Key_Right, Qt::Key_Right });
    QCOMPARE(view->scene->CurrentImage(), 2);
    kept();
    view->resize(1100, 800);
    QTRY_COMPARE(view->size(), QSize(1100, 800));
    kept();
    AddTrack(false, 1, { { 0, { 10.0f, 10.0f } } }, Qt::red);
    kept();
    Load(2, QSize(400, 300));
    kept();
    Load(2, QSize(300, 400));
    QVERIFY(graphics->IsFitted());
}

void TestZoom::clicksAndRubberBandMeanTheSamePixelsAtAnyZoom()
{
    Load(2, QSize(400, 300));
    AddTrack(false, 1, { { 0, { 100.0f, 100.0f } } }, Qt::red);
    AddTrack(false, 2, { { 0, { 115.0f, 108.0f } } }, Qt::red);
    AddTrack(false, 3, { { 0, { 160.0f, 100.0f } } }, Qt::red);
    AddTrack(true, 4, { { 0, { 104.0f, 96.0f } } }, Qt::blue);
    const QPointF target(130.3f, 120.8f);

    QList<QPointF> placed;
    for (bool zoomed : { false, true }) {
        if (zoomed) {
            Keys({ Qt::Key_1, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus });
            graphics->centerOn(120, 105);
        }
        Drag(Qt::LeftButton, ViewAt({ 90, 85 }), ViewAt({ 125, 125 }));
        QList<unsigned int> ids;
        for (QGraphicsItem *item : view->scene->selectedItems()) {
            const Fiber *fiber = dynamic_cast<Fiber *>(item);
            ids << fiber->id + (fiber->error ? 100 : 0);
        }
        std::sort(ids.begin(), ids.end());
        QCOMPARE(ids, (QList<unsigned int> { 1, 2, 104 }));

        view->NewTrack();
        TestSupport::ClickOnWidget(graphics->viewport(), ViewAt(target));
        QCOMPARE(view->scene->NewPoints().size(), size_t(1));
        const TrackPoint p = view->scene->NewPoints().at(0);
        placed << QPointF(p.x, p.y);
        view->CancelNewTrack();
    }
    for (const QPointF &p : placed)
        QVERIFY2(std::abs(p.x() - target.x()) <= 0.5 && std::abs(p.y() - target.y()) <= 0.5,
                 qPrintable(QStringLiteral("placed at %1,%2").arg(p.x()).arg(p.y())));
}

void TestZoom::spaceAndMiddleDragPanWithoutPointsOrSelection()
{
    Load(2, QSize(400, 300));
    AddTrack(false, 1, { { 0, { 200.0f, 150.0f } } }, Qt::red);
    Keys({ Qt::Key_1, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus });
    graphics->centerOn(200, 150);
    QScrollBar *across = graphics->horizontalScrollBar();
    QScrollBar *down = graphics->verticalScrollBar();
    const QPoint middle = graphics->viewport()->rect().center();

    // Creating: Space + drag pans and places nothing; a click then places.
    view->NewTrack();
    QTest::keyPress(view, Qt::Key_Space);
    int x = across->value();
    int y = down->value();
    Drag(Qt::LeftButton, middle, middle + QPoint(-60, -40));
    QCOMPARE(across->value(), x + 60);
    QCOMPARE(down->value(), y + 40);
    QVERIFY(view->scene->NewPoints().empty());
    QTest::keyRelease(view, Qt::Key_Space);
    TestSupport::ClickOnWidget(graphics->viewport(), middle);
    QCOMPARE(view->scene->NewPoints().size(), size_t(1));
    // The middle button places a point while creating, like every button.
    QTest::mouseClick(graphics->viewport(), Qt::MiddleButton, Qt::NoModifier, middle);
    QCOMPARE(view->scene->NewPoints().at(0).x,
             static_cast<float>(SceneAt(middle).x())); // the same place again
    view->CancelNewTrack();

    // Outside creation the middle button pans: no rubber band over the marker.
    x = across->value();
    Drag(Qt::MiddleButton, ViewAt({ 190, 140 }), ViewAt({ 210, 160 }));
    QCOMPARE(across->value(), x - 80);
    QVERIFY(view->scene->selectedItems().isEmpty());

    // Space on a focused button pans instead of pressing it.
    auto *create = view->findChild<QToolButton *>(QStringLiteral("btNew"));
    QSignalSpy clicked(create, &QToolButton::clicked);
    create->setFocus();
    QTest::keyClick(create, Qt::Key_Space);
    QCOMPARE(clicked.count(), 0);
    QVERIFY(!view->scene->IsCreating());
}

void TestZoom::hoverTellsTheTrackAndDrawsItsPath()
{
    Load(3, QSize(400, 300));
    const QColor colour(200, 40, 40);
    AddTrack(false, 5,
             { { 0, { 100.0f, 100.0f } }, { 1, { 200.0f, 150.0f } }, { 2, { 300.0f, 120.0f } } },
             colour);
    AddTrack(true, 7, { { 1, { 300.0f, 250.0f } } }, Qt::blue);
    Keys({ Qt::Key_Right });

    const auto hover = [this](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, graphics->viewport()->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(graphics->viewport(), &move);
        QHelpEvent help(QEvent::ToolTip, at, graphics->viewport()->mapToGlobal(at));
        QApplication::sendEvent(graphics->viewport(), &help);
    };
    const QPoint before = ViewAt({ 100, 100 });
    const QPoint after = ViewAt({ 300, 120 });
    QVERIFY(Shot().pixelColor(before) == Qt::white);

    hover(ViewAt({ 203, 151 }));
    QVERIFY(view->scene->HoveredFiber());
    QCOMPARE(view->scene->HoveredFiber()->id, 5u);
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("Track 5"));
    // Its points on the other images, in the tone before and after this one.
    const QImage shot = Shot();
    QCOMPARE(shot.pixel(before), PathToneBefore(colour).rgb());
    QCOMPARE(shot.pixel(after), PathToneAfter(colour).rgb());
    // Loading the other kind rebuilds this kind's markers: the hovered track
    // is found again among them, never a deleted marker.
    view->scene->DeleteErrorFibers();
    QVERIFY(view->scene->HoveredFiber());
    QCOMPARE(view->scene->HoveredFiber()->id, 5u);
    QCOMPARE(Shot().pixel(before), PathToneBefore(colour).rgb());
    AddTrack(true, 7, { { 1, { 300.0f, 250.0f } } }, Qt::blue);

    hover(ViewAt({ 300, 250 }));
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("Error track 7"));
    QCOMPARE(Shot().pixelColor(before), QColor(Qt::white));

    // Stepping under a still cursor: no marker there now, no path.
    Keys({ Qt::Key_Left });
    QVERIFY(!view->scene->HoveredFiber());
    hover(ViewAt({ 20, 20 }));
    QTRY_VERIFY(!QToolTip::isVisible());
}

void TestZoom::markersHaveAHairlineAndShowWholeWhenSelected()
{
    Load(1, QSize(200, 200));
    AddTrack(false, 1, { { 0, { 100.0f, 100.0f } } }, Qt::green);
    // 8x stamps markers from their sprites, 32x paints the few on the screen.
    for (const qreal zoom : { 8.0, 32.0 }) {
        graphics->ShowActualPixels();
        graphics->ZoomBy(zoom, ViewAt({ 100, 100 }));
        QCOMPARE(graphics->transform().m11(), zoom);
        const QPoint centre = ViewAt({ 100, 100 });
        const int radius = qRound(10 * zoom);

        // Across the middle of the circle: white, the outline, green, the
        // outline, white; green spans the diameter.
        const auto measure = [&](int &outline, int &width) {
            const QImage shot = Shot();
            outline = 0;
            int left = -1;
            int right = -1;
            for (int x = centre.x() - radius - 20; x < centre.x() && left < 0; ++x) {
                const QColor c = shot.pixelColor(x, centre.y());
                if (c == Qt::green)
                    left = x;
                else if (c.lightness() < 200)
                    ++outline;
            }
            for (int x = centre.x() + radius + 20; x > centre.x() && right < 0; --x) {
                if (shot.pixelColor(x, centre.y()) == Qt::green)
                    right = x;
            }
            width = right - left;
        };
        int outline = 0;
        int width = 0;
        measure(outline, width);
        QVERIFY2(outline >= 1 && outline <= 2, qPrintable(QString::number(outline)));
        QVERIFY2(std::abs(width - 2 * radius) <= 3, qPrintable(QString::number(width)));

        view->scene->NormalFibers().front()->setSelected(true);
        int framed = 0;
        measure(framed, width);
        // Still whole, with the selection frame outside it.
        QVERIFY2(std::abs(width - 2 * radius) <= 3, qPrintable(QString::number(width)));
        QVERIFY(framed > outline);
        view->scene->clearSelection();
    }
}

void TestZoom::markerSizeAndOutlineFromTheViewMenu()
{
    Load(1, QSize(200, 200));
    AddTrack(false, 1, { { 0, { 100.0f, 100.0f } } }, Qt::green);
    AddTrack(true, 2, { { 0, { 40.0f, 40.0f } } }, Qt::blue);
    auto *sizeAction = view->findChild<QAction *>(QStringLiteral("actionMarkerSize"));
    const auto answer = [](int radius, bool accept) {
        TestSupport::AnswerNextModal([radius, accept](QWidget *widget) {
            auto *dialog = qobject_cast<QInputDialog *>(widget);
            QVERIFY(dialog);
            QCOMPARE(dialog->intValue(), 10);
            dialog->setIntValue(radius);
            accept ? dialog->accept() : dialog->reject();
        });
    };
    answer(30, false);
    sizeAction->trigger();
    QCOMPARE(view->scene->MarkerRadius(), 10);
    answer(25, true);
    sizeAction->trigger();
    QCOMPARE(view->scene->MarkerRadius(), 25);
    QCOMPARE(view->scene->NormalFibers().front()->rect(), QRectF(-25, -25, 50, 50));
    // Hit-testing follows: 20 image pixels off the centre is on the marker now.
    QVERIFY(view->scene->FiberAt({ 120, 100 }, 0.0));
    QVERIFY(view->scene->ErrorFibers().front()->polygon().boundingRect().width() > 80);

    const QPoint centre = ViewAt({ 100, 100 });
    QCOMPARE(Shot().pixelColor(centre), QColor(Qt::green));
    view->findChild<QAction *>(QStringLiteral("actionOutlineMarkers"))->trigger();
    // Hollow: the image shows inside, the track's colour on the outline.
    const QImage shot = Shot();
    QCOMPARE(shot.pixelColor(centre), QColor(Qt::white));
    const int rim = ViewAt({ 75, 100 }).x();
    bool green = false;
    for (int x = rim - 3; x <= rim + 3; ++x)
        green = green || shot.pixelColor(x, centre.y()) == Qt::green;
    QVERIFY(green);
}

void TestZoom::statusBarFollowsImageCursorAndZoom()
{
    Load(3, QSize(400, 300), QPoint(100, 50));
    auto *image = view->findChild<QLabel *>(QStringLiteral("lbImage"));
    auto *position = view->findChild<QLabel *>(QStringLiteral("lbPosition"));
    auto *value = view->findChild<QLabel *>(QStringLiteral("lbValue"));
    auto *zoom = view->findChild<QLabel *>(QStringLiteral("lbZoom"));
    QCOMPARE(image->text(), QStringLiteral("Image 1 of 3  s0_000.png"));
    QVERIFY(zoom->text().startsWith(QStringLiteral("Fit ")));
    Keys({ Qt::Key_Right, Qt::Key_1, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Plus });
    QCOMPARE(image->text(), QStringLiteral("Image 2 of 3  s0_001.png"));
    QCOMPARE(zoom->text(), QStringLiteral("400 %"));

    graphics->centerOn(100, 50);
    const QPoint at = ViewAt({ 100.5, 50.5 });
    QTest::mouseMove(graphics->viewport(), at);
    QMouseEvent move(QEvent::MouseMove, at, graphics->viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(graphics->viewport(), &move);
    QCOMPARE(position->text(), QStringLiteral("x 100.5  y 50.5"));
    QCOMPARE(value->text(), QStringLiteral("value 77"));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(graphics->viewport(), &leave);
    QVERIFY(position->text().isEmpty() && value->text().isEmpty());

    // A load's message takes the image's place for its time.
    view->ShowLoadStatus(QStringLiteral("Loading images: 1 of 3"));
    QCOMPARE(view->statusBar()->currentMessage(), QStringLiteral("Loading images: 1 of 3"));
    view->ShowLoadStatus(QString());
    QVERIFY(view->statusBar()->currentMessage().isEmpty());
    QVERIFY(image->isVisible());
}

QTEST_MAIN(TestZoom)
#include "tst_zoom.moc"
