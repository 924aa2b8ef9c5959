#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "testsupport.h"
#include "stack/sliceloader.h"
#include "view/trackscene.h"

#include <QApplication>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

// The scene: image sequence, marker visibility through every show, hide and
// switch, the point-placing half of track creation, and the two area queries.
class TestTrackScene : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void unreadableFileKeepsItsPlace();
    void switchImageIgnoresOutOfRange();
    void newSequenceResetsToFirstImage();
    void whiteBackgroundWithoutImage();
    void hideShowAndSwitch();
    void deleteOneKindLeavesTheOther();
    void showOnlyFibers();
    void creationPlacesOnePointPerImage();
    void endNewTrackShowsEveryMarker();
    void keepSelected();
    void fibersInRect();

private:
    static PointMap Points(std::initializer_list<std::pair<unsigned int, TrackPoint>> list);
    static void Press(TrackScene &scene, QPointF at);
    void LoadThree(TrackScene &scene);

    QTemporaryDir dir;
    QStringList files;
};

PointMap TestTrackScene::Points(std::initializer_list<std::pair<unsigned int, TrackPoint>> list)
{
    PointMap points;
    for (const auto &entry : list)
        points[entry.first] = entry.second;
    return points;
}

void TestTrackScene::Press(TrackScene &scene, QPointF at)
{
    QGraphicsSceneMouseEvent press(QEvent::GraphicsSceneMousePress);
    press.setScenePos(at);
    press.setButton(Qt::LeftButton);
    press.setButtons(Qt::LeftButton);
    QApplication::sendEvent(&scene, &press);
}

void TestTrackScene::init()
{
    if (files.isEmpty()) {
        files = TestSupport::WriteImages(dir.path(), 3, 64, 48);
        // Larger second image so that switching shows in the scene rectangle.
        QImage big(80, 60, QImage::Format_RGB32);
        big.fill(Qt::red);
        QVERIFY(big.save(files[1]));
    }
}

void TestTrackScene::LoadThree(TrackScene &scene)
{
    std::vector<unsigned int> failed;
    scene.LoadImages(files, failed);
    QVERIFY(failed.empty());
}

void TestTrackScene::unreadableFileKeepsItsPlace()
{
    const QString broken = dir.filePath(QStringLiteral("broken.png"));
    QVERIFY(TestSupport::WriteText(broken, "not an image"));
    TrackScene scene;
    scene.AddNormalFiber(1, Points({ { 1, { 5.0f, 6.0f } }, { 2, { 7.0f, 8.0f } } }), Qt::green);
    scene.ShowNormalFibers();

    std::vector<unsigned int> failed;
    scene.LoadImages({ files[0], broken, files[2] }, failed);
    QCOMPARE(failed, std::vector<unsigned int> { 1 });
    QCOMPARE(scene.ImageCount(), 3);
    QCOMPARE(scene.CurrentImage(), 0);
    QVERIFY(scene.ImageLoader()->Failed(1));
    QVERIFY(!scene.ImageLoader()->Failed(2));

    NormalFiber *marker = scene.NormalFibers().front();
    QVERIFY(!marker->isVisible());
    scene.SwitchImage(1);
    QCOMPARE(scene.CurrentImage(), 1);
    QVERIFY(scene.ShownImage().isNull());
    // The view keeps its scale: no fall back to the markers' bounding box.
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 64, 48));
    QVERIFY(marker->isVisible());
    QCOMPARE(marker->pos(), QPointF(5, 6));
    scene.SwitchImage(2); // the image after the broken one is still image 2
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 64, 48));
    QCOMPARE(marker->pos(), QPointF(7, 8));
}

void TestTrackScene::switchImageIgnoresOutOfRange()
{
    TrackScene scene;
    scene.SwitchImage(0); // nothing loaded
    QCOMPARE(scene.CurrentImage(), -1);
    QVERIFY(!scene.HasImages());

    LoadThree(scene);
    QVERIFY(scene.HasImages());
    scene.SwitchImage(1);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 80, 60));
    scene.SwitchImage(-1);
    scene.SwitchImage(3);
    QCOMPARE(scene.CurrentImage(), 1);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 80, 60));
}

