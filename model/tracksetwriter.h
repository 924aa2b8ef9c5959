#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <vector>

// Writes a set of files all or nothing: a save that fails, or is interrupted
// before the renames, leaves every old file as it was, and a file the user
// protected is never replaced (only a kill in the instant of the renames can
// leave a set part new, each file still complete). Every file is first written to a hidden temporary file beside its
// target (".name.txt.XXXXXX") and flushed to disk; only when all of them are
// complete are they renamed into place. Before anything is written, every
// target is checked: one that is not a regular file, that the user may not
// write, or whose folder the user may not write refuses the whole set. An
// existing target keeps its permission bits (and its owner and group where the
// process may set them); a symbolic link is followed, so its target is replaced
// and the link stays. Temporary files left in a folder by a save that was
// killed are removed by the next save into that folder.
class TrackSetWriter
{
public:
    // Why a set was not written: the file, as named in the set, and the
    // system's reason ("No space left on device").
    struct Failure
    {
        QString name;
        QString reason;
    };

    // Writes the content of file index into file; false when a write failed
    // (errno then tells why).
    using Content = std::function<bool(FILE *file, int index)>;

    // Save: what a user saves, flushed to disk, the leftovers of killed saves
    // cleared from its folders. Scratch: data that can be made again (sample
    // sets, tests), neither waiting for the disk (a few milliseconds a file)
    // nor looking through the folder; replacing stays all or nothing.
    enum Mode { Save, Scratch };

    // targets: the paths of the set, in the order content is asked for.
    explicit TrackSetWriter(QStringList targets, Mode mode = Save);

    // True when every target holds its new content. False when nothing was
    // replaced (or, should a rename fail after the checks, only the files
    // before it): see LastFailure.
    bool Write(const Content &content);
    const Failure &LastFailure() const { return failure; }

private:
    struct Target
    {
        QString name; // the file name as the set names it
        QByteArray path; // where the content goes: a link's target, resolved
        QByteArray directory;
        bool exists = false;
        unsigned int mode = 0; // kept for an existing file, else what a new one gets
        unsigned int owner = 0;
        unsigned int group = 0;
        QByteArray temporary;
    };

    bool Check();
    bool WriteTemporary(Target &target, int index, const Content &content);
    bool Fail(const Target &target, const QString &reason);
    bool Fail(const Target &target, int error);
    void RemoveTemporaries();

    QStringList targetPaths;
    Mode mode;
    std::vector<Target> targets;
    Failure failure;
};
