#include "dialogs/tracktypedialog.h"

#include "dialogs/promptwindow.h"

#include <QHBoxLayout>
#include <QPushButton>

TrackTypeDialog::TrackTypeDialog(QWidget *parent)
    : QDialog(parent)
{
    errorButton = new QPushButton(tr("&Error"));
    nonErrorButton = new QPushButton(tr("&Non-Error"));
    cancelButton = new QPushButton(tr("&Cancel"));

    errorButton->setDefault(true);
    // Made before any connection of the caller's, so a choice hides the dialog
    // before the caller's slot runs.
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(errorButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(nonErrorButton, &QPushButton::clicked, this, &QDialog::accept);

    auto *row = new QHBoxLayout;
    row->addWidget(errorButton);
    row->addWidget(nonErrorButton);
    row->addWidget(cancelButton);
    setLayout(row);

    FinishPromptWindow(this, tr("Select Fiber Type"));
}
