#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the id of a track created by hand; digits only.
class TrackIdDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TrackIdDialog(QWidget *parent = nullptr);

    QLabel *prompt;
    QLineEdit *idEdit;
    QPushButton *enterButton;
    QPushButton *cancelButton;
};
