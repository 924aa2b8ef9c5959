// Loading track sets and image sequences into the review window: name order,
// loads that fail, are refused or are cancelled at any stage changing nothing,
// the reasons named, tracks the images cannot show, undecodable images
// reported, the memory refusal, and the slider following the sequence.
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "model/trackset.h"
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
using TestSupport::TrackRecord;

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

// What the load's progress window looked like when it was cancelled.
struct SeenProgress
{
    bool found = false;
    QString label;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget *parent = nullptr;
};

// Presses the load's Cancel as soon as its progress window says it is at
// stage (a prefix of its text); polls from the event loop.
void CancelAtStage(TFormStrandsight *window, const QString &stage, SeenProgress &seen)
{
    auto *poll = new QTimer(window);
    poll->setInterval(1);
    QObject::connect(poll, &QTimer::timeout, window, [window, stage, &seen, poll] {
        auto *progress = window->findChild<QProgressDialog *>(QStringLiteral("loadProgress"));
        if (!progress || !progress->isVisible() || !progress->labelText().startsWith(stage))
            return;
        seen
            = { true, progress->labelText(), progress->windowModality(), progress->parentWidget() };
        progress->findChild<QPushButton *>()->click();
        poll->stop();
        poll->deleteLater();
    });
    poll->start();
}

// One track with a point on each of images 0 .. count - 1, in a file each.
QStringList WriteTrackSet(const QString &directory, const QString &name, int count, unsigned int id,
                          double x = 1)
{
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << WriteIn(directory,
                         QStringLiteral("%1%2.txt").arg(name).arg(i, 3, 10, QLatin1Char('0')),
                         TrackRecord(x, i, id));
    return files;
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
    void refusedTrackFilesNamedWithReasonInSetOrder();
    void loadingOneKindLeavesTheOther();
    void emptyFilesLoadButFileWithoutRecordsIsRefused();
    void cancelledTrackLoadChangesNothing_data();
    void cancelledTrackLoadChangesNothing();
    void windowRespondsAndCancelsInsideOneHugeFile();
    void setTooLargeForMemoryRefusedWithAmounts();
    void tracksTheImagesCannotShowAreNamed();
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
    QVERIFY(WaitForTasks(window));
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

    QVERIFY(LoadTracksAndWait(
        window, { Write("a_1.txt", TrackRecord(1, 0, 5)), Write("B_3.txt", TrackRecord(3, 0, 5)) },
        false));
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
    QVERIFY(LoadTracksAndWait(window, { first }, false));
    const TrackTable before = window->ViewWindow()->corrTracks;

    ModalScript script({ [](QWidget *modal) { RejectDialog(modal); } });
    Button("btLoadCorr")->click();
    QCOMPARE(script.Done(), 1);
    QVERIFY(!window->Tasks()->Busy());
    QCOMPARE(window->ViewWindow()->corrTracks.size(), before.size());
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "3", "4" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(2));
}

void TestLoading::failedTrackLoadChangesNothing()
{
    const QString first = Write("old/a.txt", TrackRecord(1, 1, 3) + TrackRecord(2, 2, 4));
    QVERIFY(LoadTracksAndWait(window, { first }, false));
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
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QVERIFY(!script.Failed());
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    // The file, and why it could not be read.
    const QString named = QStringLiteral("Could not load \"%1\": ").arg(missing);
    QVERIFY2(box.text.startsWith(named) && box.text.size() > named.size(), qPrintable(box.text));

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

// The first file of the set that cannot be read, in set order, is named with
// the reason; a folder or a named pipe is refused before anything is read
// (reading a pipe would wait for a writer that never comes).
void TestLoading::refusedTrackFilesNamedWithReasonInSetOrder()
{
    QVERIFY(LoadTracksAndWait(window, { Write("e.txt", TrackRecord(1, 1, 8)) }, true));

    QVERIFY(QDir(dir->path()).mkdir("b1.txt"));
    const QString folder = dir->filePath("b1.txt");
    const QString pipe = dir->filePath("c2.txt");
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString missing = dir->filePath("d3.txt");
    const QStringList set
        = { Write("a0.txt", TrackRecord(1, 1, 9)), missing, pipe, folder }; // any order

    {
        SeenBox box;
        ModalScript script({ ReadAndClose(box) });
        QVERIFY(!LoadTracksAndWait(window, set, true));
        QCOMPARE(script.Done(), 1);
        QCOMPARE(box.text,
                 QStringLiteral("Could not load \"%1\": it is not a regular file").arg(folder));
    }
    {
        SeenBox box;
        ModalScript script({ ReadAndClose(box) });
        QVERIFY(!LoadTracksAndWait(window, { set[0], missing, pipe }, true));
        QCOMPARE(script.Done(), 1);
        QCOMPARE(box.text,
                 QStringLiteral("Could not load \"%1\": it is not a regular file").arg(pipe));
    }

    QCOMPARE(window->ViewWindow()->errTracks.size(), size_t(1));
    QCOMPARE(window->ViewWindow()->errTracks.count(8), size_t(1));
    QCOMPARE(ListTexts(List("lwErr")), QStringList({ "8" }));
    QCOMPARE(window->ViewWindow()->scene->ErrorFibers().size(), size_t(1));
}

void TestLoading::loadingOneKindLeavesTheOther()
{
    QVERIFY(LoadTracksAndWait(window, { Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    QVERIFY(LoadTracksAndWait(window, { Write("e.txt", TrackRecord(1, 1, 2)) }, true));
    List("lwCorr")->selectAll();
    Button("btPickCorr")->click();
    QVERIFY(LoadTracksAndWait(window, { Write("e2.txt", TrackRecord(1, 1, 3)) }, true));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
    QCOMPARE(ListTexts(List("lwErr")), QStringList({ "3" }));
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "1" }));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(1));
    QCOMPARE(window->ViewWindow()->scene->ErrorFibers().size(), size_t(1));
    QCOMPARE(window->ViewWindow()->scene->ErrorFibers().front()->id, 3u);
}

