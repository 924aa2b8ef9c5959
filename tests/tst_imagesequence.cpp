// Reading and decoding a stack, without any window: the one contrast window
// of a 16-bit stack, each format, multi-page TIFF read in one walk, pages and
// files that do not belong, slices changed or replaced after opening, raw
// pixel values, and the memory a stack needs.
#include "stack/imagesequence.h"
#include "stack/sequenceopening.h"
#include "stack/sliceloader.h"
#include "tasks/taskcontrol.h"
#include "testsupport.h"
#include "tools/tiffwriter.h"

#include <QFile>
#include <QImageReader>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

namespace {

// A baseline TIFF that declares its size but carries no pixel data: its
// header reads like a real slice, decoding it cannot succeed.
QByteArray HeaderOnlyTiff(quint32 width, quint32 height, quint16 bits)
{
    QByteArray data;
    auto u16 = [&data](quint16 v) {
        data.append(char(v & 0xff));
        data.append(char(v >> 8));
    };
    auto u32 = [&data](quint32 v) {
        for (int i = 0; i < 4; ++i)
            data.append(char((v >> (8 * i)) & 0xff));
    };
    auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        u16(tag);
        u16(type);
        u32(1);
        if (type == 3) {
            u16(quint16(value));
            u16(0);
        } else {
            u32(value);
        }
    };
    data.append("II");
    u16(42);
    u32(8);
    u16(8);
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, bits);
    entry(259, 3, 1); // no compression
    entry(262, 3, 1); // black is zero
    entry(273, 4, 4096); // strip beyond the end of the file
    entry(278, 4, height);
    entry(279, 4, width * height * (bits / 8));
    u32(0);
    return data;
}

// A 12-bit slice in a 16-bit container: a horizontal ramp from 0 to top.
QImage Ramp16(int width, int height, int top)
{
    QImage image(width, height, QImage::Format_Grayscale16);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint16 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = static_cast<quint16>(x * top / (width - 1));
    }
    return image;
}

QImage Filled8(int width, int height, int gray)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(gray);
    return image;
}

// Opens files as the program does (every step on this thread) with the
// budget the machine allows; false when the opening refused them.
bool Open(SliceLoader &loader, const QStringList &files, QString *refusal = nullptr)
{
    SequenceOpening opening(files);
    opening.SetReleasableBytes(loader.HeldBytes());
    TaskControl control;
    opening.ReadHeaders(control);
    opening.Prepare(control);
    if (refusal)
        *refusal = opening.Refusal();
    if (opening.Refused())
        return false;
    loader.Open(opening.Take());
    return true;
}

// Opens files and decodes every slice; the failed slices.
std::vector<unsigned int> Load(SliceLoader &loader, const QStringList &files)
{
    if (!Open(loader, files))
        return { 9999 };
    loader.Show(0);
    return loader.Finish();
}

void GrayRange(const QImage &image, int &low, int &high)
{
    low = 255;
    high = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int gray = qGray(image.pixel(x, y));
            low = std::min(low, gray);
            high = std::max(high, gray);
        }
    }
}

} // namespace

class TestImageSequence : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void twelveBitStackIsStretchedWithOneWindow();
    void contrastSampleSpansTheStack_data();
    void contrastSampleSpansTheStack();
    void windowSeesEverySampledSlice();
    void flatSixteenBitSlicesStillDraw();
    void eightBitAndMixedSequencesKeepTheirPixels();
    void decodesEachFormat_data();
    void decodesEachFormat();
    void decodesSliceAboveDefaultAllocationLimit();
    void multiPageTiffGivesOneSlicePerPage();
    void tenThousandPagesInOneWalk();
    void pagesThatDoNotBelongAreNamed();
    void signedAndPlanarSixteenBitTiff();
    void slicesChangedAfterOpeningAreRefusedAndRetried();
    void decodingIsHeldToTheLargestSlice();
    void pixelValuesOfSixteenBitStackAreRaw();
    void availableBytesOverride();
    void memoryCountsHelpersAndRefusesWhatCannotFit();
};

void TestImageSequence::cleanup()
{
    ImageSequence::SetAvailableBytesOverride(-1);
    qunsetenv("STRANDSIGHT_CACHE_MB");
}

