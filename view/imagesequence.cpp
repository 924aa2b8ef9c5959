#include "view/imagesequence.h"

#include <QImageReader>
#include <limits>

namespace ImageSequence {

void AllowLargeImages()
{
    // The reader counts at least 4 bytes a pixel, so 8 GiB by its count lets a
    // 2 GiB 16-bit slice through. QT_IMAGEIO_MAXALLOC still overrides it.
    static const bool done = [] {
        QImageReader::setAllocationLimit(8192);
        return true;
    }();
    Q_UNUSED(done);
}

bool Decode(const QStringList &files, std::vector<QImage> &images,
            std::vector<unsigned int> &failed, const Progress &progress)
{
    AllowLargeImages();
    images.clear();
    images.reserve(files.size());
    const int total = files.size();
    for (int i = 0; i < total; ++i) {
        images.emplace_back(files[i]);
        if (images.back().isNull())
            failed.push_back(static_cast<unsigned int>(i));
        if (progress && !progress(i + 1, total))
            return false;
    }
    return true;
}

qint64 EstimateBytes(const QStringList &)
{
    return 0;
}

namespace {
qint64 availableOverride = -1;
}

qint64 AvailableBytes()
{
    if (availableOverride >= 0)
        return availableOverride;
    return std::numeric_limits<qint64>::max();
}

void SetAvailableBytesOverride(qint64 bytes)
{
    availableOverride = bytes;
}

} // namespace ImageSequence
