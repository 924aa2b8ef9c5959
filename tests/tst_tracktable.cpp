#include "table/trackfilter.h"
#include "table/trackmeasures.h"
#include "table/tracktablemodel.h"

#include <QtTest>

// The track table's data, without its window: measures of hand-made tracks,
// the filter language and the order of the rows.
class TestTrackTable : public QObject
{
    Q_OBJECT

private slots:
    void measures_data();
    void measures();
    void measuringOnHelpersGivesTheSameMeasures();
    void filters_data();
    void filters();
    void sortsNumbersAsNumbersAndKeepsTheSelectedTrack();
};

Q_DECLARE_METATYPE(PointMap)

namespace {

PointMap Points(std::initializer_list<std::tuple<unsigned int, float, float>> list)
{
    PointMap points;
    for (const auto &[image, x, y] : list)
        points[image] = { x, y };
    return points;
}

TrackRow Row(unsigned int id, bool error, int first, int last, int points, int gaps, float jump,
             int at, bool picked = false, bool reviewed = false)
{
    TrackRow row;
    row.measure = { id, first, last, points, gaps, jump, at };
    row.error = error;
    row.picked = picked;
    row.reviewed = reviewed;
    return row;
}

} // namespace

void TestTrackTable::measures_data()
{
    QTest::addColumn<PointMap>("points");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("gaps");
    QTest::addColumn<double>("jump");
    QTest::addColumn<int>("at");

    QTest::newRow("no point") << PointMap() << -1 << -1 << 0 << 0 << -1.0 << -1;
    QTest::newRow("one point") << Points({ { 5, 1, 1 } }) << 5 << 5 << 1 << 0 << -1.0 << -1;
    // From (2, 0) to (30, 40) on image 3: 48.83 pixels.
    QTest::newRow("a jump") << Points(
        { { 0, 0, 0 }, { 1, 1, 0 }, { 2, 2, 0 }, { 3, 30, 40 }, { 4, 31, 40 } })
                            << 0 << 4 << 5 << 0 << std::hypot(28.0, 40.0) << 3;
    QTest::newRow("a step across a gap counts")
        << Points({ { 2, 0, 0 }, { 3, 0, 3 }, { 7, 0, 13 } }) << 2 << 7 << 3 << 3 << 10.0 << 7;
    QTest::newRow("equal steps: the first")
        << Points({ { 10, 0, 0 }, { 11, 5, 0 }, { 12, 10, 0 } }) << 10 << 12 << 3 << 0 << 5.0 << 11;
}

void TestTrackTable::measures()
{
    QFETCH(PointMap, points);
    const TrackMeasure m = MeasureTrack(42, points);
    QCOMPARE(m.id, 42u);
    QTEST(m.first, "first");
    QTEST(m.last, "last");
    QTEST(m.points, "count");
    QTEST(m.gaps, "gaps");
    QFETCH(double, jump);
    QVERIFY2(std::abs(m.jump - jump) < 1e-3, qPrintable(QString::number(m.jump)));
    QTEST(m.jumpImage, "at");
}

void TestTrackTable::measuringOnHelpersGivesTheSameMeasures()
{
    // Enough tracks for every helper to take a part, in a known order.
    std::vector<PointMap> tables;
    for (unsigned int i = 0; i < 1000; ++i)
        tables.push_back(Points({ { i % 7, 0, 0 }, { i % 7 + 2, float(i % 13), 0 } }));
    std::vector<TrackToMeasure> tracks;
    for (unsigned int i = 0; i < tables.size(); ++i)
        tracks.emplace_back(5000 - i, &tables[i]);
    const std::vector<TrackMeasure> measured = MeasureTracks(tracks);
    QCOMPARE(measured.size(), tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        QCOMPARE(measured[i].id, 5000 - unsigned(i));
        QCOMPARE(measured[i].jump, float(i % 13));
        QCOMPARE(measured[i].gaps, 1);
    }
    const std::atomic<bool> cancelled { true };
    QVERIFY(MeasureTracks(tracks, &cancelled).size() == tracks.size());
}