void TestImageSequence::twelveBitStackIsStretchedWithOneWindow()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Slice 0 spans the full 12 bits, slice 1 only half of them; a handful of
    // saturated pixels (well under 0.1 %) must not flatten the rest.
    QImage full = Ramp16(400, 300, 4095);
    for (int i = 0; i < 20; ++i)
        reinterpret_cast<quint16 *>(full.scanLine(i))[i] = 65535;
    const QImage half = Ramp16(400, 300, 2047);
    const QStringList files { dir.filePath("s0.tif"), dir.filePath("s1.tif") };
    QVERIFY(full.save(files[0]));
    QVERIFY(half.save(files[1]));

    SliceLoader loader;
    QVERIFY(Load(loader, files).empty());
    QCOMPARE(loader.Show(0).format(), QImage::Format_Grayscale8);
    int low = 0, high = 0;
    GrayRange(loader.Show(0), low, high);
    QVERIFY2(low <= 5 && high >= 250,
             qPrintable(QStringLiteral("slice 0 drawn from %1 to %2").arg(low).arg(high)));

    // The same raw value draws the same grey on every slice, so the half
    // ramp reaches only about mid-grey.
    GrayRange(loader.Show(1), low, high);
    QVERIFY2(low <= 5 && high >= 118 && high <= 138,
             qPrintable(QStringLiteral("slice 1 drawn from %1 to %2").arg(low).arg(high)));
}

void TestImageSequence::contrastSampleSpansTheStack_data()
{
    QTest::addColumn<int>("slices");
    QTest::newRow("small stack: every slice") << 5;
    QTest::newRow("32") << 32;
    QTest::newRow("33") << 33;
    QTest::newRow("40") << 40;
    QTest::newRow("1000") << 1000;
}

void TestImageSequence::contrastSampleSpansTheStack()
{
    QFETCH(int, slices);
    ImageSequence::SliceInfo wide;
    wide.format = QImage::Format_Grayscale16;
    const std::vector<ImageSequence::SliceInfo> stack(static_cast<size_t>(slices), wide);
    const std::vector<int> sample = ImageSequence::ContrastSample(stack);
    QCOMPARE(static_cast<int>(sample.size()), std::min(slices, 32));
    QCOMPARE(sample.front(), 0);
    QCOMPARE(sample.back(), slices - 1);
    // Evenly spread: no gap wider than the spacing rounded up.
    const int widest = (slices - 1 + 30) / 31;
    for (size_t i = 1; i < sample.size(); ++i) {
        QVERIFY(sample[i] > sample[i - 1]);
        QVERIFY2(
            sample[i] - sample[i - 1] <= std::max(1, widest),
            qPrintable(
                QStringLiteral("gap %1 before %2").arg(sample[i] - sample[i - 1]).arg(sample[i])));
    }
}

void TestImageSequence::windowSeesEverySampledSlice()
{
    // Slices reaching 2047 and one reaching 4095: the window must see that
    // one too, so 2047 draws about mid-grey, not white. In a stack of 32 it
    // is slice 16 (on no even spacing of 16, 8 or 4 slices), in a stack of
    // 40 the last one.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const int count : { 32, 40 }) {
        const int bright = count == 32 ? 16 : count - 1;
        QStringList files;
        for (int i = 0; i < count; ++i) {
            files << dir.filePath(
                QStringLiteral("n%1_%2.tif").arg(count).arg(i, 2, 10, QLatin1Char('0')));
            QVERIFY(Ramp16(64, 48, i == bright ? 4095 : 2047).save(files.last()));
        }
        SliceLoader loader;
        QVERIFY(Load(loader, files).empty());
        int low = 0, high = 0;
        GrayRange(loader.Show(0), low, high);
        QVERIFY2(high >= 118 && high <= 138,
                 qPrintable(QStringLiteral("%1 slices: 2047 drawn as %2").arg(count).arg(high)));
        GrayRange(loader.Show(bright), low, high);
        QVERIFY2(high >= 250, qPrintable(QStringLiteral("4095 drawn as %1").arg(high)));
    }
}

