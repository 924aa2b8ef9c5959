#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QApplication>
#include <QGraphicsView>
#include <QGridLayout>
#include <QSlider>
#include <QSpacerItem>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>
#include <qtestspontaneevent.h>

// The view window: its form, and stepping through the images with the slider,
// the arrow keys and the wheel.
class TestTrackView : public QObject
{
    Q_OBJECT

private slots:
    void formWidgets_data();
    void formWidgets();
    void windowAndViewSettings();
    void sliderBeforeAnyImage();
    void keysStepOneImageAndStopAtEnds();
    void wheelStepsOneImageAndStopsAtEnds();
    void keysStillStepAfterClickingTheView();
    void singleImageCannotMove();
    void newSequenceStartsAtItsFirstImage();
    void resizeRefitsImage();

private:
    void LoadImages(TFormTrackView &view, int count, int width = 64, int height = 48);
    QTemporaryDir dir;
    int batch = 0;
};

void TestTrackView::LoadImages(TFormTrackView &view, int count, int width, int height)
{
    const QStringList files = TestSupport::WriteImages(dir.path(), count, width, height,
                                                       QStringLiteral("b%1_").arg(batch++));
    std::vector<unsigned int> failed;
    view.scene->LoadImages(files, failed);
    QVERIFY(failed.empty());
    view.UpdateImageRange();
}

void TestTrackView::formWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QList<int>>("cell");

    QTest::newRow("graphicsView") << "graphicsView"
                                  << "TrackGraphicsView"
                                  << ""
                                  << "" << QList<int> { 0, 0, 1, 18 };
    QTest::newRow("btMask")
        << "btMask"
        << "QToolButton"
        << "Mask Selection"
        << "<html><head/><body><p>Select Tracks from a drag-and-drop mask.</p></body></html>"
        << QList<int> { 1, 1, 1, 2 };
    QTest::newRow("btRemove")
        << "btRemove"
        << "QToolButton"
        << "Clear Mask"
        << "<html><head/><body><p>Clears the current selection and displays all "
           "Tracks.</p></body></html>"
        << QList<int> { 1, 3, 1, 2 };
    QTest::newRow("btNew") << "btNew"
                           << "QToolButton"
                           << "Create Track"
                           << "<html><head/><body><p>Manually add a new Track to the image "
                              "sequence. Click to place a Track Point in each image on a feature "
                              "you want to track throughout the sequence.</p></body></html>"
                           << QList<int> { 1, 10, 1, 2 };
    QTest::newRow("btAdd") << "btAdd"
                           << "QToolButton"
                           << "Add Created Track"
                           << "<html><head/><body><p>Adds a new Track to the list view from the "
                              "manually placed Track Points.</p></body></html>"
                           << QList<int> { 1, 12, 1, 3 };
    QTest::newRow("btCancel") << "btCancel"
                              << "QToolButton"
                              << "Cancel Creation"
                              << "" << QList<int> { 1, 15, 1, 2 };
    QTest::newRow("hsImage") << "hsImage"
                             << "QSlider"
                             << ""
                             << "" << QList<int> { 2, 0, 1, 17 };
}

void TestTrackView::formWidgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(QList<int>, cell);

    TFormTrackView view;
    auto *grid = view.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->parentWidget()->objectName(), QStringLiteral("centralwidget"));
    QCOMPARE(view.centralWidget(), grid->parentWidget());

    QWidget *widget = view.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    if (auto *button = qobject_cast<QToolButton *>(widget)) {
        QCOMPARE(button->text(), text);
        QVERIFY(!button->isCheckable());
    }
    QCOMPARE(widget->toolTip(), toolTip);

    int row = -1, column = -1, rowSpan = -1, columnSpan = -1;
    grid->getItemPosition(grid->indexOf(widget), &row, &column, &rowSpan, &columnSpan);
    QCOMPARE((QList<int> { row, column, rowSpan, columnSpan }), cell);
}

