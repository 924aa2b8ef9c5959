// Decoding a sequence for display: the one contrast window of a 16-bit stack,
// each format, multi-page TIFF, the decoding limit, raw pixel values, and the
// memory refusal.
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "tools/tiffwriter.h"
#include "stack/imagesequence.h"
#include "stack/sliceloader.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QFile>
#include <QImageReader>
#include <QMessageBox>
#include <QPainter>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

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

// What the view shows of the current image: the scene's background rendered
// at the image's own size.
QImage RenderCurrent(TrackScene &scene)
{
    const QRectF rect = scene.sceneRect();
    QImage out(rect.size().toSize(), QImage::Format_RGB32);
    out.fill(Qt::magenta);
    QPainter painter(&out);
    scene.render(&painter, QRectF(QPointF(0, 0), rect.size()), rect);
    return out;
}

// Loads files into scene, every slice decoded; the failed slices.
std::vector<unsigned int> Load(TrackScene &scene, const QStringList &files)
{
    std::vector<unsigned int> failed;
    scene.LoadImages(files, failed);
    return failed;
}

// The display image of slice i as the scene shows it.
QImage Shown(TrackScene &scene, int i)
{
    scene.SwitchImage(i);
    return scene.ShownImage();
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
    void windowOfUpTo32SlicesCountsEverySlice();
    void flatSixteenBitSlicesStillDraw();
    void eightBitAndMixedSequencesKeepTheirPixels();
    void decodesEachFormat_data();
    void decodesEachFormat();
    void decodesSliceAboveDefaultAllocationLimit();
    void multiPageTiffGivesOneSlicePerPage();
    void decodingIsHeldToTheLargestSlice();
    void pixelValuesOfSixteenBitStackAreRaw();
    void availableBytesOverride();
    void refusedOnlyWhenOneSliceDoesNotFit();
};

void TestImageSequence::cleanup() { ImageSequence::SetAvailableBytesOverride(-1); }

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

    TrackScene scene;
    QVERIFY(Load(scene, files).empty());
    QCOMPARE(scene.ShownImage().format(), QImage::Format_Grayscale8);
    int low = 0, high = 0;
    GrayRange(RenderCurrent(scene), low, high);
    QVERIFY2(low <= 5 && high >= 250,
             qPrintable(QStringLiteral("slice 0 drawn from %1 to %2").arg(low).arg(high)));

    // The same raw value draws the same grey on every slice, so the half
    // ramp reaches only about mid-grey.
    scene.SwitchImage(1);
    QCOMPARE(scene.ShownImage().format(), QImage::Format_Grayscale8);
    GrayRange(RenderCurrent(scene), low, high);
    QVERIFY2(low <= 5 && high >= 118 && high <= 138,
             qPrintable(QStringLiteral("slice 1 drawn from %1 to %2").arg(low).arg(high)));
}

