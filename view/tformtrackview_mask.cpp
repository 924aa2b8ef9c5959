#include "view/tformtrackview.h"

#include "view/trackscene.h"

void TFormTrackView::Mask() {}
void TFormTrackView::RemoveMask() {}
