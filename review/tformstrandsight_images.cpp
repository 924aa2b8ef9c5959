#include "review/tformstrandsight.h"

#include "dialogs/informationbox.h"
#include "review/loadselection.h"
#include "stack/sequenceopening.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include <QTimer>
#include <memory>
#include <utility>
#include <vector>

namespace {

const int kMaxNamesListed = 10;

// Up to kMaxNamesListed lines, then how many more there are.
QString Listed(const QStringList &lines)
{
    QString text = lines.mid(0, kMaxNamesListed).join(QLatin1Char('\n'));
    const int unlisted = static_cast<int>(lines.size()) - kMaxNamesListed;
    if (unlisted > 0)
        text += QLatin1Char('\n')
            + QCoreApplication::translate("TFormStrandsight", "... and %n more.", nullptr,
                                          unlisted);
    return text;
}

} // namespace

void TFormStrandsight::LoadImageSeq()
{
    QStringList files;
    if (ChooseLoadFiles(LoadDialogFilter(LoadKind::Images), files))
        LoadImageFiles(files);
}

void TFormStrandsight::ConnectImageLoading()
{
    connect(viewWindow->scene, &TrackScene::ImagesLoaded, this,
            &TFormStrandsight::ReportImageProblems);
}

// The headers, the memory check, the contrast and the first image are read
// behind a progress window that can cancel them; only then does the scene
// take the new sequence, so a cancel or a refusal leaves the old one shown.
// The other slices are decoded behind the windows afterwards.
void TFormStrandsight::LoadImageFiles(const QStringList &files,
                                      std::function<void(bool loaded)> done)
{
    // Plain character-code order of the paths, as every selection.
    QStringList sorted = files;
    sorted.sort(Qt::CaseSensitive);
    auto opening = std::make_shared<SequenceOpening>(sorted);
    // A selection in which no file holds a page to show (an empty selection
    // empties the sequence).
    auto nothingToShow = std::make_shared<bool>(false);
    TrackScene *scene = viewWindow->scene;
    Task task(QStringLiteral("imageLoadProgress"));
    task.ThenOnGui([opening, scene](TaskControl &) {
            opening->SetReleasableBytes(scene->HeldImageBytes());
            return false;
        })
        .Then([opening](TaskControl &control) { opening->ReadHeaders(control); })
        .Then([opening](TaskControl &control) { opening->Prepare(control); })
        .ThenOnGui([this, opening, nothingToShow, sorted, empty = files.isEmpty()](TaskControl &) {
            *nothingToShow = opening->Empty() && !empty;
            if (opening->Refused() || *nothingToShow)
                return false;
            viewWindow->scene->OpenImages(opening->Take());
            imageFiles = sorted;
            viewWindow->UpdateImageRange();
            return false;
        })
        .Finally([this, opening, nothingToShow, done](TaskOutcome outcome, const QString &failure) {
            bool loaded = false;
            if (outcome == TaskOutcome::Done) {
                if (opening->Refused())
                    ShowErrorBox(this, opening->Refusal());
                else if (*nothingToShow)
                    ShowErrorBox(this,
                                 tr("None of the files holds an image that can be shown. "
                                    "The images were not loaded."));
                else
                    loaded = true;
                if (loaded)
                    WarnTracksOutsideImages(true, true);
            } else if (outcome == TaskOutcome::OutOfMemory) {
                ShowErrorBox(this,
                             tr("There was not enough memory to open the images. "
                                "The images were not loaded."));
            } else if (outcome == TaskOutcome::Failed) {
                ShowErrorBox(this, tr("The images could not be loaded: %1").arg(failure));
            }
            if (done)
                done(loaded);
        });
    tasks->Run(std::move(task));
}

void TFormStrandsight::ReportImageProblems(const std::vector<unsigned int> &failed)
{
    const TrackScene *scene = viewWindow->scene;
    QStringList failures;
    for (const unsigned int index : failed)
        failures << scene->ImageProblem(static_cast<int>(index));
    const QStringList notes = scene->ImageNotes();
    if (failures.isEmpty() && notes.isEmpty())
        return;
    QString text;
    if (!failures.isEmpty())
        text
            = tr("%n of %1 images could not be loaded:", nullptr, static_cast<int>(failures.size()))
                  .arg(scene->ImageCount())
            + QLatin1Char('\n') + Listed(failures);
    if (!notes.isEmpty()) {
        if (!text.isEmpty())
            text += QStringLiteral("\n\n");
        text += Listed(notes);
    }
    // Reported when the decoding comes to rest, which may be in the middle of
    // the loader's work: the message waits for the event loop.
    QTimer::singleShot(0, this, [this, text] { ShowErrorBox(this, text); });
}
