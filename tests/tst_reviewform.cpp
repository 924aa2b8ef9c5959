// The review window as built: its 37 widgets with their names, classes,
// parents, texts, tooltips, geometry and look; the hook-up of the view window;
// and the working-directory dialog.
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace TestSupport;

namespace {

// Records, at the moment the view window is shown, whether its markers were
// hidden: proves the review window brought the view forward
// before the scene slot changed the markers.
class ShowWatcher : public QObject
{
public:
    explicit ShowWatcher(TFormTrackView *view)
        : view(view)
    {
        view->installEventFilter(this);
    }
    int shows = 0;
    bool normalHiddenAtShow = false;
    bool errorHiddenAtShow = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == view && event->type() == QEvent::Show) {
            ++shows;
            const TrackScene *scene = view->scene;
            normalHiddenAtShow
                = !scene->NormalFibers().empty() && scene->NormalFibers().front()->hidden;
            errorHiddenAtShow
                = !scene->ErrorFibers().empty() && scene->ErrorFibers().front()->hidden;
        }
        return false;
    }

private:
    TFormTrackView *view;
};

} // namespace

class TestReviewForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgets_data();
    void widgets();
    void onlyLoadButtonsHaveTooltips();
    void windowIsFixedSize();
    void windowLook();
    void paletteOnWindowAndErrorGroup();
    void listsAndLabels();
    void groupBoxes();
    void fonts();
    void viewWindowShownAtStart();
    void showHideButtonsReopenViewThenChangeMarkers_data();
    void showHideButtonsReopenViewThenChangeMarkers();
    void directoryCancelKeepsWorkingDirectory();
    void directoryAcceptTakesDisplayedDirectory();

private:
    template <typename T> T *child(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }

    TFormStrandsight *window = nullptr;
};

void TestReviewForm::init()
{
    window = new TFormStrandsight(nullptr);
    window->show();
}

void TestReviewForm::cleanup()
{
    delete window;
    window = nullptr;
}

void TestReviewForm::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");

    struct Row
    {
        const char *name;
        const char *className;
        const char *parent;
        const char *text;
        QRect geometry;
    };
    const Row rows[] = {
        { "centralwidget", "QWidget", "TFormStrandsight", "", QRect(0, 0, 800, 380) },
        { "lwCorr", "QListWidget", "centralwidget", "", QRect(110, 50, 141, 311) },
        { "lwPick", "QListWidget", "centralwidget", "", QRect(640, 50, 141, 311) },
        { "lwErr", "QListWidget", "centralwidget", "", QRect(370, 50, 141, 311) },
        { "lbPick", "QLabel", "centralwidget", "Picked Tracks", QRect(640, 20, 141, 31) },
        { "lbError", "QLabel", "centralwidget", "Error Tracks", QRect(370, 20, 141, 31) },
        { "lbCorr", "QLabel", "centralwidget", "Non-Error Tracks", QRect(110, 20, 141, 31) },
        { "pickControls", "QGroupBox", "centralwidget", "Picks", QRect(530, 150, 91, 151) },
        { "btRemovePick", "QToolButton", "pickControls", "Remove", QRect(0, 110, 91, 21) },
        { "btSelectAllPick", "QPushButton", "pickControls", "Select All", QRect(0, 30, 91, 21) },
        { "btUnselectPick", "QPushButton", "pickControls", "Deselect", QRect(0, 50, 91, 21) },
        { "btShowPick", "QPushButton", "pickControls", "Show", QRect(0, 80, 91, 21) },
        { "btRemoveAllPick", "QPushButton", "pickControls", "Remove All", QRect(0, 130, 91, 21) },
        { "Save", "QGroupBox", "centralwidget", "Save", QRect(530, 40, 91, 81) },
        { "btSaveInv", "QPushButton", "Save", "Inverse", QRect(0, 50, 91, 21) },
        { "btSave", "QPushButton", "Save", "Picks", QRect(0, 30, 91, 21) },
        { "Correct", "QGroupBox", "centralwidget", "Non-Error", QRect(270, 30, 81, 151) },
        { "btSelectCorr", "QPushButton", "Correct", "Select All", QRect(0, 30, 81, 21) },
        { "btUnselectCorr", "QPushButton", "Correct", "Deselect", QRect(0, 50, 81, 21) },
        { "btShowCorr", "QPushButton", "Correct", "Show", QRect(0, 80, 81, 21) },
        { "btHideCorr", "QPushButton", "Correct", "Hide", QRect(0, 100, 81, 21) },
        { "btPickCorr", "QToolButton", "Correct", "Pick", QRect(0, 130, 81, 21) },
        { "Error", "QGroupBox", "centralwidget", "Error", QRect(270, 210, 81, 151) },
        { "btUnselectErr", "QPushButton", "Error", "Deselect", QRect(0, 50, 81, 21) },
        { "btSelectErr", "QPushButton", "Error", "Select All", QRect(0, 30, 81, 21) },
        { "btShowErr", "QPushButton", "Error", "Show", QRect(0, 80, 81, 21) },
        { "btHideErr", "QPushButton", "Error", "Hide", QRect(0, 100, 81, 21) },
        { "btPickErr", "QToolButton", "Error", "Pick", QRect(0, 130, 81, 21) },
        { "LoadTracks", "QGroupBox", "centralwidget", "Load", QRect(10, 30, 81, 101) },
        { "btLoadCorr", "QPushButton", "LoadTracks", "Non-Error", QRect(0, 60, 81, 21) },
        { "btLoadErr", "QPushButton", "LoadTracks", "Error", QRect(0, 80, 81, 21) },
        { "btLoadImage", "QPushButton", "LoadTracks", "Images", QRect(0, 30, 81, 21) },
        { "AllTracks", "QGroupBox", "centralwidget", "View", QRect(10, 160, 81, 71) },
        { "btShowAll", "QPushButton", "AllTracks", "Show", QRect(0, 30, 81, 21) },
        { "btHideAll", "QPushButton", "AllTracks", "Hide", QRect(0, 50, 81, 21) },
        { "groupBox", "QGroupBox", "centralwidget", "Settings", QRect(10, 260, 91, 51) },
        { "pushButton", "QPushButton", "groupBox", "Directory", QRect(0, 30, 91, 21) },
    };
    QCOMPARE(int(std::size(rows)), 37);
    for (const Row &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.className)
                                << QString::fromLatin1(row.parent) << QString::fromLatin1(row.text)
                                << row.geometry;
}