void TestImageSequence::flatSixteenBitSlicesStillDraw()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // One slice all one value, one with a few faint spots (far under 0.1 %
    // of the stack): the spots must stay visible against the background.
    QImage flat(200, 200, QImage::Format_Grayscale16);
    for (int y = 0; y < flat.height(); ++y) {
        auto *line = reinterpret_cast<quint16 *>(flat.scanLine(y));
        std::fill(line, line + flat.width(), quint16(1000));
    }
    QImage spots = flat;
    reinterpret_cast<quint16 *>(spots.scanLine(50))[60] = 1200;
    reinterpret_cast<quint16 *>(spots.scanLine(150))[20] = 1200;
    const QStringList files { dir.filePath("flat.tif"), dir.filePath("spots.tif") };
    QVERIFY(flat.save(files[0]));
    QVERIFY(spots.save(files[1]));

    SliceLoader loader;
    QVERIFY(Load(loader, files).empty());
    const QImage first = loader.Show(0);
    QCOMPARE(first.format(), QImage::Format_Grayscale8);
    const int background = qGray(first.pixel(0, 0));
    QCOMPARE(qGray(first.pixel(199, 199)), background);
    const QImage second = loader.Show(1);
    QCOMPARE(qGray(second.pixel(0, 0)), background);
    QVERIFY2(qGray(second.pixel(60, 50)) - background >= 100,
             qPrintable(
                 QStringLiteral("spot %1 on %2").arg(qGray(second.pixel(60, 50))).arg(background)));

    // A sequence of nothing but one value has no contrast to stretch.
    QVERIFY(Load(loader, { files[0] }).empty());
    const QImage only = loader.Show(0);
    QCOMPARE(only.format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(only.pixel(0, 0)), qGray(only.pixel(199, 199)));
}

void TestImageSequence::eightBitAndMixedSequencesKeepTheirPixels()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QImage gray(64, 48, QImage::Format_Grayscale8);
    for (int y = 0; y < gray.height(); ++y)
        for (int x = 0; x < gray.width(); ++x)
            gray.scanLine(y)[x] = static_cast<uchar>((x * 3 + y * 5) % 256);
    QImage colour(64, 48, QImage::Format_RGB32);
    colour.fill(QColor(200, 40, 90));
    const QStringList files { dir.filePath("a.tif"), dir.filePath("b.png"), dir.filePath("c.tif"),
                              dir.filePath("d.tif") };
    QVERIFY(gray.save(files[0]));
    QVERIFY(colour.save(files[1]));
    QVERIFY(Ramp16(64, 48, 4095).save(files[2]));
    QVERIFY(TestSupport::WriteText(files[3], "not an image"));

    SliceLoader loader;
    QCOMPARE(Load(loader, files), std::vector<unsigned int> { 3 });
    QCOMPARE(loader.Count(), 4);
    // The 8-bit slice is drawn exactly as the file decodes.
    QCOMPARE(loader.Show(0), QImage(files[0]));
    QCOMPARE(loader.Show(1), QImage(files[1]));
    QCOMPARE(loader.Show(2).format(), QImage::Format_Grayscale8);
    QVERIFY(loader.Show(3).isNull());
    QCOMPARE(loader.FailureText(3), QStringLiteral("d.tif could not be decoded"));
}

void TestImageSequence::decodesEachFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("8-bit TIFF") << "s.tif" << int(QImage::Format_Grayscale8) << 0;
    QTest::newRow("16-bit TIFF") << "s.tiff" << int(QImage::Format_Grayscale16) << 0;
    QTest::newRow("RGB TIFF") << "s.tif" << int(QImage::Format_RGB32) << 0;
    QTest::newRow("JPEG") << "s.jpg" << int(QImage::Format_RGB32) << 12;
    QTest::newRow("PNG") << "s.png" << int(QImage::Format_RGB32) << 0;
    QTest::newRow("8-bit PNG") << "s.png" << int(QImage::Format_Grayscale8) << 0;
}

