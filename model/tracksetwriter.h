#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <vector>

// Writes a set of files all or nothing: a save that fails, is cancelled or is
// interrupted leaves every old file as it was, and a file the user protected is
// never replaced (only a kill in the instant of the renames can leave a set
// part new, each file still complete).
//
// Every file is first written to a hidden temporary file beside its target
// (".name.txt.strandsight-PID-XXXXXX") and flushed to disk; only when all of
// them are complete are they renamed into place. The files they replace are
// kept under a second name (the temporary's name + ".old") until every rename
// has succeeded, and are put back if one fails. Before anything is written,
// every target is checked: one that is not a regular file, that the user may
// not write, or whose folder the user may not write refuses the whole set. An
// existing target keeps its permission bits (and its owner and group where the
// process may set them); a symbolic link is followed, so its target is
// replaced and the link stays.
//
// While it writes into a folder, a save holds a lock on the file
// ".strandsight-lock" there (an fcntl lock, which network file systems pass on
// to the server), so that two saves into one folder, from this process or
// another, on this machine or another, take turns. Temporary files left by a
// save that was killed carry its process id and are removed by the next save
// into that folder once that process is gone; no other file is ever removed.
class TrackSetWriter
{
public:
    // Why a set was not written: the file, as named in the set, and the
    // system's reason ("No space left on device"); or that the caller stopped
    // it; or that files of the set appeared that the caller did not know of.
    struct Failure
    {
        QString name;
        QString reason;
        bool cancelled = false;
        // Files of the set found in place, once no other save could write
        // there, that ExpectExisting did not name; nothing was written.
        QStringList appeared;
        // Files that hold their new content although the set failed: a
        // rename failed and these could not be put back. Empty in every other
        // case, where no file of the set was changed.
        QStringList stillNew;
    };

    // Writes the content of file index into file; false when a write failed
    // (errno then tells why).
    using Content = std::function<bool(FILE *file, int index)>;

    // What a write is doing, for a progress display: waiting for another save
    // into a folder to end, writing the temporary files, renaming them.
    enum class Stage { Waiting, Writing, Replacing };
    // Called while waiting (done 0, repeatedly) and after each file written
    // or before each file replaced (done files so far), on the thread that
    // writes. Returning false stops the write: nothing is replaced then, and
    // files already replaced are put back.
    using Progress = std::function<bool(Stage stage, int done)>;

    // Save: what a user saves, flushed to disk, the leftovers of killed saves
    // cleared from its folders. Scratch: data that can be made again (sample
    // sets, tests), neither waiting for the disk (a few milliseconds a file)
    // nor looking through the folder; replacing stays all or nothing.
    enum Mode { Save, Scratch };

    // targets: the paths of the set, in the order content is asked for.
    explicit TrackSetWriter(QStringList targets, Mode mode = Save);

    // Without a progress function a write gives up waiting for another save
    // into its folder after a few seconds; with one it waits until told to stop.
    void SetProgress(Progress progress);
    // The file names of the set the user agreed to replace: any other file of
    // the set that is in place once the folder is locked stops the write
    // before anything is written (Failure::appeared). Not called: any file
    // may be replaced.
    void ExpectExisting(QStringList names);

    // True when every target holds its new content. False when nothing was
    // replaced (or, should even putting files back fail, only the files in
    // Failure::stillNew): see LastFailure.
    bool Write(const Content &content);
    const Failure &LastFailure() const { return failure; }

    // The file names of those paths where something is in place: a file, a
    // folder, or a link, even one that leads nowhere.
    static QStringList ExistingNames(const QStringList &paths);

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
        QByteArray backup; // the replaced file, until the set is complete
        bool replaced = false;
    };

    bool Check();
    bool FindAppeared();
    bool WriteTemporary(Target &target, int index, const Content &content);
    bool KeepReplaced(Target &target);
    bool Replace();
    void PutBack();
    bool Fail(const Target &target, const QString &reason);
    bool Fail(const Target &target, int error);
    bool Cancelled();
    void RemoveTemporaries();

    QStringList targetPaths;
    Mode mode;
    Progress progress;
    bool expectGiven = false;
    QStringList expected;
    std::vector<Target> targets;
    Failure failure;
};
