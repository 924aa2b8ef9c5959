#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace TestSupport {

void AnswerNextModal(const std::function<void(QWidget *)> &handler, int timeoutMs)
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [handler, timeoutMs, timer, poll]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            handler(modal);
            *poll = nullptr; // break the self-reference
            return;
        }
        if (timer->elapsed() > timeoutMs) {
            qWarning("AnswerNextModal: no modal widget appeared");
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

QStringList WriteImages(const QString &directory, int count, int width, int height,
                        const QString &name)
{
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 200, 200));
        const QString path =
            QDir(directory).absoluteFilePath(name + QStringLiteral("%1.png").arg(i, 3, 10, QLatin1Char('0')));
        image.save(path);
        paths << path;
    }
    return paths;
}

bool WriteText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(text) == text.size() && file.flush();
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace TestSupport
