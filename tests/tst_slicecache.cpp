// Stacks larger than memory: the cache of display images stays within its
// budget and keeps the slices around the current one, a step to a slice not
// held shows that slice with its markers, and a new sequence replaces one
// still loading without anything of the old one arriving late.
#include "model/normalfiber.h"
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "stack/imagesequence.h"
#include "stack/slicecache.h"
#include "stack/sliceloader.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Fills cache as the loader does: slices in rank order while they fit.
void Fill(SliceCache &cache, const QImage &image)
{
    cache.VisitInRankOrder([&](int slice) {
        if (cache.Holds(slice))
            return true;
        if (!cache.Reserve(slice, image.sizeInBytes()))
            return false;
        return cache.Insert(slice, image) && cache.Bytes() <= cache.Budget();
    });
}

std::vector<int> Range(int first, int last)
{
    std::vector<int> slices;
    for (int slice = first; slice <= last; ++slice)
        slices.push_back(slice);
    return slices;
}

// Slices of 64 KB whose grey level tells their index.
QStringList WriteNumberedSlices(const QString &directory, int count, const QString &name)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        QImage image(256, 256, QImage::Format_Grayscale8);
        image.fill(5 * i);
        files << QDir(directory).filePath(
            name + QStringLiteral("%1.png").arg(i, 3, 10, QLatin1Char('0')));
        image.save(files.last());
    }
    return files;
}

} // namespace

class TestSliceCache : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void cacheKeepsTheSlicesAroundTheCurrentOne();
    void budgetComesFromTheEnvironment();
    void stepToSliceNotHeldShowsItWithItsMarkers();
    void newSequenceDuringThePassReplacesIt();
};

void TestSliceCache::cleanup() { qunsetenv("STRANDSIGHT_CACHE_MB"); }

void TestSliceCache::cacheKeepsTheSlicesAroundTheCurrentOne()
{
    QImage image(100, 10, QImage::Format_Grayscale8);
    image.fill(0);
    SliceCache cache;
    cache.Reset(20, 5 * image.sizeInBytes());

    // Stepping forward keeps more ahead than behind.
    cache.SetFocus(10);
    Fill(cache, image);
    QCOMPARE(cache.HeldSlices(), Range(9, 13));
    cache.SetFocus(15);
    Fill(cache, image);
    QCOMPARE(cache.HeldSlices(), Range(14, 18));
    // Turning back: the furthest ahead go first.
    cache.SetFocus(13);
    Fill(cache, image);
    QCOMPARE(cache.HeldSlices(), Range(10, 14));
    QCOMPARE(cache.Bytes(), cache.Budget());

    // A slice larger than the whole budget evicts nothing.
    QVERIFY(!cache.Reserve(13, cache.Budget() + 1));
    QCOMPARE(cache.HeldSlices(), Range(10, 14));
    // Slices further away than everything held make no room for themselves.
    QVERIFY(!cache.Reserve(0, image.sizeInBytes()));
    QCOMPARE(cache.HeldSlices(), Range(10, 14));
}

void TestSliceCache::budgetComesFromTheEnvironment()
{
    const qint64 gib = qint64(1) << 30;
    QCOMPARE(ImageSequence::CacheBudget(8 * gib), 7 * gib);
    qputenv("STRANDSIGHT_CACHE_MB", "3");
    QCOMPARE(ImageSequence::CacheBudget(8 * gib), qint64(3) << 20);
    qputenv("STRANDSIGHT_CACHE_MB", "lots");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("STRANDSIGHT_CACHE_MB"));
    QCOMPARE(ImageSequence::CacheBudget(8 * gib), 7 * gib);
}

void TestSliceCache::stepToSliceNotHeldShowsItWithItsMarkers()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // 40 slices of 64 KB under a 1 MB budget: 16 of them are held.
    qputenv("STRANDSIGHT_CACHE_MB", "1");
    TFormStrandsight window;
    TFormTrackView *view = window.ViewWindow();
    TrackScene *scene = view->scene;
    const SliceLoader *loader = scene->ImageLoader();
    auto *slider = view->findChild<QSlider *>(QStringLiteral("hsImage"));
    QVERIFY(slider);
    scene->AddNormalFiber(7, PointMap { { 30, { 100.0f, 120.0f } } }, Qt::red);
    scene->ShowNormalFibers();

    QVERIFY(window.LoadImageFiles(WriteNumberedSlices(dir.path(), 40, "s")));
    QTRY_VERIFY(!loader->Loading());
    QCOMPARE(loader->Cache().Budget(), qint64(1) << 20);
    QCOMPARE(loader->Cache().HeldSlices(), Range(0, 15));

    slider->setValue(30);
    QCOMPARE(qGray(scene->ShownImage().pixel(0, 0)), 150);
    const NormalFiber *marker = scene->NormalFibers().front();
    QVERIFY(marker->isVisible());
    QCOMPARE(marker->pos(), QPointF(100, 120));

    // The cache moves to the slices around 30, more of them ahead.
    const std::vector<int> around = Range(24, 39);
    QTRY_COMPARE(loader->Cache().HeldSlices(), around);
    QVERIFY(loader->Cache().Bytes() <= loader->Cache().Budget());
    slider->setValue(29);
    QCOMPARE(qGray(scene->ShownImage().pixel(0, 0)), 145);
    QVERIFY(!marker->isVisible());
}

void TestSliceCache::newSequenceDuringThePassReplacesIt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TFormStrandsight window;
    TrackScene *scene = window.ViewWindow()->scene;
    const SliceLoader *loader = scene->ImageLoader();
    QStringList old = TestSupport::WriteImages(dir.path(), 150, 100, 80, "old");
    old << dir.filePath("old999.png");
    QVERIFY(TestSupport::WriteText(old.last(), "no image"));
    QStringList fresh = TestSupport::WriteImages(dir.path(), 2, 30, 20, "new");
    fresh << dir.filePath("new999.png");
    QVERIFY(TestSupport::WriteText(fresh.last(), "no image"));

    // Only the new sequence's undecodable file is reported; a second message
    // would fail the script.
    QString text;
    TestSupport::ModalScript script({ [&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        text = box->text();
        box->accept();
    } });
    QVERIFY(window.LoadImageFiles(old));
    QVERIFY(loader->Loading());
    QSignalSpy progress(loader, &SliceLoader::Progress);
    QVERIFY(window.LoadImageFiles(fresh));
    QTRY_COMPARE(script.Done(), 1);
    QTest::qWait(100);
    QVERIFY(!script.Failed());
    QVERIFY2(text.contains(QStringLiteral("1 of 3")) && text.contains(QStringLiteral("new999.png")),
             qPrintable(text));

    for (const QList<QVariant> &report : progress)
        QCOMPARE(report.at(1).toInt(), 3);
    QCOMPARE(scene->ImageCount(), 3);
    QCOMPARE(loader->Cache().HeldSlices(), Range(0, 1));
    for (int slice = 0; slice < 2; ++slice)
        QCOMPARE(loader->Held(slice).size(), QSize(30, 20));
}

QTEST_MAIN(TestSliceCache)
#include "tst_slicecache.moc"
