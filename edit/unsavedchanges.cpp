#include "edit/unsavedchanges.h"

void UnsavedChanges::MarkChanged(bool error) { Set(error, true); }

void UnsavedChanges::MarkSaved(bool error) { Set(error, false); }

void UnsavedChanges::MarkAllSaved()
{
    Set(false, false);
    Set(true, false);
}

void UnsavedChanges::Set(bool error, bool changed)
{
    const bool before = IsModified();
    (error ? err : corr) = changed;
    if (IsModified() != before)
        emit ModifiedChanged(IsModified());
}