void TestTrackScene::newSequenceResetsToFirstImage()
{
    TrackScene scene;
    LoadThree(scene);
    scene.AddErrorFiber(4, Points({ { 0, { 1.0f, 2.0f } }, { 2, { 3.0f, 4.0f } } }), Qt::red);
    scene.ShowErrorFibers();
    scene.SwitchImage(2);
    ErrorFiber *marker = scene.ErrorFibers().front();
    QCOMPARE(marker->pos(), QPointF(3, 4));

    std::vector<unsigned int> failed;
    scene.LoadImages({ files[1], files[2] }, failed);
    QCOMPARE(scene.ImageCount(), 2);
    QCOMPARE(scene.CurrentImage(), 0);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 80, 60));
    QCOMPARE(marker->currentImage, 0);
    QCOMPARE(marker->pos(), QPointF(1, 2));
    QVERIFY(marker->isVisible());

    // An empty selection keeps the scene as it was, but no image is current.
    scene.LoadImages({}, failed);
    QCOMPARE(scene.ImageCount(), 0);
    QCOMPARE(scene.CurrentImage(), -1);
    QVERIFY(!scene.HasImages());
}

void TestTrackScene::whiteBackgroundWithoutImage()
{
    TrackScene scene;
    scene.setSceneRect(0, 0, 40, 30);
    QImage target(40, 30, QImage::Format_RGB32);
    target.fill(Qt::black);
    {
        QPainter painter(&target);
        scene.render(&painter, QRectF(0, 0, 40, 30), QRectF(0, 0, 40, 30));
    }
    QCOMPARE(target.pixelColor(20, 15), QColor(Qt::white));

    LoadThree(scene);
    scene.SwitchImage(1);
    target.fill(Qt::black);
    {
        QPainter painter(&target);
        scene.render(&painter, QRectF(0, 0, 40, 30), scene.sceneRect());
    }
    QCOMPARE(target.pixelColor(20, 15), QColor(Qt::red));
}

void TestTrackScene::hideShowAndSwitch()
{
    TrackScene scene;
    LoadThree(scene);
    scene.AddNormalFiber(1, Points({ { 0, { 10.0f, 10.0f } }, { 1, { 20.0f, 20.0f } } }),
                         Qt::green);
    scene.AddErrorFiber(1, Points({ { 0, { 30.0f, 30.0f } }, { 2, { 40.0f, 40.0f } } }), Qt::red);
    NormalFiber *normal = scene.NormalFibers().front();
    ErrorFiber *err = scene.ErrorFibers().front();
    QCOMPARE(normal->currentImage, 0);
    QVERIFY(!normal->isVisible()); // added markers wait for a show
    QVERIFY(!err->isVisible());

    scene.ShowAll();
    QVERIFY(normal->isVisible());
    QVERIFY(err->isVisible());

    scene.HideErrorFibers();
    QVERIFY(normal->isVisible());
    QVERIFY(!err->isVisible());
    scene.SwitchImage(2);
    QVERIFY(!err->isVisible());
    QVERIFY(!normal->isVisible()); // no point on image 2
    scene.ShowErrorFibers();
    QVERIFY(err->isVisible());
    QCOMPARE(err->pos(), QPointF(40, 40));

    scene.HideAll();
    QVERIFY(!err->isVisible());
    scene.SwitchImage(1);
    QVERIFY(!normal->isVisible());
    scene.ShowNormalFibers();
    QVERIFY(normal->isVisible());
    QCOMPARE(normal->pos(), QPointF(20, 20));
    QVERIFY(!err->isVisible());
    scene.HideNormalFibers();
    QVERIFY(!normal->isVisible());
}

void TestTrackScene::deleteOneKindLeavesTheOther()
{
    TrackScene scene;
    LoadThree(scene);
    scene.AddNormalFiber(1, Points({ { 0, { 10.0f, 10.0f } } }), Qt::green);
    scene.AddErrorFiber(2, Points({ { 0, { 30.0f, 30.0f } } }), Qt::red);
    scene.ShowAll();
    scene.DeleteErrorFibers();
    QVERIFY(scene.ErrorFibers().empty());
    QCOMPARE(scene.NormalFibers().size(), size_t(1));
    QCOMPARE(scene.items().size(), 1);
    QVERIFY(scene.NormalFibers().front()->isVisible());
    scene.DeleteNormalFibers();
    QVERIFY(scene.items().isEmpty());
}

