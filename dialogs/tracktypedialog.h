#pragma once

#include <QDialog>

class QPushButton;

// Asks whether a track created by hand is an error or a non-error track. Both
// choices accept the dialog; the caller tells them apart by its own connections
// to the buttons, made after the dialog's, so the dialog is hidden first.
class TrackTypeDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TrackTypeDialog(QWidget *parent = nullptr);

    QPushButton *errorButton;
    QPushButton *nonErrorButton;
    QPushButton *cancelButton;
};
