#pragma once

#include "stack/imagesequence.h"
#include "stack/sequenceopening.h"
#include "stack/slicecache.h"

#include <QImage>
#include <QObject>
#include <QStringList>
#include <memory>
#include <vector>

// The image sequence being shown: which slices there are, their display
// images held in a SliceCache, and the decoding behind the window. Slices are
// decoded on helper threads, nearest the current slice first; everything the
// windows see (the cache, the failures, the signals) changes on the GUI thread
// only. The GUI thread never waits for a helper longer than a moment: a slice
// that takes longer (a slow or stalled file system) arrives later, with
// SliceArrived.
class SliceLoader : public QObject
{
    Q_OBJECT

public:
    // How long Show waits for a slice before it lets the window go on without it.
    static constexpr int kShowWaitMs = 250;

    explicit SliceLoader(QObject *parent = nullptr);
    ~SliceLoader() override;

    // Drops the sequence shown: what is queued for it never starts, and the
    // results of slices the helpers are still decoding are dropped when they
    // come. Nobody waits for those helpers.
    void Stop();
    // Replaces the sequence by an opened one; its first slice is held at once
    // and the pass that decodes the others behind the window starts with the
    // first Show.
    void Open(OpenedSequence sequence);
    // Replaces the sequence by images already decoded (null where a slice
    // failed), held as given and never evicted; names as Name gives them.
    void OpenDecoded(std::vector<QImage> images, QStringList names);
    // For tests and tools: waits for what the pass has left to do (blocking,
    // however long the files take) and returns every slice that could not be
    // decoded (no PassEnded reports them).
    std::vector<unsigned int> Finish();

    int Count() const { return count; }
    // The file name, with the page for a page of a multi-page file.
    QString Name(int slice) const;
    // The size its header gives (or its image has, for a decoded sequence).
    QSize HeaderSize(int slice) const;
    // The first size any header gives: the sequence's size.
    QSize SequenceSize() const;
    // What the user should know about the files of the sequence.
    QStringList Notes() const { return notes; }

    // The display image of slice if it is held or decoded within kShowWaitMs;
    // slice becomes the one the cache keeps its slices around. Otherwise null:
    // either the slice failed (Failed) or it is still coming (Pending), and
    // SliceArrived follows. Showing a failed slice tries it again if its file
    // has changed. An index outside the sequence gives a null image.
    QImage Show(int slice);
    bool Pending(int slice) const;
    // The display image if it is held; never decodes.
    QImage Held(int slice) const;
    bool Failed(int slice) const;
    // "slice040.tif could not be decoded"; empty for a slice that did not fail.
    QString FailureText(int slice) const;
    // The raw 16-bit values of slice when they are at hand, else a null image:
    // a 16-bit slice's values are then decoded behind the window and
    // RawValuesReady follows. Null too for a slice that is not 16-bit.
    QImage RawValues(int slice);
    bool IsWide(int slice) const;
    // The samples of slice are signed: a raw value v means v - 32768 (v - 128
    // for 8-bit samples).
    bool SignedSamples(int slice) const;

    // Memory taken by the display images and the raw values held.
    qint64 HeldBytes() const;
    const SliceCache &Cache() const { return cache; }
    // True while the pass after Open has slices left to decode.
    bool Loading() const { return passActive; }

signals:
    // During the pass after Open: done of total slices decoded (or found
    // undecodable). total is the number of slices the budget holds.
    void Progress(int done, int total);
    // The pass after Open has ended; failed holds every slice found
    // undecodable in it. Emitted once per sequence opened.
    void PassEnded(const std::vector<unsigned int> &failed);
    // A slice was found undecodable (during the pass or later).
    void SliceFailed(int slice);
    // A slice that Show could not wait for arrived (display null: it failed).
    void SliceArrived(int slice, const QImage &display);
    void RawValuesReady(int slice);
    // The display image of slice is held now (decoded behind the window or on
    // the spot): views of other slices than the current one can fill in.
    void SliceHeld(int slice);

private:
    struct Job;
    struct Mailbox;
    enum Flag : quint8 { FailedFlag = 1, WideFlag = 2, ReportedFlag = 4 };

    void Cancel();
    void Schedule();
    std::shared_ptr<Job> Start(int slice, bool urgent);
    std::shared_ptr<Job> RunningJob(int slice) const;
    void JobDone(const std::shared_ptr<Job> &job);
    // Takes the finished job out of the running ones and keeps its result;
    // returns the display image.
    QImage Complete(const std::shared_ptr<Job> &job);
    // Records a decoded slice (failed when display is null) and holds it.
    void Keep(int slice, const ImageSequence::Decoded &decoded, bool retried);
    void RawDone(const std::shared_ptr<Job> &job);
    void RunJob(const std::shared_ptr<Job> &job,
                void (SliceLoader::*done)(const std::shared_ptr<Job> &), bool urgent);
    void Settle();
    // The slices that failed (with all, also those reported before), marked
    // reported.
    std::vector<unsigned int> TakeFailures(bool all);
    // Lets go of the pending read of raw values; a read still queued is not run.
    void DropRawJob();
    qint64 ExpectedBytes(int slice) const;
    QImage SpareOf(int slice, std::vector<QImage> &evicted) const;
    // Slices the pass after Open decodes: as many as the budget holds.
    int PassTotal() const;

    std::shared_ptr<Mailbox> mailbox;
    int count = 0;
    int helpers = 1;
    std::vector<ImageSequence::SliceInfo> slices;
    std::vector<QImage> decodedImages; // a sequence given decoded
    QStringList decodedNames;
    QStringList notes;
    std::vector<quint8> flags;
    std::vector<ImageSequence::Failure> failures;
    std::vector<ImageSequence::FileStamp> failedStamps;
    std::vector<qint64> expectedBytes; // display bytes, from the header until decoded
    std::shared_ptr<const ImageSequence::DisplayTable> table;
    SliceCache cache;
    std::vector<std::shared_ptr<Job>> jobs;
    int waitingSlice = -1; // shown, still coming

    // The raw values of one 16-bit slice, for the pixel values the window shows.
    QImage rawValues;
    int rawValuesSlice = -1;
    std::shared_ptr<Job> rawJob;

    bool passActive = false;
    int passTotal = 0;
    int doneCount = 0;
};
