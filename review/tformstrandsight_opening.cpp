#include "review/tformstrandsight.h"

#include "dialogs/informationbox.h"
#include "dialogs/tracktypedialog.h"
#include "view/tformtrackview.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

void TFormStrandsight::OpenPaths(const QStringList &images, const QStringList &nonError,
                                 const QStringList &error)
{
    QStringList files;
    if (!images.isEmpty() && ExpandOrReport(images, LoadKind::Images, files)) {
        // The images load behind the windows: the tracks follow once they are
        // in (or refused), from the event loop rather than inside the load's end.
        LoadImageFiles(files, [this, nonError, error](bool) {
            QTimer::singleShot(0, this,
                               [this, nonError, error] { OpenPaths({}, nonError, error); });
        });
        return;
    }
    // The error tracks are looked for once the non-error tracks have loaded,
    // so that the messages of the two come in the order of their loads.
    const auto loadError = [this, error] {
        QStringList errorFiles;
        if (!error.isEmpty() && ExpandOrReport(error, LoadKind::Tracks, errorFiles))
            LoadTrackSet(errorFiles, true);
    };
    if (!nonError.isEmpty() && ExpandOrReport(nonError, LoadKind::Tracks, files))
        LoadTrackSet(files, false, [loadError](bool) { loadError(); });
    else
        loadError();
}

// One missing file stops the whole kind, as in the dialogs: loading the rest
// would shift every later file to the wrong image.
bool TFormStrandsight::ExpandOrReport(const QStringList &paths, LoadKind kind, QStringList &files)
{
    QString missing;
    QString reason;
    if (ExpandLoadPaths(paths, kind, files, missing, &reason))
        return true;
    ShowErrorBox(this, tr("Could not load \"%1\": %2").arg(missing, reason));
    return false;
}

// Widgets inside a window that take drops of their own (the graphics view)
// would see a drag before the window does, so they are watched as well.
void TFormStrandsight::AcceptFileDrops(QWidget *window)
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (child->acceptDrops())
            child->installEventFilter(this);
    }
}

bool TFormStrandsight::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Close && watched == viewWindow.get()) {
        if (MayClose(viewWindow.get()))
            return false;
        event->ignore();
        return true;
    }
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QMainWindow::eventFilter(watched, event);
    auto *drop = static_cast<QDropEvent *>(event);
    const QMimeData *data = drop->mimeData();
    if (!data || !data->hasUrls())
        return QMainWindow::eventFilter(watched, event);

    if (type == QEvent::DragEnter) {
        // Read once here, not on every move: a folder may hold thousands of files.
        QStringList paths;
        bool local = true;
        for (const QUrl &url : data->urls()) {
            local = local && url.isLocalFile();
            paths << url.toLocalFile();
        }
        // Copy only: a source that was told "moved" could delete the user's files.
        const bool copy = local && (drop->possibleActions() & Qt::CopyAction);
        dropSession = copy ? DroppedSession(paths) : QString();
        dropLoadable
            = copy && (!dropSession.isEmpty() || DropSelection(paths, dropKind, dropFiles));
    }
    // Files are this window's business whatever widget they are over: those
    // it refuses are refused here, not offered to the widget.
    drop->setDropAction(Qt::CopyAction);
    drop->setAccepted(dropLoadable);
    if (type == QEvent::Drop) {
        if (dropLoadable) {
            // After the drop has returned: the program that the files came
            // from waits for it, and the kind prompt and the load take a while.
            QWidget *window = static_cast<QWidget *>(watched)->window();
            if (!dropSession.isEmpty())
                QMetaObject::invokeMethod(
                    this, [this, path = dropSession] { emit SessionDropped(path); },
                    Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(
                    this,
                    [this, window, kind = dropKind, files = dropFiles] {
                        LoadDrop(window, kind, files);
                    },
                    Qt::QueuedConnection);
        }
        dropLoadable = false;
    }
    return true;
}

QString TFormStrandsight::DroppedSession(const QStringList &paths)
{
    if (paths.size() != 1
        || !isSignalConnected(QMetaMethod::fromSignal(&TFormStrandsight::SessionDropped)))
        return {};
    const QFileInfo file(paths.constFirst());
    if (!file.isFile()
        || file.suffix().compare(QLatin1String("strandsight"), Qt::CaseInsensitive) != 0)
        return {};
    return file.absoluteFilePath();
}

void TFormStrandsight::LoadDrop(QWidget *window, LoadKind kind, const QStringList &files)
{
    if (kind == LoadKind::Images) {
        LoadImageFiles(files);
        return;
    }
    // Both choices accept the prompt; the buttons say which one it was.
    TrackTypeDialog prompt(window);
    bool error = true;
    connect(prompt.errorButton, &QPushButton::clicked, &prompt, [&error] { error = true; });
    connect(prompt.nonErrorButton, &QPushButton::clicked, &prompt, [&error] { error = false; });
    if (prompt.exec() == QDialog::Accepted)
        LoadTrackSet(files, error);
}
