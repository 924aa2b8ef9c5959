// Stacks larger than memory: the cache of display images stays within its
// budget and keeps the slices around the current one, a step to a slice not
// held shows that slice with its markers, and a new sequence replaces one
// still loading without anything of the old one arriving late.
#include "model/normalfiber.h"
#include "review/tformstrandsight.h"
#include "stack/imagesequence.h"
#include "stack/slicecache.h"
#include "stack/sliceloader.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QMessageBox>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
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
    void loadingCountStaysWithinItsTotal();
    void failuresReportedOnceAndAsTheyHappen();
};

void TestSliceCache::cleanup()
{
    qunsetenv("STRANDSIGHT_CACHE_MB");
    ImageSequence::SetDecodeGate({});
}

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

    QVERIFY(TestSupport::LoadImagesAndWait(&window, WriteNumberedSlices(dir.path(), 40, "s")));
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
    // One slice of the old sequence is held up, so that its pass is still
    // running when the new sequence comes.
    const auto release = std::make_shared<QSemaphore>();
    ImageSequence::SetDecodeGate([release, held = old[100]](const QString &path) {
        if (path == held)
            release->acquire();
    });

    // Only the new sequence's undecodable file is reported; a second message
    // would fail the script.
    QString text;
    TestSupport::ModalScript script({ [&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        text = box->text();
        box->accept();
    } });
    QVERIFY(TestSupport::LoadImagesAndWait(&window, old));
    QVERIFY(loader->Loading());
    QSignalSpy progress(loader, &SliceLoader::Progress);
    QVERIFY(TestSupport::LoadImagesAndWait(&window, fresh));
    release->release();
    ImageSequence::SetDecodeGate({});
    QTRY_COMPARE(script.Done(), 1);
    QTest::qWait(100);
    QVERIFY(!script.Failed());
    QVERIFY2(text.contains(QStringLiteral("1 of 3")) && text.contains(QStringLiteral("new999.png")),
             qPrintable(text));

    // The old pass reports until the new sequence is open; from then on only
    // the new one does.
    const auto fresher = std::find_if(progress.begin(), progress.end(),
                                      [](const auto &report) { return report.at(1).toInt() == 3; });
    QVERIFY(fresher != progress.end());
    for (auto report = fresher; report != progress.end(); ++report)
        QCOMPARE(report->at(1).toInt(), 3);
    QCOMPARE(scene->ImageCount(), 3);
    QCOMPARE(loader->Cache().HeldSlices(), Range(0, 1));
    for (int slice = 0; slice < 2; ++slice)
        QCOMPARE(loader->Held(slice).size(), QSize(30, 20));
}

// "Loading images: d of t" never counts past its total, also while the user
// steps to slices outside the pass, and never reads "0 of 0" when the budget
// holds no slice at all.
void TestSliceCache::loadingCountStaysWithinItsTotal()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = WriteNumberedSlices(dir.path(), 40, "s");
    for (const char *budget : { "0", "1" }) {
        qputenv("STRANDSIGHT_CACHE_MB", budget);
        TFormStrandsight window;
        TFormTrackView *view = window.ViewWindow();
        auto *slider = view->findChild<QSlider *>(QStringLiteral("hsImage"));
        QStringList shown;
        connect(view->statusBar(), &QStatusBar::messageChanged,
                [&](const QString &text) { shown << text; });
        // The pass is held up on one of its slices while the user steps
        // beyond the slices it decodes.
        const auto release = std::make_shared<QSemaphore>();
        ImageSequence::SetDecodeGate([release, held = files[5]](const QString &path) {
            if (path == held)
                release->acquire();
        });
        QVERIFY(TestSupport::LoadImagesAndWait(&window, files));
        for (const int slice : { 30, 31, 32, 33, 34, 35 })
            slider->setValue(slice);
        release->release();
        ImageSequence::SetDecodeGate({});
        QTRY_VERIFY(!view->scene->ImageLoader()->Loading());

        const QRegularExpression count(QStringLiteral("Loading images: (\\d+) of (\\d+)"));
        int seen = 0;
        for (const QString &text : std::as_const(shown)) {
            const QRegularExpressionMatch match = count.match(text);
            if (!match.hasMatch())
                continue;
            ++seen;
            const int done = match.captured(1).toInt();
            const int total = match.captured(2).toInt();
            QVERIFY2(total >= 1 && done <= total,
                     qPrintable(QStringLiteral("budget %1 MB: %2").arg(budget, text)));
        }
        QVERIFY2(seen > 0, qPrintable(shown.join('|')));
    }
}

// A damaged slice is named once, in the message at the end of the first
// pass; one found later (outside the slices the cache held) is named in the
// status bar when it is found, never in another box, and never together
// with the ones named before.
void TestSliceCache::failuresReportedOnceAndAsTheyHappen()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("STRANDSIGHT_CACHE_MB", "1"); // 16 of the 40 slices are held
    QStringList files = WriteNumberedSlices(dir.path(), 40, "s");
    QVERIFY(TestSupport::WriteText(files[3], "damaged"));
    QVERIFY(TestSupport::WriteText(files[30], "damaged"));
    TFormStrandsight window;
    TFormTrackView *view = window.ViewWindow();
    auto *slider = view->findChild<QSlider *>(QStringLiteral("hsImage"));
    QStringList shown;
    connect(view->statusBar(), &QStatusBar::messageChanged,
            [&](const QString &text) { shown << text; });

    QString text;
    TestSupport::ModalScript script(
        { TestSupport::ModalScript::Expect<QMessageBox>([&](QMessageBox *box) {
            text = box->text();
            box->accept();
        }) });
    QVERIFY(TestSupport::LoadImagesAndWait(&window, files));
    QTRY_COMPARE(script.Done(), 1);
    QVERIFY2(text.contains(QStringLiteral("1 of 40")) && text.contains(QStringLiteral("s003.png"))
                 && !text.contains(QStringLiteral("s030.png")),
             qPrintable(text));

    // Round after round of stepping over both: no other box, and slice 30
    // is named in the status bar, alone, as soon as it is found.
    shown.clear();
    for (int round = 0; round < 3; ++round) {
        for (int slice = 0; slice < 40; slice += 3)
            slider->setValue(slice);
        slider->setValue(30);
        QCOMPARE(view->LoadStatus(), QStringLiteral("s030.png could not be decoded"));
        slider->setValue(3);
        QCOMPARE(view->LoadStatus(), QStringLiteral("s003.png could not be decoded"));
    }
    QTest::qWait(200);
    QVERIFY(!script.Failed());
    QCOMPARE(script.Done(), 1);
    QVERIFY(shown.contains(QStringLiteral("s030.png could not be decoded")));
    for (const QString &message : std::as_const(shown))
        QVERIFY2(
            !(message.contains(QStringLiteral("s003")) && message.contains(QStringLiteral("s030"))),
            qPrintable(message));

    // Put right, the slice is read again the next time it is shown.
    QImage good(256, 256, QImage::Format_Grayscale8);
    good.fill(150);
    QFile::remove(files[30]);
    QVERIFY(good.save(files[30], "PNG"));
    slider->setValue(30);
    QTRY_COMPARE(qGray(view->scene->ShownImage().pixel(0, 0)), 150);
    QVERIFY(view->LoadStatus().isEmpty());
}

QTEST_MAIN(TestSliceCache)
#include "tst_slicecache.moc"
