#include "model/trackcolors.h"

#include <QtTest>

// Colour choice for a track created by hand, from the hues of its neighbours.
class TestTrackColorsHue : public QObject
{
    Q_OBJECT

private slots:
    void contrastingHue_data();
    void contrastingHue();
    void achromaticColoursKeepHueMinusOne();
    void noNeighbourGivesRandomBrightColour();
};

void TestTrackColorsHue::contrastingHue_data()
{
    QTest::addColumn<QList<int>>("hues");
    QTest::addColumn<int>("expected");
    QTest::newRow("one neighbour, opposite upward") << QList<int> { 30 } << 210;
    QTest::newRow("one neighbour, opposite downward") << QList<int> { 200 } << 20;
    QTest::newRow("one neighbour at 180") << QList<int> { 180 } << 0;
    QTest::newRow("gap wraps past 360") << QList<int> { 10, 50 } << 210;
    QTest::newRow("order of neighbours does not matter") << QList<int> { 50, 10 } << 210;
    QTest::newRow("equal gaps, first wins") << QList<int> { 0, 120, 240 } << 60;
    QTest::newRow("equal gaps, unsorted input") << QList<int> { 240, 0, 120 } << 60;
    QTest::newRow("all the same hue") << QList<int> { 77, 77, 77 } << 77;
    QTest::newRow("inner gap widest") << QList<int> { 0, 300 } << 150;
    QTest::newRow("wrap ending at 359") << QList<int> { 358, 359, 1 } << 179;
}

void TestTrackColorsHue::contrastingHue()
{
    QFETCH(QList<int>, hues);
    QFETCH(int, expected);
    QList<QColor> neighbours;
    for (int hue : hues)
        neighbours << QColor::fromHsv(hue, 200, 150);
    const QColor colour = ContrastingTrackColor(neighbours).toHsv();
    QCOMPARE(colour.hue(), expected);
    QCOMPARE(colour.saturation(), 255);
    QCOMPARE(colour.value(), 255);
    QCOMPARE(colour.alpha(), 255);
    if (hues.size() >= 2) {
        QList<QColor> hsv;
        for (const QColor &c : neighbours)
            hsv << c.toHsv();
        QCOMPARE(MidHueOfWidestGap(hsv), expected);
    }
}

void TestTrackColorsHue::achromaticColoursKeepHueMinusOne()
{
    // Grey has hue -1; it sorts first and the widest gap runs from it to 100.
    const QList<QColor> colours { QColor(128, 128, 128).toHsv(), QColor::fromHsv(100, 255, 255) };
    QCOMPARE(MidHueOfWidestGap(colours), 229);
    // A single grey neighbour: -1 - 180 + 360.
    QCOMPARE(ContrastingTrackColor({ QColor(128, 128, 128) }).toHsv().hue(), 179);
}

void TestTrackColorsHue::noNeighbourGivesRandomBrightColour()
{
    for (int i = 0; i < 3; ++i) {
        const QColor colour = ContrastingTrackColor({}).toHsv();
        QVERIFY(colour.isValid());
        QCOMPARE(colour.saturation(), 255);
        QVERIFY2(colour.value() >= 128 && colour.value() <= 255,
                 qPrintable(QString::number(colour.value())));
        QCOMPARE(colour.alpha(), 255);
        QVERIFY(colour.hue() >= 0 && colour.hue() < 360);
    }
}

QTEST_MAIN(TestTrackColorsHue)
#include "tst_trackcolors_hue.moc"