// Empty files are valid (no track has a point on that image), even a set of
// them; a file that is not empty but holds no record at all (a TIFF chosen by
// mistake) refuses the set instead of replacing the tracks by none.
void TestLoading::emptyFilesLoadButFileWithoutRecordsIsRefused()
{
    QVERIFY(LoadTracksAndWait(window, { Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    const ColorTable colorsBefore = window->ViewWindow()->corrColors;
    List("lwCorr")->selectAll();
    Button("btPickCorr")->click();

    QByteArray binary("II*\0", 4);
    for (int i = 0; i < 256; ++i)
        binary += char(i);
    const QString image = Write("set1/t01.txt", binary);
    const QStringList withImage = { Write("set1/t00.txt", TrackRecord(2, 2, 2)), image };
    TrackTable probe;
    const bool readerTells = ReadTrackSet(withImage, probe).outcome != TrackSetRead::Complete;
    if (readerTells) {
        SeenBox box;
        ModalScript script({ ReadAndClose(box) });
        QVERIFY(!LoadTracksAndWait(window, withImage, false));
        QCOMPARE(script.Done(), 1);
        QCOMPARE(box.text,
                 QStringLiteral("Could not load \"%1\": no track record could be read").arg(image));
        QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
        QCOMPARE(ListTexts(List("lwPick")), QStringList({ "1" }));
    }

    QVERIFY(
        LoadTracksAndWait(window, { Write("set2/e0.txt", {}), Write("set2/e1.txt", {}) }, false));
    QCOMPARE(List("lwCorr")->count(), 0);
    QCOMPARE(List("lwPick")->count(), 0);
    QVERIFY(window->ViewWindow()->scene->NormalFibers().empty());
    QVERIFY(window->ViewWindow()->corrColors == colorsBefore);
    if (!readerTells)
        QSKIP("the track-set reader does not tell a file without records yet");
}

void TestLoading::cancelledTrackLoadChangesNothing_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<int>("tracks");
    QTest::addColumn<int>("pointsEach");
    // One long track: reading the file takes the time.
    QTest::newRow("reading") << "Loading non-error tracks: file" << 1 << 3000000;
    // Many short tracks: making their markers takes the time.
    QTest::newRow("making markers") << "Loading non-error tracks: making markers" << 150000 << 1;
}

void TestLoading::cancelledTrackLoadChangesNothing()
{
    QFETCH(QString, stage);
    QFETCH(int, tracks);
    QFETCH(int, pointsEach);
    QVERIFY(LoadTracksAndWait(window, { Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    List("lwCorr")->selectAll();
    Button("btPickCorr")->click();
    List("lwPick")->item(0)->setSelected(true);
    const ColorTable colorsBefore = window->ViewWindow()->corrColors;

    QByteArray text;
    for (int k = 0; k < tracks; ++k) {
        for (int p = 0; p < pointsEach; ++p)
            text += "1.5\t2.5\t" + QByteArray::number(k + 2) + '\n';
    }
    const QStringList files = { Write("c0.txt", text), Write("c1.txt", TrackRecord(3, 3, 2)) };
    text.clear();

    window->Tasks()->SetProgressDelay(0);
    SeenProgress progress;
    CancelAtStage(window, stage, progress);
    ModalScript noMessage({});
    QVERIFY(!LoadTracksAndWait(window, files, false));
    QVERIFY(progress.found);
    QCOMPARE(progress.modality, Qt::ApplicationModal);
    QCOMPARE(progress.parent, window);
    QVERIFY(!noMessage.Failed());

    QCOMPARE(window->ViewWindow()->corrTracks.size(), size_t(1));
    QCOMPARE(window->ViewWindow()->corrTracks.count(1), size_t(1));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
    QCOMPARE(ListTexts(List("lwPick")), QStringList({ "1" }));
    QVERIFY(List("lwPick")->item(0)->isSelected());
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(1));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().front()->id, 1u);
    QVERIFY(window->ViewWindow()->corrColors == colorsBefore);
}

// One file of three million records takes a while to parse: the windows must
// go on handling events meanwhile (a timer ticking every 10 ms cancels the
// load at its 5th tick, which a blocked window would only reach after the
// file, its late ticks merged into one), and the cancel must act inside it.
void TestLoading::windowRespondsAndCancelsInsideOneHugeFile()
{
    QVERIFY(LoadTracksAndWait(window, { Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    QByteArray text;
    for (int k = 0; k < 3000000; ++k)
        text += "1.5\t2.5\t" + QByteArray::number(k) + '\n';
    const QString huge = Write("huge.txt", text);
    text.clear();

    window->Tasks()->SetProgressDelay(0);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [this, &ticks] {
        if (++ticks == 5) {
            if (auto *progress
                = window->findChild<QProgressDialog *>(QStringLiteral("loadProgress")))
                progress->findChild<QPushButton *>()->click();
        }
    });
    ticker.start(10);
    QVERIFY(!LoadTracksAndWait(window, { huge }, false));
    ticker.stop();
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    QCOMPARE(window->ViewWindow()->corrTracks.size(), size_t(1));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
}

// A set that cannot fit in the memory available is refused once it has been
// read, before any marker is made, with the amounts.
void TestLoading::setTooLargeForMemoryRefusedWithAmounts()
{
    QVERIFY(LoadTracksAndWait(window, { Write("n.txt", TrackRecord(1, 1, 1)) }, false));
    ImageSequence::SetAvailableBytesOverride(1000);
    SeenBox box;
    ModalScript script({ ReadAndClose(box) });
    QVERIFY(!LoadTracksAndWait(window,
                               { Write("big0.txt", TrackRecord(1, 1, 5) + TrackRecord(2, 2, 6)),
                                 Write("big1.txt", TrackRecord(1, 1, 5)) },
                               false));
    QCOMPARE(script.Done(), 1);
    QCOMPARE(box.icon, QMessageBox::Critical);
    const QLocale locale;
    QCOMPARE(box.text,
             QStringLiteral("Not enough memory to load the non-error tracks: 2 tracks with 3 "
                            "points need about %1 of memory, but only %2 is available. Nothing "
                            "was changed.")
                 .arg(locale.formattedDataSize(EstimateLoadedBytes(2, 3)),
                      locale.formattedDataSize(1000)));
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "1" }));
    QCOMPARE(window->ViewWindow()->corrTracks.size(), size_t(1));
    QCOMPARE(window->ViewWindow()->scene->NormalFibers().size(), size_t(1));
}

// More track files than images, or points outside the slices: one message
// with the counts, whichever of the two is loaded second; the tracks load.
void TestLoading::tracksTheImagesCannotShowAreNamed()
{
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 3, 64, 48)));
    {
        SeenBox box;
        ModalScript script({ ReadAndClose(box) });
        QStringList files = WriteTrackSet(dir->path(), "n", 5, 4);
        files << Write("n005.txt", TrackRecord(70, 10, 6) + TrackRecord(-1, 10, 7));
        WriteIn(dir->path(), "n001.txt", TrackRecord(1, 1, 4) + TrackRecord(10, 60, 6));
        QVERIFY(LoadTracksAndWait(window, files, false));
        QCOMPARE(script.Done(), 1);
        QCOMPARE(box.icon, QMessageBox::Information);
        // Images 4 to 6 have no image; of the points on images 1 to 3, one is
        // below the slices (the two on image 6 are not shown anyway).
        QCOMPARE(
            box.text,
            QStringLiteral("Non-error tracks: 6 track files for 3 images: the tracks of images 4 "
                           "to 6 are not shown.\nNon-error tracks: 1 point lies outside the "
                           "images (64 x 48)."));
    }
    QCOMPARE(ListTexts(List("lwCorr")), QStringList({ "4", "6", "7" }));

    // Error tracks that fit say nothing; images loaded after tracks that do
    // not fit say so for the tracks already loaded.
    {
        ModalScript quiet({});
        QVERIFY(LoadTracksAndWait(window, WriteTrackSet(dir->path(), "e", 2, 9), true));
        QVERIFY(!quiet.Failed());
    }
    SeenBox second;
    ModalScript afterImages({ ReadAndClose(second) });
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 1, 200, 100, "wide")));
    QCOMPARE(afterImages.Done(), 1);
    QCOMPARE(second.text,
             QStringLiteral("Non-error tracks: 6 track files for 1 image: the tracks of images 2 "
                            "to 6 are not shown.\nError tracks: 2 track files for 1 image: the "
                            "tracks of image 2 are not shown."));
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
