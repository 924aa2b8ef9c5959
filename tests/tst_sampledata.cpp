#include "model/trackfile.h"
#include "tools/sampledata.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

QStringList Files(const QString &folder) { return QDir(folder).entryList(QDir::Files, QDir::Name); }

// Reads a track set as the program does: files in name order, file i is image i.
bool ReadSet(const QString &folder, TrackTable &table)
{
    const QStringList names = Files(folder);
    for (int i = 0; i < names.size(); ++i)
        if (!ReadTrackFile(QFile::encodeName(QDir(folder).filePath(names[i])), table, i))
            return false;
    return true;
}

qint64 PointCount(const TrackTable &table)
{
    qint64 count = 0;
    for (const auto &entry : table)
        count += static_cast<qint64>(entry.second.size());
    return count;
}

QStringList Numbered(const QString &prefix, int count, int width, const QString &suffix)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << prefix + QStringLiteral("%1").arg(i, width, 10, QLatin1Char('0')) + suffix;
    return names;
}

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file under folder, by relative path, with its bytes.
QMap<QString, QByteArray> Snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    const QDir root(folder);
    for (const QString &sub : { QStringLiteral("images"), QStringLiteral("tracks/normal"),
                                QStringLiteral("tracks/error") })
        for (const QString &name : Files(root.filePath(sub)))
            files.insert(sub + QLatin1Char('/') + name, Contents(root.filePath(sub + '/' + name)));
    return files;
}

// A pixel as stored: 0..255 for 8-bit images, 0..65535 for 16-bit ones.
int Value(const QImage &image, int x, int y)
{
    if (image.format() == QImage::Format_Grayscale16)
        return reinterpret_cast<const quint16 *>(image.constScanLine(y))[x];
    return image.constScanLine(y)[x];
}

SampleOptions Small(SampleOptions::Format format = SampleOptions::Tiff8)
{
    SampleOptions options;
    options.slices = 6;
    options.fibres = 40;
    options.width = 96;
    options.height = 64;
    options.format = format;
    options.errorShare = 0.25;
    options.seed = 11;
    return options;
}

} // namespace

class TstSampleData : public QObject
{
    Q_OBJECT

private slots:
    void toolWritesSet();
    void toolRefusesBadOptions_data();
    void toolRefusesBadOptions();
    void imagesMatchTracks_data();
    void imagesMatchTracks();
    void tracksReadBack();
    void numberWidths_data();
    void numberWidths();
    void errorShare_data();
    void errorShare();
    void sameSeedSameBytes();
    void partsMatchWholeSet();
    void rewriteReplacesOldSet();
    void unwritableFolderFails();
};

void TstSampleData::toolWritesSet()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("set"));
    QProcess tool;
    tool.start(QStringLiteral(STRANDSIGHT_SAMPLE_TOOL),
               { "--out", out, "--slices", "5", "--fibres", "20", "--width", "80", "--height", "60",
                 "--format", "tiff16", "--error-share", "0.2", "--seed", "4" });
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    const QString printed = QString::fromLocal8Bit(tool.readAllStandardOutput());
    QVERIFY2(printed.contains(QDir(out).absoluteFilePath(QStringLiteral("images"))),
             qPrintable(printed));

    QCOMPARE(Files(out + QStringLiteral("/images")), Numbered("slice", 5, 3, ".tif"));
    QCOMPARE(Files(out + QStringLiteral("/tracks/normal")), Numbered("track", 5, 3, ".txt"));
    QCOMPARE(Files(out + QStringLiteral("/tracks/error")), Numbered("track", 5, 3, ".txt"));
    TrackTable normal;
    TrackTable error;
    QVERIFY(ReadSet(out + QStringLiteral("/tracks/normal"), normal));
    QVERIFY(ReadSet(out + QStringLiteral("/tracks/error"), error));
    QCOMPARE(normal.size(), size_t(16));
    QCOMPARE(error.size(), size_t(4));
    const QImage image(out + QStringLiteral("/images/slice004.tif"));
    QCOMPARE(image.size(), QSize(80, 60));
    QCOMPARE(image.format(), QImage::Format_Grayscale16);
}

void TstSampleData::toolRefusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no --out") << QStringList { "--slices", "3" };
    QTest::newRow("unknown format") << QStringList { "--format", "bmp" };
    QTest::newRow("slices not a number") << QStringList { "--slices", "many" };
    QTest::newRow("no slices") << QStringList { "--slices", "0" };
    QTest::newRow("negative fibres") << QStringList { "--fibres", "-4" };
    QTest::newRow("tiny image") << QStringList { "--width", "5" };
    QTest::newRow("share above 1") << QStringList { "--error-share", "1.5" };
    QTest::newRow("share not a number") << QStringList { "--error-share", "nan" };
    QTest::newRow("seed too large") << QStringList { "--seed", "4294967296" };
    QTest::newRow("both only options") << QStringList { "--tracks-only", "--images-only" };
    QTest::newRow("stray argument") << QStringList { "extra" };
}

