#pragma once

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

// Hints and refusals: a message box with the information icon, no title, one
// OK button, fixed at its size hint, run modally over parent.
inline void ShowInformationBox(QWidget *parent, const QString &text,
                               Qt::TextFormat format = Qt::AutoText)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Information);
    box.setTextFormat(format);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setFixedSize(box.sizeHint());
    box.exec();
}

// A failure on a file: a critical message box titled "Error" with one OK
// button, run modally over parent.
inline void ShowErrorBox(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QCoreApplication::translate("TFormStrandsight", "Error"), text);
}