void TestTrackScene::showOnlyFibers()
{
    TrackScene scene;
    LoadThree(scene);
    for (unsigned int id : { 2u, 5u, 9u }) {
        scene.AddNormalFiber(id, Points({ { 0, { float(id), 1.0f } } }), Qt::green);
        scene.AddErrorFiber(id, Points({ { 0, { float(id), 2.0f } } }), Qt::red);
    }
    scene.HideAll();
    const auto visibleIds = [&scene](bool error) {
        std::vector<unsigned int> ids;
        if (error) {
            for (ErrorFiber *m : scene.ErrorFibers())
                if (m->isVisible())
                    ids.push_back(m->id);
        } else {
            for (NormalFiber *m : scene.NormalFibers())
                if (m->isVisible())
                    ids.push_back(m->id);
        }
        return ids;
    };

    scene.ShowOnlyFibers({ 2, 9 }, { 5 });
    QCOMPARE(visibleIds(false), (std::vector<unsigned int> { 2, 9 }));
    QCOMPARE(visibleIds(true), (std::vector<unsigned int> { 5 }));

    scene.ShowOnlyFibers({ 5 }, { 5, 9 });
    QCOMPARE(visibleIds(false), (std::vector<unsigned int> { 5 }));
    QCOMPARE(visibleIds(true), (std::vector<unsigned int> { 5, 9 }));

    scene.ShowOnlyFibers({ 1, 3, 10 }, {}); // ids between and beyond the markers'
    QVERIFY(visibleIds(false).empty());
    QVERIFY(visibleIds(true).empty());

    // Shown by id, but still only where the track has a point.
    scene.ShowOnlyFibers({ 2 }, { 2 });
    scene.SwitchImage(1);
    QVERIFY(visibleIds(false).empty());
    scene.SwitchImage(0);
    QCOMPARE(visibleIds(false), std::vector<unsigned int> { 2 });
}

void TestTrackScene::creationPlacesOnePointPerImage()
{
    TrackScene scene;
    LoadThree(scene);
    scene.AddNormalFiber(1, Points({ { 0, { 10.0f, 10.0f } } }), Qt::green);
    scene.ShowAll();

    scene.StartNewTrack();
    QVERIFY(scene.IsCreating());
    QVERIFY(!scene.NormalFibers().front()->isVisible());
    const NormalFiber *blue = scene.NewFiber();
    QVERIFY(blue);
    QCOMPARE(blue->brush().color(), QColor(Qt::blue));
    QVERIFY(!blue->isVisible()); // no point yet
    QVERIFY(!scene.HasNewPoints());

    Press(scene, QPointF(12.25, 13.5));
    QVERIFY(blue->isVisible());
    QCOMPARE(blue->pos(), QPointF(12.25, 13.5));
    Press(scene, QPointF(20, 21)); // replaces the point of image 0
    QCOMPARE(blue->pos(), QPointF(20, 21));

    scene.SwitchImage(1);
    QVERIFY(!blue->isVisible());
    scene.SwitchImage(2);
    Press(scene, QPointF(30, 31));
    scene.SwitchImage(0);
    QCOMPARE(blue->pos(), QPointF(20, 21));
    QVERIFY(!scene.NormalFibers().front()->isVisible()); // others stay hidden while placing

    QCOMPARE(scene.NewPoints().size(), size_t(2));
    PointMap out;
    out[0] = { 1.0f, 1.0f };
    out[1] = { 2.0f, 2.0f };
    scene.CopyNewPoints(out);
    QCOMPARE(out.size(), size_t(3));
    QCOMPARE(out[0].x, 20.0f);
    QCOMPARE(out[1].x, 2.0f);
    QCOMPARE(out[2].y, 31.0f);

    // Show and hide slots during creation leave the blue marker alone.
    scene.HideAll();
    QVERIFY(blue->isVisible());
    scene.EndNewTrack();
    QVERIFY(!scene.IsCreating());
    QCOMPARE(scene.items().size(), 1);

    scene.StartNewTrack(); // a fresh creation starts without the old points
    QVERIFY(!scene.HasNewPoints());
    scene.EndNewTrack();
}

