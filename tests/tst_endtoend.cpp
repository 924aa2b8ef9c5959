#include "dialogs/basefilenamedialog.h"
#include "dialogs/overwriteconfirmdialog.h"
#include "dialogs/trackiddialog.h"
#include "dialogs/tracktypedialog.h"
#include "model/normalfiber.h"
#include "model/trackfile.h"
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QDir>
#include <QFile>
#include <QGraphicsView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using TestSupport::ListTexts;
using TestSupport::ModalScript;

// One whole session through both windows: load images and both kinds of track,
// mask a region, pick, save, create a track by hand, save again and save the
// rest; the files written hold exactly the expected tracks.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void maskPickSaveCreateSaveAgain();

private:
    QAbstractButton *Button(const char *name) const;
    QListWidget *List(const char *name) const;
    QString Write(const QString &relative, const QByteArray &text) const;
    static TrackTable ReadSet(const QString &directory, const QString &base, int count);
    static ModalScript::Step NameBase(const QString &base);

    QTemporaryDir dir;
    TFormStrandsight *window = nullptr;
};

QAbstractButton *TestEndToEnd::Button(const char *name) const
{
    QAbstractButton *button = window->findChild<QAbstractButton *>(QLatin1String(name));
    if (!button)
        button = window->ViewWindow()->findChild<QAbstractButton *>(QLatin1String(name));
    return button;
}

QListWidget *TestEndToEnd::List(const char *name) const
{
    return window->findChild<QListWidget *>(QLatin1String(name));
}

QString TestEndToEnd::Write(const QString &relative, const QByteArray &text) const
{
    return TestSupport::WriteIn(dir.path(), relative, text);
}

TrackTable TestEndToEnd::ReadSet(const QString &directory, const QString &base, int count)
{
    TrackTable table;
    const QStringList names = SaveFileNames(base, count);
    for (int i = 0; i < names.size(); ++i) {
        const QString path = QDir(directory).filePath(names[i]);
        if (!QFile::exists(path) || !ReadTrackFile(QFile::encodeName(path), table, unsigned(i)))
            qWarning("missing saved file %s", qPrintable(path));
    }
    return table;
}

ModalScript::Step TestEndToEnd::NameBase(const QString &base)
{
    return [base](QWidget *modal) {
        auto *dialog = qobject_cast<BaseFilenameDialog *>(modal);
        if (!dialog) {
            TestSupport::RejectDialog(modal);
            return;
        }
        dialog->nameEdit->clear();
        QTest::keyClicks(dialog->nameEdit, base);
        dialog->submitButton->click();
    };
}

static bool SameTracks(const TrackTable &actual, const TrackTable &expected)
{
    if (actual.size() != expected.size())
        return false;
    for (const auto &[id, points] : expected) {
        const auto found = actual.find(id);
        if (found == actual.end() || found->second.size() != points.size())
            return false;
        for (const auto &[image, p] : points) {
            const auto q = found->second.find(image);
            if (q == found->second.end() || std::abs(q->second.x - p.x) > 1e-3f
                || std::abs(q->second.y - p.y) > 1e-3f)
                return false;
        }
    }
    return true;
}

static QByteArray Describe(const TrackTable &table)
{
    QByteArray text;
    for (const auto &[id, points] : table) {
        text += QByteArray::number(id) + ':';
        for (const auto &[image, p] : points)
            text += ' ' + QByteArray::number(image) + '(' + QByteArray::number(p.x) + ','
                + QByteArray::number(p.y) + ')';
        text += "; ";
    }
    return text;
}

