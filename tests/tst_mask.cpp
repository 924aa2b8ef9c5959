#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QGraphicsView>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using Ids = std::vector<unsigned int>;

// Mask selection driven as a user does it: a rubber band dragged over the image,
// then "Mask Selection" and "Clear Mask".
class TestMask : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dragSelectsAndMaskKeepsExactlyThose();
    void maskWithNothingSelectedHidesAll();
    void sameIdOfBothKindsFollowsItsOwnSelection();
    void maskTwiceReportsTheSameTracks();

private:
    void Drag(QPointF fromScene, QPointF toScene);
    void PressMask();
    bool Visible(bool error, unsigned int id) const;

    QTemporaryDir dir;
    TFormTrackView *view = nullptr;
    QGraphicsView *graphics = nullptr;
    QList<std::pair<Ids, Ids>> reports;
};

void TestMask::init()
{
    view = new TFormTrackView;
    graphics = view->findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 2, 400, 300), failed);
    view->UpdateImageRange();

    // Non-error 5, 7, 9 and error 5, 6; image 1 has points for 7, 9 and error 5.
    view->corrTracks[5][0] = { 50.0f, 50.0f };
    view->corrTracks[7][0] = { 120.0f, 60.0f };
    view->corrTracks[7][1] = { 200.0f, 100.0f };
    view->corrTracks[9][0] = { 300.0f, 200.0f };
    view->corrTracks[9][1] = { 250.0f, 150.0f };
    view->errTracks[5][0] = { 320.0f, 60.0f };
    view->errTracks[5][1] = { 100.0f, 100.0f };
    view->errTracks[6][0] = { 80.0f, 150.0f };
    view->AssignTrackColors(view->corrTracks, view->corrColors);
    view->AssignTrackColors(view->errTracks, view->errColors);
    view->CreateNormalFibers();
    view->CreateErrorFibers();

    reports.clear();
    connect(view, qOverload<const Ids &, const Ids &>(&TFormTrackView::Mask), this,
            [this](const Ids &norms, const Ids &errs) {
                reports.append({ norms, errs });
            });
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    view->findChild<QSlider *>(QStringLiteral("hsImage"))->setValue(0);
}

void TestMask::cleanup()
{
    delete view;
    view = nullptr;
}

void TestMask::Drag(QPointF fromScene, QPointF toScene)
{
    TestSupport::DragOnWidget(graphics->viewport(), graphics->mapFromScene(fromScene),
                              graphics->mapFromScene(toScene));
}

void TestMask::PressMask()
{
    QTest::mouseClick(view->findChild<QToolButton *>(QStringLiteral("btMask")), Qt::LeftButton);
}

bool TestMask::Visible(bool error, unsigned int id) const
{
    if (error) {
        for (const ErrorFiber *marker : view->scene->ErrorFibers())
            if (marker->id == id)
                return marker->isVisible();
    } else {
        for (const NormalFiber *marker : view->scene->NormalFibers())
            if (marker->id == id)
                return marker->isVisible();
    }
    return false;
}

void TestMask::dragSelectsAndMaskKeepsExactlyThose()
{
    Drag({ 20, 20 }, { 140, 170 }); // over non-error 5 and 7 and error 6
    QCOMPARE(view->scene->selectedItems().size(), 3);

    PressMask();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].first, (Ids { 5, 7 }));
    QCOMPARE(reports[0].second, Ids { 6 });
    QCOMPARE(view->maskedNorms, (Ids { 5, 7 }));
    QCOMPARE(view->maskedErrs, Ids { 6 });
    QVERIFY(Visible(false, 5) && Visible(false, 7) && Visible(true, 6));
    QVERIFY(!Visible(false, 9));
    QVERIFY(!Visible(true, 5));

    // Kept on every image: on image 1 only 7 of the kept tracks has a point.
    QTest::keyClick(view, Qt::Key_Right);
    QCOMPARE(view->scene->CurrentImage(), 1);
    QVERIFY(Visible(false, 7));
    QVERIFY(!Visible(false, 9));
    QVERIFY(!Visible(true, 5));

    QTest::mouseClick(view->findChild<QToolButton *>(QStringLiteral("btRemove")), Qt::LeftButton);
    QVERIFY(Visible(false, 7) && Visible(false, 9) && Visible(true, 5));
    QVERIFY(!Visible(false, 5)); // no point on image 1
    QCOMPARE(reports.size(), 1); // clearing reports nothing
    QCOMPARE(view->maskedNorms, (Ids { 5, 7 })); // and keeps the last result
    QTest::keyClick(view, Qt::Key_Left);
    QVERIFY(Visible(false, 5) && Visible(true, 6));
}

void TestMask::maskWithNothingSelectedHidesAll()
{
    Drag({ 20, 20 }, { 140, 170 });
    PressMask();
    // A click on empty image clears the selection; the next mask hides everything.
    TestSupport::ClickOnWidget(graphics->viewport(), graphics->mapFromScene(QPointF(200, 250)));
    QVERIFY(view->scene->selectedItems().isEmpty());
    PressMask();
    QCOMPARE(reports.size(), 2);
    QVERIFY(reports[1].first.empty());
    QVERIFY(reports[1].second.empty());
    QVERIFY(view->maskedNorms.empty() && view->maskedErrs.empty());
    for (const NormalFiber *marker : view->scene->NormalFibers())
        QVERIFY(!marker->isVisible());
    for (const ErrorFiber *marker : view->scene->ErrorFibers())
        QVERIFY(!marker->isVisible());

    QTest::mouseClick(view->findChild<QToolButton *>(QStringLiteral("btRemove")), Qt::LeftButton);
    QVERIFY(Visible(false, 5) && Visible(false, 7) && Visible(false, 9));
    QVERIFY(Visible(true, 5) && Visible(true, 6));
}

void TestMask::sameIdOfBothKindsFollowsItsOwnSelection()
{
    Drag({ 280, 30 }, { 350, 90 }); // error 5 only
    PressMask();
    QCOMPARE(reports.last().first, Ids {});
    QCOMPARE(reports.last().second, Ids { 5 });
    QVERIFY(Visible(true, 5));
    QVERIFY(!Visible(false, 5));

    view->RemoveMask();
    Drag({ 30, 30 }, { 70, 70 }); // a new band replaces the selection: non-error 5 only
    PressMask();
    QCOMPARE(reports.last().first, Ids { 5 });
    QCOMPARE(reports.last().second, Ids {});
    QVERIFY(Visible(false, 5));
    QVERIFY(!Visible(true, 5));

    view->RemoveMask();
    Drag({ 30, 30 }, { 340, 80 }); // both markers of id 5 (and 7)
    PressMask();
    QCOMPARE(reports.last().first, (Ids { 5, 7 }));
    QCOMPARE(reports.last().second, Ids { 5 });
}

void TestMask::maskTwiceReportsTheSameTracks()
{
    Drag({ 100, 40 }, { 340, 220 }); // non-error 7 and 9, error 5
    PressMask();
    PressMask();
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[1].first, (Ids { 7, 9 }));
    QCOMPARE(reports[1].second, Ids { 5 });
    QVERIFY(Visible(false, 7) && Visible(false, 9) && Visible(true, 5));
}

QTEST_MAIN(TestMask)
#include "tst_mask.moc"
