#include "view/tformtrackview.h"

#include "model/trackcolors.h"
#include "view/trackscene.h"

void TFormTrackView::AssignTrackColors(const TrackTable &tracks, ColorTable &colors)
{
    ::AssignTrackColors(tracks, colors);
}

void TFormTrackView::CreateNormalFibers()
{
    for (const auto &[id, points] : corrTracks) {
        const auto colour = corrColors.find(id);
        if (colour != corrColors.end())
            scene->AddNormalFiber(id, points, colour->second);
    }
    scene->ShowNormalFibers();
}

void TFormTrackView::CreateErrorFibers()
{
    for (const auto &[id, points] : errTracks) {
        const auto colour = errColors.find(id);
        if (colour != errColors.end())
            scene->AddErrorFiber(id, points, colour->second);
    }
    scene->ShowErrorFibers();
}

void TFormTrackView::AppendIdLabels(const TrackTable &tracks, QStringList &labels) const
{
    labels.reserve(labels.size() + static_cast<qsizetype>(tracks.size()));
    for (const auto &track : tracks)
        labels << QString::number(track.first);
}