void TestTrackScene::endNewTrackShowsEveryMarker()
{
    TrackScene scene;
    LoadThree(scene);
    scene.AddNormalFiber(1, Points({ { 0, { 10.0f, 10.0f } } }), Qt::green);
    scene.AddErrorFiber(2, Points({ { 0, { 20.0f, 20.0f } } }), Qt::red);
    scene.HideAll(); // hidden before the creation started

    scene.StartNewTrack();
    Press(scene, QPointF(30, 30));
    scene.AddNewFiber(7, Qt::yellow, true);
    QCOMPARE(scene.ErrorFibers().size(), size_t(2));
    ErrorFiber *created = scene.ErrorFibers().back();
    QCOMPARE(created->id, 7u);
    QVERIFY(!created->isVisible()); // waits for the end of the creation
    scene.EndNewTrack();

    QVERIFY(scene.NormalFibers().front()->isVisible());
    QVERIFY(scene.ErrorFibers().front()->isVisible());
    QVERIFY(created->isVisible());
    QCOMPARE(created->pos(), QPointF(30, 30));
    QCOMPARE(created->brush().color(), QColor(Qt::yellow));
    QCOMPARE(scene.items().size(), 3);
}

void TestTrackScene::keepSelected()
{
    TrackScene scene;
    LoadThree(scene);
    for (unsigned int id : { 3u, 1u, 8u })
        scene.AddNormalFiber(id, Points({ { 0, { float(id) * 5, 5.0f } }, { 1, { 1.0f, 1.0f } } }),
                             Qt::green);
    scene.AddErrorFiber(1, Points({ { 0, { 50.0f, 5.0f } } }), Qt::red);
    scene.AddErrorFiber(4, Points({ { 0, { 55.0f, 5.0f } } }), Qt::red);
    scene.ShowAll();
    const auto &normals = scene.NormalFibers();
    normals[2]->setSelected(true); // id 8
    normals[0]->setSelected(true); // id 3
    scene.ErrorFibers()[1]->setSelected(true);

    std::vector<unsigned int> norms { 42 };
    std::vector<unsigned int> errs;
    scene.KeepSelected(norms, errs);
    QCOMPARE(norms, (std::vector<unsigned int> { 42, 3, 8 })); // appended, in marker order
    QCOMPARE(errs, std::vector<unsigned int> { 4 });
    QVERIFY(normals[0]->isVisible() && normals[0]->isSelected());
    QVERIFY(!normals[1]->isVisible());
    QVERIFY(!scene.ErrorFibers()[0]->isVisible());

    scene.SwitchImage(1); // kept tracks show on other images, the others stay hidden
    QVERIFY(normals[0]->isVisible());
    QVERIFY(!normals[1]->isVisible());
}

void TestTrackScene::fibersInRect()
{
    TrackScene scene;
    LoadThree(scene);
    // The square (0,0)-(200,200): corners and edges count, just outside does not.
    scene.AddNormalFiber(1, Points({ { 0, { 0.0f, 0.0f } } }), Qt::green);
    scene.AddNormalFiber(2, Points({ { 0, { 200.0f, 200.0f } } }), Qt::green);
    scene.AddNormalFiber(3, Points({ { 0, { 200.5f, 100.0f } } }), Qt::green);
    scene.AddNormalFiber(4, Points({ { 1, { 100.0f, 100.0f } } }), Qt::green);
    scene.AddErrorFiber(5, Points({ { 0, { 100.0f, 200.0f } } }), Qt::red);
    scene.AddErrorFiber(6, Points({ { 0, { -0.5f, 100.0f } } }), Qt::red);
    scene.ShowNormalFibers();
    scene.HideNormalFibers(); // hidden markers count all the same

    std::vector<Fiber *> found;
    scene.FibersInRect(QRectF(0, 0, 200, 200), 0, found);
    std::vector<unsigned int> ids;
    for (const Fiber *fiber : found)
        ids.push_back(fiber->id);
    QCOMPARE(ids, (std::vector<unsigned int> { 1, 2, 5 }));
    QVERIFY(found.back()->error);

    found.clear();
    scene.StartNewTrack();
    Press(scene, QPointF(100, 100)); // the blue marker never counts
    scene.FibersInRect(QRectF(0, 0, 200, 200), 1, found);
    QCOMPARE(found.size(), size_t(1));
    QCOMPARE(found.front()->id, 4u);
    scene.EndNewTrack();
}

QTEST_MAIN(TestTrackScene)
#include "tst_trackscene.moc"
