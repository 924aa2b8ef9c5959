#include "dialogs/trackiddialog.h"
#include "dialogs/tracktypedialog.h"
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QApplication>
#include <QGraphicsView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <cmath>

using TestSupport::ModalScript;

// Creating a track by hand through the view window: clicks on the images, the
// type and id prompts answered as a user would, and every refusal.
class TestCreation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusals();
    void createErrorTrackWithClicksOnSeveralImages();
    void idPromptRejectsBadAndTakenIds();
    void cancellingPromptsKeepsThePlacedPoints();
    void cancelCreationDropsThePoints();
    void colourStandsOutAgainstTheNearestTracks();
    void doubleClickPlacesThePointAndNeverSelects();
    void everyButtonPlacesThePointZoomedIn();

private:
    void Click(QPointF scenePos);
    void Press(const char *button);
    void StepTo(int image);
    QPointF ClickedScenePos(QPointF scenePos) const;

    ModalScript::Step Message(const QString &text);
    ModalScript::Step ChooseType(bool error, bool withEnter = false);
    ModalScript::Step AnswerId(const QString &expectedText, const QString &typed,
                               bool accept = true);

    QTemporaryDir dir;
    TFormTrackView *view = nullptr;
    QGraphicsView *graphics = nullptr;
    QStringList problems;
};

void TestCreation::init()
{
    problems.clear();
    view = new TFormTrackView;
    graphics = view->findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
}

void TestCreation::cleanup()
{
    delete view;
    view = nullptr;
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void TestCreation::Click(QPointF scenePos)
{
    TestSupport::ClickOnWidget(graphics->viewport(), graphics->mapFromScene(scenePos));
}

QPointF TestCreation::ClickedScenePos(QPointF scenePos) const
{
    return graphics->mapToScene(graphics->mapFromScene(scenePos));
}

void TestCreation::Press(const char *button)
{
    QTest::mouseClick(view->findChild<QToolButton *>(QLatin1String(button)), Qt::LeftButton);
}

void TestCreation::StepTo(int image)
{
    view->findChild<QSlider *>(QStringLiteral("hsImage"))->setValue(image);
    QCOMPARE(view->scene->CurrentImage(), image);
}

ModalScript::Step TestCreation::Message(const QString &text)
{
    return [this, text](QWidget *widget) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box) {
            problems << QStringLiteral("expected \"%1\", got %2")
                            .arg(text, QLatin1String(widget->metaObject()->className()));
            widget->close();
            return;
        }
        if (box->text() != text)
            problems << QStringLiteral("message \"%1\" instead of \"%2\"").arg(box->text(), text);
        if (box->icon() != QMessageBox::Information || !box->windowTitle().isEmpty()
            || box->parentWidget() != view || box->standardButtons() != QMessageBox::Ok
            || box->minimumSize() != box->maximumSize())
            problems << QStringLiteral("message box \"%1\" not built as a hint").arg(text);
        box->button(QMessageBox::Ok)->click();
    };
}

ModalScript::Step TestCreation::ChooseType(bool error, bool withEnter)
{
    return [this, error, withEnter](QWidget *widget) {
        auto *dialog = qobject_cast<TrackTypeDialog *>(widget);
        if (!dialog) {
            problems << QStringLiteral("expected the type prompt, got %1")
                            .arg(QLatin1String(widget->metaObject()->className()));
            widget->close();
            return;
        }
        if (dialog->parentWidget() != view)
            problems << QStringLiteral("type prompt not over the view window");
        if (withEnter)
            QTest::keyClick(dialog, Qt::Key_Return);
        else
            (error ? dialog->errorButton : dialog->nonErrorButton)->click();
    };
}

ModalScript::Step TestCreation::AnswerId(const QString &expectedText, const QString &typed,
                                         bool accept)
{
    return [this, expectedText, typed, accept](QWidget *widget) {
        auto *dialog = qobject_cast<TrackIdDialog *>(widget);
        if (!dialog) {
            problems << QStringLiteral("expected the id prompt, got %1")
                            .arg(QLatin1String(widget->metaObject()->className()));
            widget->close();
            return;
        }
        if (dialog->idEdit->text() != expectedText)
            problems << QStringLiteral("id prompt shows \"%1\" instead of \"%2\"")
                            .arg(dialog->idEdit->text(), expectedText);
        if (!typed.isNull()) {
            dialog->idEdit->selectAll();
            QTest::keyClick(dialog->idEdit, Qt::Key_Backspace);
            QTest::keyClicks(dialog->idEdit, typed);
        }
        if (accept)
            QTest::keyClick(dialog->idEdit, Qt::Key_Return);
        else
            dialog->cancelButton->click();
    };
}

