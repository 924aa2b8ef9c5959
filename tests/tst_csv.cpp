#include "testsupport.h"

#include "dialogs/tracktypedialog.h"
#include "review/tformstrandsight.h"
#include "session/sessionkeeper.h"
#include "session/trackcsv.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/tformtrackviewform.h"
#include "view/trackscene.h"

#include <QAction>
#include <QFileDialog>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>

using namespace TestSupport;

namespace {

TrackTable KnownNonError()
{
    TrackTable table;
    table[10][1] = { 0.1f, 7.0f };
    table[3][2] = { -0.25f, 1000.0f };
    table[3][0] = { 1.5f, 2.0f };
    return table;
}

TrackTable KnownError()
{
    TrackTable table;
    table[4294967295u][0] = { 12.125f, 0.0f };
    table[3][1] = { 4.0f, 5.0f };
    return table;
}

QByteArray Exported(const TrackTable &nonError, const TrackTable &error,
                    const std::vector<unsigned int> *nonErrorIds = nullptr,
                    const std::vector<unsigned int> *errorIds = nullptr)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("out.csv")));
    FILE *file = std::fopen(path.constData(), "wb");
    const bool written = WriteTracksCsv(file, nonError, error, nonErrorIds, errorIds);
    std::fclose(file);
    return written ? ReadAll(QString::fromLocal8Bit(path)) : QByteArray("(failed)");
}

} // namespace

class TestCsv : public QObject
{
    Q_OBJECT

private slots:
    void exportIsByteExact();
    void exportWritesPointsInEveryLocale();
    void importReadsEveryLayout_data();
    void importReadsEveryLayout();
    void importCountsAndNamesBadRows();
    void importRefusesTablesItCannotUse_data();
    void importRefusesTablesItCannotUse();
    void exportedTracksImportUnchanged();
    void menuExportWritesShownTracks();
    void importWithoutKindAsksAndReplacesThatKind();
};

void TestCsv::exportIsByteExact()
{
    QCOMPARE(Exported(KnownNonError(), KnownError()),
             QByteArray("id,kind,image,x,y\n"
                        "3,non-error,0,1.5,2\n"
                        "3,non-error,2,-0.25,1000\n"
                        "3,error,1,4,5\n"
                        "10,non-error,1,0.1,7\n"
                        "4294967295,error,0,12.125,0\n"));
    const std::vector<unsigned int> shownNonError { 10 };
    const std::vector<unsigned int> shownError { 3 };
    QCOMPARE(Exported(KnownNonError(), KnownError(), &shownNonError, &shownError),
             QByteArray("id,kind,image,x,y\n"
                        "3,error,1,4,5\n"
                        "10,non-error,1,0.1,7\n"));
}

void TestCsv::exportWritesPointsInEveryLocale()
{
    const QByteArray before = Exported(KnownNonError(), KnownError());
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("the German locale is not installed");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    char decimal[16];
    std::snprintf(decimal, sizeof decimal, "%.1f", 1.5);
    const QByteArray german = Exported(KnownNonError(), KnownError());
    std::setlocale(LC_ALL, previous.c_str());
    QLocale::setDefault(QLocale::c());
    QCOMPARE(QByteArray(decimal), QByteArray("1,5")); // the locale was in force
    QCOMPARE(german, before);
}

