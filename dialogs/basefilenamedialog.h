#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QRegularExpressionValidator;

// Asks for the base filename of a saved track-file set; letters, digits and
// underscores only, so a name never holds a directory separator or an
// extension. The prompt shows the names the set will get, and says so when a
// typed character is refused instead of dropping it without a word.
class BaseFilenameDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BaseFilenameDialog(QWidget *parent = nullptr);

    // What is saved ("non-error tracks") and into how many files, for the
    // prompt and its example names.
    void Describe(const QString &what, int count);

    QLabel *prompt;
    QLineEdit *nameEdit;
    QPushButton *submitButton;
    QPushButton *cancelButton;
    // The characters a name may hold, and the ones just refused.
    QLabel *rule;

private:
    void ShowPrompt();
    void ShowRefused();

    QRegularExpressionValidator *validator;
    QString what;
    int count = 0;
};
