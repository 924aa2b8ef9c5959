// The prompts and messages of saving as the review window runs them: the
// directory dialog's settings, the hint boxes, typing into the base-filename
// prompt, and the keys that submit or cancel each prompt.
#include "dialogs/basefilenamedialog.h"
#include "dialogs/overwriteconfirmdialog.h"
#include "review/tformstrandsight.h"
#include "testsupport.h"
#include "view/tformtrackview.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

namespace {

struct SeenBox
{
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QAbstractButton *>::size_type buttons = 0;
    bool okButton = false;
    bool fixedSize = false;
};

ModalScript::Step ReadBox(SeenBox &box)
{
    return [&box](QWidget *modal) {
        auto *message = qobject_cast<QMessageBox *>(modal);
        if (!message) {
            RejectDialog(modal);
            return;
        }
        box.title = message->windowTitle();
        box.text = message->text();
        box.format = message->textFormat();
        box.icon = message->icon();
        box.buttons = message->buttons().size();
        box.okButton = message->button(QMessageBox::Ok) != nullptr;
        box.fixedSize = message->minimumSize() == message->maximumSize();
        message->button(QMessageBox::Ok)->click();
    };
}

// Sends a key to whatever has the focus in the prompt, as a user's key press would.
void PressKey(QWidget *dialog, Qt::Key key)
{
    QWidget *target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
    QTest::keyClick(target, key);
}

} // namespace

class TestSaveDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hintsAreRichTextInformationBoxes_data();
    void hintsAreRichTextInformationBoxes();
    void directoryDialogOpensInWorkingDirectory();
    void typedBaseFilenameKeepsOnlyAllowedCharacters();
    void enterSubmitsBaseFilename();
    void escapeCancelsBaseFilename();
    void enterInOverwriteWarningCancels();
    void escapeInOverwriteWarningCancels();

private:
    void PickTrack();
    QAbstractButton *Button(const char *name) const
    {
        return window->findChild<QAbstractButton *>(QString::fromLatin1(name));
    }
    QString OutDir() const { return QDir(dir->filePath("out")).absolutePath(); }

    TFormStrandsight *window = nullptr;
    QTemporaryDir *dir = nullptr;
};

void TestSaveDialogs::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    QVERIFY(QDir(dir->path()).mkdir("out"));
    window = new TFormStrandsight(nullptr);
    window->show();
    QVERIFY(LoadImagesAndWait(window, WriteImages(dir->path(), 3, 8, 6)));
    const QString track = dir->filePath("track.txt");
    QVERIFY(WriteText(track, TrackRecord(1, 2, 4)));
    QVERIFY(LoadTracksAndWait(window, { track }, false));
}

void TestSaveDialogs::cleanup()
{
    delete window;
    window = nullptr;
    delete dir;
    dir = nullptr;
}

void TestSaveDialogs::PickTrack()
{
    auto *list = window->findChild<QListWidget *>("lwCorr");
    list->selectAll();
    Button("btPickCorr")->click();
}

void TestSaveDialogs::hintsAreRichTextInformationBoxes_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("pick");
    QTest::addColumn<bool>("images");
    QTest::addColumn<QString>("text");
    QTest::newRow("save hint") << "btSave" << false << true
                               << "Move the tracks you <u>do</u> want to be saved into the "
                                  "\"Picked Tracks\" list.";
    QTest::newRow("invert hint") << "btSaveInv" << false << true
                                 << "Move the tracks you <u>do not</u> want to be saved into the "
                                    "\"Picked Tracks\" list.";
    QTest::newRow("no picks, no images") << "btSave" << false << false
                                         << "Move the tracks you <u>do</u> want to be saved into "
                                            "the \"Picked Tracks\" list.";
    QTest::newRow("no images") << "btSaveInv" << true << false
                               << "No images are loaded, so no track files can be written.";
}

void TestSaveDialogs::hintsAreRichTextInformationBoxes()
{
    QFETCH(QString, button);
    QFETCH(bool, pick);
    QFETCH(bool, images);
    QFETCH(QString, text);
    if (pick)
        PickTrack();
    if (!images)
        QVERIFY(LoadImagesAndWait(window, {}));

    SeenBox box;
    ModalScript script({ ReadBox(box) });
    window->findChild<QAbstractButton *>(button)->click();
    QCOMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());
    QCOMPARE(box.text, text);
    QCOMPARE(box.format, Qt::RichText);
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(box.title.isEmpty());
    QCOMPARE(box.buttons, 1);
    QVERIFY(box.okButton);
    QVERIFY(box.fixedSize);
}

