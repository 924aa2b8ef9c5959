#include "session/sessionkeeper.h"

#include "dialogs/informationbox.h"
#include "dialogs/tracktypedialog.h"
#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "model/tracksetwriter.h"
#include "review/tformstrandsight.h"
#include "session/trackcsv.h"
#include "session/viewimage.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/trackgraphicsview.h"
#include "view/trackscene.h"

#include <QBuffer>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <algorithm>

namespace {

// Asks which of two ways something is to be done; 0 or 1 for the choice,
// -1 for Cancel.
int AskWhich(QWidget *parent, const char *objectName, const QString &text, const QString &first,
             const QString &second)
{
    QMessageBox box(QMessageBox::Question,
                    QCoreApplication::translate("SessionKeeper", "Strandsight"), text,
                    QMessageBox::NoButton, parent);
    box.setObjectName(QLatin1String(objectName));
    QPushButton *one = box.addButton(first, QMessageBox::AcceptRole);
    QPushButton *two = box.addButton(second, QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(one);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == one)
        return 0;
    return box.clickedButton() == two ? 1 : -1;
}

template <typename Marker> std::vector<unsigned int> ShownIds(const std::vector<Marker *> &markers)
{
    std::vector<unsigned int> ids;
    for (const Marker *marker : markers) {
        if (!marker->hidden)
            ids.push_back(marker->id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The tracks of a CSV export as they were when it was asked for.
struct CsvExport
{
    TrackTable nonError;
    TrackTable error;
    bool shownOnly = false;
    std::vector<unsigned int> shownNonError;
    std::vector<unsigned int> shownError;
};

} // namespace

void SessionKeeper::ChooseCsvExport()
{
    if (View()->corrTracks.empty() && View()->errTracks.empty()) {
        ShowInformationBox(DialogParent(), tr("There are no tracks to export."));
        return;
    }
    const int which = AskWhich(DialogParent(), "csvExportPrompt",
                               tr("Export the tracks shown in the Track View, or all tracks?"),
                               tr("Shown Tracks"), tr("All Tracks"));
    if (which < 0)
        return;
    const QString path = ChooseFile(tr("Export Tracks as CSV"), tr("CSV Files (*.csv)"),
                                    QStringLiteral("csv"), true);
    if (!path.isEmpty())
        ExportCsv(path, which == 0);
}

void SessionKeeper::ExportCsv(const QString &path, bool shownOnly)
{
    auto tracks = std::make_shared<CsvExport>();
    tracks->nonError = View()->corrTracks;
    tracks->error = View()->errTracks;
    tracks->shownOnly = shownOnly;
    if (shownOnly) {
        tracks->shownNonError = ShownIds(View()->scene->NormalFibers());
        tracks->shownError = ShownIds(View()->scene->ErrorFibers());
    }
    const QString target = QFileInfo(path).absoluteFilePath();
    RunExport(target, [tracks, target] {
        TrackSetWriter writer({ target });
        const bool written = writer.Write([&tracks](FILE *file, int) {
            return WriteTracksCsv(file, tracks->nonError, tracks->error,
                                  tracks->shownOnly ? &tracks->shownNonError : nullptr,
                                  tracks->shownOnly ? &tracks->shownError : nullptr);
        });
        return written ? QString() : writer.LastFailure().reason;
    });
}

// Writes target behind the windows, write returning why it could not (empty
// when it could); the end is told as Exported or in a message.
void SessionKeeper::RunExport(const QString &target, std::function<QString()> write)
{
    auto why = std::make_shared<QString>();
    Task task(QStringLiteral("exportProgress"));
    task.Then([target, why, write = std::move(write)](TaskControl &control) {
        control.SetStage(tr("Writing %1").arg(QFileInfo(target).fileName()));
        *why = write();
    });
    const QPointer<SessionKeeper> self(this);
    task.Finally([self, target, why](TaskOutcome outcome, const QString &failure) {
        if (!self || outcome == TaskOutcome::Cancelled)
            return;
        if (outcome == TaskOutcome::Done && why->isEmpty())
            emit self->Exported(target);
        else
            self->ReportWriteFailure(target,
                                     outcome == TaskOutcome::OutOfMemory
                                         ? tr("There is not enough memory.")
                                         : (why->isEmpty() ? failure : *why));
    });
    window->Tasks()->Run(std::move(task));
}

void SessionKeeper::ChooseCsvImport()
{
    const QString path
        = ChooseFile(tr("Import Tracks from CSV"), tr("Tables (*.csv *.tsv *.txt);;All Files (*)"),
                     QString(), false);
    if (!path.isEmpty())
        ImportCsv(path);
}

void SessionKeeper::ImportCsv(const QString &path)
{
    auto table = std::make_shared<CsvTracks>();
    auto why = std::make_shared<QString>();
    const QString source = QFileInfo(path).absoluteFilePath();
    Task task(QStringLiteral("importProgress"));
    task.Then([table, source, why](TaskControl &control) {
        control.SetStage(tr("Reading %1").arg(QFileInfo(source).fileName()));
        ReadTracksCsv(source, *table, *why, control.CancelFlag());
    });
    const QPointer<SessionKeeper> self(this);
    task.Finally([self, source, table, why](TaskOutcome outcome, const QString &failure) {
        if (!self || outcome == TaskOutcome::Cancelled)
            return;
        if (outcome != TaskOutcome::Done || !why->isEmpty()) {
            ShowErrorBox(self->DialogParent(),
                         tr("Could not import \"%1\": %2")
                             .arg(source,
                                  outcome == TaskOutcome::OutOfMemory
                                      ? tr("There is not enough memory.")
                                      : (why->isEmpty() ? failure : *why)));
            return;
        }
        if (table->hasKind) {
            if (!table->nonError.empty())
                self->ReplaceFromCsv(source, std::move(table->nonError), false);
            if (!table->error.empty())
                self->ReplaceFromCsv(source, std::move(table->error), true);
        } else {
            // Both choices accept the prompt; the buttons say which it was.
            TrackTypeDialog prompt(self->DialogParent());
            bool error = true;
            connect(prompt.errorButton, &QPushButton::clicked, &prompt, [&error] { error = true; });
            connect(prompt.nonErrorButton, &QPushButton::clicked, &prompt,
                    [&error] { error = false; });
            if (prompt.exec() != QDialog::Accepted || !self)
                return;
            self->ReplaceFromCsv(source, std::move(table->nonError), error);
        }
        self->ReportImportProblems(source, table->unreadable, table->unreadableRows,
                                   table->repeated, table->repeatedRows);
        emit self->Imported(source);
    });
    window->Tasks()->Run(std::move(task));
}

void SessionKeeper::ReplaceFromCsv(const QString &path, TrackTable tracks, bool error)
{
    csvSource = path;
    window->ReplaceTrackSet(std::move(tracks), error);
    csvSource.clear();
}

void SessionKeeper::ReportImportProblems(const QString &path, qint64 unreadable,
                                         const QStringList &rows, qint64 repeated,
                                         const QStringList &repeatedRows)
{
    QStringList parts;
    const auto listed = [](const QStringList &named, qint64 all) {
        QString text = named.join(QLatin1Char('\n'));
        if (all > named.size())
            text += QLatin1Char('\n')
                + tr("... and %n more.", nullptr, static_cast<int>(all - named.size()));
        return text;
    };
    if (unreadable > 0)
        parts << tr("%n rows could not be read and were left out:", nullptr,
                    static_cast<int>(unreadable))
                + QLatin1Char('\n') + listed(rows, unreadable);
    if (repeated > 0)
        parts << tr("%n rows give a track a second point on an image; its first point there "
                    "was kept:",
                    nullptr, static_cast<int>(repeated))
                + QLatin1Char('\n') + listed(repeatedRows, repeated);
    if (!parts.isEmpty())
        ShowInformationBox(DialogParent(),
                           tr("Imported \"%1\".").arg(path) + QStringLiteral("\n\n")
                               + parts.join(QStringLiteral("\n\n")));
}

void SessionKeeper::ChooseViewImageExport()
{
    if (!View()->scene->HasImages()) {
        ShowInformationBox(DialogParent(), tr("Load images before exporting a view image."));
        return;
    }
    const int which = AskWhich(
        DialogParent(), "viewImagePrompt",
        tr("Export the view as it is shown, or the part of the image it shows at one screen "
           "pixel per image pixel?"),
        tr("As Shown"), tr("Image Pixels"));
    if (which < 0)
        return;
    const QString path = ChooseFile(tr("Export View Image"), tr("PNG Images (*.png)"),
                                    QStringLiteral("png"), true);
    if (!path.isEmpty())
        ExportViewImage(path, which == 1);
}

// Drawn here, on the GUI thread, where the scene lives; encoded and written
// behind the windows.
void SessionKeeper::ExportViewImage(const QString &path, bool imagePixels)
{
    TrackGraphicsView *view = View()->GraphicsView();
    const QImage image = imagePixels ? RenderVisibleImage(view) : RenderShownView(view);
    const QString target = QFileInfo(path).absoluteFilePath();
    if (image.isNull()) {
        ReportWriteFailure(target,
                           tr("The picture could not be made: there is no image, or "
                              "not enough memory for one this large."));
        return;
    }
    RunExport(target, [image, target]() -> QString {
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
            return tr("The picture could not be encoded.");
        TrackSetWriter writer({ target });
        if (!writer.Write([&png](FILE *file, int) {
                return std::fwrite(png.constData(), 1, static_cast<size_t>(png.size()), file)
                    == static_cast<size_t>(png.size());
            }))
            return writer.LastFailure().reason;
        return QString();
    });
}
