#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace TestSupport {

// Runs handler on the next modal widget (dialog, message box, file dialog) as
// soon as it is shown, polling from the event loop; gives up after timeoutMs.
// To answer a dialog that a click opens, register the next answer before the
// click: the click only returns once the nested dialog has been closed.
void AnswerNextModal(const std::function<void(QWidget *)> &handler, int timeoutMs = 10000);

// Writes count small images name000.png .. into directory and returns their
// absolute paths in name order.
QStringList WriteImages(const QString &directory, int count, int width = 64, int height = 48,
                        const QString &name = QStringLiteral("img"));

// Writes text to path (creating it), returning false on failure.
bool WriteText(const QString &path, const QByteArray &text);

// Reads a whole file; empty when missing.
QByteArray ReadAll(const QString &path);

} // namespace TestSupport