void TestImageSequence::decodesEachFormat()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, tolerance);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Left half dark, right half light: survives JPEG and gives a 16-bit slice
    // something to stretch.
    QImage source(120, 80, QImage::Format_RGB32);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            source.setPixelColor(x, y, x < 60 ? QColor(30, 60, 90) : QColor(220, 180, 140));
    source = source.convertToFormat(static_cast<QImage::Format>(format));
    const QString path = dir.filePath(name);
    QVERIFY(source.save(path));

    SliceLoader loader;
    QVERIFY(Load(loader, { path }).empty());
    const QImage image = loader.Show(0);
    QCOMPARE(image.size(), source.size());
    if (format == QImage::Format_Grayscale16) {
        QCOMPARE(qGray(image.pixel(10, 10)), 0);
        QCOMPARE(qGray(image.pixel(110, 70)), 255);
        return;
    }
    for (const QPoint at : { QPoint(10, 10), QPoint(110, 70) }) {
        const QColor want = source.pixelColor(at);
        const QColor got = image.pixelColor(at);
        QVERIFY2(std::abs(want.red() - got.red()) <= tolerance
                     && std::abs(want.green() - got.green()) <= tolerance
                     && std::abs(want.blue() - got.blue()) <= tolerance,
                 qPrintable(got.name() + QStringLiteral(" instead of ") + want.name()));
    }
}

void TestImageSequence::decodesSliceAboveDefaultAllocationLimit()
{
    // Qt counts 4 bytes a pixel against its 128 MB default, so this 36 MB
    // slice would be refused without the sequence's own limit.
    if (qEnvironmentVariableIsSet("QT_IMAGEIO_MAXALLOC"))
        QSKIP("QT_IMAGEIO_MAXALLOC overrides the program's allocation limit");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QImage big(6000, 6000, QImage::Format_Grayscale8);
    big.fill(70);
    for (int y = 5000; y < 6000; ++y)
        std::fill(big.scanLine(y) + 5000, big.scanLine(y) + 6000, uchar(200));
    const QString path = dir.filePath("big.png");
    QVERIFY(big.save(path));
    big = QImage();

    SliceLoader loader;
    QVERIFY(Load(loader, { path }).empty());
    QCOMPARE(loader.Show(0).size(), QSize(6000, 6000));
    QCOMPARE(qGray(loader.Show(0).pixel(5999, 5999)), 200);
}

void TestImageSequence::multiPageTiffGivesOneSlicePerPage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Five deflate-compressed pages, then a plain file: six slices, each
    // page in page order, the files in the order given.
    const QString stack = dir.filePath("a.tif");
    TiffWriter writer(stack, true);
    for (int page = 0; page < 5; ++page)
        QVERIFY(writer.AddPage(Filled8(40, 30, 10 * (page + 1))));
    QVERIFY2(writer.Finish(), qPrintable(writer.ErrorString()));
    const QString plain = dir.filePath("b.tif");
    QVERIFY(Filled8(40, 30, 60).save(plain));

    SliceLoader loader;
    QVERIFY(Load(loader, { stack, plain }).empty());
    QCOMPARE(loader.Count(), 6);
    for (int slice = 0; slice < 6; ++slice)
        QCOMPARE(qGray(loader.Show(slice).pixel(20, 15)), 10 * (slice + 1));
    QCOMPARE(loader.Name(2), QStringLiteral("a.tif, page 3 of 5"));
    QCOMPARE(loader.Name(5), QStringLiteral("b.tif"));
}

// The page chain is walked once, with progress, and a page far down the
// chain decodes without walking to it.
void TestImageSequence::tenThousandPagesInOneWalk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("stack.tif");
    TiffWriter writer(path, false);
    const int pages = 10000;
    for (int page = 0; page < pages; ++page)
        QVERIFY(writer.AddPage(Filled8(8, 8, page % 250)));
    QVERIFY2(writer.Finish(), qPrintable(writer.ErrorString()));

    TaskControl control;
    const ImageSequence::Headers headers = ImageSequence::ReadHeaders({ path }, &control);
    QCOMPARE(static_cast<int>(headers.slices.size()), pages);
    QVERIFY(headers.notes.isEmpty());
    QCOMPARE(control.Stage(), QStringLiteral("Reading the pages of stack.tif"));
    QVERIFY(control.Total() > 0 && control.Done() > 0);
    QImage raw;
    QCOMPARE(ImageSequence::DecodeSlice(headers.slices[9999], raw), ImageSequence::Failure::None);
    QCOMPARE(qGray(raw.pixel(3, 3)), 9999 % 250);
    QCOMPARE(ImageSequence::SliceName(headers.slices[9999]),
             QStringLiteral("stack.tif, page 10000 of 10000"));

    // Cancelled, the reading stops and gives nothing.
    TaskControl cancelled;
    cancelled.Cancel();
    QVERIFY(ImageSequence::ReadHeaders({ path }, &cancelled).slices.empty());
}

