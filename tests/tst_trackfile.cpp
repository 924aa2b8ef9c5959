#include "model/trackfile.h"
#include "model/trackset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <cctype>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// "id@image=x,y" per point, ascending id and image, so two tables compare as text.
QString Describe(const TrackTable &table, char format = 'g', int precision = 9)
{
    QStringList parts;
    for (const auto &[id, points] : table)
        for (const auto &[image, p] : points)
            parts << QStringLiteral("%1@%2=%3,%4")
                         .arg(id)
                         .arg(image)
                         .arg(static_cast<double>(p.x), 0, format, precision)
                         .arg(static_cast<double>(p.y), 0, format, precision);
    return parts.join(QLatin1Char(';'));
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A literal with embedded NUL bytes, without its terminator.
template <size_t N> QByteArray Bytes(const char (&text)[N]) { return QByteArray(text, N - 1); }

QByteArray Native(const QString &path) { return QFile::encodeName(path); }

QString PrintedDecimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", value);
    return QString::fromLatin1(text);
}

// The reading rules as the plain loop states them: fscanf "%f %f %lld%c" in
// the C locale, a record kept when its id fits and x and y are finite, the rest
// of the line skipped after anything else. The reader must give exactly these
// records, bit for bit.
std::vector<TrackRecord> ScanfLoop(const QString &path)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(c);
    std::vector<TrackRecord> records;
    FILE *file = std::fopen(Native(path).constData(), "rb");
    while (file && !std::feof(file) && !std::ferror(file)) {
        float x = 0.0f;
        float y = 0.0f;
        long long id = 0;
        char after = ' ';
        const int fields = std::fscanf(file, "%f %f %lld%c", &x, &y, &id, &after);
        if (fields == EOF)
            break;
        if (fields < 3 || (fields == 4 && !std::isspace(static_cast<unsigned char>(after)))) {
            if (after != '\n') [[maybe_unused]]
                const int skipped = std::fscanf(file, "%*[^\n]");
            continue;
        }
        if (id >= -2147483648LL && id <= 4294967295LL && std::isfinite(x) && std::isfinite(y))
            records.push_back({ static_cast<unsigned int>(id), { x, y } });
    }
    if (file)
        std::fclose(file);
    uselocale(previous);
    return records;
}

QString Differ(const std::vector<TrackRecord> &a, const std::vector<TrackRecord> &b)
{
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i >= a.size() || i >= b.size() || a[i].id != b[i].id
            || std::memcmp(&a[i].point, &b[i].point, sizeof(TrackPoint)) != 0)
            return QStringLiteral("record %1 of %2/%3 differs").arg(i).arg(a.size()).arg(b.size());
    }
    return {};
}

// A field the reader may meet: numbers of every shape scanf takes or refuses,
// decimals a hair from halfway between two floats, and text that is no number.
QByteArray RandomField(QRandomGenerator &random, bool id)
{
    static const char *const odd[] = { "+1.5",
                                       "-.5",
                                       ".25",
                                       "5.",
                                       "1e3",
                                       "1E-2",
                                       "1e",
                                       "1e+",
                                       "0x1p3",
                                       "nan",
                                       "-inf",
                                       "infinity",
                                       "1.5.5",
                                       "abc",
                                       "-",
                                       "+",
                                       "12,5",
                                       "3abc",
                                       "0000000000000000000000012.5",
                                       "123456789012345678901234",
                                       "4294967296",
                                       "-2147483649",
                                       "-0",
                                       "1\x01" };
    const int kind = random.bounded(12);
    if (kind == 0)
        return odd[random.bounded(int(sizeof(odd) / sizeof(*odd)))];
    if (id || kind == 1)
        return QByteArray::number(random.bounded(-3000000000LL, 5000000000LL));
    if (kind < 4) {
        // Halfway between two floats, to the 15 or 16 digits a double holds
        // exactly, sometimes moved by one in the last digit.
        const int magnitude = random.bounded(-3, 7);
        const auto f = static_cast<float>((1.0 + random.bounded(9.0)) * std::pow(10.0, magnitude));
        const double half = (double(f) + double(std::nextafter(f, 1e30f))) / 2;
        QByteArray text = QByteArray::number(half, 'f', std::max(0, 15 - std::max(magnitude, 0)));
        if (random.bounded(3) == 0)
            text[text.size() - 1] = char('0' + random.bounded(10));
        return text;
    }
    return QByteArray::number(random.bounded(10000.0) - 5000.0, 'f', random.bounded(0, 10));
}

