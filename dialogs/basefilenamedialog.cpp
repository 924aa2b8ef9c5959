#include "dialogs/basefilenamedialog.h"

#include "dialogs/promptwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

BaseFilenameDialog::BaseFilenameDialog(QWidget *parent)
    : QDialog(parent)
{
    prompt = new QLabel(tr("Provide a base filename for the save files.\n"
                           "(e.g. \"[base-filename][1-10].txt\")"));
    nameEdit = new QLineEdit;
    nameEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^[A-Za-z0-9_]+$")), nameEdit));
    submitButton = new QPushButton(tr("&Submit"));
    cancelButton = new QPushButton(tr("&Cancel"));

    submitButton->setDefault(true);
    connect(submitButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto *textColumn = new QVBoxLayout;
    textColumn->addWidget(prompt);
    textColumn->addWidget(nameEdit);
    auto *buttonColumn = new QVBoxLayout;
    buttonColumn->addWidget(submitButton);
    buttonColumn->addWidget(cancelButton);
    buttonColumn->addStretch();
    auto *mainLayout = new QHBoxLayout;
    mainLayout->addLayout(textColumn);
    mainLayout->addLayout(buttonColumn);
    setLayout(mainLayout);

    FinishPromptWindow(this, tr("Choose a Base Filename"));
}