void TestImageSequence::pagesThatDoNotBelongAreNamed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A thumbnail between two full pages, and a last page of another size.
    const QString stack = dir.filePath("stack.tif");
    TiffWriter writer(stack, false);
    TiffWriter::PageOptions thumbnail;
    thumbnail.subfileType = 1;
    QVERIFY(writer.AddPage(Filled8(64, 48, 10)));
    QVERIFY(writer.AddPage(Filled8(16, 12, 20), thumbnail));
    QVERIFY(writer.AddPage(Filled8(64, 48, 30)));
    QVERIFY(writer.AddPage(Filled8(32, 24, 40)));
    QVERIFY(writer.Finish());
    // Twenty pages that say so, cut off in the middle of the eleventh.
    const QString cut = dir.filePath("t_cut.tif");
    TiffWriter cutWriter(cut, false);
    for (int page = 0; page < 20; ++page) {
        TiffWriter::PageOptions numbered;
        numbered.page = page;
        numbered.pageCount = 20;
        QVERIFY(cutWriter.AddPage(Filled8(64, 48, 100 + page), numbered));
    }
    QVERIFY(cutWriter.Finish());
    QFile cutFile(cut);
    QVERIFY(cutFile.resize(cutFile.size() * 21 / 40));

    SliceLoader loader;
    QVERIFY(Load(loader, { stack, cut }).empty());
    QCOMPARE(loader.Count(), 3 + 10);
    // The thumbnail takes no place: the next full page is slice 1.
    QCOMPARE(qGray(loader.Show(1).pixel(5, 5)), 30);
    QCOMPARE(qGray(loader.Show(12).pixel(5, 5)), 109);
    const QString notes = loader.Notes().join(QLatin1Char('\n'));
    QVERIFY2(notes.contains(QStringLiteral("stack.tif: 1 reduced-resolution page left out")),
             qPrintable(notes));
    QVERIFY2(notes.contains(QStringLiteral("t_cut.tif: 10 of the 20 pages could be read")),
             qPrintable(notes));
    QVERIFY2(notes.contains(QStringLiteral(
                 "stack.tif, page 3 of 3 is 32 x 24 pixels, not 64 x 48 like the first image")),
             qPrintable(notes));
    QCOMPARE(loader.Notes().size(), 3);
}

void TestImageSequence::signedAndPlanarSixteenBitTiff()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Signed samples from -2000 on the left to 2000 on the right, stored as
    // two's complement.
    QImage ramp(101, 10, QImage::Format_Grayscale16);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 101; ++x)
            reinterpret_cast<quint16 *>(ramp.scanLine(y))[x]
                = static_cast<quint16>(static_cast<qint16>(40 * x - 2000));
    const QString signedPath = dir.filePath("a_signed.tif");
    TiffWriter signedWriter(signedPath, true);
    TiffWriter::PageOptions signedPage;
    signedPage.signedSamples = true;
    QVERIFY(signedWriter.AddPage(ramp, signedPage));
    QVERIFY(signedWriter.Finish());
    // Red, green and blue in planes of their own.
    QImage colour(101, 10, QImage::Format_RGBX64);
    colour.fill(QColor(200, 100, 0));
    const QString planarPath = dir.filePath("b_planar.tif");
    TiffWriter planarWriter(planarPath, false);
    QVERIFY(planarWriter.AddPage(colour));
    QVERIFY(planarWriter.Finish());

    SliceLoader loader;
    QCOMPARE(Load(loader, { signedPath, planarPath }), std::vector<unsigned int> { 1 });
    // Negative values are the dark ones, and the values read back signed.
    const QImage shown = loader.Show(0);
    QVERIFY2(qGray(shown.pixel(0, 5)) < 10 && qGray(shown.pixel(100, 5)) > 245
                 && qGray(shown.pixel(40, 5)) < qGray(shown.pixel(60, 5)),
             qPrintable(QStringLiteral("%1 %2 %3")
                            .arg(qGray(shown.pixel(0, 5)))
                            .arg(qGray(shown.pixel(40, 5)))
                            .arg(qGray(shown.pixel(100, 5)))));
    QVERIFY(loader.SignedSamples(0));
    const QImage raw = loader.RawValues(0);
    QVERIFY(!raw.isNull());
    const auto *line = reinterpret_cast<const quint16 *>(raw.constScanLine(5));
    QCOMPARE(ImageSequence::SampleValue(line[0], true), -2000);
    QCOMPARE(ImageSequence::SampleValue(line[100], true), 2000);
    // The reader would show the planes as grey: named instead.
    QVERIFY(loader.Show(1).isNull());
    QCOMPARE(loader.FailureText(1),
             QStringLiteral("b_planar.tif: 16-bit colour in separate planes is not supported"));
}