void TestEndToEnd::maskPickSaveCreateSaveAgain()
{
    using TestSupport::TrackRecord;
    const QString imageDir = dir.filePath(QStringLiteral("images"));
    QDir().mkpath(imageDir);
    TestSupport::WriteImages(imageDir, 3, 400, 300);
    Write("corr/c0.txt",
          TrackRecord(50, 50, 1) + TrackRecord(300, 200, 2) + TrackRecord(120, 60, 3));
    Write("corr/c1.txt", TrackRecord(55, 52, 1) + TrackRecord(305, 205, 2));
    Write("corr/c2.txt", TrackRecord(60, 54, 1) + TrackRecord(125, 65, 3));
    Write("err/e0.txt", TrackRecord(80, 150, 1) + TrackRecord(320, 60, 4));
    Write("err/e1.txt", TrackRecord(82, 152, 1));
    Write("err/e2.txt", TrackRecord(322, 62, 4));
    for (const char *out : { "outA", "outB", "outC", "outD" })
        QDir().mkpath(dir.filePath(QLatin1String(out)));

    TFormStrandsight review;
    window = &review;
    review.show();
    TFormTrackView *view = review.ViewWindow();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    auto *graphics = view->findChild<QGraphicsView *>(QStringLiteral("graphicsView"));

    {
        ModalScript script({
            [&](QWidget *m) {
                TestSupport::ChooseFiles(m, imageDir, { "img002.png", "img000.png", "img001.png" });
            },
            [&](QWidget *m) {
                TestSupport::ChooseFiles(m, dir.filePath("corr"), { "c0.txt", "c1.txt", "c2.txt" });
            },
            [&](QWidget *m) {
                TestSupport::ChooseFiles(m, dir.filePath("err"), { "e0.txt", "e1.txt", "e2.txt" });
            },
        });
        Button("btLoadImage")->click();
        Button("btLoadCorr")->click();
        Button("btLoadErr")->click();
        QVERIFY(TestSupport::WaitForTasks(&review));
        QCOMPARE(script.Done(), 3);
        QVERIFY(!script.Failed());
    }
    // The images load behind the windows.
    QTRY_COMPARE(view->ImageCount(), 3);
    QCOMPARE(ListTexts(List("lwCorr")), (QStringList { "1", "2", "3" }));
    QCOMPARE(ListTexts(List("lwErr")), (QStringList { "1", "4" }));

    // Mask the upper-left region of image 0: non-error 1 and 3, error 1.
    TestSupport::DragOnWidget(graphics->viewport(), graphics->mapFromScene(QPointF(20, 20)),
                              graphics->mapFromScene(QPointF(140, 170)));
    Button("btMask")->click();
    QCOMPARE(ListTexts(List("lwCorr"), true), (QStringList { "1", "3" }));
    QCOMPARE(ListTexts(List("lwErr"), true), QStringList { "1" });
    Button("btPickCorr")->click();
    Button("btPickErr")->click();
    QCOMPARE(ListTexts(List("lwPick")), (QStringList { "1", "3", "E1" }));

    const QString outA = dir.filePath("outA");
    const QString outB = dir.filePath("outB");
    {
        ModalScript script({
            [&](QWidget *m) { TestSupport::ChooseDirectory(m, outA); },
            NameBase(QStringLiteral("picked")),
            [&](QWidget *m) { TestSupport::ChooseDirectory(m, outB); },
            NameBase(QStringLiteral("epicked")),
        });
        Button("btSave")->click();
        QVERIFY(TestSupport::WaitForTasks(&review));
        QCOMPARE(script.Done(), 4);
        QVERIFY(!script.Failed());
    }
    TrackTable expectedCorr;
    expectedCorr[1] = view->corrTracks.at(1);
    expectedCorr[3] = view->corrTracks.at(3);
    TrackTable saved = ReadSet(outA, QStringLiteral("picked"), 3);
    QVERIFY2(SameTracks(saved, expectedCorr), Describe(saved).constData());
    QCOMPARE(saved.at(3).at(2).x, 125.0f);
    TrackTable expectedErr;
    expectedErr[1] = view->errTracks.at(1);
    saved = ReadSet(outB, QStringLiteral("epicked"), 3);
    QVERIFY2(SameTracks(saved, expectedErr), Describe(saved).constData());

    // Create non-error track 10 on images 0 and 2; the mask is undone by it.
    Button("btNew")->click();
    TestSupport::ClickOnWidget(graphics->viewport(), graphics->mapFromScene(QPointF(200, 100)));
    QTest::keyClick(view, Qt::Key_Right);
    QTest::keyClick(view, Qt::Key_Right);
    QCOMPARE(view->scene->CurrentImage(), 2);
    TestSupport::ClickOnWidget(graphics->viewport(), graphics->mapFromScene(QPointF(210, 110)));
    {
        ModalScript script({
            [](QWidget *m) { qobject_cast<TrackTypeDialog *>(m)->nonErrorButton->click(); },
            [](QWidget *m) {
                auto *dialog = qobject_cast<TrackIdDialog *>(m);
                QTest::keyClicks(dialog->idEdit, QStringLiteral("10"));
                dialog->enterButton->click();
            },
        });
        Button("btAdd")->click();
        QCOMPARE(script.Done(), 2);
        QVERIFY(!script.Failed());
    }
    QCOMPARE(ListTexts(List("lwCorr")), (QStringList { "1", "10", "2", "3" })); // sorted as text
    for (const auto *marker : view->scene->NormalFibers())
        QCOMPARE(marker->hidden, false);
    const PointMap created = view->corrTracks.at(10);
    QCOMPARE(created.size(), size_t(2));
    QVERIFY(std::abs(created.at(0).x - 200.0f) < 2.0f && std::abs(created.at(2).y - 110.0f) < 2.0f);

    Button("btUnselectCorr")->click();
    List("lwCorr")->findItems(QStringLiteral("10"), Qt::MatchExactly).front()->setSelected(true);
    Button("btPickCorr")->click();
    QCOMPARE(ListTexts(List("lwPick")), (QStringList { "1", "10", "3", "E1" }));

    // Save again over the first set: both kinds ask before overwriting.
    const auto proceed = [](QWidget *m) {
        auto *confirm = qobject_cast<OverwriteConfirmDialog *>(m);
        if (confirm)
            confirm->proceedButton->click();
        else
            TestSupport::RejectDialog(m);
    };
    {
        ModalScript script({
            [&](QWidget *m) { TestSupport::ChooseDirectory(m, outA); },
            NameBase(QStringLiteral("picked")),
            proceed,
            [&](QWidget *m) { TestSupport::ChooseDirectory(m, outB); },
            NameBase(QStringLiteral("epicked")),
            proceed,
        });
        Button("btSave")->click();
        QVERIFY(TestSupport::WaitForTasks(&review));
        QCOMPARE(script.Done(), 6);
        QVERIFY(!script.Failed());
    }
    expectedCorr[10] = created;
    saved = ReadSet(outA, QStringLiteral("picked"), 3);
    QVERIFY2(SameTracks(saved, expectedCorr), Describe(saved).constData());
    saved = ReadSet(outB, QStringLiteral("epicked"), 3);
    QVERIFY2(SameTracks(saved, expectedErr), Describe(saved).constData());
    QCOMPARE(QDir(outA).entryList(QDir::Files).size(), 3);

    // Everything but the picks: non-error 2, error 4.
    const QString outC = dir.filePath("outC");
    const QString outD = dir.filePath("outD");
    {
        ModalScript script({
            [&](QWidget *m) { TestSupport::ChooseDirectory(m, outC); },
            NameBase(QStringLiteral("rest")),
            [&](QWidget *m) { TestSupport::ChooseDirectory(m, outD); },
            NameBase(QStringLiteral("erest")),
        });
        Button("btSaveInv")->click();
        QVERIFY(TestSupport::WaitForTasks(&review));
        QCOMPARE(script.Done(), 4);
        QVERIFY(!script.Failed());
    }
    TrackTable restCorr;
    restCorr[2] = view->corrTracks.at(2);
    TrackTable restErr;
    restErr[4] = view->errTracks.at(4);
    saved = ReadSet(outC, QStringLiteral("rest"), 3);
    QVERIFY2(SameTracks(saved, restCorr), Describe(saved).constData());
    saved = ReadSet(outD, QStringLiteral("erest"), 3);
    QVERIFY2(SameTracks(saved, restErr), Describe(saved).constData());

    // The saved picks load back as the same tracks.
    {
        ModalScript script({ [&](QWidget *m) {
            TestSupport::ChooseFiles(m, outA, SaveFileNames(QStringLiteral("picked"), 3));
        } });
        Button("btLoadCorr")->click();
        QVERIFY(TestSupport::WaitForTasks(&review));
        QVERIFY(!script.Failed());
    }
    QCOMPARE(ListTexts(List("lwCorr")), (QStringList { "1", "10", "3" }));
    QVERIFY(SameTracks(view->corrTracks, expectedCorr));
    window = nullptr;
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
