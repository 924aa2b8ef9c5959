#include "stack/sliceloader.h"

#include "stack/helperpool.h"

#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

using ImageSequence::Decoded;
using ImageSequence::DisplayTable;
using ImageSequence::Failure;
using ImageSequence::SliceInfo;

// One slice for a helper to decode. The GUI thread may wait for it a moment;
// otherwise its end reaches the loader as a queued call through the mailbox.
struct SliceLoader::Job
{
    int slice = -1;
    bool rawOnly = false; // just its raw values, for the status bar
    bool keepRaw = false; // hand the raw values back with the display image
    // A slice that failed before is decoded again only if its file changed.
    bool retry = false;
    ImageSequence::FileStamp failedStamp;
    Failure failedWith = Failure::None;
    SliceInfo info;
    std::shared_ptr<const DisplayTable> table;
    QImage spare;
    QImage raw;
    std::atomic<bool> dropped { false };

    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool unchanged = false; // a retry that found the file as it was
    Decoded result;

    void Run()
    {
        Decoded decoded;
        bool same = false;
        try {
            if (dropped) {
                // Nothing left to do for a sequence that is gone.
            } else if (retry && failedWith != Failure::OutOfMemory
                       && ImageSequence::StampOf(info.path) == failedStamp) {
                decoded.failure = failedWith;
                decoded.stamp = failedStamp;
                same = true;
            } else if (rawOnly) {
                QImage values;
                decoded.failure = ImageSequence::DecodeSlice(info, values, &decoded.stamp);
                if (decoded.failure == Failure::None && ImageSequence::IsWide(values))
                    decoded.raw = std::move(values);
            } else if (keepRaw) {
                QImage buffer = std::move(raw);
                decoded = ImageSequence::DecodeDisplay(info, buffer, *table, std::move(spare));
                if (decoded.wide)
                    decoded.raw = std::move(buffer);
            } else {
                decoded = ImageSequence::DecodeOnHelper(info, *table, std::move(spare));
            }
        } catch (const std::bad_alloc &) {
            decoded = Decoded();
            decoded.failure = Failure::OutOfMemory;
        }
        std::lock_guard<std::mutex> lock(mutex);
        result = std::move(decoded);
        unchanged = same;
        done = true;
        finished.notify_all();
    }

    // True once done; waits at most ms (forever when negative).
    bool WaitFor(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (ms < 0) {
            finished.wait(lock, [this] { return done; });
            return true;
        }
        return finished.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done; });
    }
};

// How a helper reaches the loader: cleared when the loader goes, so that a
// helper finishing late posts to nobody.
struct SliceLoader::Mailbox
{
    std::mutex mutex;
    SliceLoader *loader = nullptr;
};

SliceLoader::SliceLoader(QObject *parent)
    : QObject(parent)
    , mailbox(std::make_shared<Mailbox>())
{
    mailbox->loader = this;
}

SliceLoader::~SliceLoader()
{
    {
        std::lock_guard<std::mutex> lock(mailbox->mutex);
        mailbox->loader = nullptr;
    }
    Cancel();
}

void SliceLoader::Cancel()
{
    // Slices being decoded cannot be stopped, but queued ones never start;
    // the results are dropped as they come, so nothing of this sequence
    // lands in the next one.
    for (const std::shared_ptr<Job> &job : jobs)
        job->dropped = true;
    jobs.clear();
    DropRawJob();
    rawValues = QImage();
    rawValuesSlice = -1;
    cache.Clear();
    passActive = false;
    waitingSlice = -1;
}

void SliceLoader::Stop() { Cancel(); }

