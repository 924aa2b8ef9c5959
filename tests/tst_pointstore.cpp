#include "model/normalfiber.h"
#include "model/tracktypes.h"

#include <QtTest>
#include <stdexcept>

namespace {

// "image:x" per point in iteration order; y is always x + 0.5 here.
QString Describe(const PointMap &points)
{
    QStringList parts;
    for (const auto &[image, point] : points) {
        parts << QStringLiteral("%1:%2").arg(image).arg(double(point.x));
        if (point.y != point.x + 0.5f)
            parts.back() += QStringLiteral("(y!)");
    }
    return parts.join(QLatin1Char(' '));
}

TrackPoint P(float x) { return { x, x + 0.5f }; }

} // namespace

// The store of a track's points and the tables of tracks: std::map's meaning
// for everything the program and the editing code use, and copies that share
// their points until one of them changes.
class TestPointStore : public QObject
{
    Q_OBJECT

private slots:
    void insertKeepsImageOrder_data();
    void insertKeepsImageOrder();
    void findAndBounds();
    void eraseByImageAndPosition();
    void copiesShareUntilOneChanges();
    void markerKeepsItsPointsWhenTheRegistryChanges();
    void trackTableInIdOrder();
};

void TestPointStore::insertKeepsImageOrder_data()
{
    QTest::addColumn<QString>("operations"); // on the map {2:2 5:5 9:9}
    QTest::addColumn<QString>("expected");
    QTest::newRow("in the middle") << "assign 7 70"
                                   << "2:2 5:5 7:70 9:9";
    QTest::newRow("before the first") << "assign 0 1"
                                      << "0:1 2:2 5:5 9:9";
    QTest::newRow("after the last") << "assign 12 3"
                                    << "2:2 5:5 9:9 12:3";
    QTest::newRow("replacing") << "assign 5 50"
                               << "2:2 5:50 9:9";
    QTest::newRow("insert keeps an existing point") << "insert 5 50"
                                                    << "2:2 5:5 9:9";
    QTest::newRow("subscript inserts (0, 0)") << "subscript 3"
                                              << "2:2 3:0(y!) 5:5 9:9";
    QTest::newRow("right hint") << "hint 9 7 70"
                                << "2:2 5:5 7:70 9:9";
    QTest::newRow("wrong hint") << "hint 2 7 70"
                                << "2:2 5:5 7:70 9:9";
    QTest::newRow("hint on the same image") << "hint 5 5 50"
                                            << "2:2 5:50 9:9";
    QTest::newRow("appending at the end") << "hint end 10 1|hint end 11 2"
                                          << "2:2 5:5 9:9 10:1 11:2";
    QTest::newRow("emplace_hint keeps an existing point") << "emplacehint end 5 50"
                                                          << "2:2 5:5 9:9";
    QTest::newRow("largest image") << "assign 4294967295 1"
                                   << "2:2 5:5 9:9 4294967295:1";
}

void TestPointStore::insertKeepsImageOrder()
{
    QFETCH(QString, operations);
    QFETCH(QString, expected);
    // Made in an order of its own, with a repeated image: the first one stays.
    PointMap points { { 9, P(9) }, { 2, P(2) }, { 5, P(5) }, { 2, P(99) } };
    QCOMPARE(Describe(points), QStringLiteral("2:2 5:5 9:9"));
    for (const QString &operation : operations.split(QLatin1Char('|'))) {
        const QStringList word = operation.split(QLatin1Char(' '));
        const unsigned int image = word.value(word[0].contains("hint") ? 2 : 1).toUInt();
        const float x = word.value(word[0].contains("hint") ? 3 : 2).toFloat();
        const auto hint = [&] {
            return word[1] == QLatin1String("end") ? points.end() : points.find(word[1].toUInt());
        };
        if (word[0] == QLatin1String("assign"))
            points.insert_or_assign(image, P(x));
        else if (word[0] == QLatin1String("insert"))
            points.insert({ image, P(x) });
        else if (word[0] == QLatin1String("subscript"))
            points[image];
        else if (word[0] == QLatin1String("hint"))
            QCOMPARE(points.insert_or_assign(hint(), image, P(x))->first, image);
        else if (word[0] == QLatin1String("emplacehint"))
            QCOMPARE(points.emplace_hint(hint(), image, P(x))->first, image);
    }
    QCOMPARE(Describe(points), expected);
    // Backwards, the same points the other way round.
    QStringList backwards;
    for (auto it = points.rbegin(); it != points.rend(); ++it)
        backwards.prepend(QStringLiteral("%1:%2").arg(it->first).arg(double(it->second.x)));
    QCOMPARE(backwards.join(QLatin1Char(' ')), Describe(points).remove(QStringLiteral("(y!)")));
}