void TestCsv::importReadsEveryLayout_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<bool>("hasKind");
    QTest::addColumn<QString>("nonError");
    QTest::addColumn<QString>("error");

    QTest::newRow("exported") << QByteArray("id,kind,image,x,y\n3,non-error,0,1.5,2\n"
                                            "3,error,1,4,5\n")
                              << true << "3:0(1.5,2)"
                              << "3:1(4,5)";
    QTest::newRow("columns in any order and case, CR LF, byte order mark")
        << QByteArray("\xEF\xBB\xBFY,Frame,Track_ID,X\r\n2,0,3,1.5\r\n7,1,3,2.5\r\n") << false
        << "3:0(1.5,2)1(2.5,7)"
        << "";
    QTest::newRow("semicolons and decimal commas")
        << QByteArray("track;slice;x;y\n3;0;1,5;2\n3;1;2,25;-7,5\n") << false
        << "3:0(1.5,2)1(2.25,-7.5)"
        << "";
    QTest::newRow("tabs") << QByteArray("id\tt\tposition_x\tposition_y\n5\t2\t1\t2\n") << false
                          << "5:2(1,2)"
                          << "";
    QTest::newRow("quoted fields") << QByteArray("\"label\",\"id\",\"z\",\"x\",\"y\"\n"
                                                 "\"a, \"\"b\"\"\",\"3\",\"0\",\" 1.5\",\"2\"\n"
                                                 "\"two\nlines\",4,1,3,4\n")
                                   << false << "3:0(1.5,2) 4:1(3,4)"
                                   << "";
    // A spots table of a common tracker: a spot id beside the track id, the
    // time in seconds beside the frame, and three rows of names and units.
    QTest::newRow("units rows and a spot id")
        << QByteArray("LABEL,ID,TRACK_ID,POSITION_X,POSITION_Y,POSITION_T,FRAME\n"
                      "Label,Spot ID,Track ID,X,Y,T,Frame\n"
                      "Label,Spot ID,Track ID,X,Y,T,Frame\n"
                      ",,,(micron),(micron),(sec),\n"
                      "ID1,1,8,10.5,20,0.5,0\n"
                      "ID2,2,8,11,21,1.0,1.0\n")
        << false << "8:0(10.5,20)1(11,21)"
        << "";
    QTest::newRow("kinds in words") << QByteArray("id,image,x,y,kind\n1,0,1,1,Error\n"
                                                  "1,0,2,2,normal\n2,3,0,0,E\n")
                                    << true << "1:0(2,2)"
                                    << "1:0(1,1) 2:3(0,0)";
}

void TestCsv::importReadsEveryLayout()
{
    QFETCH(QByteArray, table);
    CsvTracks read;
    QString why;
    QVERIFY2(ParseTracksCsv(table.constData(), table.constData() + table.size(), read, why),
             qPrintable(why));
    QCOMPARE(read.unreadable, 0);
    QTEST(read.hasKind, "hasKind");
    QTEST(DescribeTracks(read.nonError), "nonError");
    QTEST(DescribeTracks(read.error), "error");
}

void TestCsv::importCountsAndNamesBadRows()
{
    const QByteArray table("id,image,x,y\n"
                           "1,0,1,1\n"
                           "1,-1,1,1\n" // line 3: a negative image
                           "x,1,1,1\n" // line 4
                           "1,0,5,5\n" // line 5: image 0 again
                           "1,2\n" // line 6: too short
                           "2,1,nan,1\n" // line 7
                           "4294967296,0,1,1\n" // line 8: beyond 32 bits
                           "2,2,1,1\n");
    CsvTracks read;
    QString why;
    QVERIFY(ParseTracksCsv(table.constData(), table.constData() + table.size(), read, why));
    QCOMPARE(DescribeTracks(read.nonError), QStringLiteral("1:0(1,1) 2:2(1,1)"));
    QCOMPARE(read.unreadable, 5);
    QCOMPARE(read.unreadableRows.size(), kCsvRowsNamed);
    QVERIFY2(read.unreadableRows.at(0).startsWith(QLatin1String("line 3:")),
             qPrintable(read.unreadableRows.join('|')));
    QVERIFY(read.unreadableRows.at(1).startsWith(QLatin1String("line 4:")));
    QVERIFY(read.unreadableRows.at(4).startsWith(QLatin1String("line 8:")));
    QCOMPARE(read.repeated, 1);
    QCOMPARE(read.repeatedRows, QStringList { "line 5: track 1 on image 0" });
}

void TestCsv::importRefusesTablesItCannotUse_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("why");
    QTest::newRow("empty") << QByteArray() << "empty";
    QTest::newRow("no header") << QByteArray("1,0,1.5,2\n") << "no column for the track id";
    QTest::newRow("no y") << QByteArray("id,image,x\n1,0,1\n") << "no column for y";
    QTest::newRow("no rows") << QByteArray("id,image,x,y\n") << "no points";
    QTest::newRow("no row readable") << QByteArray("id,image,x,y\n1,0,1,1x\n") << "No row";
}

void TestCsv::importRefusesTablesItCannotUse()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, why);
    CsvTracks read;
    QString reason;
    QVERIFY(!ParseTracksCsv(table.constData(), table.constData() + table.size(), read, reason));
    QVERIFY2(reason.contains(why), qPrintable(reason));
}