void TestImageSequence::windowOfUpTo32SlicesCountsEverySlice()
{
    // 32 slices reaching 2047, one of them (not first, not last, not on any
    // even spacing) reaching 4095: the window must see that one too, so
    // 2047 draws about mid-grey, not white. (Slice 16 is on no even spacing
    // of 16, 8 or 4 slices.)
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList files;
    for (int i = 0; i < 32; ++i) {
        files << dir.filePath(QStringLiteral("s%1.tif").arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(Ramp16(64, 48, i == 16 ? 4095 : 2047).save(files.last()));
    }
    TrackScene scene;
    QVERIFY(Load(scene, files).empty());
    int low = 0, high = 0;
    GrayRange(Shown(scene, 0), low, high);
    QVERIFY2(high >= 118 && high <= 138, qPrintable(QStringLiteral("2047 drawn as %1").arg(high)));
    GrayRange(Shown(scene, 16), low, high);
    QVERIFY2(high >= 250, qPrintable(QStringLiteral("4095 drawn as %1").arg(high)));
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

    TrackScene scene;
    QVERIFY(Load(scene, files).empty());
    const QImage first = Shown(scene, 0);
    QCOMPARE(first.format(), QImage::Format_Grayscale8);
    const int background = qGray(first.pixel(0, 0));
    QCOMPARE(qGray(first.pixel(199, 199)), background);
    const QImage second = Shown(scene, 1);
    QCOMPARE(qGray(second.pixel(0, 0)), background);
    QVERIFY2(qGray(second.pixel(60, 50)) - background >= 100,
             qPrintable(
                 QStringLiteral("spot %1 on %2").arg(qGray(second.pixel(60, 50))).arg(background)));

    // A sequence of nothing but one value has no contrast to stretch.
    QVERIFY(Load(scene, { files[0] }).empty());
    QCOMPARE(scene.ShownImage().format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(scene.ShownImage().pixel(0, 0)), qGray(scene.ShownImage().pixel(199, 199)));
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

    TrackScene scene;
    QCOMPARE(Load(scene, files), std::vector<unsigned int> { 3 });
    QCOMPARE(scene.ImageCount(), 4);
    QCOMPARE(Shown(scene, 1), QImage(files[1]));
    QCOMPARE(Shown(scene, 2).format(), QImage::Format_Grayscale8);
    QVERIFY(Shown(scene, 3).isNull());

    // The 8-bit slice is drawn exactly as the file decodes.
    QCOMPARE(Shown(scene, 0), QImage(files[0]));
    TrackScene plain;
    plain.SetImages({ QImage(files[0]) });
    QCOMPARE(RenderCurrent(scene), RenderCurrent(plain));
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
    source.fill(QColor(30, 60, 90));
    QPainter(&source).fillRect(60, 0, 60, 80, QColor(220, 180, 140));
    source = source.convertToFormat(static_cast<QImage::Format>(format));
    const QString path = dir.filePath(name);
    QVERIFY(source.save(path));

    TrackScene scene;
    QVERIFY(Load(scene, { path }).empty());
    const QImage &image = scene.ShownImage();
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
    QPainter(&big).fillRect(5000, 5000, 1000, 1000, QColor(200, 200, 200));
    const QString path = dir.filePath("big.png");
    QVERIFY(big.save(path));
    big = QImage();

    TrackScene scene;
    QVERIFY(Load(scene, { path }).empty());
    QCOMPARE(scene.ShownImage().size(), QSize(6000, 6000));
    QCOMPARE(qGray(scene.ShownImage().pixel(5999, 5999)), 200);
}

void TestImageSequence::multiPageTiffGivesOneSlicePerPage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Five deflate-compressed pages, then a plain file: six slices, each
    // page in page order, the files in name order.
    const QString stack = dir.filePath("a.tif");
    TiffWriter writer(stack, true);
    for (int page = 0; page < 5; ++page) {
        QImage image(40, 30, QImage::Format_Grayscale8);
        image.fill(10 * (page + 1));
        QVERIFY(writer.AddPage(image));
    }
    QVERIFY2(writer.Finish(), qPrintable(writer.ErrorString()));
    QImage single(40, 30, QImage::Format_Grayscale8);
    single.fill(60);
    const QString plain = dir.filePath("b.tif");
    QVERIFY(single.save(plain));

    TFormStrandsight window;
    TFormTrackView *view = window.ViewWindow();
    QVERIFY(window.LoadImageFiles({ plain, stack }));
    QCOMPARE(view->ImageCount(), 6);
    QCOMPARE(view->findChild<QSlider *>(QStringLiteral("hsImage"))->maximum(), 5);
    for (int slice = 0; slice < 6; ++slice)
        QCOMPARE(qGray(Shown(*view->scene, slice).pixel(20, 15)), 10 * (slice + 1));
    QCOMPARE(view->scene->SliceName(2), QStringLiteral("a.tif, page 3 of 5"));
    QCOMPARE(view->scene->SliceName(5), QStringLiteral("b.tif"));
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
    TrackScene scene;
    QCOMPARE(Load(scene, { slices[0], disguised, unsized }), (std::vector<unsigned int> { 1, 2 }));
    // Alone, the icon is held to what the memory allows, and decodes.
    QVERIFY(Load(scene, { unsized }).empty());
    QCOMPARE(scene.ShownImage().size(), QSize(1024, 1024));
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
    TrackScene scene;
    QVERIFY(Load(scene, files).empty());
    QSignalSpy ready(&scene, &TrackScene::PixelValuesReady);
    // Image 0 was decoded for showing: its raw values are at hand.
    QCOMPARE(scene.PixelValueText(0, QPoint(5, 7)), QStringLiteral("1000"));
    QCOMPARE(scene.PixelValueText(0, QPoint(64, 7)), QString());

    // Slice 2 was decoded behind the window: its raw values come later.
    scene.SwitchImage(2);
    const QString now = scene.PixelValueText(2, QPoint(5, 7));
    if (now.isEmpty()) {
        QVERIFY(ready.wait());
        QCOMPARE(ready.last().at(0).toInt(), 2);
    }
    QCOMPARE(scene.PixelValueText(2, QPoint(5, 7)), QStringLiteral("1002"));
    // The narrowed image is what is drawn; the text is the file's value.
    QVERIFY(qGray(scene.ShownImage().pixel(5, 7)) != 1002 % 256);
}

