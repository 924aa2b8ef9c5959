// Loading track sets and image sequences into the review window: name order,
// loads that fail or are cancelled changing nothing, undecodable images
// reported, the memory refusal, and the slider following the sequence.
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "review/tformstrandsight.h"
#include "stack/imagesequence.h"
#include "stack/sliceloader.h"
#include "tasks/taskrunner.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace TestSupport;

namespace {

// What a test wants to know about a message box, read before answering it.
struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool seen = false;
};

ModalScript::Step ReadAndClose(SeenBox &box)
{
    return ModalScript::Expect<QMessageBox>([&box](QMessageBox *message) {
        box.seen = true;
        box.title = message->windowTitle();
        box.text = message->text();
        box.icon = message->icon();
        message->button(QMessageBox::Ok)->click();
    });
}

// What the load's progress dialog looked like when it was cancelled.
struct SeenProgress
{
    bool found = false;
    QString label;
    Qt::WindowModality modality = Qt::NonModal;
    int minimumDuration = 0;
    QWidget *parent = nullptr;
};

// Cancels the load's progress dialog as soon as the event loop runs, which
// the load lets it do after its first step.
void CancelProgressSoon(QWidget *window, SeenProgress &seen)
{
    QTimer::singleShot(0, window, [window, &seen] {
        auto *progress = window->findChild<QProgressDialog *>(QStringLiteral("loadProgress"));
        seen.found = progress != nullptr;
        if (!progress)
            return;
        seen.label = progress->labelText();
        seen.modality = progress->windowModality();
        seen.minimumDuration = progress->minimumDuration();
        seen.parent = progress->parentWidget();
        progress->cancel();
    });
}

} // namespace

class TestLoading : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void trackFilesReadInNameOrder();
    void mixedCaseNamesInCharacterOrder();
    void trackDialogSettings();
    void cancelledTrackDialogChangesNothing();
    void failedTrackLoadChangesNothing();
    void failedTrackLoadThroughApiChangesNothing();
    void loadingOneKindLeavesTheOther();
    void fileWithoutRecordsRefusedBlankFilesLoad();
    void cancelledTrackLoadChangesNothing();
    void windowRespondsAndCancelsInsideOneHugeFile();
    void imagesLoadInNameOrderAndSetSlider();
    void newSequenceStartsAtFirstImage();
    void undecodableImagesReportedAndSliderUpdated();
    void manyUndecodableImagesListedShortened();
    void imageLoadShowsProgressInViewWindowNotModal();
    void imagesNeedingTooMuchMemoryRefused();
    void cancelledImageLoadChangesNothing();

private:
    QSlider *Slider() const
    {
        return window->ViewWindow()->findChild<QSlider *>(QStringLiteral("hsImage"));
    }
    QListWidget *List(const char *name) const
    {
        return window->findChild<QListWidget *>(QString::fromLatin1(name));
    }
    QAbstractButton *Button(const char *name) const
    {
        return window->findChild<QAbstractButton *>(QString::fromLatin1(name));
    }
    QString Write(const QString &name, const QByteArray &text) const;

    TFormStrandsight *window = nullptr;
    QTemporaryDir *dir = nullptr;
};

void TestLoading::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    window = new TFormStrandsight(nullptr);
    window->show();
}

void TestLoading::cleanup()
{
    ImageSequence::SetAvailableBytesOverride(-1);
    ImageSequence::SetDecodeGate({});
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
}

QString TestLoading::Write(const QString &name, const QByteArray &text) const
{
    return WriteIn(dir->path(), name, text);
}

void TestLoading::trackFilesReadInNameOrder()
{
    Write("t1.txt", TrackRecord(1, 0, 5));
    Write("t2.txt", TrackRecord(2, 0, 5));
    Write("t10.txt", TrackRecord(10, 0, 5));

    ModalScript script({ [&](QWidget *modal) {
        ChooseFiles(modal, dir->path(), { "t2.txt", "t10.txt", "t1.txt" });
    } });
    Button("btLoadCorr")->click();
    QCOMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());

    const TrackTable &tracks = window->ViewWindow()->corrTracks;
    QCOMPARE(tracks.size(), size_t(1));
    const PointMap &points = tracks.at(5);
    QCOMPARE(points.size(), size_t(3));
    // Character order: t1.txt, t10.txt, t2.txt.
    QCOMPARE(points.at(0).x, 1.0f);
    QCOMPARE(points.at(1).x, 10.0f);
    QCOMPARE(points.at(2).x, 2.0f);
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "5" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(1));
    QVERIFY(!window->ViewWindow()->scene->NormalFibers().front()->hidden);
    QVERIFY(window->ViewWindow()->corrColors.count(5));
}

