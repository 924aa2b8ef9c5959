#pragma once

#include "model/tracktypes.h"

#include <QWidget>
#include <functional>

class SliceLoader;

// A row of crops of the images around the current one, each centred on the
// current track's point on its image, so that a track that jumps to another
// fibre shows at a glance. Each crop is 64 x 64 image pixels drawn at 96 x 96,
// the track's point ringed, the current image framed, the image number under
// it; on an image where the track has no point the crop is taken at its last
// known point (the first one before the track starts) and greyed. As many
// crops as fit the width are shown, at least 9. Crops come from the slices
// the loader holds; a slice not held yet fills in when it arrives. A click on
// a crop asks for its image.
class TrackStrip : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kCropPixels = 64;
    static constexpr int kCellSide = 96;
    static constexpr int kMinCrops = 9;

    // The points of the track to follow, looked up afresh at every paint
    // (the registry may change between two); null for no track.
    using PointsLookup = std::function<const PointMap *()>;

    TrackStrip(SliceLoader *images, QWidget *parent = nullptr);

    void SetTrack(PointsLookup points);
    void SetCurrentImage(int image);

    int CropCount() const;
    // The images shown: from FirstImage to LastImage (-1 without images).
    int FirstImage() const;
    int LastImage() const;
    // Where the crop of image is drawn, in the strip's coordinates (empty if
    // it is not shown).
    QRect CropRect(int image) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void ImageClicked(int image);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void SliceArrived(int slice);
    void PaintCrop(QPainter &painter, int image, const PointMap &points);
    int LabelHeight() const;

    SliceLoader *images;
    PointsLookup lookup;
    int currentImage = -1;
};
