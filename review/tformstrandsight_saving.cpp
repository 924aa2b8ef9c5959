#include "review/tformstrandsight.h"

#include "dialogs/basefilenamedialog.h"
#include "dialogs/informationbox.h"
#include "dialogs/overwriteconfirmdialog.h"
#include "edit/trackeditor.h"
#include "edit/unsavedchanges.h"
#include "model/trackfile.h"
#include "model/tracksetwriter.h"
#include "review/tformstrandsightform.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QStatusBar>
#include <algorithm>
#include <deque>
#include <utility>

// One press of "Picks" or "Inverse": the kinds still to be saved, and the
// kind being saved with what its prompts were answered.
struct PendingSave
{
    bool invert = false;
    std::deque<std::pair<bool, std::vector<unsigned int>>> kinds; // error, picked ids
    bool first = true;

    bool error = false;
    std::vector<unsigned int> ids;
    QString directory;
    QStringList paths;
    // Files of the set that were there when the user agreed to replace them.
    QStringList agreed;
};

// How the writing of one kind's set ended, filled on the helper that wrote it.
struct SaveResult
{
    bool written = false;
    TrackSetWriter::Failure failure;
};

void TFormStrandsight::Save() { SaveSelection(false); }

void TFormStrandsight::SaveInvert() { SaveSelection(true); }

void TFormStrandsight::SaveSelection(bool invert)
{
    if (form->lwPick->count() == 0) {
        ShowHint(invert ? tr("Move the tracks you <u>do not</u> want to be saved into the "
                             "\"Picked Tracks\" list.")
                        : tr("Move the tracks you <u>do</u> want to be saved into the \"Picked "
                             "Tracks\" list."));
        return;
    }
    // A set has one file per image: with no images there is nothing to write,
    // so say so before asking for a directory and a name that would go unused.
    if (viewWindow->ImageCount() == 0) {
        ShowHint(tr("No images are loaded, so no track files can be written."));
        return;
    }

    auto save = std::make_shared<PendingSave>();
    save->invert = invert;
    std::vector<unsigned int> norms;
    std::vector<unsigned int> errs;
    SplitPickedIds(norms, errs);
    // Each kind is saved on its own: a failure or cancel in the first does not
    // stop the second, but for a cancel of the very first prompt.
    if (!norms.empty())
        save->kinds.emplace_back(false, std::move(norms));
    if (!errs.empty())
        save->kinds.emplace_back(true, std::move(errs));
    SaveNextKind(save);
}

void TFormStrandsight::SplitPickedIds(std::vector<unsigned int> &norms,
                                      std::vector<unsigned int> &errs) const
{
    for (int row = 0; row < form->lwPick->count(); ++row) {
        const QString text = form->lwPick->item(row)->text();
        if (text.startsWith(u'E'))
            errs.push_back(text.mid(1).toUInt());
        else
            norms.push_back(text.toUInt());
    }
    std::sort(norms.begin(), norms.end());
    std::sort(errs.begin(), errs.end());
}

void TFormStrandsight::SaveNextKind(const std::shared_ptr<PendingSave> &save)
{
    while (!save->kinds.empty()) {
        const bool first = std::exchange(save->first, false);
        save->error = save->kinds.front().first;
        save->ids = std::move(save->kinds.front().second);
        save->kinds.pop_front();
        if (!ChooseSaveDirectory(save->error, save->directory)) {
            if (first)
                return;
            continue;
        }
        QString base;
        if (!PromptBaseFilename(save->error, base))
            continue;
        save->paths.clear();
        for (const QString &name : SaveFileNames(base, viewWindow->ImageCount()))
            save->paths << QDir(save->directory).filePath(name);
        save->agreed = TrackSetWriter::ExistingNames(save->paths);
        if (!save->agreed.isEmpty() && !ConfirmOverwrite())
            continue;
        WriteKind(save);
        return;
    }
}

