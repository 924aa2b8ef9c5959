#include "model/parallelinorder.h"
#include "model/trackfile.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>
#include <chrono>

// Loading runs the decoding of files on helper threads; these tests hold it to
// behaving exactly like reading the files one after the other.
class TestParallelInOrder : public QObject
{
    Q_OBJECT

private slots:
    void resultsArriveInOrderOnTheCallingThread();
    void stoppingEarlyStartsNoMoreWork();
    void trackSetReadsLikeFileAfterFile();
    void trackSetReportsTheFirstUnreadableFileAndCancels();
};

void TestParallelInOrder::resultsArriveInOrderOnTheCallingThread()
{
    for (const int threads : { 1, 2, 4 }) {
        std::vector<int> taken;
        const auto caller = std::this_thread::get_id();
        bool takenOnCaller = true;
        bool rightResults = true;
        const std::function<int(int)> work = [](int i) {
            // Later items finish first, so the order must come from the merge.
            std::this_thread::sleep_for(std::chrono::microseconds((50 - i % 50) * 20));
            return i * i;
        };
        const std::function<bool(int, int &)> take = [&](int i, int &square) {
            takenOnCaller = takenOnCaller && std::this_thread::get_id() == caller;
            rightResults = rightResults && square == i * i;
            taken.push_back(i);
            return true;
        };
        QVERIFY(ParallelInOrder(200, work, take, threads));
        QVERIFY(takenOnCaller);
        QVERIFY(rightResults);
        QCOMPARE(taken.size(), size_t(200));
        QVERIFY(std::is_sorted(taken.begin(), taken.end()));
    }
    QVERIFY(ParallelInOrder<int>(
        0, [](int) { return 0; }, [](int, int &) { return false; }));
}

void TestParallelInOrder::stoppingEarlyStartsNoMoreWork()
{
    std::atomic<int> started { 0 };
    const std::function<int(int)> work = [&started](int i) {
        ++started;
        return i;
    };
    int taken = 0;
    const std::function<bool(int, int &)> take = [&taken](int, int &) { return ++taken < 3; };
    QVERIFY(!ParallelInOrder(10000, work, take, 2));
    QCOMPARE(taken, 3);
    // Only the few results allowed to wait ahead may have been made.
    QVERIFY2(started.load() <= 3 + 4 + 2, qPrintable(QString::number(started.load())));
}

namespace {

QStringList WriteSet(const QString &directory, int files)
{
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        QByteArray text;
        for (int id = 1; id <= 50; ++id)
            text += QByteArray::number(id * 1.5 + i) + '\t' + QByteArray::number(i) + '\t'
                + QByteArray::number(id) + '\n';
        text += "1\t1\t" + QByteArray::number(i % 7) + '\n'; // ids repeated across files
        const QString path = directory + QStringLiteral("/t%1.txt").arg(i, 3, 10, QLatin1Char('0'));
        TestSupport::WriteText(path, text);
        paths << path;
    }
    return paths;
}

} // namespace

void TestParallelInOrder::trackSetReadsLikeFileAfterFile()
{
    QTemporaryDir dir;
    const QStringList paths = WriteSet(dir.path(), 60);
    TrackTable oneByOne;
    for (int i = 0; i < paths.size(); ++i)
        QVERIFY(ReadTrackFile(QFile::encodeName(paths[i]), oneByOne, static_cast<unsigned int>(i)));
    TrackTable together;
    int lastDone = 0;
    bool stepsInOrder = true;
    const TrackSetRead read = ReadTrackSet(paths, together, [&](int done, int total) {
        stepsInOrder = stepsInOrder && done == lastDone + 1 && total == 60;
        lastDone = done;
        return true;
    });
    QVERIFY(stepsInOrder);
    QCOMPARE(read.outcome, TrackSetRead::Complete);
    QCOMPARE(lastDone, 60);
    QCOMPARE(together.size(), oneByOne.size());
    for (const auto &[id, points] : oneByOne) {
        const PointMap &other = together.at(id);
        QCOMPARE(other.size(), points.size());
        for (const auto &[image, p] : points) {
            QCOMPARE(other.at(image).x, p.x);
            QCOMPARE(other.at(image).y, p.y);
        }
    }
}

void TestParallelInOrder::trackSetReportsTheFirstUnreadableFileAndCancels()
{
    QTemporaryDir dir;
    QStringList paths = WriteSet(dir.path(), 20);
    paths[12] = dir.path() + QStringLiteral("/missing12.txt");
    paths[15] = dir.path(); // a directory opens but cannot be read
    TrackTable table;
    TrackSetRead read = ReadTrackSet(paths, table);
    QCOMPARE(read.outcome, TrackSetRead::Unreadable);
    QCOMPARE(read.file, 12);

    table.clear();
    read = ReadTrackSet(WriteSet(dir.path(), 20), table, [](int done, int) { return done < 5; });
    QCOMPARE(read.outcome, TrackSetRead::Cancelled);
}

QTEST_GUILESS_MAIN(TestParallelInOrder)
#include "tst_parallelinorder.moc"
