#pragma once

#include <QDialog>
#include <QString>

// The prompts are fixed at the size their layout asks for and block the whole
// application while they are open.
inline void FinishPromptWindow(QDialog *dialog, const QString &title)
{
    dialog->setFixedHeight(dialog->sizeHint().height());
    dialog->setFixedWidth(dialog->sizeHint().width());
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setWindowTitle(title);
}