void TestCreation::refusals()
{
    const QString noImages
        = QStringLiteral("You must first load images before placing new fibers.");
    const QString notCreating = QStringLiteral(
        "You haven't created a new fiber.\n\nPress \"Create Track\" and click where the fiber "
        "should go in each cross-section.");
    const QString noPoints = QStringLiteral(
        "No fibers has been placed.\n\nClick where the fiber should go in each cross-section.");
    {
        ModalScript script({ Message(noImages), Message(notCreating) });
        Press("btNew");
        QVERIFY(!view->scene->IsCreating());
        Press("btAdd");
        Press("btCancel"); // idle: nothing at all
        QCOMPARE(script.Done(), 2);
        QVERIFY(!script.Failed());
    }

    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 2, 200, 150), failed);
    view->UpdateImageRange();
    {
        ModalScript script({ Message(noPoints) });
        Press("btNew");
        QVERIFY(view->scene->IsCreating());
        Press("btAdd");
        QCOMPARE(script.Done(), 1);
        QVERIFY(!script.Failed());
    }
    QVERIFY(view->scene->IsCreating()); // creation goes on
    Click({ 50, 60 });
    QVERIFY(view->scene->HasNewPoints());
    Press("btNew"); // already creating: the points stay
    QVERIFY(view->scene->HasNewPoints());
}

void TestCreation::createErrorTrackWithClicksOnSeveralImages()
{
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 3, 200, 150), failed);
    view->UpdateImageRange();
    view->corrTracks[5][0] = { 20.0f, 20.0f };
    view->errTracks[3][0] = { 180.0f, 130.0f };
    view->AssignTrackColors(view->corrTracks, view->corrColors);
    view->AssignTrackColors(view->errTracks, view->errColors);
    view->CreateNormalFibers();
    view->CreateErrorFibers();
    view->scene->HideAll(); // as a mask or the Hide buttons leave them
    QSignalSpy created(view, &TFormTrackView::NewFiber);

    Press("btNew");
    const NormalFiber *blue = view->scene->NewFiber();
    QVERIFY(blue);
    QCOMPARE(blue->brush().color(), QColor(Qt::blue));
    Click({ 60, 70 });
    Click({ 100, 40 }); // a second click on image 0 moves its point
    QVERIFY(blue->isVisible());
    QVERIFY((blue->pos() - ClickedScenePos({ 100, 40 })).manhattanLength() < 0.01);
    StepTo(1);
    QVERIFY(!blue->isVisible());
    QTest::keyClick(view, Qt::Key_Right);
    Click({ 150, 110 });

    {
        ModalScript script({ ChooseType(true, true), AnswerId(QString(), QStringLiteral("007")) });
        Press("btAdd");
        QCOMPARE(script.Seen(), (QStringList { "TrackTypeDialog", "TrackIdDialog" }));
        QVERIFY(!script.Failed());
    }

    QCOMPARE(created.count(), 1);
    QCOMPARE(created[0][0].toUInt(), 7u);
    QCOMPARE(created[0][1].toBool(), true);
    QVERIFY(!view->scene->IsCreating());
    QVERIFY(!view->scene->NewFiber());
    QCOMPARE(view->errTracks.count(7), size_t(1));
    QCOMPARE(view->corrTracks.count(7), size_t(0));
    const PointMap &points = view->errTracks[7];
    QCOMPARE(points.size(), size_t(2));
    const QPointF first = ClickedScenePos({ 100, 40 });
    const QPointF third = ClickedScenePos({ 150, 110 });
    QCOMPARE(points.at(0).x, float(first.x()));
    QCOMPARE(points.at(0).y, float(first.y()));
    QCOMPARE(points.at(2).x, float(third.x()));
    QVERIFY(view->errColors.count(7));

    // The marker exists, is a star, and every marker is shown again.
    const ErrorFiber *star = view->scene->ErrorFibers().back();
    QCOMPARE(star->id, 7u);
    QCOMPARE(star->color, view->errColors[7]);
    QVERIFY(star->isVisible()); // image 2 is current and it has a point there
    QVERIFY(view->scene->ErrorFibers().front()->isVisible() == false); // no point on image 2
    StepTo(0);
    QVERIFY(view->scene->NormalFibers().front()->isVisible());
    QVERIFY(star->isVisible());
    QCOMPARE(view->scene->items().size(), 3);

    // Id 7 is now taken for error tracks only; 5 is free for them.
    Press("btNew");
    Click({ 30, 30 });
    {
        ModalScript script({ ChooseType(true), AnswerId(QString(), QStringLiteral("5")) });
        Press("btAdd");
        QVERIFY(!script.Failed());
    }
    QCOMPARE(created.count(), 2);
    QVERIFY(view->errTracks.count(5) && view->corrTracks.count(5));
}