QByteArray RandomGap(QRandomGenerator &random)
{
    static const char *const gaps[] = { "\t", " ", "\t\t", " \t ", "\n", "\r\n", "\v", "\f" };
    return gaps[random.bounded(int(sizeof(gaps) / sizeof(*gaps)))];
}

} // namespace

// Track files are read and written while the user's locale is German (comma as
// decimal separator), as in a desktop session that sets LANG=de_DE.UTF-8.
class TstTrackFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void germanLocaleKeepsDecimalPoint();
    void readRecords_data();
    void readRecords();
    void readRandomBytesEnds();
    void readsAsTheScanfLoop();
    void readFailures();
    void setReadsLikeFileAfterFile_data();
    void setReadsLikeFileAfterFile();
    void cancelStopsInsideAFile();
    void setRefusalsSayWhy_data();
    void setRefusalsSayWhy();
    void cancelledSetIsNeverComplete();
    void outOfMemoryEndsTheRead();
    void writeRecordLayout();
    void idsSurviveWriteAndRead_data();
    void idsSurviveWriteAndRead();
    void writeSelection_data();
    void writeSelection();
    void failedWriteKeepsOldFile();
    void fullDiskKeepsOldFile();
    void numberWidth_data();
    void numberWidth();
    void saveFileNames_data();
    void saveFileNames();

private:
    bool german = false;
    QTemporaryDir dir;
};

