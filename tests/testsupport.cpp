#include "testsupport.h"

#include "dialogs/basefilenamedialog.h"
#include "review/tformstrandsight.h"
#include "tasks/taskrunner.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>

namespace {

// Every test program runs in a home folder of its own, made before main and
// removed at exit, so that the program's settings and recovery sessions and
// the file dialogs' history never reach the user's own folders. The programs
// a test starts inherit it; a test program started by another one (and
// perhaps killed) uses its parent's.
class TestHome
{
public:
    TestHome()
    {
        if (!qEnvironmentVariableIsEmpty(kVariable))
            return;
        home = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                               + QStringLiteral("/strandsight-test-home-XXXXXX"));
        if (!home->isValid())
            std::abort();
        const QByteArray path = QFile::encodeName(home->path());
        ::setenv(kVariable, path.constData(), 1);
        ::setenv("HOME", path.constData(), 1);
        ::setenv("XDG_CONFIG_HOME", (path + "/.config").constData(), 1);
        ::setenv("XDG_DATA_HOME", (path + "/.local/share").constData(), 1);
        ::setenv("XDG_STATE_HOME", (path + "/.local/state").constData(), 1);
    }

private:
    static constexpr const char *kVariable = "STRANDSIGHT_TEST_HOME";
    std::unique_ptr<QTemporaryDir> home;
};

const TestHome testHome;

} // namespace

namespace TestSupport {

namespace {

    // The modal widget a test may answer: shown, and not a progress window.
    QWidget *PromptShown()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || qobject_cast<QProgressDialog *>(modal))
            return nullptr;
        return modal;
    }

} // namespace

void AnswerNextModal(const std::function<void(QWidget *)> &handler, int timeoutMs)
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [handler, timeoutMs, timer, poll]() {
        if (QWidget *modal = PromptShown()) {
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
        const QString path = QDir(directory).absoluteFilePath(
            name + QStringLiteral("%1.png").arg(i, 3, 10, QLatin1Char('0')));
        image.save(path);
        paths << path;
    }
    return paths;
}

bool LoadImagesAndWait(TFormStrandsight *window, const QStringList &files, int timeoutMs)
{
    auto ended = std::make_shared<bool>(false);
    auto loaded = std::make_shared<bool>(false);
    window->LoadImageFiles(files, [ended, loaded](bool result) {
        *ended = true;
        *loaded = result;
    });
    if (!QTest::qWaitFor([ended] { return *ended; }, timeoutMs)) {
        qWarning("LoadImagesAndWait: the load did not end within %d ms", timeoutMs);
        return false;
    }
    return *loaded;
}

bool WriteText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(text) == text.size() && file.flush();
}

QString WriteIn(const QString &directory, const QString &relative, const QByteArray &text)
{
    const QString path = QDir(directory).filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!WriteText(path, text))
        qWarning("could not write %s", qPrintable(path));
    return path;
}

QStringList ListTexts(const QListWidget *list, bool selectedOnly)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row) {
        if (!selectedOnly || list->item(row)->isSelected())
            texts << list->item(row)->text();
    }
    return texts;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct ModalScript::State
{
    QList<Step> steps;
    QStringList seen;
    int done = 0;
    bool failed = false;
    bool finished = false;
    QPointer<QWidget> handled;
    QElapsedTimer sinceLast;
    int timeoutMs = 10000;
};

ModalScript::ModalScript(QList<Step> steps, int timeoutMs)
    : state(std::make_shared<State>())
{
    state->steps = std::move(steps);
    state->timeoutMs = timeoutMs;
    state->sinceLast.start();
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<State> weak = state;
    *poll = [weak, poll]() {
        const std::shared_ptr<State> s = weak.lock();
        if (!s || s->finished) {
            *poll = nullptr;
            return;
        }
        QWidget *modal = PromptShown();
        if (modal != s->handled)
            s->handled = nullptr;
        // Scheduled before the step runs: a step that opens a nested modal
        // loop only returns once that loop has been answered.
        QTimer::singleShot(10, *poll);
        const bool overdue = s->sinceLast.elapsed() > s->timeoutMs;
        if (!modal || modal == s->handled) {
            if (!modal && s->done < s->steps.size() && overdue) {
                s->failed = true;
                s->finished = true;
            }
            return;
        }
        const Step *step = s->done < s->steps.size() ? &s->steps.at(s->done) : nullptr;
        if (step && step->type && !step->type->cast(modal) && !overdue)
            return; // not the expected prompt: leave it alone for now
        s->handled = modal;
        s->sinceLast.restart();
        if (step && (!step->type || step->type->cast(modal))) {
            const Step current = *step;
            s->seen << QString::fromLatin1(modal->metaObject()->className());
            ++s->done;
            current.handler(modal);
        } else {
            s->failed = true;
            RejectDialog(modal);
        }
    };
    QTimer::singleShot(0, *poll);
}