// The files are written on a helper; the kind's message, and the next kind's
// prompts, come when it has ended.
void TFormStrandsight::WriteKind(const std::shared_ptr<PendingSave> &save)
{
    auto result = std::make_shared<SaveResult>();
    // A copy that shares every track's points: the helper writes what was
    // there when the save began, whatever the user changes meanwhile.
    auto table = std::make_shared<const TrackTable>(save->error ? viewWindow->errTracks
                                                                : viewWindow->corrTracks);
    const QString writing = save->error ? tr("Saving error tracks: file %1 of %2")
                                        : tr("Saving non-error tracks: file %1 of %2");
    const QString replacing = save->error ? tr("Saving error tracks: replacing file %1 of %2")
                                          : tr("Saving non-error tracks: replacing file %1 of %2");
    const QString waiting = tr("Waiting for another save into \"%1\" to end").arg(save->directory);

    Task task(QStringLiteral("saveProgress"));
    task.Then([save, result, table, writing, replacing, waiting](TaskControl &control) {
            const int count = static_cast<int>(save->paths.size());
            TrackSetWriter writer(save->paths);
            writer.ExpectExisting(save->agreed);
            writer.SetProgress([&control, stage = -1, count, writing, replacing,
                                waiting](TrackSetWriter::Stage now, int done) mutable {
                if (static_cast<int>(now) != stage) {
                    stage = static_cast<int>(now);
                    if (now == TrackSetWriter::Stage::Waiting)
                        control.SetStage(waiting);
                    else
                        control.SetStage(
                            now == TrackSetWriter::Stage::Writing ? writing : replacing, count);
                }
                control.SetDone(done);
                return !control.Cancelled();
            });
            const std::vector<unsigned int> &ids = save->ids;
            const bool invert = save->invert;
            result->written = writer.Write([&ids, table, invert](FILE *file, int image) {
                return WriteTrackRecords(file, ids, *table, static_cast<unsigned int>(image),
                                         invert);
            });
            result->failure = writer.LastFailure();
        })
        .Finally([this, save, result](TaskOutcome outcome, const QString &failure) {
            SaveEnded(save, *result, outcome, failure);
        });
    tasks->Run(std::move(task));
}

void TFormStrandsight::SaveEnded(const std::shared_ptr<PendingSave> &save, const SaveResult &result,
                                 TaskOutcome outcome, const QString &error)
{
    const TrackSetWriter::Failure &failure = result.failure;
    const QString kind = save->error ? tr("error tracks") : tr("non-error tracks");
    if (outcome == TaskOutcome::OutOfMemory) {
        ShowErrorBox(this, tr("Not enough memory to save the %1. No file was changed.").arg(kind));
    } else if (outcome == TaskOutcome::Failed) {
        ShowErrorBox(this, tr("The %1 could not be saved: %2").arg(kind, error));
    } else if (result.written) {
        viewWindow->Editor()->Changes()->MarkSaved(save->error);
        const int count = static_cast<int>(save->paths.size());
        viewWindow->statusBar()->showMessage(
            count == 1 ? tr("Saved 1 file to %1").arg(save->directory)
                       : tr("Saved %1 files to %2").arg(count).arg(save->directory));
    } else if (!failure.appeared.isEmpty()) {
        // Another save put files there after the user was asked: ask again,
        // about what is there now.
        if (ConfirmOverwrite()) {
            save->agreed = TrackSetWriter::ExistingNames(save->paths);
            WriteKind(save);
            return;
        }
    } else if (failure.cancelled || outcome == TaskOutcome::Cancelled) {
        // Cancel in the progress window stops the whole save.
        return;
    } else {
        // The system's reason too: "No space left on device" tells the user
        // what to do.
        QString text = tr("Failed to create file \"%1\": %2").arg(failure.name, failure.reason);
        if (!failure.stillNew.isEmpty())
            text += QLatin1Char('\n')
                + tr("These files could not be put back and hold the new tracks; the other files "
                     "are as they were: %1")
                      .arg(failure.stillNew.join(QStringLiteral(", ")));
        ShowErrorBox(this, text);
    }
    SaveNextKind(save);
}

bool TFormStrandsight::ChooseSaveDirectory(bool error, QString &directory)
{
    const QString kind = error ? tr("Error Tracks") : tr("Non-Error Tracks");
    QFileDialog dialog(this, tr("Choose a Directory for Saving the ") + kind);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::DontResolveSymlinks);
    dialog.setDirectory(workingDirectory);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // The folder the user chose: one typed into the dialog's line, or a
    // subfolder selected and accepted, is not the folder the dialog shows.
    const QStringList selected = dialog.selectedFiles();
    directory = selected.isEmpty() ? dialog.directory().absolutePath()
                                   : QFileInfo(selected.first()).absoluteFilePath();
    return true;
}

bool TFormStrandsight::PromptBaseFilename(bool error, QString &base)
{
    // One dialog for the whole loop, so a second run shows what the user typed.
    BaseFilenameDialog dialog(this);
    dialog.Describe(error ? tr("error tracks") : tr("non-error tracks"), viewWindow->ImageCount());
    while (dialog.exec() == QDialog::Accepted) {
        base = dialog.nameEdit->text();
        if (!base.isEmpty())
            return true;
        ShowHint(tr("Please choose a valid filename"));
    }
    return false;
}

bool TFormStrandsight::ConfirmOverwrite()
{
    OverwriteConfirmDialog confirm(this);
    return confirm.exec() == QDialog::Accepted;
}

// Rich text, so the hints' underlined <u>do</u> shows as such.
void TFormStrandsight::ShowHint(const QString &text)
{
    ShowInformationBox(this, text, Qt::RichText);
}