void TestImageSequence::availableBytesOverride()
{
    QVERIFY(ImageSequence::AvailableBytes() > 0);
    ImageSequence::SetAvailableBytesOverride(12345);
    QCOMPARE(ImageSequence::AvailableBytes(), qint64(12345));
    ImageSequence::SetAvailableBytesOverride(-1);
    QVERIFY(ImageSequence::AvailableBytes() != 12345);
}

void TestImageSequence::refusedOnlyWhenOneSliceDoesNotFit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TFormStrandsight window;
    TrackScene *scene = window.ViewWindow()->scene;
    auto *slider = window.ViewWindow()->findChild<QSlider *>("hsImage");
    QVERIFY(slider);

    // 40 slices of 40 KB in 400 KB: the whole stack does not fit, each
    // slice does, so it opens and keeps what it can.
    ImageSequence::SetAvailableBytesOverride(400 * 1024);
    QVERIFY(window.LoadImageFiles(TestSupport::WriteImages(dir.path(), 40, 100, 100, "old")));
    QCOMPARE(scene->ImageCount(), 40);
    slider->setValue(39);
    QCOMPARE(scene->ShownImage().size(), QSize(100, 100));
    const QImage before = scene->ShownImage();

    // 400 MB by its header; decoding it would allocate that much and then
    // fail, replacing the sequence.
    QStringList huge = TestSupport::WriteImages(dir.path(), 1, 40, 30, "new");
    huge << dir.filePath("new999.tif");
    QVERIFY(TestSupport::WriteText(huge.last(), HeaderOnlyTiff(20000, 20000, 8)));
    ImageSequence::SetAvailableBytesOverride(100 * 1024 * 1024);

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    TestSupport::AnswerNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    // What the sequence shown holds counts as available: it would be freed.
    const qint64 available = 100 * 1024 * 1024 + scene->ImageLoader()->HeldBytes();
    QVERIFY(!window.LoadImageFiles(huge));
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(icon, QMessageBox::Critical);
    // The user learns how much one slice needs and how much there is.
    const QLocale locale;
    QVERIFY2(text.contains(locale.formattedDataSize(qint64(20000) * 20000))
                 && text.contains(locale.formattedDataSize(available)),
             qPrintable(text));

    QCOMPARE(scene->ImageCount(), 40);
    QCOMPARE(scene->CurrentImage(), 39);
    QCOMPARE(scene->ShownImage(), before);
    QCOMPARE(slider->maximum(), 39);
}

QTEST_MAIN(TestImageSequence)
#include "tst_imagesequence.moc"