void TestPointStore::findAndBounds()
{
    const PointMap points { { 2, P(2) }, { 5, P(5) }, { 9, P(9) } };
    QCOMPARE(points.find(5)->second.x, 5.0f);
    QVERIFY(points.find(4) == points.end());
    QVERIFY(points.find(10) == points.end());
    QCOMPARE(points.count(9), size_t(1));
    QCOMPARE(points.count(0), size_t(0));
    QCOMPARE(points.lower_bound(5)->first, 5u);
    QCOMPARE(points.lower_bound(6)->first, 9u);
    QCOMPARE(points.upper_bound(5)->first, 9u);
    QVERIFY(points.upper_bound(9) == points.end());
    QCOMPARE(points.lower_bound(0)->first, 2u);
    QCOMPARE(points.at(2).y, 2.5f);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, points.at(3));

    const PointMap none;
    QVERIFY(none.empty() && none.begin() == none.end() && none.find(0) == none.end());
}

void TestPointStore::eraseByImageAndPosition()
{
    PointMap points { { 1, P(1) }, { 2, P(2) }, { 3, P(3) }, { 4, P(4) }, { 5, P(5) } };
    QCOMPARE(points.erase(3u), size_t(1));
    QCOMPARE(points.erase(3u), size_t(0));
    QCOMPARE(Describe(points), QStringLiteral("1:1 2:2 4:4 5:5"));
    // Erasing returns the position after, as a map's erase does.
    auto next = points.erase(points.find(1));
    QCOMPARE(next->first, 2u);
    next = points.erase(points.find(5));
    QVERIFY(next == points.end());
    QCOMPARE(Describe(points), QStringLiteral("2:2 4:4"));
    // The usual loop that erases while it walks.
    for (auto it = points.begin(); it != points.end();)
        it = it->first == 2 ? points.erase(it) : std::next(it);
    QCOMPARE(Describe(points), QStringLiteral("4:4"));
    points.erase(points.begin(), points.end());
    QVERIFY(points.empty());
    points[7] = P(7);
    points.clear();
    QVERIFY(points.empty() && points.find(7) == points.end());
}