// Upper case before lower case ('B' is 66, 'a' is 97), for images and for
// track files alike, whatever a collation would say.
void TestLoading::mixedCaseNamesInCharacterOrder()
{
    const QStringList images
        = WriteImages(dir->path(), 1, 64, 48, "a_1") + WriteImages(dir->path(), 1, 64, 48, "B_3");
    QVERIFY(LoadImagesAndWait(window, images));
    TrackScene *scene = window->ViewWindow()->scene;
    QCOMPARE(scene->SliceName(0), QStringLiteral("B_3000.png"));
    QCOMPARE(scene->SliceName(1), QStringLiteral("a_1000.png"));

    QVERIFY(window->LoadTrackSet(
        { Write("a_1.txt", TrackRecord(1, 0, 5)), Write("B_3.txt", TrackRecord(3, 0, 5)) }, false));
    QCOMPARE(window->ViewWindow()->corrTracks.at(5).at(0).x, 3.0f);
    QCOMPARE(window->ViewWindow()->corrTracks.at(5).at(1).x, 1.0f);
}

void TestLoading::trackDialogSettings()
{
    QString filter;
    QString openedIn;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        filter = dialog->nameFilters().join(QLatin1Char(';'));
        openedIn = dialog->directory().absolutePath();
        mode = dialog->fileMode();
        RejectDialog(dialog);
    } });
    Button("btLoadErr")->click();
    QCOMPARE(script.Done(), 1);
    QCOMPARE(filter, QStringLiteral("Text Files (*.txt)"));
    QCOMPARE(openedIn, QDir(window->WorkingDirectory()).absolutePath());
    QCOMPARE(mode, QFileDialog::ExistingFiles);

    ModalScript images({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        filter = dialog->nameFilters().join(QLatin1Char(';'));
        RejectDialog(dialog);
    } });
    Button("btLoadImage")->click();
    QCOMPARE(images.Done(), 1);
    QCOMPARE(filter, QStringLiteral("Image Files (*.tif *.tiff *.jpg *.png)"));
}

void TestLoading::cancelledTrackDialogChangesNothing()
{
    const QString first = Write("a.txt", TrackRecord(1, 1, 3) + TrackRecord(2, 2, 4));
    QVERIFY(window->LoadTrackSet({ first }, false));
    const TrackTable before = window->ViewWindow()->corrTracks;

    ModalScript script({ [](QWidget *modal) { RejectDialog(modal); } });
    Button("btLoadCorr")->click();
    QCOMPARE(script.Done(), 1);
    QCOMPARE(window->ViewWindow()->corrTracks.size(), before.size());
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "3", "4" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(2));
}

void TestLoading::failedTrackLoadChangesNothing()
{
    const QString first = Write("old/a.txt", TrackRecord(1, 1, 3) + TrackRecord(2, 2, 4));
    QVERIFY(window->LoadTrackSet({ first }, false));
    List("lwCorr")->selectAll();
    Button("btPickCorr")->click();
    const ColorTable colorsBefore = window->ViewWindow()->corrColors;

    Write("new/n0.txt", TrackRecord(5, 5, 7));
    const QString missing = Write("new/n1.txt", TrackRecord(6, 6, 7));
    Write("new/n2.txt", TrackRecord(7, 7, 7));

    SeenBox box;
    ModalScript script(
        { [&](QWidget *modal) {
             // The file vanishes after the dialog checked it.
             QObject::connect(qobject_cast<QFileDialog *>(modal), &QFileDialog::filesSelected,
                              [missing] { QFile::remove(missing); });
             ChooseFiles(modal, dir->filePath("new"), { "n0.txt", "n1.txt", "n2.txt" });
         },
          ReadAndClose(box) });
    Button("btLoadCorr")->click();
    QCOMPARE(script.Done(), 2);
    QVERIFY(!script.Failed());
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.text, QStringLiteral("Could not load \"%1\".").arg(missing));

    // Everything of the earlier load is in place, the registry included.
    const TrackTable &tracks = window->ViewWindow()->corrTracks;
    QCOMPARE(tracks.size(), size_t(2));
    QCOMPARE(tracks.at(3).at(0).x, 1.0f);
    QCOMPARE(tracks.at(4).at(0).x, 2.0f);
    QCOMPARE(tracks.count(7), size_t(0));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "3", "4" }));
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "3", "4" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(2));
    QVERIFY(window->ViewWindow()->corrColors == colorsBefore);
}

