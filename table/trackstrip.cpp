#include "table/trackstrip.h"

#include "stack/sliceloader.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {

const int kGap = 6;
const int kMargin = 4;
const qreal kRingRadius = 9.0;
const QColor kFrameColour(255, 160, 0);

} // namespace

TrackStrip::TrackStrip(SliceLoader *images, QWidget *parent)
    : QWidget(parent)
    , images(images)
{
    setObjectName(QStringLiteral("trackStrip"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAutoFillBackground(true);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor(24, 24, 24));
    dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
    setPalette(dark);
    connect(images, &SliceLoader::SliceHeld, this, &TrackStrip::SliceArrived);
}

void TrackStrip::SetTrack(PointsLookup points)
{
    lookup = std::move(points);
    update();
}

void TrackStrip::SetCurrentImage(int image)
{
    currentImage = image;
    update();
}

int TrackStrip::LabelHeight() const { return fontMetrics().height() + 4; }

QSize TrackStrip::sizeHint() const
{
    return QSize(2 * kMargin + kMinCrops * (kCellSide + kGap) - kGap,
                 2 * kMargin + kCellSide + LabelHeight());
}

QSize TrackStrip::minimumSizeHint() const { return sizeHint(); }

int TrackStrip::CropCount() const
{
    int count = std::max(kMinCrops, (width() - 2 * kMargin + kGap) / (kCellSide + kGap));
    // An odd count puts the current image in the middle.
    if (count % 2 == 0)
        --count;
    return count;
}

int TrackStrip::FirstImage() const
{
    const int total = images->Count();
    if (total == 0 || currentImage < 0)
        return -1;
    // Near either end of the sequence the row stays full and the current
    // image moves off the middle.
    const int count = CropCount();
    return std::clamp(currentImage - count / 2, 0, std::max(0, total - count));
}

int TrackStrip::LastImage() const
{
    const int first = FirstImage();
    return first < 0 ? -1 : std::min(images->Count(), first + CropCount()) - 1;
}

QRect TrackStrip::CropRect(int image) const
{
    const int first = FirstImage();
    if (first < 0 || image < first || image > LastImage())
        return {};
    // The row is centred in the strip.
    const int shown = LastImage() - first + 1;
    const int rowWidth = shown * (kCellSide + kGap) - kGap;
    const int left = std::max(kMargin, (width() - rowWidth) / 2);
    return QRect(left + (image - first) * (kCellSide + kGap), kMargin, kCellSide, kCellSide);
}

void TrackStrip::SliceArrived(int slice)
{
    if (slice >= FirstImage() && slice <= LastImage())
        update();
}

void TrackStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const PointMap *points = lookup ? lookup() : nullptr;
    if (!points || points->empty() || FirstImage() < 0) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter,
                         tr("No current track: press N, or choose one in the Track Table "
                            "(Ctrl+T)."));
        return;
    }
    for (int image = FirstImage(); image <= LastImage(); ++image)
        PaintCrop(painter, image, *points);
}

void TrackStrip::PaintCrop(QPainter &painter, int image, const PointMap &points)
{
    const QRect cell = CropRect(image);
    // The point on this image, else the last one before it, else the first.
    const auto at = points.find(static_cast<unsigned int>(image));
    const bool own = at != points.end();
    TrackPoint point;
    if (own) {
        point = at->second;
    } else {
        const auto after = points.upper_bound(static_cast<unsigned int>(image));
        point = after != points.begin() ? std::prev(after)->second : after->second;
    }
    // Whole image pixels, so that each is drawn as the same block of screen pixels.
    const QPoint origin(static_cast<int>(std::lround(point.x)) - kCropPixels / 2,
                        static_cast<int>(std::lround(point.y)) - kCropPixels / 2);
    const QImage slice = images->Held(image);
    if (slice.isNull()) {
        // Not decoded yet (or undecodable): it fills in when it arrives.
        painter.fillRect(cell, QColor(48, 48, 48));
        painter.setPen(QColor(150, 150, 150));
        painter.drawText(cell, Qt::AlignCenter,
                         images->Failed(image) ? tr("no image") : QStringLiteral("..."));
    } else {
        // A small copy (padded black beyond the slice's edges) is scaled,
        // never the whole slice.
        const QImage crop = slice.copy(QRect(origin, QSize(kCropPixels, kCropPixels)))
                                .convertToFormat(QImage::Format_RGB32);
        painter.drawImage(cell, crop);
    }
    const qreal scale = qreal(kCellSide) / kCropPixels;
    const QPointF centre
        = QPointF(cell.topLeft()) + QPointF(point.x - origin.x(), point.y - origin.y()) * scale;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(cell);
    if (own) {
        painter.setPen(QPen(Qt::black, 3.0));
        painter.drawEllipse(centre, kRingRadius, kRingRadius);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.drawEllipse(centre, kRingRadius, kRingRadius);
    } else {
        painter.fillRect(cell, QColor(128, 128, 128, 150));
        painter.setPen(QPen(Qt::white, 1.0, Qt::DashLine));
        painter.drawEllipse(centre, kRingRadius, kRingRadius);
    }
    painter.restore();
    if (image == currentImage) {
        painter.setPen(QPen(kFrameColour, 3.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(cell).adjusted(-1.5, -1.5, 1.5, 1.5));
    }
    QFont font = painter.font();
    font.setBold(image == currentImage);
    painter.setFont(font);
    painter.setPen(image == currentImage ? kFrameColour : palette().color(QPalette::WindowText));
    painter.drawText(QRect(cell.left(), cell.bottom() + 1, cell.width(), LabelHeight()),
                     Qt::AlignCenter, QString::number(image + 1));
}

void TrackStrip::mousePressEvent(QMouseEvent *event)
{
    for (int image = FirstImage(); image >= 0 && image <= LastImage(); ++image) {
        if (CropRect(image)
                .adjusted(0, 0, 0, LabelHeight())
                .contains(event->position().toPoint())) {
            emit ImageClicked(image);
            return;
        }
    }
    QWidget::mousePressEvent(event);
}