// A change through one holder never shows through another, whatever the change.
void TestPointStore::copiesShareUntilOneChanges()
{
    const PointMap original { { 1, P(1) }, { 4, P(4) }, { 8, P(8) } };
    const QString before = Describe(original);
    const std::vector<std::function<void(PointMap &)>> changes {
        [](PointMap &m) { m.insert_or_assign(4, P(40)); },
        [](PointMap &m) { m[6] = P(6); },
        [](PointMap &m) { m.erase(1u); },
        [](PointMap &m) { m.erase(m.begin(), m.end()); },
        [](PointMap &m) { m.begin()->second = P(10); },
        [](PointMap &m) { m.find(8)->second.x = 80; },
        [](PointMap &m) { m.at(4) = P(44); },
        [](PointMap &m) { m.insert_or_assign(std::as_const(m).end(), 9, P(9)); },
        [](PointMap &m) { m.emplace_hint(std::as_const(m).begin(), 0, P(0)); },
        [](PointMap &m) { m.erase(std::as_const(m).find(4)); },
        [](PointMap &m) { m.clear(); },
        [](PointMap &m) {
            m = PointMap { { 3, P(3) } };
        },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        PointMap copy = original;
        QVERIFY(copy.IsSharedWith(original)); // no copy of the points yet
        changes[i](copy);
        QVERIFY2(Describe(original) == before, qPrintable(QString::number(i)));
        QVERIFY2(Describe(copy) != before, qPrintable(QString::number(i)));
        QVERIFY(!copy.IsSharedWith(original));

        // And the other way round: the copy keeps what it had.
        PointMap changed = original;
        const PointMap kept = changed;
        changes[i](changed);
        QVERIFY2(Describe(kept) == before, qPrintable(QString::number(i)));
    }
    // Reading does not copy.
    const PointMap copy = original;
    for ([[maybe_unused]] const auto &entry : copy) { }
    QVERIFY(copy.find(4) != copy.end() && copy.IsSharedWith(original));
}

void TestPointStore::markerKeepsItsPointsWhenTheRegistryChanges()
{
    TrackTable registry;
    registry[5] = PointMap { { 0, P(10) }, { 1, P(20) } };
    NormalFiber marker(5, Qt::red);
    marker.SetPoints(registry.at(5));
    QVERIFY(marker.points.IsSharedWith(registry.at(5)));
    marker.SetCurrentImage(1);
    marker.ShowFiber();
    QCOMPARE(marker.pos(), QPointF(20, 20.5));

    registry[5].insert_or_assign(1, P(99));
    registry[5][2] = P(30);
    QCOMPARE(Describe(marker.points), QStringLiteral("0:10 1:20"));
    QCOMPARE(marker.PointOn(1)->x, 20.0f);
    QVERIFY(!marker.HasPoint(2));
    registry.erase(5u);
    marker.Refresh();
    QCOMPARE(marker.pos(), QPointF(20, 20.5));

    // The other way: a point placed on the marker stays out of the registry.
    registry[6] = PointMap { { 0, P(1) } };
    marker.SetPoints(registry.at(6));
    marker.SetPoint(0, P(2));
    QCOMPARE(registry.at(6).at(0).x, 1.0f);
    QCOMPARE(marker.PointOn(0)->x, 2.0f);
}

void TestPointStore::trackTableInIdOrder()
{
    TrackTable table;
    for (const unsigned int id : { 10u, 2u, 4294967295u, 100u, 0u })
        table[id][id % 7] = P(float(id % 100));
    QStringList ids;
    for (const auto &[id, points] : table)
        ids << QString::number(id);
    QCOMPARE(ids.join(QLatin1Char(' ')), QStringLiteral("0 2 10 100 4294967295"));
    QCOMPARE(table.at(100).at(2).x, 0.0f);
    QCOMPARE(table.erase(10u), size_t(1));
    QCOMPARE(table.erase(10u), size_t(0));
    QVERIFY(table.find(10) == table.end());
    QCOMPARE(table.lower_bound(3)->first, 100u);
    const auto [at, inserted] = table.try_emplace(2, PointMap { { 0, P(5) } });
    QVERIFY(!inserted);
    QCOMPARE(at->second.at(2).x, 2.0f);
    table.insert_or_assign(2, PointMap { { 0, P(5) } });
    QCOMPARE(Describe(table.at(2)), QStringLiteral("0:5"));
    QCOMPARE(table.size(), size_t(4));

    ColorTable colours { { 9, QColor(Qt::red) },
                         { 3, QColor(Qt::blue) },
                         { 9, QColor(Qt::green) } };
    QCOMPARE(colours.size(), size_t(2));
    QCOMPARE(colours.begin()->first, 3u);
    QCOMPARE(colours.at(9), QColor(Qt::red));
}

QTEST_MAIN(TestPointStore)
#include "tst_pointstore.moc"
