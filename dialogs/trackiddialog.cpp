#include "dialogs/trackiddialog.h"

#include "dialogs/promptwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

TrackIdDialog::TrackIdDialog(QWidget *parent)
    : QDialog(parent)
{
    auto *validator
        = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[0-9]+$")), this);
    prompt = new QLabel(tr("Enter a positive integer:"));
    idEdit = new QLineEdit;
    idEdit->setValidator(validator);
    enterButton = new QPushButton(tr("&Enter"));
    enterButton->setDefault(true);
    cancelButton = new QPushButton(tr("&Cancel"));

    connect(enterButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *inputRow = new QHBoxLayout;
    inputRow->addWidget(prompt);
    inputRow->addWidget(idEdit);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(enterButton);
    buttonRow->addWidget(cancelButton);
    auto *mainLayout = new QVBoxLayout;
    mainLayout->addLayout(inputRow);
    mainLayout->addLayout(buttonRow);
    setLayout(mainLayout);

    FinishPromptWindow(this, tr("Assign a Fiber ID"));
}
