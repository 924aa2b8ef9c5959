#include "stack/sliceloader.h"

#include <QFileInfo>
#include <QtConcurrent>
#include <algorithm>

using ImageSequence::Decoded;
using ImageSequence::DisplayTable;
using ImageSequence::SliceInfo;

namespace {

// What a helper runs: everything it uses is its own copy.
Decoded DecodeJob(SliceInfo slice, std::shared_ptr<const DisplayTable> table, QImage spare)
{
    return ImageSequence::DecodeOnHelper(slice, *table, std::move(spare));
}

QImage DecodeRawJob(SliceInfo slice)
{
    QImage raw;
    if (!ImageSequence::DecodeSlice(slice, raw) || !ImageSequence::IsWide(raw))
        return {};
    return raw;
}

} // namespace

SliceLoader::SliceLoader(QObject *parent)
    : QObject(parent)
{
}

SliceLoader::~SliceLoader() { Cancel(); }

void SliceLoader::Cancel()
{
    // Slices being decoded cannot be stopped, but queued ones never start;
    // the results are dropped with their watchers, so nothing of this
    // sequence lands in the next one.
    for (Job &job : jobs) {
        job.watcher->cancel();
        job.watcher->disconnect(this);
        delete job.watcher;
    }
    jobs.clear();
    DropRawJob();
    rawValues = QImage();
    rawValuesSlice = -1;
    cache.Clear();
    passActive = false;
}

void SliceLoader::Stop()
{
    Cancel();
    ImageSequence::Helpers()->waitForDone();
}

void SliceLoader::Open(std::vector<SliceInfo> newSlices, qint64 budget)
{
    Cancel();
    decodedImages.clear();
    decodedNames.clear();
    slices = std::move(newSlices);
    count = static_cast<int>(slices.size());
    flags.assign(static_cast<size_t>(count), 0);
    expectedBytes.assign(static_cast<size_t>(count), 0);
    qint64 largest = 0;
    for (int i = 0; i < count; ++i) {
        expectedBytes[static_cast<size_t>(i)] = ImageSequence::DisplayBytes(slices[size_t(i)]);
        largest = std::max(largest, expectedBytes[static_cast<size_t>(i)]);
    }
    // A slice of unknown size can be no larger than the largest one, or the
    // decoding limit refuses it.
    for (qint64 &bytes : expectedBytes) {
        if (bytes == 0)
            bytes = largest;
    }
    cache.Reset(count, budget);
    table = ImageSequence::SampleDisplayTable(slices, ImageSequence::ContrastSample(slices));
    passTotal = PassTotal();
    doneCount = 0;
    passActive = count > 0;
    if (passActive)
        emit Progress(0, passTotal);
}