void TestCreation::idPromptRejectsBadAndTakenIds()
{
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 1, 200, 150), failed);
    view->corrTracks[5][0] = { 20.0f, 20.0f };
    view->errTracks[124][0] = { 180.0f, 130.0f };
    view->AssignTrackColors(view->corrTracks, view->corrColors);
    view->CreateNormalFibers();
    QSignalSpy created(view, &TFormTrackView::NewFiber);

    const QString taken = QStringLiteral("This id has already been taken. Choose another.");
    Press("btNew");
    Click({ 100, 100 });
    {
        ModalScript script({
            ChooseType(false),
            AnswerId(QString(), QStringLiteral("5")),
            Message(taken),
            AnswerId(QStringLiteral("5"), QString()), // text kept; accepted unchanged
            Message(taken),
            AnswerId(QStringLiteral("5"), QLatin1String("")),
            Message(taken),
            AnswerId(QString(), QStringLiteral("4294967296")),
            Message(taken),
            AnswerId(QStringLiteral("4294967296"), QStringLiteral("12a4")),
        });
        Press("btAdd");
        QCOMPARE(script.Done(), 10);
        QVERIFY(!script.Failed());
    }
    QCOMPARE(created.count(), 1);
    QCOMPARE(created[0][0].toUInt(), 124u); // the error track 124 does not block it
    QCOMPARE(created[0][1].toBool(), false);
    QCOMPARE(view->corrTracks.size(), size_t(2));
    QVERIFY(view->corrTracks.count(124));
    QCOMPARE(view->scene->NormalFibers().back()->id, 124u);

    // The largest 32-bit id and 0 are both fine.
    for (const QString &text : { QStringLiteral("4294967295"), QStringLiteral("0") }) {
        Press("btNew");
        Click({ 100, 100 });
        ModalScript script({ ChooseType(false), AnswerId(QString(), text) });
        Press("btAdd");
        QVERIFY(!script.Failed());
        QVERIFY(view->corrTracks.count(text.toUInt()));
    }
    QCOMPARE(created.count(), 3);
}

void TestCreation::cancellingPromptsKeepsThePlacedPoints()
{
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 2, 200, 150), failed);
    view->UpdateImageRange();
    QSignalSpy created(view, &TFormTrackView::NewFiber);

    Press("btNew");
    Click({ 40, 40 });
    for (int round = 0; round < 2; ++round) {
        QList<ModalScript::Step> steps;
        if (round == 0) {
            steps << [](QWidget *w) { qobject_cast<TrackTypeDialog *>(w)->cancelButton->click(); };
        } else {
            steps << ChooseType(false) << AnswerId(QString(), QStringLiteral("3"), false);
        }
        ModalScript script(steps);
        Press("btAdd");
        QCOMPARE(script.Done(), steps.size());
        QVERIFY(!script.Failed());
        QVERIFY(view->scene->IsCreating());
        QVERIFY(view->scene->NewFiber()->isVisible());
        QCOMPARE(view->scene->NewPoints().size(), size_t(1));
        QVERIFY(view->corrTracks.empty() && view->errTracks.empty());
    }
    QCOMPARE(created.count(), 0);

    // Escape closes the id prompt like Cancel.
    {
        ModalScript script(
            { ChooseType(true), [](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); } });
        Press("btAdd");
        QVERIFY(!script.Failed());
    }
    QVERIFY(view->scene->IsCreating());

    ModalScript script({ ChooseType(true), AnswerId(QString(), QStringLiteral("3")) });
    Press("btAdd");
    QVERIFY(!script.Failed());
    QCOMPARE(created.count(), 1);
    QCOMPARE(view->errTracks[3].size(), size_t(1));
}

void TestCreation::cancelCreationDropsThePoints()
{
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 2, 200, 150), failed);
    view->UpdateImageRange();
    view->corrTracks[1][0] = { 20.0f, 20.0f };
    view->AssignTrackColors(view->corrTracks, view->corrColors);
    view->CreateNormalFibers();
    view->scene->HideNormalFibers();

    Press("btNew");
    Click({ 40, 40 });
    Press("btCancel");
    QVERIFY(!view->scene->IsCreating());
    QVERIFY(!view->scene->NewFiber());
    QCOMPARE(view->scene->items().size(), 1);
    QVERIFY(view->scene->NormalFibers().front()->isVisible());

    Press("btNew");
    QVERIFY(!view->scene->HasNewPoints());
    ModalScript script({ Message(QStringLiteral(
        "No fibers has been placed.\n\nClick where the fiber should go in each cross-section.")) });
    Press("btAdd");
    QVERIFY(!script.Failed());
    Press("btCancel");
    QVERIFY(view->corrTracks.size() == 1);
}