void TstSampleData::toolRefusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("set"));
    if (QTest::currentDataTag() != QByteArray("no --out"))
        arguments << "--out" << out;
    QProcess tool;
    tool.start(QStringLiteral(STRANDSIGHT_SAMPLE_TOOL), arguments);
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QVERIFY(tool.exitCode() != 0);
    QVERIFY(!tool.readAllStandardError().trimmed().isEmpty());
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/images")));
}

void TstSampleData::imagesMatchTracks_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("imageFormat");
    QTest::addColumn<int>("fullScale"); // largest value the data may take
    QTest::newRow("tiff8") << int(SampleOptions::Tiff8) << ".tif" << int(QImage::Format_Grayscale8)
                           << 255;
    QTest::newRow("tiff16") << int(SampleOptions::Tiff16) << ".tif"
                            << int(QImage::Format_Grayscale16) << 4095;
    QTest::newRow("png") << int(SampleOptions::Png) << ".png" << int(QImage::Format_Grayscale8)
                         << 255;
}

void TstSampleData::imagesMatchTracks()
{
    QFETCH(int, format);
    QFETCH(QString, suffix);
    QFETCH(int, imageFormat);
    QFETCH(int, fullScale);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SampleOptions options = Small(static_cast<SampleOptions::Format>(format));
    const SampleResult result = WriteSampleData(dir.path(), options);
    QVERIFY2(result.ok, qPrintable(result.message));
    QCOMPARE(result.imageFiles, options.slices);
    QCOMPARE(Files(result.imageDirectory), Numbered("slice", options.slices, 3, suffix));

    TrackTable normal;
    QVERIFY(ReadSet(result.normalDirectory, normal));
    for (int slice = 0; slice < options.slices; ++slice) {
        const QImage image(
            QDir(result.imageDirectory).filePath(Files(result.imageDirectory)[slice]));
        QCOMPARE(image.size(), QSize(options.width, options.height));
        QCOMPARE(int(image.format()), imageFormat);

        // A noisy background well below the discs, and nothing past the data's range.
        int darkest = fullScale;
        int brightest = 0;
        QSet<int> levels;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const int v = Value(image, x, y);
                darkest = std::min(darkest, v);
                brightest = std::max(brightest, v);
                levels.insert(v);
            }
        }
        QVERIFY2(brightest <= fullScale, qPrintable(QString::number(brightest)));
        QVERIFY(brightest > fullScale / 2);
        QVERIFY(darkest < fullScale / 4);
        QVERIFY(levels.size() > 20);

        // Every non-error track sits on a bright disc.
        for (const auto &[id, points] : normal) {
            const TrackPoint p = points.at(slice);
            const int x = static_cast<int>(p.x);
            const int y = static_cast<int>(p.y);
            QVERIFY(x >= 0 && y >= 0 && x < options.width && y < options.height);
            const int raw = Value(image, x, y);
            QVERIFY2(
                raw > fullScale / 3,
                qPrintable(QStringLiteral("track %1 on slice %2: %3").arg(id).arg(slice).arg(raw)));
        }
    }
}

void TstSampleData::tracksReadBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SampleOptions options = Small();
    options.slices = 12;
    options.fibres = 120;
    options.tracksOnly = true;
    const SampleResult result = WriteSampleData(dir.path(), options);
    QVERIFY2(result.ok, qPrintable(result.message));
    QVERIFY(!QFileInfo::exists(result.imageDirectory));
    QCOMPARE(result.trackFiles, 12);

    TrackTable normal;
    TrackTable error;
    QVERIFY(ReadSet(result.normalDirectory, normal));
    QVERIFY(ReadSet(result.errorDirectory, error));
    QCOMPARE(int(normal.size()), result.normalTracks);
    QCOMPARE(int(error.size()), result.errorTracks);
    QCOMPARE(PointCount(normal), result.normalPoints);
    QCOMPARE(PointCount(error), result.errorPoints);

    // Non-error tracks: a point on every slice, drifting at most 1.5 px a slice.
    for (const auto &[id, points] : normal) {
        QCOMPARE(int(points.size()), options.slices);
        QVERIFY2(!error.count(id), "an id used for both kinds");
        for (int slice = 1; slice < options.slices; ++slice) {
            const TrackPoint a = points.at(slice - 1);
            const TrackPoint b = points.at(slice);
            QVERIFY(std::hypot(b.x - a.x, b.y - a.y) <= 1.5f + 1e-3f);
        }
    }
    // Error tracks: each has a visible fault, a gap of at most three slices or a jump.
    for (const auto &[id, points] : error) {
        const int missing = options.slices - int(points.size());
        QVERIFY(missing >= 0 && missing <= 3);
        bool jump = false;
        for (auto it = std::next(points.begin()); it != points.end(); ++it) {
            const auto before = std::prev(it);
            if (before->first + 1 == it->first
                && std::hypot(it->second.x - before->second.x, it->second.y - before->second.y)
                    > 3.0f)
                jump = true;
        }
        QVERIFY2(missing > 0 || jump, qPrintable(QStringLiteral("error track %1").arg(id)));
    }
}

