#include "dialogs/jointrackdialog.h"

#include "dialogs/promptwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

JoinTrackDialog::JoinTrackDialog(const QString &track, const QString &proposal, QWidget *parent)
    : QDialog(parent)
{
    auto *validator
        = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[0-9]+$")), this);
    prompt = new QLabel(tr("Join %1 with track:").arg(track));
    idEdit = new QLineEdit;
    idEdit->setObjectName(QStringLiteral("idEdit"));
    idEdit->setValidator(validator);
    idEdit->setText(proposal);
    idEdit->selectAll();
    joinButton = new QPushButton(tr("&Join"));
    joinButton->setObjectName(QStringLiteral("joinButton"));
    joinButton->setDefault(true);
    cancelButton = new QPushButton(tr("&Cancel"));
    cancelButton->setObjectName(QStringLiteral("cancelButton"));

    connect(joinButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *inputRow = new QHBoxLayout;
    inputRow->addWidget(prompt);
    inputRow->addWidget(idEdit);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(joinButton);
    buttonRow->addWidget(cancelButton);
    auto *mainLayout = new QVBoxLayout;
    mainLayout->addLayout(inputRow);
    mainLayout->addLayout(buttonRow);
    setLayout(mainLayout);

    FinishPromptWindow(this, tr("Join Tracks"));
}