void SliceLoader::Open(OpenedSequence sequence)
{
    Cancel();
    // The decoding limit is one for the whole process; slices of the old
    // sequence still being decoded finish under the new one.
    ImageSequence::LimitDecoding(sequence.slices, sequence.plan.available);
    decodedImages.clear();
    decodedNames.clear();
    slices = std::move(sequence.slices);
    notes = std::move(sequence.notes);
    table = sequence.table;
    helpers = std::max(1, sequence.plan.helpers);
    count = static_cast<int>(slices.size());
    flags.assign(static_cast<size_t>(count), 0);
    failures.assign(static_cast<size_t>(count), Failure::None);
    failedStamps.assign(static_cast<size_t>(count), {});
    expectedBytes.assign(static_cast<size_t>(count), 0);
    qint64 largest = 0;
    for (int i = 0; i < count; ++i) {
        const SliceInfo &info = slices[static_cast<size_t>(i)];
        expectedBytes[static_cast<size_t>(i)] = ImageSequence::DisplayBytes(info);
        largest = std::max(largest, expectedBytes[static_cast<size_t>(i)]);
        if (info.format == QImage::Format_Grayscale16)
            flags[static_cast<size_t>(i)] |= WideFlag;
        if (info.failure != Failure::None) {
            flags[static_cast<size_t>(i)] |= FailedFlag;
            failures[static_cast<size_t>(i)] = info.failure;
        }
    }
    // A slice of unknown size can be no larger than the largest one, or the
    // decoding limit refuses it.
    for (qint64 &bytes : expectedBytes) {
        if (bytes == 0)
            bytes = largest;
    }
    cache.Reset(count, sequence.plan.budget);
    passTotal = PassTotal();
    passActive = false;
    doneCount = 0;
    const Decoded &first = sequence.first;
    if (count > 0 && !Failed(0) && (!first.display.isNull() || first.failure != Failure::None)) {
        if (first.wide && !first.raw.isNull()) {
            rawValues = first.raw;
            rawValuesSlice = 0;
        }
        cache.Reserve(0, ExpectedBytes(0));
        Keep(0, first, false);
        doneCount = 1;
    }
    passActive = count > 0;
    if (passActive)
        emit Progress(std::min(doneCount, passTotal), passTotal);
}

void SliceLoader::OpenDecoded(std::vector<QImage> images, QStringList names)
{
    Cancel();
    slices.clear();
    notes.clear();
    decodedImages = std::move(images);
    decodedNames = std::move(names);
    count = static_cast<int>(decodedImages.size());
    flags.assign(static_cast<size_t>(count), 0);
    failures.assign(static_cast<size_t>(count), Failure::None);
    failedStamps.assign(static_cast<size_t>(count), {});
    expectedBytes.assign(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        const QImage &image = decodedImages[static_cast<size_t>(i)];
        if (image.isNull()) {
            flags[static_cast<size_t>(i)] |= FailedFlag | ReportedFlag;
            failures[static_cast<size_t>(i)] = Failure::Undecodable;
        }
        if (ImageSequence::IsWide(image))
            flags[static_cast<size_t>(i)] |= WideFlag;
    }
    cache.Reset(count, 0);
    table.reset();
}

int SliceLoader::PassTotal() const
{
    qint64 bytes = 0;
    int total = 0;
    cache.VisitInRankOrder([&](int slice) {
        if (Failed(slice))
            return true;
        bytes += expectedBytes[static_cast<size_t>(slice)];
        if (bytes > cache.Budget())
            return false;
        ++total;
        return true;
    });
    // The slice shown is decoded even when the budget holds none.
    return std::max(total, std::min(count, 1));
}

qint64 SliceLoader::ExpectedBytes(int slice) const
{
    return expectedBytes[static_cast<size_t>(slice)];
}

std::vector<unsigned int> SliceLoader::Finish()
{
    for (;;) {
        Schedule();
        if (jobs.empty())
            break;
        const std::shared_ptr<Job> job = jobs.front();
        job->WaitFor(-1);
        Complete(job);
    }
    const std::vector<unsigned int> failed = TakeFailures(true);
    Settle();
    return failed;
}

std::vector<unsigned int> SliceLoader::TakeFailures(bool all)
{
    std::vector<unsigned int> failed;
    for (int i = 0; i < count; ++i) {
        quint8 &flag = flags[static_cast<size_t>(i)];
        if ((flag & FailedFlag) && (all || !(flag & ReportedFlag))) {
            failed.push_back(static_cast<unsigned int>(i));
            flag |= ReportedFlag;
        }
    }
    return failed;
}

QString SliceLoader::Name(int slice) const
{
    if (slice < 0 || slice >= count)
        return {};
    if (slices.empty())
        return decodedNames.value(slice);
    return ImageSequence::SliceName(slices[static_cast<size_t>(slice)]);
}

QString SliceLoader::FailureText(int slice) const
{
    if (!Failed(slice))
        return {};
    const QString name = Name(slice);
    switch (failures[static_cast<size_t>(slice)]) {
    case Failure::NotRegularFile:
        return tr("%1 is not a regular file").arg(name);
    case Failure::Unopenable:
        return tr("%1 could not be opened").arg(name);
    case Failure::ChangedSize:
        return tr("%1 changed size after the images were opened").arg(name);
    case Failure::Unsupported:
        return tr("%1: %2").arg(
            name, slices.empty() ? QString() : slices[static_cast<size_t>(slice)].unsupported);
    case Failure::OutOfMemory:
        return tr("%1 could not be decoded: not enough memory").arg(name);
    case Failure::None:
    case Failure::Undecodable:
        break;
    }
    return tr("%1 could not be decoded").arg(name);
}