void TstTrackFile::initTestCase()
{
    QVERIFY(dir.isValid());
    // After the application object, which has already applied the environment's locale.
    german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

void TstTrackFile::germanLocaleKeepsDecimalPoint()
{
    if (!german)
        QSKIP("locale de_DE.UTF-8 is not installed (localedef -i de_DE -f UTF-8 de_DE.UTF-8)");
    QCOMPARE(PrintedDecimal(1.5), QStringLiteral("1,5")); // the trap is armed

    const QString path = dir.filePath(QStringLiteral("german.txt"));
    QVERIFY(WriteBytes(path, "0.5\t1.25\t2\n"));
    TrackTable table;
    QVERIFY(ReadTrackFile(Native(path), table, 0));
    QCOMPARE(Describe(table), QStringLiteral("2@0=0.5,1.25"));

    QVERIFY(WriteTrackFile(Native(path), { 2 }, table, 0, false));
    QCOMPARE(ReadBytes(path), QByteArray("0.500000\t1.250000\t2\n"));

    // Reading and writing hand the user's locale back afterwards.
    QCOMPARE(PrintedDecimal(1.5), QStringLiteral("1,5"));
}

void TstTrackFile::readRecords_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected"); // points read as image 4

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("only blank lines") << QByteArray("\n\r\n  \n") << QString();
    QTest::newRow("tabs") << QByteArray("12.5\t7.25\t3\n") << "3@4=12.5,7.25";
    QTest::newRow("no final line feed") << QByteArray("1\t2\t3") << "3@4=1,2";
    QTest::newRow("CR LF") << QByteArray("1.5\t2.5\t7\r\n3\t4\t8\r\n") << "7@4=1.5,2.5;8@4=3,4";
    QTest::newRow("spaces for tabs")
        << QByteArray("1.5 2.5 7\n  3 \t 4\t\t8  \n") << "7@4=1.5,2.5;8@4=3,4";
    QTest::newRow("record split over lines")
        << QByteArray("1.5\t2.5\n7\n3\t4\t8\n") << "7@4=1.5,2.5;8@4=3,4";
    QTest::newRow("signs and exponents") << QByteArray("-1e2\t+2.5E-1\t+9\n") << "9@4=-100,0.25";
    QTest::newRow("header line") << QByteArray("x\ty\tid\n1\t2\t3\n") << "3@4=1,2";
    QTest::newRow("comment between records")
        << QByteArray("1\t2\t3\n# made by hand\n4\t5\t6\n") << "3@4=1,2;6@4=4,5";
    QTest::newRow("words after a record")
        << QByteArray("1\t2\t3 extra words\n4\t5\t6\n") << "3@4=1,2;6@4=4,5";
    QTest::newRow("last record without id") << QByteArray("1\t2\t3\n4\t5\n") << "3@4=1,2";
    QTest::newRow("record with one field") << QByteArray("1\t2\t3\n4\n") << "3@4=1,2";
    QTest::newRow("same id twice, later wins") << QByteArray("1\t2\t3\n4\t5\t3\n") << "3@4=4,5";
    QTest::newRow("id 0") << QByteArray("1\t2\t0\n") << "0@4=1,2";
    QTest::newRow("id -1 is 2^32-1") << QByteArray("1\t2\t-1\n") << "4294967295@4=1,2";
    QTest::newRow("id 2^32-1 unsigned") << QByteArray("1\t2\t4294967295\n") << "4294967295@4=1,2";
    QTest::newRow("id 2^31 both ways") << QByteArray("1\t2\t-2147483648\n3\t4\t2147483649\n")
                                       << "2147483648@4=1,2;2147483649@4=3,4";
    QTest::newRow("id 2^32 skipped")
        << QByteArray("1\t2\t3\n5\t6\t4294967296\n7\t8\t9\n") << "3@4=1,2;9@4=7,8";
    QTest::newRow("id of many digits skipped")
        << QByteArray("5\t6\t123456789012345678901234567890123456789\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("leading zeros are the number they spell, however many")
        << QByteArray("5\t6\t000000000000000000000000000000000007\n7\t8\t9\n") << "7@4=5,6;9@4=7,8";
    QTest::newRow("id below -2^31 skipped")
        << QByteArray("5\t6\t-2147483649\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("fractional id skipped") << QByteArray("5\t6\t3.5\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("id glued to text skipped") << QByteArray("5\t6\t3abc\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("text for id") << QByteArray("1\t2\tabc\n4\t5\t6\n") << "6@4=4,5";
    QTest::newRow("nan and inf skipped")
        << QByteArray("nan\t1\t3\n1\tinf\t4\n-inf 2 5\n1\tNAN\t6\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("overflowing float skipped") << QByteArray("1e39\t2\t3\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("NUL bytes in a line") << Bytes("\0\x01\xff\xfe 1 2\0\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("NUL glued to id") << Bytes("1\t2\t3\0\0\n7\t8\t9\n") << "9@4=7,8";
    QTest::newRow("lone sign") << QByteArray("-\t+\n.\te\n7\t8\t9\n") << "9@4=7,8";
}

void TstTrackFile::readRecords()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    const QString path = dir.filePath(QStringLiteral("read.txt"));
    QVERIFY(WriteBytes(path, content));
    TrackTable table;
    QVERIFY(ReadTrackFile(Native(path), table, 4));
    QCOMPARE(Describe(table), expected);

    // What was read writes out and reads back to the same points, and the second
    // write reproduces the first byte for byte.
    const QString first = dir.filePath(QStringLiteral("first.txt"));
    const QString second = dir.filePath(QStringLiteral("second.txt"));
    QVERIFY(WriteTrackFile(Native(first), {}, table, 4, true));
    TrackTable again;
    QVERIFY(ReadTrackFile(Native(first), again, 4));
    QCOMPARE(Describe(again, 'f', 6), Describe(table, 'f', 6));
    QVERIFY(WriteTrackFile(Native(second), {}, again, 4, true));
    QCOMPARE(ReadBytes(second), ReadBytes(first));
}

void TstTrackFile::readRandomBytesEnds()
{
    // Whatever a file holds, reading ends and keeps only finite points.
    QRandomGenerator random(20261207);
    const QString path = dir.filePath(QStringLiteral("garbage.bin"));
    for (int round = 0; round < 20; ++round) {
        QByteArray bytes(4096, '\0');
        for (char &c : bytes)
            c = static_cast<char>(random.bounded(256));
        if (round % 2)
            bytes.replace('\x01', "1\t2\t"); // plenty of near-records
        QVERIFY(WriteBytes(path, bytes));
        TrackTable table;
        QVERIFY(ReadTrackFile(Native(path), table, 0));
        for (const auto &[id, points] : table)
            for (const auto &[image, p] : points)
                QVERIFY(image == 0 && std::isfinite(p.x) && std::isfinite(p.y));
    }
}

// Whatever a file holds, the reader gives the records of the plain loop. The
// files are larger than the reader's buffer, with records split across its
// edges, and one line longer than the buffer.
void TstTrackFile::readsAsTheScanfLoop()
{
    QRandomGenerator random(20261208);
    const QString path = dir.filePath(QStringLiteral("shapes.txt"));
    for (int round = 0; round < 6; ++round) {
        QByteArray text;
        while (text.size() < 600 * 1024) {
            if (random.bounded(4) == 0) {
                for (int field = 0; field < 3; ++field)
                    text += RandomField(random, field == 2) + RandomGap(random);
            } else {
                // The usual shape, with a rare odd field or gap.
                text += QByteArray::number(random.bounded(4096.0), 'f', 6) + '\t'
                    + QByteArray::number(random.bounded(4096.0), 'f', 6) + '\t'
                    + QByteArray::number(random.bounded(100000)) + (round % 2 ? "\r\n" : "\n");
            }
            if (round == 5 && text.size() > 300 * 1024 && text.size() < 301 * 1024)
                text += QByteArray(300 * 1024, 'x') + " 1 2 3\n";
        }
        if (round == 4)
            text.chop(random.bounded(1, 4)); // ends inside a record
        QVERIFY(WriteBytes(path, text));
        std::vector<TrackRecord> read;
        QVERIFY(ParseTrackFile(Native(path), read));
        const std::vector<TrackRecord> expected = ScanfLoop(path);
        QVERIFY(expected.size() > 1000);
        const QString difference = Differ(read, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

void TstTrackFile::readFailures()
{
    TrackTable table;
    table[5][1] = TrackPoint { 1.0f, 2.0f };
    const QString before = Describe(table);

    QVERIFY(!ReadTrackFile(Native(dir.filePath(QStringLiteral("missing.txt"))), table, 0));
    QCOMPARE(Describe(table), before);

    // A directory opens like a file on Linux but cannot be read.
    const QString folder = dir.filePath(QStringLiteral("a-folder.txt"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!ReadTrackFile(Native(folder), table, 0));
    QCOMPARE(Describe(table), before);

    // A named pipe with no writer: reading it would wait forever.
    const QString pipe = dir.filePath(QStringLiteral("a-pipe.txt"));
    QCOMPARE(mkfifo(Native(pipe).constData(), 0600), 0);
    QVERIFY(!ReadTrackFile(Native(pipe), table, 0));
    QCOMPARE(Describe(table), before);
}

void TstTrackFile::setReadsLikeFileAfterFile_data()
{
    QTest::addColumn<bool>("sparse");
    QTest::newRow("the same tracks in every file") << false;
    QTest::newRow("mostly new tracks in every file") << true;
}

// A set read as one (on helper threads, stored as files arrive or merged at
// the end) holds what reading its files one after the other gives: ids
// unordered within a file, an id twice on one image, the largest id.
void TstTrackFile::setReadsLikeFileAfterFile()
{
    QFETCH(bool, sparse);
    QRandomGenerator random(12);
    QStringList paths;
    TrackTable oneByOne;
    const QString folder
        = dir.filePath(sparse ? QStringLiteral("sparse") : QStringLiteral("dense"));
    QVERIFY(QDir().mkpath(folder));
    for (int image = 0; image < 30; ++image) {
        QByteArray text;
        for (int k = 0; k < 200; ++k) {
            unsigned int id = (static_cast<unsigned int>(k) * 7919u) % 211u;
            if (sparse)
                id = random.bounded(4) == 0 ? random.bounded(100u) : random.generate();
            text += QString::asprintf("%d.5\t%d\t%d\n", image, k, static_cast<int>(id)).toLatin1();
        }
        text += "1\t1\t4294967295\n2\t2\t0\n3\t3\t0\n";
        paths << QDir(folder).filePath(
            QStringLiteral("t%1.txt").arg(image, 2, 10, QLatin1Char('0')));
        QVERIFY(WriteBytes(paths.back(), text));
        QVERIFY(ReadTrackFile(Native(paths.back()), oneByOne, static_cast<unsigned int>(image)));
    }
    TrackTable together;
    QCOMPARE(ReadTrackSet(paths, together).outcome, TrackSetRead::Complete);
    QCOMPARE(Describe(together), Describe(oneByOne));
    // The progress counts every byte of the set, which it knows beforehand.
    {
        qint64 size = 0;
        for (const QString &path : paths)
            size += QFileInfo(path).size();
        TrackSetReader reader(paths);
        QVERIFY(reader.Start());
        QCOMPARE(reader.TotalBytes(), size);
        QVERIFY(reader.WaitForFinished(30000));
        QCOMPARE(reader.BytesRead(), size);
    }
    QCOMPARE(together.at(0).at(7).x, 3.0f); // the later line of image 7

    // The first file in name order that cannot be read is the one reported,
    // and a pipe is refused before any file is read.
    paths[20] += QStringLiteral(".missing");
    paths[25] += QStringLiteral(".pipe");
    QCOMPARE(mkfifo(Native(paths[25]).constData(), 0600), 0);
    const TrackSetRead failed = ReadTrackSet(paths, together);
    QCOMPARE(failed.outcome, TrackSetRead::Unreadable);
    QCOMPARE(failed.file, 20);
    QCOMPARE(Describe(together), Describe(oneByOne));
}

// The parser looks at the cancel flag inside a file, not only between files.
void TstTrackFile::cancelStopsInsideAFile()
{
    QByteArray text;
    for (int k = 0; k < 100000; ++k)
        text += "1\t2\t" + QByteArray::number(k) + '\n';
    const QString path = dir.filePath(QStringLiteral("long.txt"));
    QVERIFY(WriteBytes(path, text));
    std::vector<TrackRecord> records;
    const std::atomic<bool> cancel { true };
    QVERIFY(!ParseTrackFile(Native(path), records, &cancel));
    QVERIFY2(records.size() < 10000, qPrintable(QString::number(records.size())));
}

void TstTrackFile::setRefusalsSayWhy_data()
{
    // Files of a set, by kind: r a record, b blank (empty or white space only),
    // n no record (binary data), d a folder, m missing, e a read error.
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("file");
    QTest::addColumn<QString>("reason");

    const int complete = TrackSetRead::Complete;
    const int unreadable = TrackSetRead::Unreadable;
    const int noRecords = TrackSetRead::NoRecords;
    QTest::newRow("blank files are images without tracks") << "brb" << complete << -1 << "";
    QTest::newRow("binary data") << "rrn" << noRecords << 2 << "no track record could be read";
    QTest::newRow("binary before missing")
        << "rnm" << noRecords << 1 << "no track record could be read";
    QTest::newRow("missing before folder") << "rmd" << unreadable << 1 << "it does not exist";
    QTest::newRow("folder before missing")
        << "rdm" << unreadable << 1 << "it is not a regular file";
    QTest::newRow("read error before missing") << "erm" << unreadable << 0 << "EIO";
}

// A refused set names the first file in set order that cannot be read, and why.
void TstTrackFile::setRefusalsSayWhy()
{
    QFETCH(QString, kinds);
    QFETCH(int, outcome);
    QFETCH(int, file);
    QFETCH(QString, reason);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QStringList paths;
    for (int i = 0; i < kinds.size(); ++i) {
        const QString path = folder.filePath(QStringLiteral("t%1.txt").arg(i));
        switch (kinds[i].toLatin1()) {
        case 'r':
            QVERIFY(WriteBytes(path, "1\t2\t" + QByteArray::number(i) + '\n'));
            break;
        case 'b':
            QVERIFY(WriteBytes(path, i % 2 ? QByteArray(" \r\n\t\n") : QByteArray()));
            break;
        case 'n':
            QVERIFY(WriteBytes(path, Bytes("II*\0\x08\0\0\0\x10\0\x00\x01\x03\0\x01\0\0\0")));
            break;
        case 'd':
            QVERIFY(QDir().mkpath(path));
            break;
        case 'e':
            // Regular and open to anyone, but reading it fails.
            paths << QStringLiteral("/proc/self/mem");
            continue;
        }
        paths << path;
    }
    TrackTable table;
    table[7][0] = TrackPoint { 1.0f, 1.0f };
    const TrackSetRead read = ReadTrackSet(paths, table);
    QCOMPARE(int(read.outcome), outcome);
    QCOMPARE(read.file, file);
    QCOMPARE(read.reason,
             reason == QLatin1String("EIO") ? QString::fromLocal8Bit(std::strerror(EIO)) : reason);
    // A refused set leaves the table as it was.
    QCOMPARE(table.count(7), size_t(outcome == TrackSetRead::Complete ? 0 : 1));
}

// Asked to stop, a read never reports the set as complete, whenever the
// request came.
void TstTrackFile::cancelledSetIsNeverComplete()
{
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        paths << dir.filePath(QStringLiteral("c%1.txt").arg(i));
        QVERIFY(WriteBytes(paths.back(), "1\t2\t3\n4\t5\t6\n"));
    }
    TrackSetReader before(paths);
    before.Cancel();
    before.Start();
    QVERIFY(before.WaitForFinished(10000));
    QCOMPARE(before.Result().outcome, TrackSetRead::Cancelled);
    QVERIFY(before.TakeTable().empty());

    // Cancelled inside a file of a few megabytes, as soon as it started.
    QByteArray text;
    for (int k = 0; k < 300000; ++k)
        text += "1.500000\t2.500000\t" + QByteArray::number(k) + '\n';
    paths << dir.filePath(QStringLiteral("c-long.txt"));
    QVERIFY(WriteBytes(paths.back(), text));
    TrackSetReader during(paths);
    QVERIFY(during.Start());
    during.Cancel();
    QVERIFY(during.WaitForFinished(10000));
    QVERIFY(during.Result().outcome != TrackSetRead::Complete);
    QVERIFY(during.TakeTable().empty());
}

// A read that runs out of memory (here an address-space limit, as `ulimit -v`
// sets) ends as such, in a child process that goes on to report it.
void TstTrackFile::outOfMemoryEndsTheRead()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer reserves more address space than any limit allows");
#endif
    const QString path = dir.filePath(QStringLiteral("large.txt"));
    QVERIFY(WriteBytes(path, QByteArray("1 2 3\n").repeated(3000000)));
    for (const int limitMb : { 24, 0 }) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("--read-within"), QString::number(limitMb), path });
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit); // no abort
        QCOMPARE(child.exitCode(),
                 10 + (limitMb ? TrackSetRead::OutOfMemory : TrackSetRead::Complete));
    }
}

void TstTrackFile::writeRecordLayout()
{
    const QString path = dir.filePath(QStringLiteral("layout.txt"));
    TrackTable table;
    table[3][4] = TrackPoint { 12.5f, 7.25f };
    table[3][5] = TrackPoint { 1.0f, 1.0f };
    QVERIFY(WriteTrackFile(Native(path), { 3 }, table, 4, false));
    QCOMPARE(ReadBytes(path), QByteArray("12.500000\t7.250000\t3\n"));

    table[1][4] = TrackPoint { -0.5f, 1e6f };
    QVERIFY(WriteTrackFile(Native(path), {}, table, 4, true));
    QCOMPARE(ReadBytes(path), QByteArray("-0.500000\t1000000.000000\t1\n12.500000\t7.250000\t3\n"));
}

void TstTrackFile::idsSurviveWriteAndRead_data()
{
    QTest::addColumn<uint>("id");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("0") << 0u << QByteArray("1.000000\t2.000000\t0\n");
    QTest::newRow("2^31-1") << 2147483647u << QByteArray("1.000000\t2.000000\t2147483647\n");
    QTest::newRow("2^31") << 2147483648u << QByteArray("1.000000\t2.000000\t-2147483648\n");
    QTest::newRow("2^32-1") << 4294967295u << QByteArray("1.000000\t2.000000\t-1\n");
}

void TstTrackFile::idsSurviveWriteAndRead()
{
    QFETCH(uint, id);
    QFETCH(QByteArray, written);

    const QString path = dir.filePath(QStringLiteral("id.txt"));
    TrackTable table;
    table[id][0] = TrackPoint { 1.0f, 2.0f };
    QVERIFY(WriteTrackFile(Native(path), { id }, table, 0, false));
    QCOMPARE(ReadBytes(path), written);

    TrackTable read;
    QVERIFY(ReadTrackFile(Native(path), read, 0));
    QCOMPARE(Describe(read), Describe(table));
}

void TstTrackFile::writeSelection_data()
{
    QTest::addColumn<QList<uint>>("ids");
    QTest::addColumn<bool>("invert");
    QTest::addColumn<QByteArray>("written"); // ids only, one per record

    // Table: ids 2, 10, 100 have a point on image 0; id 7 only on image 1.
    QTest::newRow("plain, in list order") << QList<uint> { 100, 2 } << false << QByteArray("100 2");
    QTest::newRow("plain, ids not in table") << QList<uint> { 1, 3, 99 } << false << QByteArray();
    QTest::newRow("plain, no point on image") << QList<uint> { 7 } << false << QByteArray();
    QTest::newRow("plain, empty list") << QList<uint> {} << false << QByteArray();
    QTest::newRow("inverted, empty list") << QList<uint> {} << true << QByteArray("2 10 100");
    QTest::newRow("inverted, some picked") << QList<uint> { 10 } << true << QByteArray("2 100");
    QTest::newRow("inverted, unsorted picks")
        << QList<uint> { 100, 2, 55 } << true << QByteArray("10");
    QTest::newRow("inverted, all picked") << QList<uint> { 2, 7, 10, 100 } << true << QByteArray();
}

void TstTrackFile::writeSelection()
{
    QFETCH(QList<uint>, ids);
    QFETCH(bool, invert);
    QFETCH(QByteArray, written);

    TrackTable table;
    for (const unsigned int id : { 2u, 10u, 100u })
        table[id][0] = TrackPoint { static_cast<float>(id), 0.5f };
    table[7][1] = TrackPoint { 7.0f, 7.0f };

    const QString path = dir.filePath(QStringLiteral("selection.txt"));
    QFile::remove(path);
    const std::vector<unsigned int> list(ids.begin(), ids.end());
    QVERIFY(WriteTrackFile(Native(path), list, table, 0, invert));
    QVERIFY(QFileInfo::exists(path)); // one file per image, even when empty

    QByteArrayList idsWritten;
    for (const QByteArray &line : ReadBytes(path).split('\n'))
        if (!line.isEmpty())
            idsWritten << line.split('\t').value(2);
    QCOMPARE(idsWritten.join(' '), written);
}

void TstTrackFile::failedWriteKeepsOldFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    TrackTable table;
    table[1][0] = TrackPoint { 1.0f, 2.0f };

    // A directory where the file should go: refused, and nothing left beside it.
    const QString blocked = folder.filePath(QStringLiteral("fib0.txt"));
    QVERIFY(QDir().mkpath(blocked));
    QVERIFY(!WriteTrackFile(Native(blocked), { 1 }, table, 0, false));
    QVERIFY(QFileInfo(blocked).isDir());
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList { QStringLiteral("fib0.txt") });

    // A directory that does not exist.
    QVERIFY(!WriteTrackFile(Native(folder.filePath(QStringLiteral("no/such/fib0.txt"))), { 1 },
                            table, 0, false));
}

