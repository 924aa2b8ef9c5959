#include "model/trackcolors.h"

#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <tuple>
#include <vector>

namespace {

TrackTable TableOf(const std::vector<unsigned int> &ids)
{
    TrackTable table;
    for (const unsigned int id : ids)
        table[id][0] = TrackPoint { 1.0f, 1.0f };
    return table;
}

TrackTable TableOfSize(int n)
{
    TrackTable table;
    for (int k = 0; k < n; ++k)
        table.emplace_hint(table.end(), 3u * k + 1, PointMap {});
    return table;
}

using HsvKey = std::tuple<float, float, float, float>;

HsvKey KeyOf(const QColor &colour)
{
    return { colour.hsvHueF(), colour.hsvSaturationF(), colour.valueF(), colour.alphaF() };
}

// The colours n tracks must get between them, in a fixed order.
std::vector<HsvKey> ExpectedKeys(int n)
{
    std::vector<HsvKey> keys;
    for (int k = 0; k < n; ++k) {
        const float f = static_cast<float>(k) / static_cast<float>(n);
        keys.push_back(KeyOf(QColor::fromHsvF(f, f, f, 1.0f)));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::vector<HsvKey> SortedKeys(const ColorTable &colors)
{
    std::vector<HsvKey> keys;
    for (const auto &entry : colors)
        keys.push_back(KeyOf(entry.second));
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace

// Colours given to a freshly loaded kind of track.
class TstTrackColors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { std::srand(7); }
    void emptyTableKeepsColors();
    void singleTrackIsBlack();
    void fractionsUsedOnce_data();
    void fractionsUsedOnce();
    void tableFollowsTrackIds();
    void orderIsShuffled();
    void largeSetShuffledThroughout();
};

void TstTrackColors::emptyTableKeepsColors()
{
    ColorTable colors { { 5, QColor(Qt::red) }, { 9, QColor(Qt::blue) } };
    AssignTrackColors(TrackTable {}, colors);
    QCOMPARE(colors.size(), size_t(2));
    QCOMPARE(colors.at(5), QColor(Qt::red));
    QCOMPARE(colors.at(9), QColor(Qt::blue));
}

void TstTrackColors::singleTrackIsBlack()
{
    ColorTable colors;
    AssignTrackColors(TableOf({ 42 }), colors);
    QCOMPARE(colors.size(), size_t(1));
    const QColor colour = colors.at(42);
    QCOMPARE(colour.hsvHueF(), 0.0f);
    QCOMPARE(colour.hsvSaturationF(), 0.0f);
    QCOMPARE(colour.valueF(), 0.0f);
    QCOMPARE(colour.alphaF(), 1.0f);
    QCOMPARE(colour.rgba(), qRgba(0, 0, 0, 255));
}

void TstTrackColors::fractionsUsedOnce_data()
{
    QTest::addColumn<int>("n");
    QTest::newRow("2") << 2;
    QTest::newRow("4") << 4;
    QTest::newRow("7") << 7;
    QTest::newRow("1000") << 1000;
}

void TstTrackColors::fractionsUsedOnce()
{
    QFETCH(int, n);
    ColorTable colors;
    AssignTrackColors(TableOfSize(n), colors);
    QCOMPARE(colors.size(), size_t(n));

    // Hue, saturation and value are one and the same fraction k/n, each k once.
    std::vector<int> uses(n, 0);
    for (const auto &[id, colour] : colors) {
        const double f = colour.valueF();
        const int k = qRound(f * n);
        QVERIFY2(k >= 0 && k < n, qPrintable(QString::number(f)));
        QVERIFY(qAbs(f - double(k) / n) < 1e-4);
        QVERIFY(qAbs(colour.hsvHueF() - f) < 1e-4);
        QVERIFY(qAbs(colour.hsvSaturationF() - f) < 1e-4);
        QCOMPARE(colour.alphaF(), 1.0f);
        ++uses[k];
    }
    QCOMPARE(std::count(uses.begin(), uses.end(), 1), long(n));
}

void TstTrackColors::tableFollowsTrackIds()
{
    // Old entries go, and the ids are exactly those of the table, in numeric order.
    ColorTable colors { { 3, QColor(Qt::red) }, { 10, QColor(Qt::green) } };
    AssignTrackColors(TableOf({ 100, 2, 4294967295u, 10 }), colors);
    std::vector<unsigned int> ids;
    for (const auto &entry : colors)
        ids.push_back(entry.first);
    QCOMPARE(ids, (std::vector<unsigned int> { 2, 10, 100, 4294967295u }));
    QCOMPARE(SortedKeys(colors), ExpectedKeys(4));
}

void TstTrackColors::orderIsShuffled()
{
    // Calls continue the random sequence, so loading again deals the shades anew.
    const TrackTable table = TableOf({ 1, 2, 3, 4 });
    std::set<std::vector<float>> orders;
    for (int round = 0; round < 50; ++round) {
        ColorTable colors;
        AssignTrackColors(table, colors);
        std::vector<float> order;
        for (const auto &entry : colors)
            order.push_back(entry.second.valueF());
        orders.insert(order);
    }
    QVERIFY(orders.size() > 1);
}

void TstTrackColors::largeSetShuffledThroughout()
{
    // More tracks than one rand() draw can index: every shade still used once,
    // and the low ids are not left holding mostly the shades of the last steps.
    const int n = 100000;
    ColorTable colors;
    AssignTrackColors(TableOfSize(n), colors);
    QCOMPARE(colors.size(), size_t(n));
    QVERIFY(SortedKeys(colors) == ExpectedKeys(n));

    double sum = 0.0;
    int counted = 0;
    for (const auto &entry : colors) {
        if (counted == 32768)
            break;
        sum += entry.second.valueF();
        ++counted;
    }
    const double mean = sum / counted;
    QVERIFY2(qAbs(mean - 0.5) < 0.02, qPrintable(QString::number(mean)));
}

QTEST_GUILESS_MAIN(TstTrackColors)
#include "tst_trackcolors.moc"