void TestTrackView::windowAndViewSettings()
{
    TFormTrackView view;
    QCOMPARE(view.objectName(), QStringLiteral("TFormTrackView"));
    QCOMPARE(view.windowTitle(), QStringLiteral("Track View"));
    QCOMPARE(view.size(), QSize(800, 600));
    QCOMPARE(view.minimumSize(), QSize(800, 600));
    QCOMPARE(view.windowModality(), Qt::NonModal);
    QCOMPARE(view.focusPolicy(), Qt::StrongFocus);

    auto *grid = view.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QSpacerItem *spacer = nullptr;
    int spacerIndex = -1;
    for (int i = 0; i < grid->count(); ++i) {
        if (grid->itemAt(i)->spacerItem()) {
            spacer = grid->itemAt(i)->spacerItem();
            spacerIndex = i;
        }
    }
    QVERIFY(spacer);
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(spacerIndex, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE((QList<int> { row, column, rowSpan, columnSpan }), (QList<int> { 1, 8, 1, 1 }));
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);

    auto *slider = view.findChild<QSlider *>(QStringLiteral("hsImage"));
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->tickPosition(), QSlider::NoTicks);
    QCOMPARE(slider->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(slider->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    auto *graphics = view.findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    QCOMPARE(graphics->scene(), view.scene);
    QCOMPARE(view.scene->parent(), &view);
    QCOMPARE(graphics->dragMode(), QGraphicsView::RubberBandDrag);
    QVERIFY(graphics->renderHints().testFlag(QPainter::Antialiasing));
    QCOMPARE(graphics->viewportUpdateMode(), QGraphicsView::FullViewportUpdate);
}

void TestTrackView::sliderBeforeAnyImage()
{
    TFormTrackView view;
    auto *slider = view.findChild<QSlider *>(QStringLiteral("hsImage"));
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 99);
    slider->setValue(5); // the scene ignores an index it does not have
    QCOMPARE(view.scene->CurrentImage(), -1);
    QCOMPARE(view.ImageCount(), 0);
    view.UpdateImageRange();
    QCOMPARE(slider->maximum(), 0);
    QCOMPARE(slider->value(), 0);
}

void TestTrackView::keysStepOneImageAndStopAtEnds()
{
    TFormTrackView view;
    LoadImages(view, 3);
    auto *slider = view.findChild<QSlider *>(QStringLiteral("hsImage"));
    QCOMPARE(slider->maximum(), 2);
    QCOMPARE(view.ImageCount(), 3);

    QTest::keyClick(&view, Qt::Key_Left);
    QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(slider->value(), 0);
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(slider->value(), 1);
    QCOMPARE(view.scene->CurrentImage(), 1);
    QTest::keyClick(&view, Qt::Key_Up);
    QCOMPARE(view.scene->CurrentImage(), 2);
    QTest::keyClick(&view, Qt::Key_Right);
    QTest::keyClick(&view, Qt::Key_Up);
    QCOMPARE(slider->value(), 2);
    QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(view.scene->CurrentImage(), 1);

    for (Qt::Key key : { Qt::Key_Space, Qt::Key_A }) {
        QTest::keyClick(&view, key);
        QCOMPARE(slider->value(), 1);
    }
    // Home and End go to the ends; a page of 10 images stops at them too.
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.scene->CurrentImage(), 2);
    QTest::keyClick(&view, Qt::Key_PageUp);
    QCOMPARE(view.scene->CurrentImage(), 0);
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.scene->CurrentImage(), 2);
    QTest::keyClick(&view, Qt::Key_Home);
    QCOMPARE(view.scene->CurrentImage(), 0);
}

// Delivered as if it came from the mouse: only then does Qt pass an ignored
// wheel event on to the parent widgets, as it does for a user's wheel.
static void Wheel(QWidget *target, int delta, Qt::ScrollPhase phase = Qt::NoScrollPhase,
                  int across = 0)
{
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(across, delta), Qt::NoButton,
                      Qt::NoModifier, phase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(target, &event);
}

