#pragma once

#include <QObject>

// Whether the tracks or the picked list changed since they were loaded or
// last saved, kept for each kind of track: saving or loading one kind leaves
// the other kind's changes counted, so that quitting still warns of them.
class UnsavedChanges : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    bool IsModified() const { return corr || err; }
    bool IsModified(bool error) const { return error ? err : corr; }

    // Tracks or picks of the kind changed (an edit, an undo, a pick).
    void MarkChanged(bool error);
    // The kind was written to files, or replaced by a load: nothing of it is
    // left to save.
    void MarkSaved(bool error);
    void MarkAllSaved();

signals:
    void ModifiedChanged(bool modified);

private:
    void Set(bool error, bool changed);

    bool corr = false;
    bool err = false;
};
