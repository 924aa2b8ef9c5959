#include "view/tformtrackview.h"

#include "model/trackcolors.h"
#include "view/trackscene.h"

void TFormTrackView::AssignTrackColors(const TrackTable &tracks, ColorTable &colors)
{
    ::AssignTrackColors(tracks, colors);
}

void TFormTrackView::CreateNormalFibers() {}
void TFormTrackView::CreateErrorFibers() {}
void TFormTrackView::AppendIdLabels(const TrackTable &, QStringList &) const {}