void TestCsv::exportedTracksImportUnchanged()
{
    TrackTable nonError;
    TrackTable error;
    // Values that print long: every bit must come back.
    for (unsigned int id = 0; id < 50; ++id) {
        for (unsigned int image = 0; image < 20; image += 1 + id % 3)
            (id % 2 ? error : nonError)[id * 977u][image]
                = { 1.0f / static_cast<float>(id + 3) + static_cast<float>(image) * 123.456f,
                    -3.3e-5f * static_cast<float>(id + image) };
    }
    const QByteArray text = Exported(nonError, error);
    CsvTracks read;
    QString why;
    QVERIFY(ParseTracksCsv(text.constData(), text.constData() + text.size(), read, why));
    QCOMPARE(read.nonError.size(), nonError.size());
    QCOMPARE(read.error.size(), error.size());
    for (const bool kind : { false, true }) {
        const TrackTable &written = kind ? error : nonError;
        const TrackTable &back = kind ? read.error : read.nonError;
        for (const auto &[id, points] : written) {
            const auto track = back.find(id);
            QVERIFY(track != back.end());
            QCOMPARE(track->second.size(), points.size());
            for (const auto &[image, point] : points) {
                const auto other = track->second.find(image);
                QVERIFY(other != track->second.end());
                QCOMPARE(other->second.x, point.x);
                QCOMPARE(other->second.y, point.y);
            }
        }
    }
}

// The File menu's export: the question, the file dialog, the tracks shown.
void TestCsv::menuExportWritesShownTracks()
{
    QTemporaryDir dir;
    TFormStrandsight window;
    SessionKeeper keeper(&window, dir.filePath(QStringLiteral("recovery")));
    window.ReplaceTrackSet(KnownNonError(), false);
    window.ReplaceTrackSet(KnownError(), true);
    window.ViewWindow()->scene->ShowOnlyFibers({ 10 }, { 3 });

    QSignalSpy exported(&keeper, &SessionKeeper::Exported);
    ModalScript script({ ModalScript::Expect<QMessageBox>([](QMessageBox *box) {
                             QCOMPARE(box->objectName(), QStringLiteral("csvExportPrompt"));
                             box->buttons().at(0)->click(); // Shown Tracks
                         }),
                         ModalScript::Expect<QFileDialog>([&dir](QFileDialog *dialog) {
                             ChooseFiles(dialog, dir.path(), { QStringLiteral("shown") });
                         }) });
    window.ViewWindow()->Form()->actionExportCsv->trigger();
    QVERIFY(exported.wait(10000));
    QVERIFY(!script.Failed());
    QCOMPARE(ReadAll(dir.filePath(QStringLiteral("shown.csv"))),
             QByteArray("id,kind,image,x,y\n3,error,1,4,5\n10,non-error,1,0.1,7\n"));
}

// A table without a kind column asks for one, and replaces that kind as a
// load does: its list and picks change, the other kind's stay.
void TestCsv::importWithoutKindAsksAndReplacesThatKind()
{
    QTemporaryDir dir;
    TFormStrandsight window;
    SessionKeeper keeper(&window, dir.filePath(QStringLiteral("recovery")));
    window.ReplaceTrackSet(KnownNonError(), false);
    window.ReplaceTrackSet(KnownError(), true);
    window.SetPickedTexts({ QStringLiteral("3"), QStringLiteral("E3") });
    const QString csv = WriteIn(dir.path(), QStringLiteral("spots.csv"),
                                "frame;track;x;y\n0;41;1,5;2\n1;41;2;3\n0;42;7;8\nbad;42;1;1\n");

    QSignalSpy imported(&keeper, &SessionKeeper::Imported);
    ModalScript script({ ModalScript::Expect<TrackTypeDialog>(
                             [](TrackTypeDialog *prompt) { prompt->nonErrorButton->click(); }),
                         ModalScript::Expect<QMessageBox>([](QMessageBox *box) {
                             QVERIFY2(box->text().contains(QLatin1String("line 5:")),
                                      qPrintable(box->text()));
                             box->accept();
                         }) });
    keeper.ImportCsv(csv);
    QVERIFY(imported.wait(10000));
    QVERIFY(!script.Failed());
    QCOMPARE(script.Done(), 2);
    QCOMPARE(DescribeTracks(window.ViewWindow()->corrTracks),
             QStringLiteral("41:0(1.5,2)1(2,3) 42:0(7,8)"));
    QCOMPARE(DescribeTracks(window.ViewWindow()->errTracks), DescribeTracks(KnownError()));
    auto *list = window.findChild<QListWidget *>(QStringLiteral("lwCorr"));
    QCOMPARE(ListTexts(list), (QStringList { "41", "42" }));
    QCOMPARE(window.PickedTexts(), QStringList { "E3" });
    QCOMPARE(keeper.CurrentRecord().nonError.source, TrackSource::Csv);
}

QTEST_MAIN(TestCsv)
#include "tst_csv.moc"