void TestImageSequence::slicesChangedAfterOpeningAreRefusedAndRetried()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Nothing held: every slice is read when it is shown.
    qputenv("STRANDSIGHT_CACHE_MB", "0");
    const QStringList files = TestSupport::WriteImages(dir.path(), 3, 64, 48, "s");
    SliceLoader loader;
    QVERIFY(Open(loader, files));
    QSignalSpy failed(&loader, &SliceLoader::SliceFailed);

    // Replaced by an image of another size, and by a named pipe that no
    // program writes to (opening it the usual way would wait forever).
    QFile::remove(files[1]);
    QVERIFY(QImage(32, 24, QImage::Format_RGB32).save(files[1], "PNG"));
    QFile::remove(files[2]);
    QCOMPARE(::mkfifo(QFile::encodeName(files[2]).constData(), 0600), 0);

    QVERIFY(loader.Show(1).isNull());
    QVERIFY(loader.Failed(1));
    QCOMPARE(loader.FailureText(1),
             QStringLiteral("s001.png changed size after the images were opened"));
    QVERIFY(loader.Show(2).isNull());
    QCOMPARE(loader.FailureText(2), QStringLiteral("s002.png is not a regular file"));
    QCOMPARE(failed.size(), 2);

    // Stepping onto it again while the file is as it was tries nothing new;
    // once the file is put right, the slice is read again.
    QVERIFY(loader.Show(1).isNull());
    QCOMPARE(failed.size(), 2);
    QFile::remove(files[1]);
    QImage good(64, 48, QImage::Format_RGB32);
    good.fill(Qt::darkCyan);
    QVERIFY(good.save(files[1], "PNG"));
    QCOMPARE(loader.Show(1).pixelColor(3, 3), QColor(Qt::darkCyan));
    QVERIFY(!loader.Failed(1));
}

void TestImageSequence::decodingIsHeldToTheLargestSlice()
{
    if (qEnvironmentVariableIsSet("QT_IMAGEIO_MAXALLOC"))
        QSKIP("QT_IMAGEIO_MAXALLOC overrides the program's allocation limit");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A 35-byte GIF under a PNG name: its header tells of a 1 x 1 frame, but
    // it decodes to its 12000 x 12000 logical screen (576 MB).
    QByteArray gif("GIF89a");
    gif.append("\xe0\x2e\xe0\x2e\x80\x00\x00", 7); // screen, two-colour table
    gif.append(6, '\0');
    gif.append(",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 17);
    const QString disguised = dir.filePath("s1.png");
    QVERIFY(TestSupport::WriteText(disguised, gif));
    // An icon set tells no size in its header at all: 1024 x 1024 x 4 bytes.
    QImage icon(1024, 1024, QImage::Format_ARGB32);
    icon.fill(Qt::darkGreen);
    const QString unsized = dir.filePath("s2.icns");
    QVERIFY(icon.save(unsized));
    QVERIFY(!QImageReader(unsized).size().isValid());
    const QStringList slices = TestSupport::WriteImages(dir.path(), 1, 64, 48, "s0");

    // Held to the size of the 64 x 48 slice, both fail instead of taking
    // the memory.
    SliceLoader loader;
    QCOMPARE(Load(loader, { slices[0], disguised, unsized }), (std::vector<unsigned int> { 1, 2 }));
    // Alone, the icon is held to what the memory allows, and decodes.
    QVERIFY(Load(loader, { unsized }).empty());
    QCOMPARE(loader.Show(0).size(), QSize(1024, 1024));
}

void TestImageSequence::pixelValuesOfSixteenBitStackAreRaw()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        QImage slice = Ramp16(64, 48, 4095);
        reinterpret_cast<quint16 *>(slice.scanLine(7))[5] = quint16(1000 + i);
        files << dir.filePath(QStringLiteral("s%1.tif").arg(i));
        QVERIFY(slice.save(files.last()));
    }
    SliceLoader loader;
    QVERIFY(Load(loader, files).empty());
    QSignalSpy ready(&loader, &SliceLoader::RawValuesReady);
    const auto valueAt = [](const QImage &raw) {
        return reinterpret_cast<const quint16 *>(raw.constScanLine(7))[5];
    };
    // Image 0 was decoded for showing: its raw values are at hand.
    QImage raw = loader.RawValues(0);
    QVERIFY(!raw.isNull());
    QCOMPARE(valueAt(raw), quint16(1000));

    // Slice 2 was decoded behind the window: its raw values come later.
    loader.Show(2);
    raw = loader.RawValues(2);
    if (raw.isNull()) {
        QVERIFY(ready.wait());
        QCOMPARE(ready.last().at(0).toInt(), 2);
        raw = loader.RawValues(2);
    }
    QCOMPARE(valueAt(raw), quint16(1002));
    // The narrowed image is what is drawn; the raw values are the file's.
    QVERIFY(qGray(loader.Show(2).pixel(5, 7)) != 1002 % 256);
}

