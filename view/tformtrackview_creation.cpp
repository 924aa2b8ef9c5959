#include "view/tformtrackview.h"

#include "dialogs/informationbox.h"
#include "dialogs/trackiddialog.h"
#include "dialogs/tracktypedialog.h"
#include "edit/trackeditor.h"
#include "model/fiber.h"
#include "model/trackcolors.h"
#include "view/trackscene.h"

#include <QLineEdit>
#include <QPushButton>

void TFormTrackView::NewTrack()
{
    if (creating)
        return;
    if (!scene->HasImages()) {
        ShowInformationBox(this, tr("You must first load images before placing new fibers."));
        return;
    }
    creating = true;
    scene->StartNewTrack();
}

void TFormTrackView::AddTrack()
{
    if (!creating) {
        ShowInformationBox(this,
                           tr("You haven't created a new fiber.\n\nPress \"Create Track\" and "
                              "click where the fiber should go in each cross-section."));
        return;
    }
    if (!scene->HasNewPoints()) {
        ShowInformationBox(this,
                           tr("No fibers has been placed.\n\nClick where the fiber should go in "
                              "each cross-section."));
        return;
    }
    TrackTypeDialog typeDialog(this);
    connect(typeDialog.errorButton, &QPushButton::clicked, this, &TFormTrackView::AddNewErrorTrack);
    connect(typeDialog.nonErrorButton, &QPushButton::clicked, this,
            &TFormTrackView::AddNewNonErrorTrack);
    typeDialog.exec();
}

void TFormTrackView::CancelNewTrack()
{
    if (!creating)
        return;
    creating = false;
    scene->EndNewTrack();
}

void TFormTrackView::AddNewErrorTrack() { AddNewTrackOfKind(true); }

void TFormTrackView::AddNewNonErrorTrack() { AddNewTrackOfKind(false); }

void TFormTrackView::AddNewTrackOfKind(bool error)
{
    // The type dialog's buttons stay clickable from a test or a fast double
    // click; a creation that already ended must not add a second track.
    if (!creating)
        return;
    const TrackTable &tracks = error ? errTracks : corrTracks;

    PointMap points;
    TrackIdDialog idDialog(this);
    unsigned int id = 0;
    for (;;) {
        if (idDialog.exec() != QDialog::Accepted)
            return;
        bool ok = false;
        id = idDialog.idEdit->text().toUInt(&ok, 10);
        if (ok && tracks.count(id) == 0)
            break;
        // The dialog keeps its text, so the user can correct it.
        ShowInformationBox(this, tr("This id has already been taken. Choose another."));
    }

    scene->CopyNewPoints(points);
    const QColor colour = ChooseNewTrackColor(points);
    // Listed first: the step's report of the new track then finds it listed.
    emit NewFiber(id, error);
    // One step of the history: the registry, the marker and the report of
    // the new track come from carrying it out.
    editor->Apply(PlanAddTrack({ error, id }, points, colour));
    creating = false;
    scene->EndNewTrack();
}

QColor TFormTrackView::ChooseNewTrackColor(const PointMap &points) const
{
    if (points.empty())
        return RandomTrackColor();
    const auto &[image, first] = *points.begin();
    std::vector<Fiber *> near;
    scene->FibersInRect(QRectF(static_cast<double>(first.x) - 100.0,
                               static_cast<double>(first.y) - 100.0, 200.0, 200.0),
                        static_cast<int>(image), near);
    QList<QColor> colours;
    colours.reserve(static_cast<qsizetype>(near.size()));
    for (const Fiber *fiber : near)
        colours << fiber->color;
    return ContrastingTrackColor(colours);
}

QColor TFormTrackView::RandomTrackColor() const { return ::RandomTrackColor(); }

int TFormTrackView::MidHueOfWidestGap(const QList<QColor> &colours) const
{
    return ::MidHueOfWidestGap(colours);
}