void TestSaveDialogs::directoryDialogOpensInWorkingDirectory()
{
    ModalScript choose({ [this](QWidget *modal) { ChooseDirectory(modal, dir->path()); } });
    Button("pushButton")->click();
    QCOMPARE(window->WorkingDirectory(), QDir(dir->path()).absolutePath());

    PickTrack();
    QString openedIn;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QFileDialog::Options options;
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        openedIn = dialog->directory().absolutePath();
        mode = dialog->fileMode();
        options = dialog->options();
        RejectDialog(dialog);
    } });
    Button("btSave")->click();
    QCOMPARE(script.Done(), 1);
    QVERIFY(!script.Failed());
    QCOMPARE(openedIn, QDir(dir->path()).absolutePath());
    QCOMPARE(mode, QFileDialog::Directory);
    QCOMPARE(options, QFileDialog::Options(QFileDialog::DontResolveSymlinks));
    QCOMPARE(window->WorkingDirectory(), QDir(dir->path()).absolutePath());
}

// The prompt names the kind and the files the set will get, and a refused
// character is named, not dropped without a word.
void TestSaveDialogs::typedBaseFilenameKeepsOnlyAllowedCharacters()
{
    PickTrack();
    QString before;
    QString typed;
    QString example;
    QString rule;
    ModalScript script({ [this](QWidget *modal) { ChooseDirectory(modal, OutDir()); },
                         [&](QWidget *modal) {
                             auto *dialog = qobject_cast<BaseFilenameDialog *>(modal);
                             QVERIFY(dialog);
                             before = dialog->prompt->text();
                             QTest::keyClicks(dialog->nameEdit, "my file.txt");
                             typed = dialog->nameEdit->text();
                             example = dialog->prompt->text();
                             rule = dialog->rule->text();
                             dialog->submitButton->click();
                         } });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QCOMPARE(before,
             QStringLiteral("Provide a base filename for the non-error tracks.\n"
                            "\"picks\" gives picks0.txt, picks1.txt, picks2.txt"));
    QCOMPARE(typed, QStringLiteral("myfiletxt"));
    QVERIFY2(example.endsWith(QStringLiteral(
                 "\"myfiletxt\" gives myfiletxt0.txt, myfiletxt1.txt, myfiletxt2.txt")),
             qPrintable(example));
    QCOMPARE(rule, QStringLiteral("\".\" cannot be used: letters (A-Z, a-z), digits and _ only."));
    QCOMPARE(QDir(OutDir()).entryList(QDir::Files),
             QStringList({ "myfiletxt0.txt", "myfiletxt1.txt", "myfiletxt2.txt" }));
}

void TestSaveDialogs::enterSubmitsBaseFilename()
{
    PickTrack();
    ModalScript script({ [this](QWidget *modal) { ChooseDirectory(modal, OutDir()); },
                         [](QWidget *modal) {
                             auto *dialog = qobject_cast<BaseFilenameDialog *>(modal);
                             QVERIFY(dialog);
                             dialog->nameEdit->setText("base");
                             dialog->nameEdit->setFocus();
                             PressKey(dialog, Qt::Key_Return);
                         } });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QVERIFY(!script.Failed());
    QCOMPARE(QDir(OutDir()).entryList(QDir::Files).size(), 3);
}

void TestSaveDialogs::escapeCancelsBaseFilename()
{
    PickTrack();
    ModalScript script({ [this](QWidget *modal) { ChooseDirectory(modal, OutDir()); },
                         [](QWidget *modal) {
                             auto *dialog = qobject_cast<BaseFilenameDialog *>(modal);
                             QVERIFY(dialog);
                             dialog->nameEdit->setText("base");
                             PressKey(dialog, Qt::Key_Escape);
                         } });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 2);
    QVERIFY(!script.Failed());
    QVERIFY(QDir(OutDir()).entryList(QDir::Files).isEmpty());
}

void TestSaveDialogs::enterInOverwriteWarningCancels()
{
    PickTrack();
    QVERIFY(WriteText(QDir(OutDir()).filePath("base1.txt"), "old"));
    ModalScript script({ [this](QWidget *modal) { ChooseDirectory(modal, OutDir()); },
                         SubmitBase("base"),
                         [](QWidget *modal) {
                             QVERIFY(qobject_cast<OverwriteConfirmDialog *>(modal));
                             PressKey(modal, Qt::Key_Return);
                         } });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 3);
    QVERIFY(!script.Failed());
    QCOMPARE(QDir(OutDir()).entryList(QDir::Files), QStringList({ "base1.txt" }));
    QCOMPARE(ReadAll(QDir(OutDir()).filePath("base1.txt")), QByteArray("old"));
}

void TestSaveDialogs::escapeInOverwriteWarningCancels()
{
    PickTrack();
    QVERIFY(WriteText(QDir(OutDir()).filePath("base0.txt"), "old"));
    ModalScript script({ [this](QWidget *modal) { ChooseDirectory(modal, OutDir()); },
                         SubmitBase("base"),
                         [](QWidget *modal) { PressKey(modal, Qt::Key_Escape); } });
    Button("btSave")->click();
    QVERIFY(WaitForTasks(window));
    QCOMPARE(script.Done(), 3);
    QCOMPARE(ReadAll(QDir(OutDir()).filePath("base0.txt")), QByteArray("old"));
    QCOMPARE(QDir(OutDir()).entryList(QDir::Files).size(), 1);
}

QTEST_MAIN(TestSaveDialogs)
#include "tst_savedialogs.moc"