void TstTrackFile::fullDiskKeepsOldFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("fib0.txt"));
    const QByteArray old("5.000000\t6.000000\t7\n");
    QVERIFY(WriteBytes(path, old));

    TrackTable table;
    for (unsigned int id = 0; id < 5000; ++id)
        table[id][0] = TrackPoint { 1.0f * id, 2.0f };

    // The file size limit stands in for a full disk; it is set in a child so the
    // test process keeps writing its own files freely.
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { 4096, 4096 };
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(3);
        const bool ok = WriteTrackFile(Native(path), {}, table, 0, true);
        _exit(ok ? 1 : 0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0); // 1: reported success without the data on disk

    QCOMPARE(ReadBytes(path), old);
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList { QStringLiteral("fib0.txt") });

    // Without the limit the same save goes through and replaces the old file.
    QVERIFY(WriteTrackFile(Native(path), {}, table, 0, true));
    TrackTable read;
    QVERIFY(ReadTrackFile(Native(path), read, 0));
    QCOMPARE(read.size(), table.size());
}

void TstTrackFile::numberWidth_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("width");
    QTest::newRow("negative") << -3 << 0;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("10") << 10 << 1;
    QTest::newRow("11") << 11 << 2;
    QTest::newRow("100") << 100 << 2;
    QTest::newRow("101") << 101 << 3;
    QTest::newRow("1001") << 1001 << 4;
    QTest::newRow("int max") << 2147483647 << 10;
}

