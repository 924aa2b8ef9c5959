#include "table/trackmeasures.h"

#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

TrackMeasure MeasureTrack(unsigned int id, const PointMap &points)
{
    TrackMeasure measure;
    measure.id = id;
    if (points.empty())
        return measure;
    measure.first = static_cast<int>(points.begin()->first);
    measure.last = static_cast<int>(points.rbegin()->first);
    measure.points = static_cast<int>(points.size());
    measure.gaps = measure.last - measure.first + 1 - measure.points;
    double longest = -1.0;
    bool started = false;
    TrackPoint previous;
    for (const auto &[image, point] : points) {
        if (started) {
            const double step = std::hypot(static_cast<double>(point.x) - previous.x,
                                           static_cast<double>(point.y) - previous.y);
            if (step > longest) {
                longest = step;
                measure.jumpImage = static_cast<int>(image);
            }
        }
        previous = point;
        started = true;
    }
    measure.jump = static_cast<float>(longest);
    return measure;
}

namespace {

// Tracks per check of the cancel flag: a few microseconds of work.
const size_t kCancelStride = 256;

void MeasureRange(const std::vector<TrackToMeasure> &tracks, size_t begin, size_t end,
                  std::vector<TrackMeasure> &out, const std::atomic<bool> *cancel)
{
    for (size_t i = begin; i < end; ++i) {
        if (cancel && (i - begin) % kCancelStride == 0 && cancel->load())
            return;
        out[i] = MeasureTrack(tracks[i].first, *tracks[i].second);
    }
}

} // namespace

std::vector<TrackMeasure> MeasureTracks(const std::vector<TrackToMeasure> &tracks,
                                        const std::atomic<bool> *cancel)
{
    std::vector<TrackMeasure> out(tracks.size());
    const size_t parts = static_cast<size_t>(std::max(1, QThread::idealThreadCount()));
    const size_t per = (tracks.size() + parts - 1) / parts;
    // Each part writes its own range of out; this thread takes the first.
    std::vector<QFuture<void>> helpers;
    for (size_t part = 1; part < parts && part * per < tracks.size(); ++part) {
        const size_t begin = part * per;
        const size_t end = std::min(tracks.size(), begin + per);
        helpers.push_back(QtConcurrent::run([&tracks, &out, begin, end, cancel] {
            MeasureRange(tracks, begin, end, out, cancel);
        }));
    }
    MeasureRange(tracks, 0, std::min(per, tracks.size()), out, cancel);
    for (QFuture<void> &helper : helpers)
        helper.waitForFinished();
    return out;
}
