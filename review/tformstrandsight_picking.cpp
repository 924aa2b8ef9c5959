#include "review/tformstrandsight.h"

void TFormStrandsight::DeleteCorrPicks() {}
void TFormStrandsight::DeleteErrPicks() {}
void TFormStrandsight::PickCorr() {}
void TFormStrandsight::PickErr() {}
void TFormStrandsight::Remove() {}
void TFormStrandsight::RemoveAll() {}
void TFormStrandsight::SelectAllCorr() {}
void TFormStrandsight::SelectAllError() {}
void TFormStrandsight::SelectAllPick() {}
void TFormStrandsight::ShowPick() {}
void TFormStrandsight::UnselectCorr() {}
void TFormStrandsight::UnselectError() {}
void TFormStrandsight::UnselectPick() {}
void TFormStrandsight::AddNewLabel(unsigned int, bool) {}
void TFormStrandsight::ShowMaskedSelection(const std::vector<unsigned int> &, const std::vector<unsigned int> &) {}