void TestImageSequence::availableBytesOverride()
{
    QVERIFY(ImageSequence::AvailableBytes() > 0);
    ImageSequence::SetAvailableBytesOverride(12345);
    QCOMPARE(ImageSequence::AvailableBytes(), qint64(12345));
    ImageSequence::SetAvailableBytesOverride(-1);
    QVERIFY(ImageSequence::AvailableBytes() != 12345);
}

void TestImageSequence::memoryCountsHelpersAndRefusesWhatCannotFit()
{
    // A 2048 x 2048 16-bit slice takes 8 MB to decode and 4 MB to show; each
    // helper decoding one, and the raw values behind the status bar, come on
    // top of the slice shown. Room for the slice alone is not enough.
    ImageSequence::SliceInfo slice;
    slice.size = QSize(2048, 2048);
    slice.format = QImage::Format_Grayscale16;
    const std::vector<ImageSequence::SliceInfo> stack(300, slice);
    const qint64 mib = 1024 * 1024;
    const ImageSequence::MemoryPlan tight = ImageSequence::PlanMemory(stack, 13 * mib);
    QCOMPARE(tight.helpers, 0);
    QVERIFY2(tight.needed >= 4 * mib + 8 * mib + 12 * mib,
             qPrintable(QString::number(tight.needed)));
    const ImageSequence::MemoryPlan one = ImageSequence::PlanMemory(stack, tight.needed);
    QCOMPARE(one.helpers, 1);
    QCOMPARE(one.budget, qint64(0));
    const ImageSequence::MemoryPlan roomy = ImageSequence::PlanMemory(stack, 1000 * mib);
    QCOMPARE(roomy.helpers, ImageSequence::HelperThreads());
    QVERIFY(roomy.budget > 0 && roomy.budget + 2 * roomy.needed <= 1000 * mib);

    // Through the opening: a stack larger than the memory opens and keeps
    // what fits; one slice larger than it is refused, saying what it needs.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList small = TestSupport::WriteImages(dir.path(), 40, 256, 256, "s");
    ImageSequence::SetAvailableBytesOverride(16 * mib);
    SliceLoader loader;
    QVERIFY(Open(loader, small));
    QCOMPARE(loader.Count(), 40);
    QVERIFY(loader.Cache().Budget() < 40 * 256 * 256 * 4);

    QStringList huge = TestSupport::WriteImages(dir.path(), 1, 40, 30, "t");
    huge << dir.filePath("t999.tif");
    QVERIFY(TestSupport::WriteText(huge.last(), HeaderOnlyTiff(20000, 20000, 8)));
    ImageSequence::SetAvailableBytesOverride(100 * mib);
    QString refusal;
    QVERIFY(!Open(loader, huge, &refusal));
    const QLocale locale;
    const qint64 available = 100 * mib + loader.HeldBytes();
    QVERIFY2(refusal.contains(locale.formattedDataSize(qint64(20000) * 20000))
                 && refusal.contains(locale.formattedDataSize(available)),
             qPrintable(refusal));
    QCOMPARE(loader.Count(), 40);
}

QTEST_GUILESS_MAIN(TestImageSequence)
#include "tst_imagesequence.moc"