void TestCreation::colourStandsOutAgainstTheNearestTracks()
{
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 3, 400, 300), failed);
    view->UpdateImageRange();
    // On image 1, around (150, 120): one track of hue 30 inside the square, one
    // of hue 120 just outside, one of hue 300 inside but on image 2.
    view->corrTracks[1][1] = { 100.0f, 100.0f };
    view->corrTracks[2][1] = { 270.0f, 120.0f };
    view->corrTracks[3][2] = { 150.0f, 120.0f };
    view->corrColors[1] = QColor::fromHsv(30, 255, 255);
    view->corrColors[2] = QColor::fromHsv(120, 255, 255);
    view->corrColors[3] = QColor::fromHsv(300, 255, 255);
    view->CreateNormalFibers();

    Press("btNew");
    StepTo(2);
    Click({ 300, 250 });
    StepTo(1);
    Click({ 150, 120 }); // image 1 is the new track's first image
    // Added while a later image is shown: the neighbours still come from the
    // first image (on image 2 the hue-300 track is the near one).
    StepTo(2);
    {
        ModalScript script({ ChooseType(false), AnswerId(QString(), QStringLiteral("9")) });
        Press("btAdd");
        QVERIFY(!script.Failed());
    }
    QCOMPARE(view->corrColors[9].toHsv().hue(), 210);
    QCOMPARE(view->corrColors[9].toHsv().saturation(), 255);
    QCOMPARE(view->corrColors[9].toHsv().value(), 255);
    QCOMPARE(view->scene->NormalFibers().back()->brush().color(), view->corrColors[9]);

    // Alone on its first image: a random bright colour.
    Press("btNew");
    StepTo(0);
    Click({ 200, 150 });
    {
        ModalScript script({ ChooseType(true), AnswerId(QString(), QStringLiteral("1")) });
        Press("btAdd");
        QVERIFY(!script.Failed());
    }
    const QColor random = view->errColors[1].toHsv();
    QCOMPARE(random.saturation(), 255);
    QVERIFY(random.value() >= 128 && random.value() <= 255);
}

void TestCreation::doubleClickPlacesThePointAndNeverSelects()
{
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 2, 200, 150), failed);
    view->UpdateImageRange();
    Press("btNew");
    Click({ 50, 60 });
    // A double-click on the blue marker: press, release, double-click, release.
    QTest::mouseDClick(graphics->viewport(), Qt::LeftButton, Qt::NoModifier,
                       graphics->mapFromScene(QPointF(54, 58)));
    QVERIFY(view->scene->selectedItems().isEmpty());
    QCOMPARE(view->scene->NewPoints().size(), size_t(1));
    QCOMPARE(view->scene->NewPoints().at(0).x, float(ClickedScenePos({ 54, 58 }).x()));
}

// Zoomed in, where the middle button pans outside creation: while a track is
// placed it places the point like any other button, and the view stays.
void TestCreation::everyButtonPlacesThePointZoomedIn()
{
    std::vector<unsigned int> failed;
    view->scene->LoadImages(TestSupport::WriteImages(dir.path(), 2, 200, 150), failed);
    view->UpdateImageRange();
    auto *zoomView = static_cast<TrackGraphicsView *>(graphics);
    zoomView->ShowActualPixels();
    zoomView->ZoomIn();
    zoomView->ZoomIn();
    zoomView->centerOn(100, 75);
    Press("btNew");
    Click({ 90, 70 });
    const QPoint scrolled(graphics->horizontalScrollBar()->value(),
                          graphics->verticalScrollBar()->value());
    for (const Qt::MouseButton button : { Qt::MiddleButton, Qt::RightButton }) {
        const QPointF target = button == Qt::MiddleButton ? QPointF(120, 90) : QPointF(80, 60);
        const QPoint at = graphics->mapFromScene(target);
        QTest::mousePress(graphics->viewport(), button, Qt::NoModifier, at);
        QMouseEvent move(QEvent::MouseMove, at - QPoint(30, 20),
                         graphics->viewport()->mapToGlobal(at - QPoint(30, 20)), Qt::NoButton,
                         button, Qt::NoModifier);
        QApplication::sendEvent(graphics->viewport(), &move);
        QTest::mouseRelease(graphics->viewport(), button, Qt::NoModifier, at - QPoint(30, 20));
        QCOMPARE(view->scene->NewPoints().size(), size_t(1));
        const TrackPoint p = view->scene->NewPoints().at(0);
        QVERIFY2(std::abs(p.x - target.x()) <= 0.5 && std::abs(p.y - target.y()) <= 0.5,
                 qPrintable(QStringLiteral("placed at %1,%2").arg(p.x).arg(p.y)));
        QCOMPARE(QPoint(graphics->horizontalScrollBar()->value(),
                        graphics->verticalScrollBar()->value()),
                 scrolled);
    }
}

QTEST_MAIN(TestCreation)
#include "tst_creation.moc"