void TestTrackTable::filters_data()
{
    QTest::addColumn<QString>("text");
    // The ids kept, or empty with a word the reason must hold.
    QTest::addColumn<QList<unsigned int>>("ids");
    QTest::addColumn<QString>("why");

    QTest::newRow("empty") << "  " << QList<unsigned int> { 1, 2, 3, 4 } << QString();
    // 15.04 is shown as 15.0, 15.06 as 15.1: compared as shown.
    QTest::newRow("jump as shown") << "jump > 15" << QList<unsigned int> { 4 } << QString();
    QTest::newRow("joined, any case")
        << "gaps >= 1 AND Kind = Error" << QList<unsigned int> { 2 } << QString();
    QTest::newRow("non-error") << "kind=non-error" << QList<unsigned int> { 1, 3 } << QString();
    // Image numbers count from 1 as shown; a track without a step has no
    // jump, no "at" and matches only "!=".
    QTest::newRow("first image") << "first = 1" << QList<unsigned int> { 1, 4 } << QString();
    QTest::newRow("no step") << "at != 5" << QList<unsigned int> { 2, 3, 4 } << QString();
    QTest::newRow("no step, less") << "jump < 3" << QList<unsigned int> { 1 } << QString();
    QTest::newRow("marks") << "picked = yes and reviewed = no" << QList<unsigned int> { 2 }
                           << QString();
    QTest::newRow("unknown measure") << "jumpp > 1" << QList<unsigned int>() << "jumpp";
    QTest::newRow("no value") << "jump >" << QList<unsigned int>() << "comparison";
    QTest::newRow("dangling and") << "jump > 1 and" << QList<unsigned int>() << "and";
    QTest::newRow("not a number") << "points < many" << QList<unsigned int>() << "many";
    QTest::newRow("word ordered") << "kind > error" << QList<unsigned int>() << "=";
    QTest::newRow("wrong word") << "kind = red" << QList<unsigned int>() << "red";
}

void TestTrackTable::filters()
{
    QFETCH(QString, text);
    QFETCH(QList<unsigned int>, ids);
    QFETCH(QString, why);
    const TrackRow rows[] = {
        Row(1, false, 0, 9, 10, 0, 2.0f, 4),
        Row(2, true, 2, 20, 15, 4, 15.04f, 7, true),
        Row(3, false, 5, 5, 1, 0, -1.0f, -1, true, true),
        Row(4, true, 0, 3, 4, 0, 15.06f, 2),
    };
    TrackFilter filter;
    QString reason;
    const bool ok = TrackFilter::Parse(text, filter, reason);
    QCOMPARE(ok, why.isEmpty());
    if (!ok) {
        QVERIFY2(reason.contains(why), qPrintable(reason));
        return;
    }
    QList<unsigned int> kept;
    for (const TrackRow &row : rows) {
        if (filter.Matches(row))
            kept << row.measure.id;
    }
    QCOMPARE(kept, ids);
}

void TestTrackTable::sortsNumbersAsNumbersAndKeepsTheSelectedTrack()
{
    TrackTableModel model;
    model.SetTracks(false,
                    { MeasureTrack(9, Points({ { 0, 0, 0 }, { 1, 3.5f, 0 } })),
                      MeasureTrack(10, Points({ { 0, 0, 0 }, { 1, 12, 0 } })),
                      MeasureTrack(100, Points({ { 4, 0, 0 } })),
                      MeasureTrack(2, Points({ { 0, 0, 0 }, { 3, 100.25f, 0 } })) });
    model.SetTracks(true, { MeasureTrack(10, Points({ { 0, 0, 0 }, { 1, 12, 0 } })) });
    const auto order = [&model] {
        QStringList ids;
        for (int row = 0; row < model.rowCount(); ++row)
            ids << model.index(row, TrackTableModel::IdColumn).data().toString()
                    + (model.TrackAt(row).error ? QStringLiteral("E") : QString());
        return ids.join(' ');
    };
    QCOMPARE(order(), QStringLiteral("2 9 10 10E 100"));
    // A persistent index (a view's current row) stays on its track.
    const QPersistentModelIndex selected = model.index(2, TrackTableModel::JumpColumn);
    QCOMPARE(selected.data().toString(), QStringLiteral("12.0"));
    model.sort(TrackTableModel::JumpColumn, Qt::DescendingOrder);
    // Equal jumps in the rows' own order; no jump at the end.
    QCOMPARE(order(), QStringLiteral("2 10 10E 9 100"));
    QCOMPARE(model.TrackAt(selected.row()).id, 10u);
    QVERIFY(!model.TrackAt(selected.row()).error);
    model.sort(TrackTableModel::JumpColumn, Qt::AscendingOrder);
    QCOMPARE(order(), QStringLiteral("100 9 10 10E 2"));
    QCOMPARE(model.index(0, TrackTableModel::JumpColumn).data().toString(), QString());

    // Marks the order uses reorder the rows; a filter on them drops rows.
    model.sort(TrackTableModel::ReviewedColumn, Qt::DescendingOrder);
    model.SetReviewed({ false, 100 }, true);
    QCOMPARE(order().left(3), QStringLiteral("100"));
    QString why;
    QVERIFY(model.SetFilter(QStringLiteral("reviewed = no"), why));
    model.SetReviewed({ true, 10 }, true);
    QCOMPARE(order(), QStringLiteral("2 9 10"));
    QCOMPARE(model.ReviewedCount(), 2);
    QCOMPARE(model.RowOf({ true, 10 }), -1);
}

QTEST_GUILESS_MAIN(TestTrackTable)
#include "tst_tracktable.moc"