QSize SliceLoader::HeaderSize(int slice) const
{
    if (slice < 0 || slice >= count)
        return {};
    return slices.empty() ? decodedImages[static_cast<size_t>(slice)].size()
                          : slices[static_cast<size_t>(slice)].size;
}

QSize SliceLoader::SequenceSize() const
{
    for (int i = 0; i < count; ++i) {
        const QSize size = HeaderSize(i);
        if (size.isValid())
            return size;
    }
    return {};
}

std::shared_ptr<SliceLoader::Job> SliceLoader::RunningJob(int slice) const
{
    const auto running = std::find_if(jobs.begin(), jobs.end(),
                                      [slice](const auto &job) { return job->slice == slice; });
    return running == jobs.end() ? nullptr : *running;
}

QImage SliceLoader::Show(int slice)
{
    if (slice < 0 || slice >= count)
        return {};
    if (slices.empty())
        return decodedImages[static_cast<size_t>(slice)];

    cache.SetFocus(slice);
    if (waitingSlice != slice)
        waitingSlice = -1;
    QImage image = cache.Find(slice);
    if (image.isNull()) {
        std::shared_ptr<Job> job = RunningJob(slice);
        // A slice whose header already rules it out is not read again.
        if (!job && slices[static_cast<size_t>(slice)].failure == Failure::None)
            job = Start(slice, true);
        if (job) {
            // A decode takes a few tens of milliseconds: waiting that long
            // spares a flash of the plain background on every step, waiting
            // longer would freeze the window on a slow file.
            if (job->WaitFor(kShowWaitMs))
                image = Complete(job);
            else
                waitingSlice = slice;
        }
    }
    Schedule();
    if (jobs.empty())
        Settle();
    return image;
}

bool SliceLoader::Pending(int slice) const { return slice >= 0 && slice == waitingSlice; }

QImage SliceLoader::Held(int slice) const
{
    if (slice < 0 || slice >= count)
        return {};
    return slices.empty() ? decodedImages[static_cast<size_t>(slice)] : cache.Find(slice);
}

bool SliceLoader::Failed(int slice) const
{
    return slice >= 0 && slice < count && (flags[static_cast<size_t>(slice)] & FailedFlag);
}

bool SliceLoader::IsWide(int slice) const
{
    return slice >= 0 && slice < count && (flags[static_cast<size_t>(slice)] & WideFlag);
}

bool SliceLoader::SignedSamples(int slice) const
{
    return slice >= 0 && slice < count && !slices.empty()
        && slices[static_cast<size_t>(slice)].signedSamples;
}

QImage SliceLoader::RawValues(int slice)
{
    if (!IsWide(slice))
        return {};
    if (slices.empty())
        return decodedImages[static_cast<size_t>(slice)];
    if (slice == rawValuesSlice)
        return rawValues;
    if (rawJob && rawJob->slice == slice)
        return {};
    // Only the latest request matters: the cursor has moved on from the others.
    DropRawJob();
    rawJob = std::make_shared<Job>();
    rawJob->slice = slice;
    rawJob->rawOnly = true;
    rawJob->info = slices[static_cast<size_t>(slice)];
    RunJob(rawJob, &SliceLoader::RawDone, false);
    return {};
}

void SliceLoader::DropRawJob()
{
    if (!rawJob)
        return;
    rawJob->dropped = true; // a read still queued then never runs
    rawJob.reset();
}

void SliceLoader::RawDone(const std::shared_ptr<Job> &job)
{
    if (job != rawJob)
        return;
    const int slice = job->slice;
    rawValues = job->result.raw;
    rawValuesSlice = rawValues.isNull() ? -1 : slice;
    rawJob.reset();
    if (rawValuesSlice >= 0)
        emit RawValuesReady(slice);
}

qint64 SliceLoader::HeldBytes() const
{
    qint64 bytes = cache.Bytes() + rawValues.sizeInBytes();
    for (const QImage &image : decodedImages)
        bytes += image.sizeInBytes();
    return bytes;
}

QImage SliceLoader::SpareOf(int slice, std::vector<QImage> &evicted) const
{
    // An evicted image nobody else holds becomes the new slice's display
    // image: its memory is already mapped, a fresh one would fault page by page.
    for (QImage &image : evicted) {
        if (image.sizeInBytes() == ExpectedBytes(slice) && image.isDetached())
            return std::move(image);
    }
    return {};
}

