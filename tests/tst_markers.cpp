#include "model/errorfiber.h"
#include "model/normalfiber.h"

#include <QGraphicsScene>
#include <QtTest>
#include <cmath>

// The track record and both marker kinds: star geometry, point table rules and
// when a marker is visible.
class TestMarkers : public QObject
{
    Q_OBJECT

private slots:
    void starVertices_data();
    void starVertices();
    void newMarkersAreInvisibleAndSelectableOnly();
    void pointTable();
    void pointInRectIncludesEdges();
    void visibilityFollowsImageAndHiddenFlag();
};

void TestMarkers::starVertices_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    const double table[11][2] = {
        { 0.0000, -18.5456 },  { 4.0172, -6.1819 },  { 17.0172, -6.1819 },  { 6.5000, 1.4593 },
        { 10.5172, 13.8231 },  { 0.0000, 6.1819 },   { -10.5172, 13.8231 }, { -6.5000, 1.4593 },
        { -17.0172, -6.1819 }, { -4.0172, -6.1819 }, { 0.0000, -18.5456 },
    };
    for (int i = 0; i < 11; ++i)
        QTest::addRow("P%d", i) << i << table[i][0] << table[i][1];
}

void TestMarkers::starVertices()
{
    QFETCH(int, index);
    QFETCH(double, x);
    QFETCH(double, y);
    const QPolygonF star = ErrorFiber::StarOutline(4.0 * std::atan(1.0));
    QCOMPARE(star.size(), 11);
    QVERIFY2(std::abs(star[index].x() - x) < 0.00005, qPrintable(QString::number(star[index].x())));
    QVERIFY2(std::abs(star[index].y() - y) < 0.00005, qPrintable(QString::number(star[index].y())));

    // The marker keeps its own copy of the outline it was given.
    ErrorFiber marker(1, Qt::red, star);
    QCOMPARE(marker.polygon(), star);
}

void TestMarkers::newMarkersAreInvisibleAndSelectableOnly()
{
    NormalFiber normal(3, Qt::green);
    ErrorFiber err(4, Qt::red, ErrorFiber::StarOutline(4.0 * std::atan(1.0)));
    for (Fiber *fiber : { static_cast<Fiber *>(&normal), static_cast<Fiber *>(&err) }) {
        QVERIFY(fiber->hidden);
        QCOMPARE(fiber->currentImage, -1);
        QVERIFY(fiber->points.empty());
    }
    QVERIFY(!normal.isVisible());
    QVERIFY(!err.isVisible());
    // Selectable, not movable, not focusable; the scene draws them.
    const QGraphicsItem::GraphicsItemFlags flags
        = QGraphicsItem::ItemIsSelectable | QGraphicsItem::ItemHasNoContents;
    QCOMPARE(normal.flags(), flags);
    QCOMPARE(err.flags(), flags);
    QVERIFY(!normal.error);
    QVERIFY(err.error);
    QCOMPARE(normal.rect(), QRectF(-10, -10, 20, 20));
    normal.ApplyColor();
    QCOMPARE(normal.brush(), QBrush(Qt::green, Qt::SolidPattern));
    QVERIFY(!normal.isVisible()); // still hidden after colouring
}

void TestMarkers::pointTable()
{
    NormalFiber marker(1, Qt::blue);
    QVERIFY(!marker.HasPoint(-1));
    QVERIFY(!marker.HasPoint(0));

    marker.SetPoint(2, { 1.0f, 2.0f });
    marker.SetPoint(2, { 5.0f, 6.0f });
    QCOMPARE(marker.points.size(), size_t(1));
    QCOMPARE(marker.points.at(2).x, 5.0f);
    QVERIFY(marker.HasPoint(2));
    QVERIFY(!marker.HasPoint(1));

    PointMap source;
    source[2] = { 7.0f, 8.0f };
    source[4] = { 9.0f, 10.0f };
    marker.SetPoint(3, { 0.0f, 0.0f });
    marker.SetPoints(source);
    QCOMPARE(marker.points.size(), size_t(2));
    QCOMPARE(marker.points.at(2).y, 8.0f);
    QVERIFY(!marker.HasPoint(3));

    marker.SetPoints(PointMap());
    QVERIFY(marker.points.empty());
}

void TestMarkers::pointInRectIncludesEdges()
{
    NormalFiber marker(1, Qt::blue);
    marker.SetPoint(0, { 100.0f, 100.0f });
    marker.SetPoint(1, { 300.0f, 100.0f });
    const QRectF square(0, 0, 100, 100);
    QVERIFY(marker.PointInRect(square, 0)); // bottom-right corner lies in the square
    QVERIFY(!marker.PointInRect(square, 1));
    QVERIFY(!marker.PointInRect(square, 2));
    QVERIFY(!marker.PointInRect(QRectF(-1e9, -1e9, 2e9, 2e9), -1));
}

void TestMarkers::visibilityFollowsImageAndHiddenFlag()
{
    QGraphicsScene scene;
    auto *marker = new ErrorFiber(9, Qt::red, ErrorFiber::StarOutline(4.0 * std::atan(1.0)));
    PointMap points;
    points[0] = { 10.5f, 20.25f };
    points[2] = { 30.0f, 40.0f };
    marker->SetPoints(points);
    scene.addItem(marker);

    marker->ShowFiber(); // image -1: nothing to show yet
    QVERIFY(!marker->isVisible());

    marker->SetCurrentImage(0);
    QVERIFY(marker->isVisible());
    QCOMPARE(marker->pos(), QPointF(10.5, 20.25));
    marker->SetCurrentImage(1);
    QVERIFY(!marker->isVisible());
    marker->SetCurrentImage(2);
    QVERIFY(marker->isVisible());
    QCOMPARE(marker->pos(), QPointF(30, 40));

    marker->HideFiber();
    QVERIFY(!marker->isVisible());
    QCOMPARE(marker->pos(), QPointF(30, 40)); // hiding does not move it
    marker->SetCurrentImage(0);
    QVERIFY(!marker->isVisible());
    QCOMPARE(marker->currentImage, 0);

    marker->ShowFiber(); // back at the point of the image current now
    QVERIFY(marker->isVisible());
    QCOMPARE(marker->pos(), QPointF(10.5, 20.25));
    marker->SetCurrentImage(1);
    marker->HideFiber();
    marker->ShowFiber();
    QVERIFY(!marker->isVisible());
}

QTEST_MAIN(TestMarkers)
#include "tst_markers.moc"