void TstTrackFile::numberWidth()
{
    QFETCH(int, count);
    QFETCH(int, width);
    QCOMPARE(NumberWidth(count), width);
}

void TstTrackFile::saveFileNames_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("ends"); // first and last name
    QTest::newRow("none") << 0 << QStringList {};
    QTest::newRow("one") << 1 << QStringList { "fib0.txt", "fib0.txt" };
    QTest::newRow("ten") << 10 << QStringList { "fib0.txt", "fib9.txt" };
    QTest::newRow("eleven") << 11 << QStringList { "fib00.txt", "fib10.txt" };
    QTest::newRow("twelve") << 12 << QStringList { "fib00.txt", "fib11.txt" };
    QTest::newRow("hundred and one") << 101 << QStringList { "fib000.txt", "fib100.txt" };
}

void TstTrackFile::saveFileNames()
{
    QFETCH(int, count);
    QFETCH(QStringList, ends);
    const QStringList names = SaveFileNames(QStringLiteral("fib"), count);
    QCOMPARE(names.size(), count);
    if (count == 0)
        return;
    QCOMPARE((QStringList { names.first(), names.last() }), ends);
    for (int i = 0; i < count; ++i) // every name has the index it stands for
        QCOMPARE(names[i].mid(3, names[i].size() - 7).toInt(), i);
}

namespace {

// The child of outOfMemoryEndsTheRead: reads the track file at path with the
// address space limited to what the process takes now plus limitMb (none for
// 0), and exits with 10 + the read's outcome.
int ReadWithin(int limitMb, const char *path)
{
    // The pool's helpers are started first: a thread's stack is address space.
    QThreadPool::globalInstance()->setMaxThreadCount(2);
    for (int i = 0; i < 2; ++i)
        QThreadPool::globalInstance()->start([] {});
    QThreadPool::globalInstance()->waitForDone();
    if (limitMb > 0) {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return 2;
        const QByteArray text = status.readAll();
        const qsizetype at = text.indexOf("VmSize:");
        const rlim_t used = text.mid(at + 7).trimmed().split(' ').first().toULongLong() * 1024;
        const rlimit limit { used + (rlim_t(limitMb) << 20), used + (rlim_t(limitMb) << 20) };
        if (at < 0 || setrlimit(RLIMIT_AS, &limit) != 0)
            return 3;
    }
    TrackTable table;
    return 10 + ReadTrackSet({ QFile::decodeName(path) }, table).outcome;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--read-within") == 0)
        return ReadWithin(std::atoi(argv[2]), argv[3]);
    TstTrackFile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_trackfile.moc"
