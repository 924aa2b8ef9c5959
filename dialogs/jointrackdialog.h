#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the id of the track to join a track with, proposing one; digits
// only, Enter accepts.
class JoinTrackDialog : public QDialog
{
    Q_OBJECT

public:
    // proposal is shown selected in the field; empty when there is none.
    JoinTrackDialog(const QString &track, const QString &proposal, QWidget *parent = nullptr);

    QLabel *prompt;
    QLineEdit *idEdit;
    QPushButton *joinButton;
    QPushButton *cancelButton;
};
