#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// Warns that saving would overwrite files of the set; Enter cancels.
class OverwriteConfirmDialog : public QDialog
{
    Q_OBJECT

public:
    explicit OverwriteConfirmDialog(QWidget *parent = nullptr);

    QLabel *message;
    QPushButton *proceedButton;
    QPushButton *cancelButton;
};