void TestReviewForm::widgets()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QWidget *> found = window->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *widget = found.front();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);

    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        QCOMPARE(button->text(), text);
    else if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else if (auto *group = qobject_cast<QGroupBox *>(widget))
        QCOMPARE(group->title(), text);
    else
        QVERIFY(text.isEmpty());
}

void TestReviewForm::onlyLoadButtonsHaveTooltips()
{
    QCOMPARE(child<QPushButton>("btLoadImage")->toolTip(),
             QStringLiteral("Load an image sequence."));
    QCOMPARE(child<QPushButton>("btLoadCorr")->toolTip(),
             QStringLiteral("Load a set files containing non-error track data."));
    QCOMPARE(child<QPushButton>("btLoadErr")->toolTip(),
             QStringLiteral("Load a set of files containing error track data."));
    const QStringList withTips = { QStringLiteral("btLoadImage"), QStringLiteral("btLoadCorr"),
                                   QStringLiteral("btLoadErr") };
    const QList<QWidget *> all = window->findChildren<QWidget *>();
    for (QWidget *widget : all) {
        if (!withTips.contains(widget->objectName()))
            QVERIFY2(widget->toolTip().isEmpty(), qPrintable(widget->objectName()));
    }
}

void TestReviewForm::windowIsFixedSize()
{
    QCOMPARE(window->objectName(), QStringLiteral("TFormStrandsight"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Strandsight"));
    QCOMPARE(window->size(), QSize(800, 380));
    QCOMPARE(window->minimumSize(), QSize(800, 380));
    QCOMPARE(window->maximumSize(), QSize(800, 380));
    QCOMPARE(window->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    window->resize(1000, 600);
    QCOMPARE(window->size(), QSize(800, 380));
    QVERIFY(!window->menuWidget());
    QCOMPARE(window->centralWidget(), child<QWidget>("centralwidget"));
}

void TestReviewForm::windowLook()
{
    QCOMPARE(window->font().family(), QStringLiteral("Calibri"));
    QWidget *central = child<QWidget>("centralwidget");
    QCOMPARE(central->font().family(), QStringLiteral("Calibri"));
    QCOMPARE(central->font().pointSize(), 8);
    QVERIFY(central->font().kerning());
    QCOMPARE(central->font().styleStrategy(), QFont::PreferDefault);
    QCOMPARE(central->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(central->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QVERIFY(window->isEnabled());
    QCOMPARE(window->windowModality(), Qt::NonModal);
}

void TestReviewForm::paletteOnWindowAndErrorGroup()
{
    struct Entry
    {
        QPalette::ColorRole role;
        QColor active;
        QColor disabled;
    };
    const Entry entries[] = {
        { QPalette::WindowText, QColor(0, 0, 0), QColor(120, 120, 120) },
        { QPalette::Button, QColor(240, 240, 240), QColor(240, 240, 240) },
        { QPalette::Light, QColor(255, 255, 255), QColor(255, 255, 255) },
        { QPalette::Midlight, QColor(247, 247, 247), QColor(247, 247, 247) },
        { QPalette::Dark, QColor(120, 120, 120), QColor(120, 120, 120) },
        { QPalette::Mid, QColor(160, 160, 160), QColor(160, 160, 160) },
        { QPalette::Text, QColor(0, 0, 0), QColor(120, 120, 120) },
        { QPalette::BrightText, QColor(255, 255, 255), QColor(255, 255, 255) },
        { QPalette::ButtonText, QColor(0, 0, 0), QColor(120, 120, 120) },
        { QPalette::Base, QColor(255, 255, 255), QColor(240, 240, 240) },
        { QPalette::Window, QColor(240, 240, 240), QColor(240, 240, 240) },
        { QPalette::Shadow, QColor(0, 0, 0), QColor(0, 0, 0) },
        { QPalette::AlternateBase, QColor(247, 247, 247), QColor(240, 240, 240) },
        { QPalette::ToolTipBase, QColor(255, 255, 220), QColor(255, 255, 220) },
        { QPalette::ToolTipText, QColor(0, 0, 0), QColor(0, 0, 0) },
    };
    const QWidget *owners[] = { window, child<QGroupBox>("Error") };
    for (const QWidget *owner : owners) {
        const QPalette palette = owner->palette();
        for (const Entry &entry : entries) {
            QCOMPARE(palette.brush(QPalette::Active, entry.role).color(), entry.active);
            QCOMPARE(palette.brush(QPalette::Inactive, entry.role).color(), entry.active);
            QCOMPARE(palette.brush(QPalette::Disabled, entry.role).color(), entry.disabled);
            QCOMPARE(palette.brush(QPalette::Active, entry.role).style(), Qt::SolidPattern);
        }
    }
}

void TestReviewForm::listsAndLabels()
{
    for (const char *name : { "lwCorr", "lwErr", "lwPick" }) {
        auto *list = child<QListWidget>(name);
        QCOMPARE(list->selectionMode(), QAbstractItemView::MultiSelection);
        QVERIFY(list->isSortingEnabled());
        QCOMPARE(list->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        QCOMPARE(list->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        QCOMPARE(list->count(), 0);
    }
    for (const char *name : { "lbCorr", "lbError", "lbPick" }) {
        auto *label = child<QLabel>(name);
        QVERIFY(label->autoFillBackground());
        QCOMPARE(label->frameShape(), QFrame::StyledPanel);
        QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(label->alignment() & Qt::AlignVertical_Mask, Qt::AlignVCenter);
    }
}

void TestReviewForm::groupBoxes()
{
    for (const char *name :
         { "LoadTracks", "AllTracks", "groupBox", "Correct", "Error", "Save", "pickControls" }) {
        auto *group = child<QGroupBox>(name);
        QVERIFY(group->autoFillBackground());
        QCOMPARE(group->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }
    auto *error = child<QGroupBox>("Error");
    QVERIFY(!error->isFlat());
    QVERIFY(!error->isCheckable());
    QCOMPARE(error->maximumSize(), QSize(16777215, 151));
    QCOMPARE(child<QGroupBox>("AllTracks")->layoutDirection(), Qt::LeftToRight);
    QCOMPARE(child<QGroupBox>("Correct")->layoutDirection(), Qt::LeftToRight);
    auto *directory = child<QPushButton>("pushButton");
    QVERIFY(!directory->autoExclusive());
    QVERIFY(!directory->isDefault());
}

void TestReviewForm::fonts()
{
    const QString desk = QStringLiteral(".Helvetica Neue DeskInterface");
    const QList<QWidget *> all = window->findChildren<QWidget *>();
    int buttons = 0;
    for (QWidget *widget : all) {
        const bool isButton
            = qobject_cast<QPushButton *>(widget) || qobject_cast<QToolButton *>(widget);
        const bool isList = qobject_cast<QListWidget *>(widget);
        const bool isGroup = qobject_cast<QGroupBox *>(widget);
        const bool isLabel
            = qobject_cast<QLabel *>(widget) && widget->objectName().startsWith("lb");
        if (widget->objectName().isEmpty() || !(isButton || isList || isGroup || isLabel))
            continue;
        buttons += isButton;
        QVERIFY2(widget->font().families().value(0) == desk, qPrintable(widget->objectName()));
        QCOMPARE(widget->font().pointSize(), 10);
        if (isLabel || widget->objectName() == QLatin1String("Error"))
            QCOMPARE(widget->font().weight(), QFont::Normal);
    }
    QCOMPARE(buttons, 23);
    QVERIFY(!child<QGroupBox>("Error")->font().underline());
}

void TestReviewForm::viewWindowShownAtStart()
{
    TFormTrackView *view = window->ViewWindow();
    QVERIFY(view);
    QVERIFY(view->isVisible());
    QVERIFY(!view->parent());
    QCOMPARE(window->WorkingDirectory(), QDir::homePath());
}

void TestReviewForm::showHideButtonsReopenViewThenChangeMarkers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("startHidden");
    QTest::addColumn<bool>("normalsShown");
    QTest::addColumn<bool>("errorsShown");

    // Each button starts from the state it changes, so its effect is visible.
    QTest::newRow("btShowCorr") << "btShowCorr" << true << true << false;
    QTest::newRow("btHideCorr") << "btHideCorr" << false << false << true;
    QTest::newRow("btShowErr") << "btShowErr" << true << false << true;
    QTest::newRow("btHideErr") << "btHideErr" << false << true << false;
    QTest::newRow("btShowAll") << "btShowAll" << true << true << true;
    QTest::newRow("btHideAll") << "btHideAll" << false << false << false;
}

void TestReviewForm::showHideButtonsReopenViewThenChangeMarkers()
{
    QFETCH(QString, button);
    QFETCH(bool, startHidden);
    QFETCH(bool, normalsShown);
    QFETCH(bool, errorsShown);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString normal = dir.filePath(QStringLiteral("normal.txt"));
    const QString error = dir.filePath(QStringLiteral("error.txt"));
    QVERIFY(WriteText(normal, TrackRecord(1, 1, 4)));
    QVERIFY(WriteText(error, TrackRecord(2, 2, 5)));
    QVERIFY(LoadTracksAndWait(window, { normal }, false));
    QVERIFY(LoadTracksAndWait(window, { error }, true));

    TFormTrackView *view = window->ViewWindow();
    TrackScene *scene = view->scene;
    if (startHidden)
        scene->HideAll();
    else
        scene->ShowAll();
    view->close();
    QVERIFY(!view->isVisible());

    ShowWatcher watcher(view);
    window->findChild<QPushButton *>(button)->click();

    QVERIFY(view->isVisible());
    QCOMPARE(watcher.shows, 1);
    // The view came forward before the scene slot ran: the markers were still
    // in their earlier state when it was shown.
    QCOMPARE(watcher.normalHiddenAtShow, startHidden);
    QCOMPARE(watcher.errorHiddenAtShow, startHidden);
    QCOMPARE(!scene->NormalFibers().front()->hidden, normalsShown);
    QCOMPARE(!scene->ErrorFibers().front()->hidden, errorsShown);
}

void TestReviewForm::directoryCancelKeepsWorkingDirectory()
{
    // Another file dialog went elsewhere first: the directory dialog still
    // starts in the process's current directory.
    QTemporaryDir elsewhere;
    ModalScript visit({ [&](QWidget *modal) {
        qobject_cast<QFileDialog *>(modal)->setDirectory(elsewhere.path());
        RejectDialog(modal);
    } });
    child<QPushButton>("btLoadCorr")->click();
    QCOMPARE(visit.Done(), 1);
    const QString before = window->WorkingDirectory();
    QString title;
    QString openedIn;
    bool directoryMode = false;
    QFileDialog::Options options;
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        title = dialog->windowTitle();
        openedIn = dialog->directory().absolutePath();
        directoryMode = dialog->fileMode() == QFileDialog::Directory;
        options = dialog->options();
        RejectDialog(dialog);
    } });
    child<QPushButton>("pushButton")->click();
    QCOMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());
    QCOMPARE(title, QStringLiteral("Choose a Working Directory"));
    QCOMPARE(openedIn, QDir::currentPath());
    QVERIFY(directoryMode);
    QCOMPARE(options, QFileDialog::Options(QFileDialog::DontResolveSymlinks));
    QCOMPARE(window->WorkingDirectory(), before);
}

void TestReviewForm::directoryAcceptTakesDisplayedDirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        dialog->setDirectory(dir.path());
        // A subfolder highlighted, not entered: the displayed folder counts.
        dialog->selectFile(QDir(dir.path()).filePath(QStringLiteral("sub")));
        QMetaObject::invokeMethod(dialog, "accept");
    } });
    child<QPushButton>("pushButton")->click();
    QCOMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());
    QCOMPARE(window->WorkingDirectory(), QDir(dir.path()).absolutePath());
}

QTEST_MAIN(TestReviewForm)
#include "tst_reviewform.moc"
