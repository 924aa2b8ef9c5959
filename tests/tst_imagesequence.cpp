#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "view/imagesequence.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QFile>
#include <QImageReader>
#include <QMessageBox>
#include <QPainter>
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
    void flatSixteenBitSlicesStillDraw();
    void eightBitAndMixedSequencesKeepTheirPixels();
    void decodesEachFormat_data();
    void decodesEachFormat();
    void decodesSliceAboveDefaultAllocationLimit();
    void estimateCoversDecodedSequence();
    void estimateReadsHeadersOnly();
    void availableBytesOverride();
    void refusesSequenceThatDoesNotFitBeforeDecoding();
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

    std::vector<QImage> images;
    std::vector<unsigned int> failed;
    QVERIFY(ImageSequence::Decode(files, images, failed));
    QVERIFY(failed.empty());
    QCOMPARE(images.size(), size_t(2));
    for (const QImage &image : images)
        QCOMPARE(image.format(), QImage::Format_Grayscale8);

    TrackScene scene;
    scene.SetImages(images);
    int low = 0, high = 0;
    GrayRange(RenderCurrent(scene), low, high);
    QVERIFY2(low <= 5 && high >= 250,
             qPrintable(QStringLiteral("slice 0 drawn from %1 to %2").arg(low).arg(high)));

    // The same raw value draws the same grey on every slice, so the half
    // ramp reaches only about mid-grey.
    scene.SwitchImage(1);
    GrayRange(RenderCurrent(scene), low, high);
    QVERIFY2(low <= 5 && high >= 118 && high <= 138,
             qPrintable(QStringLiteral("slice 1 drawn from %1 to %2").arg(low).arg(high)));
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

    std::vector<QImage> images;
    std::vector<unsigned int> failed;
    QVERIFY(ImageSequence::Decode(files, images, failed));
    QVERIFY(failed.empty());
    QCOMPARE(images[0].format(), QImage::Format_Grayscale8);
    const int background = qGray(images[0].pixel(0, 0));
    QCOMPARE(qGray(images[0].pixel(199, 199)), background);
    QCOMPARE(qGray(images[1].pixel(0, 0)), background);
    QVERIFY2(
        qGray(images[1].pixel(60, 50)) - background >= 100,
        qPrintable(
            QStringLiteral("spot %1 on %2").arg(qGray(images[1].pixel(60, 50))).arg(background)));

    // A sequence of nothing but one value has no contrast to stretch.
    images.clear();
    QVERIFY(ImageSequence::Decode({ files[0] }, images, failed));
    QVERIFY(failed.empty());
    QCOMPARE(images[0].format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(images[0].pixel(0, 0)), qGray(images[0].pixel(199, 199)));
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

    std::vector<QImage> images;
    std::vector<unsigned int> failed;
    QVERIFY(ImageSequence::Decode(files, images, failed));
    QCOMPARE(failed, std::vector<unsigned int> { 3 });
    QCOMPARE(images.size(), size_t(4));
    QCOMPARE(images[0], QImage(files[0]));
    QCOMPARE(images[1], QImage(files[1]));
    QCOMPARE(images[2].format(), QImage::Format_Grayscale8);
    QVERIFY(images[3].isNull());

    // The 8-bit slice is drawn exactly as the file decodes.
    TrackScene scene;
    scene.SetImages(images);
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

    std::vector<QImage> images;
    std::vector<unsigned int> failed;
    QVERIFY(ImageSequence::Decode({ path }, images, failed));
    QVERIFY(failed.empty());
    QCOMPARE(images.size(), size_t(1));
    const QImage &image = images.front();
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
    // slice would be refused without the raised limit.
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

    std::vector<QImage> images;
    std::vector<unsigned int> failed;
    QVERIFY(ImageSequence::Decode({ path }, images, failed));
    QVERIFY(failed.empty());
    QCOMPARE(images.front().size(), QSize(6000, 6000));
    QCOMPARE(qGray(images.front().pixel(5999, 5999)), 200);
}