void TstSampleData::numberWidths_data()
{
    QTest::addColumn<int>("slices");
    QTest::addColumn<int>("width");
    QTest::newRow("1") << 1 << 3;
    QTest::newRow("1000") << 1000 << 3;
    QTest::newRow("1001") << 1001 << 4;
}

void TstSampleData::numberWidths()
{
    QFETCH(int, slices);
    QFETCH(int, width);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SampleOptions options = Small();
    options.slices = slices;
    options.fibres = 3;
    options.tracksOnly = true;
    const SampleResult result = WriteSampleData(dir.path(), options);
    QVERIFY2(result.ok, qPrintable(result.message));
    QCOMPARE(Files(result.errorDirectory), Numbered("track", slices, width, ".txt"));
    QCOMPARE(Files(result.normalDirectory), Numbered("track", slices, width, ".txt"));
}

void TstSampleData::errorShare_data()
{
    QTest::addColumn<int>("fibres");
    QTest::addColumn<double>("share");
    QTest::addColumn<int>("errors");
    QTest::newRow("none") << 50 << 0.0 << 0;
    QTest::newRow("all") << 50 << 1.0 << 50;
    QTest::newRow("default share of 300") << 300 << 0.15 << 45;
    QTest::newRow("rounded") << 7 << 0.5 << 4;
    QTest::newRow("a lone error fibre") << 1 << 1.0 << 1;
    QTest::newRow("no fibres") << 0 << 0.5 << 0;
}

void TstSampleData::errorShare()
{
    QFETCH(int, fibres);
    QFETCH(double, share);
    QFETCH(int, errors);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SampleOptions options = Small();
    options.fibres = fibres;
    options.errorShare = share;
    options.tracksOnly = true;
    const SampleResult result = WriteSampleData(dir.path(), options);
    QVERIFY2(result.ok, qPrintable(result.message));
    QCOMPARE(result.errorTracks, errors);
    QCOMPARE(result.normalTracks, fibres - errors);

    TrackTable normal;
    TrackTable error;
    QVERIFY(ReadSet(result.normalDirectory, normal));
    QVERIFY(ReadSet(result.errorDirectory, error));
    QCOMPARE(int(error.size()), errors);
    QCOMPARE(int(normal.size()), fibres - errors);
    // A set without tracks of a kind still has one (empty) file per slice.
    QCOMPARE(Files(result.errorDirectory).size(), options.slices);
    QCOMPARE(Files(result.normalDirectory).size(), options.slices);
}

void TstSampleData::sameSeedSameBytes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SampleOptions options = Small(SampleOptions::Tiff16);
    QVERIFY(WriteSampleData(dir.filePath("a"), options).ok);
    QVERIFY(WriteSampleData(dir.filePath("b"), options).ok);
    options.seed += 1;
    QVERIFY(WriteSampleData(dir.filePath("c"), options).ok);

    const auto a = Snapshot(dir.filePath("a"));
    QCOMPARE(a.size(), 3 * options.slices);
    QVERIFY(a == Snapshot(dir.filePath("b")));
    const auto c = Snapshot(dir.filePath("c"));
    QVERIFY(a.value("tracks/normal/track000.txt") != c.value("tracks/normal/track000.txt"));
    QVERIFY(a.value("images/slice000.tif") != c.value("images/slice000.tif"));
}

void TstSampleData::partsMatchWholeSet()
{
    // Images and tracks written apart are halves of the same set.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SampleOptions options = Small(SampleOptions::Png);
    QVERIFY(WriteSampleData(dir.filePath("whole"), options).ok);
    options.imagesOnly = true;
    QVERIFY(WriteSampleData(dir.filePath("parts"), options).ok);
    QVERIFY(!QFileInfo::exists(dir.filePath("parts/tracks")));
    options.imagesOnly = false;
    options.tracksOnly = true;
    QVERIFY(WriteSampleData(dir.filePath("parts"), options).ok);
    QVERIFY(Snapshot(dir.filePath("whole")) == Snapshot(dir.filePath("parts")));
}

void TstSampleData::rewriteReplacesOldSet()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SampleOptions options = Small();
    options.slices = 12;
    QVERIFY(WriteSampleData(dir.path(), options).ok);
    QFile note(dir.filePath("tracks/normal/notes.txt"));
    QVERIFY(note.open(QIODevice::WriteOnly));
    note.close();

    options.slices = 4;
    const SampleResult result = WriteSampleData(dir.path(), options);
    QVERIFY(result.ok);
    QCOMPARE(Files(result.imageDirectory), Numbered("slice", 4, 3, ".tif"));
    QCOMPARE(Files(result.errorDirectory), Numbered("track", 4, 3, ".txt"));
    QCOMPARE(Files(result.normalDirectory),
             QStringList { "notes.txt" } + Numbered("track", 4, 3, ".txt"));
}

void TstSampleData::unwritableFolderFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A plain file where the images folder should be.
    QFile blocker(dir.filePath("images"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const SampleResult result = WriteSampleData(dir.path(), Small());
    QVERIFY(!result.ok);
    QVERIFY(result.message.contains(QStringLiteral("images")));
}

QTEST_GUILESS_MAIN(TstSampleData)
#include "tst_sampledata.moc"
