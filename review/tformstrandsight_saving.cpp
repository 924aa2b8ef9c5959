#include "review/tformstrandsight.h"

#include "dialogs/basefilenamedialog.h"
#include "dialogs/informationbox.h"
#include "dialogs/overwriteconfirmdialog.h"
#include "edit/trackeditor.h"
#include "edit/unsavedchanges.h"
#include "model/trackfile.h"
#include "model/trackset.h"
#include "model/tracksetwriter.h"
#include "review/tformstrandsightform.h"
#include "view/tformtrackview.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSet>
#include <algorithm>

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

    std::vector<unsigned int> norms;
    std::vector<unsigned int> errs;
    SplitPickedIds(norms, errs);
    // Each kind is saved on its own: a failure or cancel in the first does not
    // stop the second.
    UnsavedChanges *changes = viewWindow->Editor()->Changes();
    if (!norms.empty() && SaveTracks(norms, viewWindow->corrTracks, false, invert))
        changes->MarkSaved(false);
    if (!errs.empty() && SaveTracks(errs, viewWindow->errTracks, true, invert))
        changes->MarkSaved(true);
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

bool TFormStrandsight::SaveTracks(const std::vector<unsigned int> &ids, const TrackTable &table,
                                  bool error, bool invert)
{
    QString directory;
    if (!ChooseSaveDirectory(error, directory))
        return false;
    QString base;
    if (!PromptBaseFilename(base))
        return false;
    const QStringList names = SaveFileNames(base, viewWindow->ImageCount());
    if (WouldOverwrite(directory, names)) {
        OverwriteConfirmDialog confirm(this);
        if (confirm.exec() != QDialog::Accepted)
            return false;
    }
    TrackSetWriter::Failure failure;
    if (WriteTrackSet(directory, base, ids, table, invert, failure))
        return true;
    // The system's reason too: "No space left on device" tells the user what
    // to do, and that none of the set was replaced.
    QMessageBox::critical(this, tr("Error"),
                          tr("Failed to create file \"%1\": %2").arg(failure.name, failure.reason));
    return false;
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
    directory = dialog.directory().absolutePath();
    return true;
}

bool TFormStrandsight::PromptBaseFilename(QString &base)
{
    // One dialog for the whole loop, so a second run shows what the user typed.
    BaseFilenameDialog dialog(this);
    while (dialog.exec() == QDialog::Accepted) {
        base = dialog.nameEdit->text();
        if (!base.isEmpty())
            return true;
        ShowHint(tr("Please choose a valid filename"));
    }
    return false;
}

bool TFormStrandsight::WouldOverwrite(const QString &directory, const QStringList &names) const
{
    // Case-sensitive on purpose: Picks03.txt is not picks03.txt on the file
    // systems this program writes to.
    const QSet<QString> targets(names.begin(), names.end());
    const QStringList entries = QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    return std::any_of(entries.begin(), entries.end(),
                       [&targets](const QString &entry) { return targets.contains(entry); });
}

bool TFormStrandsight::WriteTrackSet(const QString &directory, const QString &base,
                                     const std::vector<unsigned int> &ids, const TrackTable &table,
                                     bool invert, TrackSetWriter::Failure &failure) const
{
    return ::WriteTrackSet(directory, base, viewWindow->ImageCount(), ids, table, invert, failure);
}

// Rich text, so the hints' underlined <u>do</u> shows as such.
void TFormStrandsight::ShowHint(const QString &text)
{
    ShowInformationBox(this, text, Qt::RichText);
}
