#include "view/tformtrackview.h"

#include "model/trackcolors.h"
#include "view/trackscene.h"

void TFormTrackView::NewTrack() {}
void TFormTrackView::AddTrack() {}
void TFormTrackView::CancelNewTrack() {}
void TFormTrackView::AddNewErrorTrack() {}
void TFormTrackView::AddNewNonErrorTrack() {}
void TFormTrackView::AddNewTrackOfKind(bool) {}
QColor TFormTrackView::ChooseNewTrackColor(const PointMap &) const { return QColor(); }
QColor TFormTrackView::RandomTrackColor() const { return ::RandomTrackColor(); }
int TFormTrackView::MidHueOfWidestGap(const QList<QColor> &colours) const { return ::MidHueOfWidestGap(colours); }