void TestLoading::failedTrackLoadThroughApiChangesNothing()
{
    const QString first = Write("e.txt", TrackRecord(1, 1, 8));
    QVERIFY(window->LoadTrackSet({ first }, true));
    const QString missing = dir->filePath("gone.txt");

    {
        SeenBox box;
        ModalScript script({ ReadAndClose(box) });
        QVERIFY(!window->LoadTrackSet({ Write("a0.txt", TrackRecord(1, 1, 9)), missing }, true));
        QCOMPARE(script.Done(), 1);
        QCOMPARE(box.text, QStringLiteral("Could not load \"%1\".").arg(missing));
    }

    // A named pipe is refused before any read: reading it would wait for a
    // writer that never comes.
    const QString pipe = dir->filePath("pipe.txt");
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    SeenBox pipeBox;
    ModalScript pipeScript({ ReadAndClose(pipeBox) });
    QVERIFY(!window->LoadTrackSet({ Write("b0.txt", TrackRecord(1, 1, 9)), pipe }, true));
    QCOMPARE(pipeScript.Done(), 1);
    QCOMPARE(pipeBox.text, QStringLiteral("Could not load \"%1\".").arg(pipe));
    QCOMPARE(window->ViewWindow()->errTracks.size(), size_t(1));
    QCOMPARE(window->ViewWindow()->errTracks.count(8), size_t(1));
    QCOMPARE(ListTexts(List("lwErr")), QStringList({ "8" }));
    QCOMPARE(window->ViewWindow()->scene->ErrorFibers().size(), size_t(1));
}

