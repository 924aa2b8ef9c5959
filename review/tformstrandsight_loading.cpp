#include "review/tformstrandsight.h"

void TFormStrandsight::LoadImageSeq() {}
void TFormStrandsight::LoadCorr() {}
void TFormStrandsight::LoadErr() {}
bool TFormStrandsight::LoadTrackFiles(TrackTable &) { return false; }
void TFormStrandsight::FillIdList(QListWidget *, const TrackTable &) {}
bool TFormStrandsight::LoadTrackSet(const QStringList &, bool) { return false; }
bool TFormStrandsight::LoadImageFiles(const QStringList &) { return false; }
