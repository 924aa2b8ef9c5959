#include "dialogs/trackiddialog.h"
#include "dialogs/tracktypedialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

// The two prompts of track creation on their own: texts, keys, and what the id
// field lets through.
class TestCreationDialogs : public QObject
{
    Q_OBJECT

private slots:
    void typeDialog();
    void typeDialogChoices_data();
    void typeDialogChoices();
    void idDialog();
    void idFieldTakesDigitsOnly_data();
    void idFieldTakesDigitsOnly();
    void idDialogResults();
};

void TestCreationDialogs::typeDialog()
{
    TrackTypeDialog dialog(nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select Fiber Type"));
    QCOMPARE(dialog.windowModality(), Qt::ApplicationModal);
    QCOMPARE(dialog.errorButton->text(), QStringLiteral("&Error"));
    QCOMPARE(dialog.nonErrorButton->text(), QStringLiteral("&Non-Error"));
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("&Cancel"));
    QVERIFY(dialog.errorButton->isDefault());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.minimumSize(), dialog.sizeHint());
    // Left to right: Error, Non-Error, Cancel.
    dialog.show();
    QVERIFY(dialog.errorButton->x() < dialog.nonErrorButton->x());
    QVERIFY(dialog.nonErrorButton->x() < dialog.cancelButton->x());
}

void TestCreationDialogs::typeDialogChoices_data()
{
    QTest::addColumn<int>("choice"); // 0 Enter, 1 Error, 2 Non-Error, 3 Cancel, 4 Escape
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("errorSlot");
    QTest::addColumn<int>("nonErrorSlot");
    QTest::newRow("Enter chooses Error") << 0 << 1 << 1 << 0;
    QTest::newRow("Error") << 1 << 1 << 1 << 0;
    QTest::newRow("Non-Error") << 2 << 1 << 0 << 1;
    QTest::newRow("Cancel") << 3 << 0 << 0 << 0;
    QTest::newRow("Escape") << 4 << 0 << 0 << 0;
}

void TestCreationDialogs::typeDialogChoices()
{
    QFETCH(int, choice);
    QFETCH(int, result);
    QFETCH(int, errorSlot);
    QFETCH(int, nonErrorSlot);
    TrackTypeDialog dialog(nullptr);
    int errors = 0, nonErrors = 0;
    bool hiddenFirst = true;
    // The caller's slots run after the dialog's own: the dialog is hidden by then.
    connect(dialog.errorButton, &QPushButton::clicked, this, [&]() {
        ++errors;
        hiddenFirst = hiddenFirst && !dialog.isVisible();
    });
    connect(dialog.nonErrorButton, &QPushButton::clicked, this, [&]() {
        ++nonErrors;
        hiddenFirst = hiddenFirst && !dialog.isVisible();
    });
    QTimer::singleShot(0, &dialog, [&]() {
        switch (choice) {
        case 0:
            QTest::keyClick(&dialog, Qt::Key_Return);
            break;
        case 1:
            QTest::mouseClick(dialog.errorButton, Qt::LeftButton);
            break;
        case 2:
            QTest::mouseClick(dialog.nonErrorButton, Qt::LeftButton);
            break;
        case 3:
            QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
            break;
        default:
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }
    });
    QCOMPARE(dialog.exec(), result);
    QCOMPARE(errors, errorSlot);
    QCOMPARE(nonErrors, nonErrorSlot);
    QVERIFY(hiddenFirst);
}

void TestCreationDialogs::idDialog()
{
    TrackIdDialog dialog(nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Assign a Fiber ID"));
    QCOMPARE(dialog.windowModality(), Qt::ApplicationModal);
    QCOMPARE(dialog.prompt->text(), QStringLiteral("Enter a positive integer:"));
    QCOMPARE(dialog.enterButton->text(), QStringLiteral("&Enter"));
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("&Cancel"));
    QVERIFY(dialog.enterButton->isDefault());
    QVERIFY(dialog.idEdit->text().isEmpty());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    dialog.show();
    // Prompt left of the field, buttons in a row below.
    QVERIFY(dialog.prompt->x() < dialog.idEdit->x());
    QVERIFY(dialog.enterButton->y() > dialog.idEdit->y());
    QVERIFY(dialog.enterButton->x() < dialog.cancelButton->x());
}

void TestCreationDialogs::idFieldTakesDigitsOnly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("letter in between") << "12a4"
                                       << "124";
    QTest::newRow("leading zeros") << "007"
                                   << "007";
    QTest::newRow("sign and spaces") << "-3 5+"
                                     << "35";
    QTest::newRow("decimal point") << "1.5"
                                   << "15";
    QTest::newRow("beyond 32 bits") << "99999999999"
                                    << "99999999999";
    QTest::newRow("nothing usable") << "x y"
                                    << "";
}

void TestCreationDialogs::idFieldTakesDigitsOnly()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    TrackIdDialog dialog(nullptr);
    QTest::keyClicks(dialog.idEdit, typed);
    QCOMPARE(dialog.idEdit->text(), kept);

    // A pasted text with anything but digits is refused as a whole.
    dialog.idEdit->clear();
    dialog.idEdit->insert(QStringLiteral("12a4"));
    QVERIFY(dialog.idEdit->text().isEmpty());
}

void TestCreationDialogs::idDialogResults()
{
    TrackIdDialog dialog(nullptr);
    QTimer::singleShot(0, &dialog, [&]() {
        QTest::keyClicks(dialog.idEdit, QStringLiteral("42"));
        QTest::keyClick(dialog.idEdit, Qt::Key_Return);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.idEdit->text(), QStringLiteral("42"));

    // Run again it keeps its text; an empty text can be accepted too.
    QTimer::singleShot(0, &dialog, [&]() {
        QCOMPARE(dialog.idEdit->text(), QStringLiteral("42"));
        dialog.idEdit->clear();
        QTest::mouseClick(dialog.enterButton, Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));

    QTimer::singleShot(0, &dialog, [&]() { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QTimer::singleShot(0, &dialog,
                       [&]() { QTest::mouseClick(dialog.cancelButton, Qt::LeftButton); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
}

QTEST_MAIN(TestCreationDialogs)
#include "tst_creationdialogs.moc"
