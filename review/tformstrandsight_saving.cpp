#include "review/tformstrandsight.h"

void TFormStrandsight::Save() {}
void TFormStrandsight::SaveInvert() {}
void TFormStrandsight::SaveSelection(bool) {}
void TFormStrandsight::SplitPickedIds(std::vector<unsigned int> &, std::vector<unsigned int> &) const {}
bool TFormStrandsight::SaveTracks(const std::vector<unsigned int> &, const TrackTable &, bool, bool) { return false; }
bool TFormStrandsight::ChooseSaveDirectory(bool, QString &) { return false; }
bool TFormStrandsight::PromptBaseFilename(QString &) { return false; }
bool TFormStrandsight::WouldOverwrite(const QString &, const QStringList &) const { return false; }
bool TFormStrandsight::WriteTrackSet(const QString &, const QString &, const std::vector<unsigned int> &, const TrackTable &, bool, QString &) const { return false; }