void TestImageSequence::estimateCoversDecodedSequence()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QImage gray(301, 200, QImage::Format_Grayscale8);
    gray.fill(10);
    QImage colour(301, 200, QImage::Format_RGB32);
    colour.fill(Qt::darkCyan);
    const QStringList files { dir.filePath("a.tif"), dir.filePath("b.jpg"), dir.filePath("c.png"),
                              dir.filePath("d.tif"), dir.filePath("missing.tif") };
    QVERIFY(gray.save(files[0]));
    QVERIFY(colour.save(files[1]));
    QVERIFY(colour.save(files[2]));
    QVERIFY(Ramp16(301, 200, 4095).save(files[3]));

    // At least what the decoded slices occupy before the 16-bit one is
    // narrowed, without asking for several times that.
    qint64 held = 0;
    for (const QString &file : files)
        held += QImage(file).sizeInBytes();
    const qint64 estimate = ImageSequence::EstimateBytes(files);
    QVERIFY2(estimate >= held && estimate <= 2 * held,
             qPrintable(QStringLiteral("estimate %1 for %2 decoded").arg(estimate).arg(held)));
    QCOMPARE(ImageSequence::EstimateBytes({}), qint64(0));
}

void TestImageSequence::estimateReadsHeadersOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString eight = dir.filePath("eight.tif");
    const QString sixteen = dir.filePath("sixteen.tif");
    QVERIFY(TestSupport::WriteText(eight, HeaderOnlyTiff(40000, 30000, 8)));
    QVERIFY(TestSupport::WriteText(sixteen, HeaderOnlyTiff(40000, 30000, 16)));

    // Far more than these few bytes could ever decode to: only the headers
    // were read, and a 16-bit slice counts twice while it loads.
    const qint64 pixels = qint64(40000) * 30000;
    QVERIFY(ImageSequence::EstimateBytes({ eight }) >= pixels);
    QVERIFY(ImageSequence::EstimateBytes({ sixteen }) >= 2 * pixels);
    QVERIFY(ImageSequence::EstimateBytes({ eight, sixteen }) >= 3 * pixels);
}

void TestImageSequence::availableBytesOverride()
{
    QVERIFY(ImageSequence::AvailableBytes() > 0);
    ImageSequence::SetAvailableBytesOverride(12345);
    QCOMPARE(ImageSequence::AvailableBytes(), qint64(12345));
    ImageSequence::SetAvailableBytesOverride(-1);
    QVERIFY(ImageSequence::AvailableBytes() != 12345);
}

void TestImageSequence::refusesSequenceThatDoesNotFitBeforeDecoding()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList earlier = TestSupport::WriteImages(dir.path(), 3, 40, 30, "old");
    TFormStrandsight window;
    TrackScene *scene = window.ViewWindow()->scene;
    QVERIFY(window.LoadImageFiles(earlier));
    QCOMPARE(scene->ImageCount(), 3);
    auto *slider = window.ViewWindow()->findChild<QSlider *>("hsImage");
    QVERIFY(slider);
    slider->setValue(2);
    QCOMPARE(scene->CurrentImage(), 2);
    const std::vector<QImage> before = scene->Images();

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
    QVERIFY(!window.LoadImageFiles(huge));
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(icon, QMessageBox::Critical);
    // The user learns how much the sequence needs and how much there is.
    const QLocale locale;
    QVERIFY2(text.contains(locale.formattedDataSize(ImageSequence::EstimateBytes(huge)))
                 && text.contains(locale.formattedDataSize(100 * 1024 * 1024)),
             qPrintable(text));

    QCOMPARE(scene->ImageCount(), 3);
    QCOMPARE(scene->CurrentImage(), 2);
    QVERIFY(scene->Images() == before);
    QCOMPARE(slider->maximum(), 2);
}

QTEST_MAIN(TestImageSequence)
#include "tst_imagesequence.moc"
