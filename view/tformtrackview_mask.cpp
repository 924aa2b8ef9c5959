#include "view/tformtrackview.h"

#include "view/trackscene.h"

void TFormTrackView::Mask()
{
    maskedNorms.clear();
    maskedErrs.clear();
    scene->KeepSelected(maskedNorms, maskedErrs);
    emit Mask(maskedNorms, maskedErrs);
}

void TFormTrackView::RemoveMask() { scene->ShowAll(); }