void TestLoading::loadingOneKindLeavesTheOther()
{
    QVERIFY(window->LoadTrackSet({ Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    QVERIFY(window->LoadTrackSet({ Write("e.txt", TrackRecord(1, 1, 2)) }, true));
    List("lwCorr")->selectAll();
    Button("btPickCorr")->click();
    QVERIFY(window->LoadTrackSet({ Write("e2.txt", TrackRecord(1, 1, 3)) }, true));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
    QCOMPARE(ListTexts(List("lwErr")), QStringList({ "3" }));
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "1" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(1));
    QCOMPARE(window->ViewWindow()->scene->ErrorFibers().size(), size_t(1));
    QCOMPARE(window->ViewWindow()->scene->ErrorFibers().front()->id, 3u);
}

// A file of the set with no record in it at all (not a track file) refuses
// the set and names the file; the loaded tracks stay. Empty files are images
// without tracks, and load.
void TestLoading::fileWithoutRecordsRefusedBlankFilesLoad()
{
    QVERIFY(window->LoadTrackSet({ Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    const ColorTable colorsBefore = window->ViewWindow()->corrColors;
    List("lwCorr")->selectAll();
    Button("btPickCorr")->click();
    {
        SeenBox box;
        ModalScript script({ ReadAndClose(box) });
        QVERIFY(!window->LoadTrackSet(
            { Write("a0.txt", TrackRecord(1, 1, 2)), Write("bad.txt", "not a record\n") }, false));
        QCOMPARE(script.Done(), 1);
        QCOMPARE(box.text, QStringLiteral("bad.txt: no track record could be read"));
    }
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "1" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(1));

    QVERIFY(
        window->LoadTrackSet({ Write("blank0.txt", ""), Write("blank1.txt", " \r\n\t\n") }, false));
    QCOMPARE(List("lwCorr")->count(), 0);
    QCOMPARE(List("lwPick")->count(), 0);
    QVERIFY(window->ViewWindow()->scene->NormalFibers().empty());
    QVERIFY(window->ViewWindow()->corrColors == colorsBefore);
}

void TestLoading::cancelledTrackLoadChangesNothing()
{
    QVERIFY(window->LoadTrackSet({ Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    QStringList files;
    for (int i = 0; i < 5; ++i)
        files << Write(QStringLiteral("c%1.txt").arg(i), TrackRecord(i, i, 20 + i));

    SeenProgress progress;
    CancelProgressSoon(window, progress);
    QVERIFY(!window->LoadTrackSet(files, false));
    QVERIFY(progress.found);
    QCOMPARE(progress.label, QStringLiteral("Loading track files: file 1 of 5"));
    QCOMPARE(window->ViewWindow()->corrTracks.size(), size_t(1));
    QCOMPARE(window->ViewWindow()->corrTracks.count(1), size_t(1));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(1));
}

// One file of three million records takes a while to parse: the windows must
// go on handling events meanwhile (a timer ticking every 10 ms cancels the
// load at its 5th tick, which a blocked window would only reach after the
// file, its late ticks merged into one), and the cancel must act inside it.
void TestLoading::windowRespondsAndCancelsInsideOneHugeFile()
{
    QVERIFY(window->LoadTrackSet({ Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    QByteArray text;
    for (int k = 0; k < 3000000; ++k)
        text += "1.5\t2.5\t" + QByteArray::number(k) + '\n';
    const QString huge = Write("huge.txt", text);
    text.clear();

    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [this, &ticks] {
        if (++ticks == 5) {
            if (auto *progress
                = window->findChild<QProgressDialog *>(QStringLiteral("loadProgress")))
                progress->cancel();
        }
    });
    ticker.start(10);
    QVERIFY(!window->LoadTrackSet({ huge }, false));
    ticker.stop();
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    QCOMPARE(window->ViewWindow()->corrTracks.size(), size_t(1));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
}

void TestLoading::imagesLoadInNameOrderAndSetSlider()
{
    const QStringList images = WriteImages(dir->path(), 3);
    // Sizes tell the images apart: the first file, img000.png, is made larger.
    QImage(80, 60, QImage::Format_RGB32).save(images[0]);
    ModalScript script({ [&](QWidget *modal) {
        ChooseFiles(modal, dir->path(), { "img002.png", "img000.png", "img001.png" });
    } });
    Button("btLoadImage")->click();
    QCOMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());

    // The load runs behind the windows: the click has returned before it ends.
    TrackScene *scene = window->ViewWindow()->scene;
    QTRY_COMPARE(scene->ImageCount(), 3);
    QCOMPARE(scene->ShownImage().size(), QSize(80, 60));
    QCOMPARE(scene->CurrentImage(), 0);
    QVERIFY(Slider());
    QCOMPARE(Slider()->minimum(), 0);
    QCOMPARE(Slider()->maximum(), 2);
    QCOMPARE(Slider()->singleStep(), 1);
    QCOMPARE(Slider()->pageStep(), 1);
}

// Wherever the slider was in the sequence before, the new one starts at its
// first image, and slider, scene and status bar say so.
void TestLoading::newSequenceStartsAtFirstImage()
{
    QVERIFY(Slider());
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->filePath("."), 10, 64, 48, "ten")));
    Slider()->setValue(7);
    QCOMPARE(window->ViewWindow()->scene->CurrentImage(), 7);
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->filePath("."), 8, 64, 48, "eight")));
    QCOMPARE(Slider()->maximum(), 7);
    QCOMPARE(Slider()->value(), 0);
    QCOMPARE(window->ViewWindow()->scene->CurrentImage(), 0);
    auto *label = window->ViewWindow()->findChild<QLabel *>(QStringLiteral("lbImage"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Image 1 of 8  eight000.png"));
}

void TestLoading::undecodableImagesReportedAndSliderUpdated()
{
    QVERIFY(Slider());
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 2, 64, 48, "old")));
    QCOMPARE(Slider()->maximum(), 1);

    QStringList files = WriteImages(dir->path(), 3, 64, 48, "new");
    files.insert(1, Write("new000b.png", "this is no image"));

    // The slider learns the length at once; the message comes when the
    // decoding behind the window is done.
    SeenBox box;
    ModalScript script({ ReadAndClose(box) });
    QVERIFY(LoadImagesAndWait(window, files));
    QCOMPARE(Slider()->maximum(), 3);
    QTRY_COMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.text.contains(QStringLiteral("new000b.png could not be decoded")),
             qPrintable(box.text));
    QVERIFY2(box.text.contains(QStringLiteral("1 of 4")), qPrintable(box.text));
    QVERIFY(!box.text.contains(QStringLiteral("new001.png")));

    // The failed slice keeps its place; slider and scene agree on four images.
    TrackScene *scene = window->ViewWindow()->scene;
    QCOMPARE(scene->ImageCount(), 4);
    QVERIFY(scene->ImageLoader()->Failed(1));
}