void SliceLoader::OpenDecoded(std::vector<QImage> images, QStringList names)
{
    Cancel();
    slices.clear();
    decodedImages = std::move(images);
    decodedNames = std::move(names);
    count = static_cast<int>(decodedImages.size());
    flags.assign(static_cast<size_t>(count), 0);
    expectedBytes.assign(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        const QImage &image = decodedImages[static_cast<size_t>(i)];
        if (image.isNull())
            flags[static_cast<size_t>(i)] |= FailedFlag | ReportedFlag;
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
        jobs.front().watcher->waitForFinished();
        Complete(0);
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
    const SliceInfo &info = slices[static_cast<size_t>(slice)];
    const QString name = QFileInfo(info.path).fileName();
    if (info.pages <= 1)
        return name;
    return tr("%1, page %2 of %3").arg(name).arg(info.page + 1).arg(info.pages);
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

QImage SliceLoader::Show(int slice)
{
    if (slice < 0 || slice >= count)
        return {};
    if (slices.empty())
        return decodedImages[static_cast<size_t>(slice)];

    cache.SetFocus(slice);
    QImage image = cache.Find(slice);
    if (image.isNull() && !Failed(slice)) {
        const auto running = std::find_if(jobs.begin(), jobs.end(),
                                          [slice](const Job &job) { return job.slice == slice; });
        if (running != jobs.end()) {
            running->watcher->waitForFinished();
            image = Complete(static_cast<size_t>(running - jobs.begin()));
        } else {
            // Decoded here, into the raw buffer the pixel values are read from:
            // this is the slice the user looks at.
            std::vector<QImage> evicted;
            cache.Reserve(slice, ExpectedBytes(slice), &evicted);
            const Decoded decoded = ImageSequence::DecodeDisplay(
                slices[static_cast<size_t>(slice)], rawValues, *table, SpareOf(slice, evicted));
            rawValuesSlice = decoded.wide ? slice : -1;
            Keep(slice, decoded);
            image = decoded.display;
        }
    }
    Schedule();
    if (jobs.empty())
        Settle();
    return image;
}

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

QImage SliceLoader::RawValues(int slice)
{
    if (!IsWide(slice))
        return {};
    if (slices.empty())
        return decodedImages[static_cast<size_t>(slice)];
    if (slice == rawValuesSlice)
        return rawValues;
    if (rawJob && rawJobSlice == slice)
        return {};
    // Only the latest request matters: the cursor has moved on from the others.
    DropRawJob();
    rawJob = new QFutureWatcher<QImage>(this);
    rawJobSlice = slice;
    connect(rawJob, &QFutureWatcherBase::finished, this, &SliceLoader::RawDone);
    rawJob->setFuture(QtConcurrent::run(ImageSequence::Helpers(), DecodeRawJob,
                                        slices[static_cast<size_t>(slice)]));
    return {};
}

void SliceLoader::DropRawJob()
{
    if (!rawJob)
        return;
    rawJob->cancel(); // a decode still queued then never runs
    rawJob->disconnect(this);
    rawJob->deleteLater();
    rawJob = nullptr;
    rawJobSlice = -1;
}

void SliceLoader::RawDone()
{
    const int slice = rawJobSlice;
    rawValues = rawJob->result();
    rawValuesSlice = rawValues.isNull() ? -1 : slice;
    rawJob->deleteLater();
    rawJob = nullptr;
    rawJobSlice = -1;
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
    while (static_cast<int>(jobs.size()) < ImageSequence::HelperThreads()) {
        int next = -1;
        cache.VisitInRankOrder([&](int slice) {
            if (Failed(slice) || cache.Holds(slice) || cache.Reserved(slice))
                return true;
            next = slice;
            return false;
        });
        std::vector<QImage> evicted;
        // When the best slice not held does not fit, every slice held ranks
        // before it: the cache holds what it should.
        if (next < 0 || !cache.Reserve(next, ExpectedBytes(next), &evicted))
            return;
        Start(next, SpareOf(next, evicted));
    }
}

void SliceLoader::Start(int slice, QImage spare)
{
    auto *watcher = new QFutureWatcher<Decoded>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] { JobDone(watcher); });
    watcher->setFuture(QtConcurrent::run(ImageSequence::Helpers(), DecodeJob,
                                         slices[static_cast<size_t>(slice)], table,
                                         std::move(spare)));
    jobs.push_back({ slice, watcher });
}

void SliceLoader::JobDone(QFutureWatcher<Decoded> *watcher)
{
    const auto job = std::find_if(jobs.begin(), jobs.end(), [watcher](const Job &candidate) {
        return candidate.watcher == watcher;
    });
    if (job == jobs.end())
        return;
    Complete(static_cast<size_t>(job - jobs.begin()));
    Schedule();
    if (jobs.empty())
        Settle();
}

QImage SliceLoader::Complete(size_t index)
{
    const Job job = jobs[index];
    jobs.erase(jobs.begin() + static_cast<std::ptrdiff_t>(index));
    const Decoded decoded = job.watcher->result();
    // Possibly inside its own finished signal: deleted once that returns.
    job.watcher->disconnect(this);
    job.watcher->deleteLater();
    Keep(job.slice, decoded);
    return decoded.display;
}

void SliceLoader::Keep(int slice, const Decoded &decoded)
{
    quint8 &flag = flags[static_cast<size_t>(slice)];
    if (decoded.display.isNull()) {
        cache.Unreserve(slice);
        flag |= FailedFlag;
    } else {
        if (decoded.wide)
            flag |= WideFlag;
        // A slice that does not fit even now is not decoded again and again:
        // its true size makes the next reservation fail.
        expectedBytes[static_cast<size_t>(slice)] = decoded.display.sizeInBytes();
        if (cache.Insert(slice, decoded.display))
            emit SliceHeld(slice);
    }
    if (passActive) {
        doneCount = std::min(doneCount + 1, passTotal);
        emit Progress(doneCount, passTotal);
    }
}

void SliceLoader::Settle()
{
    const std::vector<unsigned int> failed = TakeFailures(false);
    const bool passEnded = passActive;
    passActive = false;
    if (passEnded || !failed.empty())
        emit Settled(failed);
}
