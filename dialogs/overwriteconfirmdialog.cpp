#include "dialogs/overwriteconfirmdialog.h"

#include "dialogs/promptwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

OverwriteConfirmDialog::OverwriteConfirmDialog(QWidget *parent)
    : QDialog(parent)
{
    message = new QLabel(tr("Saving will overwrite existing files in the save directory."));
    proceedButton = new QPushButton(tr("&Proceed"));
    cancelButton = new QPushButton(tr("&Cancel"));

    // Enter must never destroy files by accident.
    cancelButton->setDefault(true);
    connect(proceedButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(proceedButton);
    buttonRow->addWidget(cancelButton);
    auto *mainLayout = new QVBoxLayout;
    mainLayout->addWidget(message);
    mainLayout->addLayout(buttonRow);
    setLayout(mainLayout);

    FinishPromptWindow(this, tr("Warning"));
}
