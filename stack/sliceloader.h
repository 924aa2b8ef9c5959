#pragma once

#include "stack/imagesequence.h"
#include "stack/slicecache.h"

#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <memory>
#include <vector>

// The image sequence of the scene: which slices there are, their display
// images held in a SliceCache, and the decoding behind the window. Slices are
// decoded on helper threads, nearest the current slice first; everything the
// scene sees (the cache, the failures, the signals) changes on the GUI thread
// only. A slice asked for that is not held is decoded on the spot, so the
// scene always gets the image of the slice it shows.
class SliceLoader : public QObject
{
    Q_OBJECT

public:
    explicit SliceLoader(QObject *parent = nullptr);
    ~SliceLoader() override;

    // Stops decoding the sequence shown and waits for the slices the helpers
    // are still working on, whose results are dropped: afterwards no helper
    // reads a file of it, and its memory is given back.
    void Stop();
    // Replaces the sequence by slices, with budget bytes for display images.
    // Decodes a sample of the 16-bit slices at once to fix the contrast window,
    // then returns; the background pass starts with the first Show.
    void Open(std::vector<ImageSequence::SliceInfo> slices, qint64 budget);
    // Replaces the sequence by images already decoded (null where a slice
    // failed), held as given and never evicted; names as Name gives them.
    void OpenDecoded(std::vector<QImage> images, QStringList names);
    // Runs what the background pass has left to do before returning, and
    // returns every slice that could not be decoded (no Settled reports them).
    std::vector<unsigned int> Finish();

    int Count() const { return count; }
    // The file name, with the page for a page of a multi-page file.
    QString Name(int slice) const;
    // The size its header gives (or its image has, for a decoded sequence).
    QSize HeaderSize(int slice) const;
    // The first size any header gives: the sequence's size.
    QSize SequenceSize() const;

    // The display image of slice, decoded now if it is not held (null if it
    // cannot be decoded); slice becomes the one the cache keeps its slices
    // around. An index outside the sequence gives a null image.
    QImage Show(int slice);
    // The display image if it is held; never decodes.
    QImage Held(int slice) const;
    bool Failed(int slice) const;
    // The raw 16-bit values of slice when they are at hand, else a null image:
    // a 16-bit slice's values are then decoded behind the window and
    // RawValuesReady follows. Null too for a slice that is not 16-bit.
    QImage RawValues(int slice);
    bool IsWide(int slice) const;

    // Memory taken by the display images and the raw values held.
    qint64 HeldBytes() const;
    const SliceCache &Cache() const { return cache; }
    // True while the pass after Open has slices left to decode.
    bool Loading() const { return passActive; }

signals:
    // During the pass after Open: done of total slices decoded (or found
    // undecodable). total is the number of slices the budget holds.
    void Progress(int done, int total);
    // The decoding has come to rest; failed holds the slices found undecodable
    // since the last report (first of all at the end of the pass after Open).
    void Settled(const std::vector<unsigned int> &failed);
    void RawValuesReady(int slice);
    // The display image of slice is held now (decoded behind the window or on
    // the spot): views of other slices than the current one can fill in.
    void SliceHeld(int slice);

private:
    enum Flag : quint8 { FailedFlag = 1, WideFlag = 2, ReportedFlag = 4 };
    struct Job
    {
        int slice = -1;
        QFutureWatcher<ImageSequence::Decoded> *watcher = nullptr;
    };

    void Cancel();
    void Schedule();
    void Start(int slice, QImage spare);
    void JobDone(QFutureWatcher<ImageSequence::Decoded> *watcher);
    // Takes the finished job at index out of the running ones and keeps its
    // result; returns the display image.
    QImage Complete(size_t index);
    // Records a decoded slice (failed when display is null) and holds it.
    void Keep(int slice, const ImageSequence::Decoded &decoded);
    void RawDone();
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

    int count = 0;
    std::vector<ImageSequence::SliceInfo> slices;
    std::vector<QImage> decodedImages; // a sequence given decoded
    QStringList decodedNames;
    std::vector<quint8> flags;
    std::vector<qint64> expectedBytes; // display bytes, from the header until decoded
    std::shared_ptr<const ImageSequence::DisplayTable> table;
    SliceCache cache;
    std::vector<Job> jobs;

    // The raw values of one 16-bit slice, for the pixel values the window shows.
    QImage rawValues;
    int rawValuesSlice = -1;
    QFutureWatcher<QImage> *rawJob = nullptr;
    int rawJobSlice = -1;

    bool passActive = false;
    int passTotal = 0;
    int doneCount = 0;
};
