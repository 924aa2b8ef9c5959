#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the base filename of a saved track-file set; letters, digits and
// underscores only, so a name never holds a directory separator or an extension.
class BaseFilenameDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BaseFilenameDialog(QWidget *parent = nullptr);

    QLabel *prompt;
    QLineEdit *nameEdit;
    QPushButton *submitButton;
    QPushButton *cancelButton;
};