void TestTrackView::wheelStepsOneImageAndStopsAtEnds()
{
    TFormTrackView view;
    LoadImages(view, 3);
    auto *slider = view.findChild<QSlider *>(QStringLiteral("hsImage"));
    auto *graphics = view.findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    Wheel(&view, 120);
    QCOMPARE(slider->value(), 1);
    QCOMPARE(view.scene->CurrentImage(), 1);
    // Over the image itself, where the user's pointer is.
    Wheel(graphics->viewport(), 120);
    QCOMPARE(slider->value(), 2);
    Wheel(&view, 120);
    QCOMPARE(slider->value(), 2);
    // A touchpad gesture: begin and end carry no motion and do not step.
    Wheel(&view, -120);
    QCOMPARE(slider->value(), 1);
    Wheel(&view, 0, Qt::ScrollBegin);
    Wheel(&view, 120, Qt::ScrollUpdate);
    Wheel(&view, 0, Qt::ScrollEnd);
    QCOMPARE(slider->value(), 2);
    Wheel(&view, -120);
    QCOMPARE(slider->value(), 1);
    Wheel(&view, 0); // a plain wheel event without delta counts as backward
    QCOMPARE(slider->value(), 0);
    Wheel(graphics->viewport(), -120);
    QCOMPARE(slider->value(), 0);
    QCOMPARE(view.scene->CurrentImage(), 0);

    // Sideways the larger delta counts: a swipe to the right (negative
    // across, as the toolkit gives it), slightly upward, is forward; to the
    // left, slightly downward, backward.
    Wheel(graphics->viewport(), 30, Qt::NoScrollPhase, -120);
    QCOMPARE(slider->value(), 1);
    Wheel(graphics->viewport(), 0, Qt::NoScrollPhase, -120);
    QCOMPARE(slider->value(), 2);
    Wheel(&view, -30, Qt::NoScrollPhase, 120);
    QCOMPARE(slider->value(), 1);
    Wheel(&view, 120, Qt::NoScrollPhase, 40); // mostly up: forward
    QCOMPARE(slider->value(), 2);
}

void TestTrackView::keysStillStepAfterClickingTheView()
{
    TFormTrackView view;
    LoadImages(view, 3);
    auto *slider = view.findChild<QSlider *>(QStringLiteral("hsImage"));
    auto *graphics = view.findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));

    TestSupport::ClickOnWidget(graphics->viewport(), graphics->viewport()->rect().center());
    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, Qt::Key_Right);
    QCOMPARE(slider->value(), 1);
    QCOMPARE(view.scene->CurrentImage(), 1);
}

void TestTrackView::singleImageCannotMove()
{
    TFormTrackView view;
    LoadImages(view, 1);
    auto *slider = view.findChild<QSlider *>(QStringLiteral("hsImage"));
    QCOMPARE(slider->maximum(), 0);
    QTest::keyClick(&view, Qt::Key_Right);
    Wheel(&view, 120);
    QCOMPARE(slider->value(), 0);
    QCOMPARE(view.scene->CurrentImage(), 0);
}

void TestTrackView::newSequenceStartsAtItsFirstImage()
{
    TFormTrackView view;
    LoadImages(view, 5);
    auto *slider = view.findChild<QSlider *>(QStringLiteral("hsImage"));
    slider->setValue(3);
    QCOMPARE(view.scene->CurrentImage(), 3);
    LoadImages(view, 4, 30, 20); // in range, but another sequence: back to its start
    QCOMPARE(slider->maximum(), 3);
    QCOMPARE(slider->value(), 0);
    QCOMPARE(view.scene->CurrentImage(), 0);
    QCOMPARE(view.scene->sceneRect(), QRectF(0, 0, 30, 20));
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(view.scene->CurrentImage(), 1);
}

void TestTrackView::resizeRefitsImage()
{
    TFormTrackView view;
    LoadImages(view, 2, 200, 50);
    auto *graphics = view.findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const auto checkFilled = [&]() {
        const QRect mapped = graphics->mapFromScene(view.scene->sceneRect()).boundingRect();
        const QRect viewport = graphics->viewport()->rect();
        // Stretched to the viewport in both directions, within the fit margin.
        QVERIFY2(viewport.adjusted(-1, -1, 1, 1).contains(mapped), "image outside the view");
        QVERIFY2(mapped.width() >= viewport.width() - 6, "image not stretched horizontally");
        QVERIFY2(mapped.height() >= viewport.height() - 6, "image not stretched vertically");
    };
    view.findChild<QSlider *>(QStringLiteral("hsImage"))->setValue(1);
    checkFilled();
    view.resize(1100, 900);
    QTRY_COMPARE(view.size(), QSize(1100, 900));
    checkFilled();
    view.resize(820, 640);
    QTRY_COMPARE(view.size(), QSize(820, 640));
    checkFilled();
}

QTEST_MAIN(TestTrackView)
#include "tst_trackview.moc"