ModalScript::~ModalScript() { state->finished = true; }

QStringList ModalScript::Seen() const { return state->seen; }

int ModalScript::Done() const { return state->done; }

bool ModalScript::Failed() const { return state->failed; }

void DragOnWidget(QWidget *widget, QPoint from, QPoint to)
{
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from);
    const int steps = 4;
    for (int i = 1; i <= steps; ++i) {
        const QPoint at = from + (to - from) * i / steps;
        QMouseEvent move(QEvent::MouseMove, QPointF(at), widget->mapToGlobal(QPointF(at)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to);
}

void ClickOnWidget(QWidget *widget, QPoint pos)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, pos);
}

void ChooseFiles(QWidget *fileDialog, const QString &directory, const QStringList &names)
{
    auto *dialog = qobject_cast<QFileDialog *>(fileDialog);
    if (!dialog) {
        qWarning("ChooseFiles: not a file dialog but a %s", fileDialog->metaObject()->className());
        RejectDialog(fileDialog);
        return;
    }
    dialog->setDirectory(directory);
    QStringList quoted;
    for (const QString &name : names)
        quoted << QLatin1Char('"') + name + QLatin1Char('"');
    auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (nameEdit)
        nameEdit->setText(names.size() == 1 ? names.front() : quoted.join(QLatin1Char(' ')));
    QMetaObject::invokeMethod(dialog, "accept");
}

void ChooseDirectory(QWidget *fileDialog, const QString &directory)
{
    auto *dialog = qobject_cast<QFileDialog *>(fileDialog);
    if (!dialog) {
        qWarning("ChooseDirectory: not a file dialog but a %s",
                 fileDialog->metaObject()->className());
        RejectDialog(fileDialog);
        return;
    }
    dialog->setDirectory(directory);
    QMetaObject::invokeMethod(dialog, "accept");
}

void RejectDialog(QWidget *dialog)
{
    if (auto *asDialog = qobject_cast<QDialog *>(dialog))
        asDialog->reject();
    else
        dialog->close();
}

std::function<void(QWidget *)> SubmitBase(const QString &base)
{
    return [base](QWidget *modal) {
        auto *dialog = qobject_cast<BaseFilenameDialog *>(modal);
        if (!dialog) {
            QTest::qFail("expected the base filename dialog", __FILE__, __LINE__);
            RejectDialog(modal);
            return;
        }
        dialog->nameEdit->setText(base);
        dialog->submitButton->click();
    };
}

bool LoadTracksAndWait(TFormStrandsight *window, const QStringList &files, bool error,
                       int timeoutMs)
{
    // Shared: the load may end after a test that gave up waiting.
    auto ended = std::make_shared<int>(-1);
    window->LoadTrackSet(files, error, [ended](bool loaded) { *ended = loaded ? 1 : 0; });
    return QTest::qWaitFor([ended] { return *ended >= 0; }, timeoutMs) && *ended == 1;
}

bool WaitForTasks(TFormStrandsight *window, int timeoutMs)
{
    return QTest::qWaitFor([window] { return !window->Tasks()->Busy(); }, timeoutMs);
}

QByteArray TrackRecord(double x, double y, unsigned int id)
{
    return QString::asprintf("%f\t%f\t%d\n", x, y, static_cast<int>(id)).toLatin1();
}

QString DescribeTracks(const TrackTable &table)
{
    QStringList tracks;
    for (const auto &[id, points] : table) {
        QString track = QString::number(id) + QLatin1Char(':');
        for (const auto &[image, point] : points)
            track += QStringLiteral("%1(%2,%3)").arg(image).arg(point.x).arg(point.y);
        tracks << track;
    }
    return tracks.join(QLatin1Char(' '));
}

} // namespace TestSupport