void TestLoading::manyUndecodableImagesListedShortened()
{
    QStringList files;
    for (int i = 0; i < 15; ++i)
        files << Write(QStringLiteral("bad%1.png").arg(i, 2, 10, QLatin1Char('0')), "junk");
    SeenBox box;
    ModalScript script({ ReadAndClose(box) });
    QVERIFY(LoadImagesAndWait(window, files));
    QTRY_COMPARE(script.Done(), 1);
    QVERIFY2(box.text.contains(QStringLiteral("15 of 15")), qPrintable(box.text));
    QVERIFY(box.text.contains(QStringLiteral("bad00.png")));
    QVERIFY(box.text.contains(QStringLiteral("bad09.png")));
    QVERIFY(!box.text.contains(QStringLiteral("bad10.png")));
    QVERIFY2(box.text.contains(QStringLiteral("5 more")), qPrintable(box.text));
}

void TestLoading::imageLoadShowsProgressInViewWindowNotModal()
{
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 2, 30, 20, "old")));
    auto *status = window->ViewWindow()->statusBar();
    QStringList shown;
    connect(status, &QStatusBar::messageChanged, [&](const QString &text) { shown << text; });
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 30, 64, 48, "new")));
    // Once the sequence is open, the rest of it is decoded with no modal
    // window: the user can keep working.
    bool modalSeen = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout,
            [&] { modalSeen |= QApplication::activeModalWidget() != nullptr; });
    poll.start(0);
    QTRY_VERIFY(!window->ViewWindow()->scene->ImageLoader()->Loading());
    QTRY_VERIFY(status->currentMessage().isEmpty());
    QVERIFY(!modalSeen);
    QVERIFY2(shown.filter(QRegularExpression(QStringLiteral("^Loading images: \\d+ of 30$"))).size()
                 >= 1,
             qPrintable(shown.join('|')));
    QCOMPARE(window->ViewWindow()->scene->ImageCount(), 30);
}

void TestLoading::imagesNeedingTooMuchMemoryRefused()
{
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 2, 30, 20, "old")));
    ImageSequence::SetAvailableBytesOverride(1000);

    SeenBox box;
    ModalScript script({ ReadAndClose(box) });
    QVERIFY(!LoadImagesAndWait(window, WriteImages(dir->path(), 3, 64, 48, "new")));
    QCOMPARE(script.Done(), 1);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.text.contains(QStringLiteral("memory")), qPrintable(box.text));
    QCOMPARE(window->ViewWindow()->scene->ImageCount(), 2);
    QCOMPARE(window->ViewWindow()->scene->ShownImage().size(), QSize(30, 20));
}

// Cancel in the progress window of an image load leaves the sequence shown
// as it was, also while a file does not answer (the first slice's read is
// held here as a stalled network mount would hold it).
void TestLoading::cancelledImageLoadChangesNothing()
{
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 4, 30, 20, "old")));
    Slider()->setValue(2);
    const QStringList fresh = WriteImages(dir->path(), 6, 64, 48, "new");
    const auto release = std::make_shared<QSemaphore>();
    ImageSequence::SetDecodeGate([release, stalled = fresh.first()](const QString &path) {
        if (path == stalled)
            release->acquire();
    });
    window->Tasks()->SetProgressDelay(0);
    bool ended = false;
    bool loaded = true;
    window->LoadImageFiles(fresh, [&](bool result) {
        ended = true;
        loaded = result;
    });
    QProgressDialog *progress = nullptr;
    QTRY_VERIFY(
        (progress = window->findChild<QProgressDialog *>(QStringLiteral("imageLoadProgress")))
        != nullptr);
    QTRY_VERIFY(progress->labelText().contains(QStringLiteral("first image")));
    QPushButton *cancel = progress->findChild<QPushButton *>();
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY(ended);
    ImageSequence::SetDecodeGate({});
    release->release();
    QVERIFY(!loaded);

    TrackScene *scene = window->ViewWindow()->scene;
    QCOMPARE(scene->ImageCount(), 4);
    QCOMPARE(scene->CurrentImage(), 2);
    QCOMPARE(scene->ShownImage().size(), QSize(30, 20));
    QCOMPARE(Slider()->maximum(), 3);
    QCOMPARE(Slider()->value(), 2);
}

QTEST_MAIN(TestLoading)
#include "tst_loading.moc"