void SliceLoader::Schedule()
{
    while (static_cast<int>(jobs.size()) < helpers) {
        int next = -1;
        cache.VisitInRankOrder([&](int slice) {
            if (Failed(slice) || cache.Holds(slice) || cache.Reserved(slice))
                return true;
            next = slice;
            return false;
        });
        // When the best slice not held does not fit, every slice held ranks
        // before it: the cache holds what it should.
        if (next < 0 || !cache.Reserve(next, ExpectedBytes(next)))
            return;
        Start(next, false);
    }
}

std::shared_ptr<SliceLoader::Job> SliceLoader::Start(int slice, bool urgent)
{
    auto job = std::make_shared<Job>();
    job->slice = slice;
    job->info = slices[static_cast<size_t>(slice)];
    job->table = table;
    if (Failed(slice)) {
        job->retry = true;
        job->failedStamp = failedStamps[static_cast<size_t>(slice)];
        job->failedWith = failures[static_cast<size_t>(slice)];
    }
    std::vector<QImage> evicted;
    if (urgent && !cache.Reserved(slice))
        cache.Reserve(slice, ExpectedBytes(slice), &evicted);
    job->spare = SpareOf(slice, evicted);
    if (urgent) {
        // Decoded into the raw buffer the pixel values are read from: this is
        // the slice the user looks at.
        job->keepRaw = true;
        if (!rawJob || rawJob->slice != slice)
            DropRawJob();
        job->raw = std::exchange(rawValues, QImage());
        rawValuesSlice = -1;
    }
    jobs.push_back(job);
    RunJob(job, &SliceLoader::JobDone, urgent);
    return job;
}

// Runs job on a helper; done is called on the GUI thread when it has run, as
// long as this loader lives. When no helper can be started, the job runs here
// rather than never.
void SliceLoader::RunJob(const std::shared_ptr<Job> &job,
                         void (SliceLoader::*done)(const std::shared_ptr<Job> &), bool urgent)
{
    const std::shared_ptr<Mailbox> box = mailbox;
    const auto run = [job, box, done] {
        job->Run();
        std::lock_guard<std::mutex> lock(box->mutex);
        if (SliceLoader *loader = box->loader)
            QMetaObject::invokeMethod(
                loader, [loader, job, done] { (loader->*done)(job); }, Qt::QueuedConnection);
    };
    if (!ImageSequence::Helpers().Run(run, urgent))
        run();
}

void SliceLoader::JobDone(const std::shared_ptr<Job> &job)
{
    if (std::find(jobs.begin(), jobs.end(), job) == jobs.end())
        return; // taken by Show already, or of a sequence that is gone
    Complete(job);
    Schedule();
    if (jobs.empty())
        Settle();
}

QImage SliceLoader::Complete(const std::shared_ptr<Job> &job)
{
    const auto it = std::find(jobs.begin(), jobs.end(), job);
    if (it == jobs.end())
        return {};
    jobs.erase(it);
    const int slice = job->slice;
    bool unchanged = false;
    Decoded decoded;
    {
        std::lock_guard<std::mutex> lock(job->mutex);
        decoded = std::move(job->result);
        unchanged = job->unchanged;
    }
    if (job->keepRaw && !decoded.raw.isNull()) {
        rawValues = std::move(decoded.raw);
        rawValuesSlice = slice;
    }
    if (unchanged)
        cache.Unreserve(slice);
    else
        Keep(slice, decoded, job->retry);
    if (slice == waitingSlice) {
        waitingSlice = -1;
        emit SliceArrived(slice, decoded.display);
    }
    return decoded.display;
}

void SliceLoader::Keep(int slice, const Decoded &decoded, bool retried)
{
    quint8 &flag = flags[static_cast<size_t>(slice)];
    if (decoded.display.isNull()) {
        cache.Unreserve(slice);
        flag |= FailedFlag;
        flag &= ~ReportedFlag;
        failures[static_cast<size_t>(slice)]
            = decoded.failure == Failure::None ? Failure::Undecodable : decoded.failure;
        failedStamps[static_cast<size_t>(slice)] = decoded.stamp;
        emit SliceFailed(slice);
    } else {
        flag &= ~(FailedFlag | ReportedFlag);
        failures[static_cast<size_t>(slice)] = Failure::None;
        if (decoded.wide)
            flag |= WideFlag;
        // A slice that does not fit even now is not decoded again and again:
        // its true size makes the next reservation fail.
        expectedBytes[static_cast<size_t>(slice)] = decoded.display.sizeInBytes();
        if (cache.Insert(slice, decoded.display))
            emit SliceHeld(slice);
    }
    if (passActive && !retried) {
        doneCount = std::min(doneCount + 1, passTotal);
        emit Progress(doneCount, passTotal);
    }
}

void SliceLoader::Settle()
{
    if (!passActive)
        return;
    passActive = false;
    emit PassEnded(TakeFailures(false));
}
