#include "view/trackscene.h"

#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "stack/sliceloader.h"
#include "tasks/taskcontrol.h"
#include "view/markerlayer.h"

#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <memory>

TrackScene::TrackScene(QObject *parent)
    : QGraphicsScene(parent)
    , images(new SliceLoader(this))
    , pi(4.0 * std::atan(1.0))
    , backgroundColor(QStringLiteral("white"))
    , star(ErrorFiber::StarOutline(pi))
    , markerLayer(std::make_unique<MarkerLayer>())
{
    // Every marker moves on every image step: a spatial index would be torn down
    // and rebuilt for each of them, so the scene keeps none.
    setItemIndexMethod(QGraphicsScene::NoIndex);
    connect(this, &QGraphicsScene::selectionChanged, this, &TrackScene::RepaintMarkers);
    connect(images, &SliceLoader::RawValuesReady, this, &TrackScene::PixelValuesReady);
    connect(images, &SliceLoader::Progress, this, &TrackScene::ImagesLoading);
    connect(images, &SliceLoader::PassEnded, this, &TrackScene::ImagesLoaded);
    connect(images, &SliceLoader::SliceFailed, this, &TrackScene::ImageFailed);
    connect(images, &SliceLoader::SliceArrived, this, &TrackScene::TakeArrivedImage);
}

TrackScene::~TrackScene()
{
    // The toolkit's scene deselects its items as it deletes them, after this
    // part of the scene is gone.
    disconnect(this, &QGraphicsScene::selectionChanged, this, &TrackScene::RepaintMarkers);
}

void TrackScene::LoadImages(const QStringList &files, std::vector<unsigned int> &failed)
{
    SequenceOpening opening(files);
    opening.SetReleasableBytes(images->HeldBytes());
    TaskControl control;
    opening.ReadHeaders(control);
    opening.Prepare(control);
    if (opening.Refused()) {
        qWarning("%s", qPrintable(opening.Refusal()));
        return;
    }
    OpenImages(opening.Take());
    const std::vector<unsigned int> undecoded = images->Finish();
    failed.insert(failed.end(), undecoded.begin(), undecoded.end());
}

void TrackScene::OpenImages(OpenedSequence sequence)
{
    images->Open(std::move(sequence));
    ShowFirstImage();
}

void TrackScene::SetImages(std::vector<QImage> decoded, QStringList names)
{
    images->OpenDecoded(std::move(decoded), std::move(names));
    ShowFirstImage();
}

void TrackScene::ShowFirstImage()
{
    imageCount = images->Count();
    shown = QImage();
    ownSceneRect = false;
    if (imageCount == 0) {
        currentImage = -1;
        update();
        return;
    }
    SwitchImage(0);
}

void TrackScene::SwitchImage(int image)
{
    if (image < 0 || image >= imageCount)
        return;
    shown = images->Show(image);
    QSize size = shown.isNull() ? images->HeaderSize(image) : shown.size();
    // A slice of unknown size that cannot be shown keeps the rectangle of the
    // one before: an empty rectangle would hand the scene back to Qt's
    // automatic one (the markers' bounding box) and the view would jump in
    // scale.
    if (size.isEmpty() && !ownSceneRect)
        size = images->SequenceSize();
    if (!size.isEmpty()) {
        setSceneRect(0.0, 0.0, size.width(), size.height());
        ownSceneRect = true;
    }
    currentImage = image;
    MoveMarkersTo(image);
    if (images->Pending(image))
        emit ImagePending(image);
}

void TrackScene::TakeArrivedImage(int image, const QImage &display)
{
    if (image != currentImage)
        return;
    shown = display;
    if (!shown.isNull() && sceneRect().size() != QSizeF(shown.size()))
        setSceneRect(0.0, 0.0, shown.width(), shown.height());
    update();
    emit ImageArrived(image);
}

void TrackScene::MoveMarkersTo(int image)
{
    RepaintMarkers();
    for (NormalFiber *marker : normalFibers)
        marker->SetCurrentImage(image);
    for (ErrorFiber *marker : errorFibers)
        marker->SetCurrentImage(image);
    if (creating)
        newFiber->SetCurrentImage(image);
}

bool TrackScene::HasImages() const { return imageCount > 0; }

QString TrackScene::SliceName(int image) const { return images->Name(image); }

QString TrackScene::PixelValueText(int image, QPoint pixel) const
{
    if (image < 0 || image >= imageCount)
        return {};
    const QImage slice = image == currentImage ? shown : images->Held(image);
    const QSize size = slice.isNull() ? images->HeaderSize(image) : slice.size();
    if (!QRect(QPoint(0, 0), size).contains(pixel))
        return {};
    const bool signedSamples = images->SignedSamples(image);
    if (images->IsWide(image)) {
        // The display image is narrowed; the raw values come from the file.
        const QImage raw = images->RawValues(image);
        if (!raw.valid(pixel))
            return {};
        const auto *line = reinterpret_cast<const quint16 *>(raw.constScanLine(pixel.y()));
        return QString::number(ImageSequence::SampleValue(line[pixel.x()], signedSamples));
    }
    if (!slice.valid(pixel))
        return {};
    const QRgb rgb = slice.pixel(pixel);
    if (slice.isGrayscale())
        return QString::number(qGray(rgb) - (signedSamples ? 128 : 0));
    return QStringLiteral("%1, %2, %3").arg(qRed(rgb)).arg(qGreen(rgb)).arg(qBlue(rgb));
}

QString TrackScene::ImageProblem(int image) const { return images->FailureText(image); }

QStringList TrackScene::ImageNotes() const { return images->Notes(); }

bool TrackScene::CurrentImagePending() const { return images->Pending(currentImage); }

qint64 TrackScene::HeldImageBytes() const { return images->HeldBytes(); }

void TrackScene::drawBackground(QPainter *painter, const QRectF &)
{
    // An image not shown (still being read, or undecodable) leaves a plain
    // background under the markers: never the image of another slice.
    if (currentImage >= 0 && currentImage < imageCount && !shown.isNull()) {
        painter->drawImage(sceneRect(), shown);
        return;
    }
    if (currentImage >= 0 && currentImage < imageCount) {
        painter->fillRect(sceneRect(), backgroundColor);
        return;
    }
    painter->setBrush(QBrush(backgroundColor, Qt::SolidPattern));
    painter->drawRect(sceneRect());
}

NormalFiber *TrackScene::MakeNormalFiber(unsigned int id, PointMap points,
                                         const QColor &color) const
{
    auto marker = std::make_unique<NormalFiber>(id, color, markerRadius);
    marker->currentImage = currentImage;
    marker->SetPoints(std::move(points));
    marker->ApplyColor();
    ApplyDrawnColour(marker.get());
    return marker.release();
}

ErrorFiber *TrackScene::MakeErrorFiber(unsigned int id, PointMap points, const QColor &color) const
{
    auto marker = std::make_unique<ErrorFiber>(id, color, star);
    marker->currentImage = currentImage;
    marker->SetPoints(std::move(points));
    marker->ApplyColor();
    ApplyDrawnColour(marker.get());
    return marker.release();
}

void TrackScene::AddNormalFiber(unsigned int id, PointMap points, const QColor &color)
{
    AddMarker(false, id, std::move(points), color);
    RepaintMarkers();
}

void TrackScene::AddErrorFiber(unsigned int id, PointMap points, const QColor &color)
{
    AddMarker(true, id, std::move(points), color);
    RepaintMarkers();
}

void TrackScene::AddMarker(bool error, unsigned int id, PointMap points, const QColor &color)
{
    if (error) {
        errorFibers.push_back(MakeErrorFiber(id, std::move(points), color));
        addItem(errorFibers.back());
    } else {
        normalFibers.push_back(MakeNormalFiber(id, std::move(points), color));
        addItem(normalFibers.back());
    }
    ++markerSetVersion;
}

void TrackScene::ReplaceNormalFibers(std::vector<NormalFiber *> made)
{
    DeleteNormalFibers();
    normalFibers = std::move(made);
    // The image or the marker size may have changed since they were made.
    const MarkerOutline::Pointer circle = MarkerOutline::Circle(markerRadius);
    for (NormalFiber *marker : normalFibers) {
        marker->SetOutline(circle);
        marker->currentImage = currentImage;
        ApplyDrawnColour(marker);
        addItem(marker);
    }
    ++markerSetVersion;
    ShowNormalFibers();
}

void TrackScene::ReplaceErrorFibers(std::vector<ErrorFiber *> made)
{
    DeleteErrorFibers();
    errorFibers = std::move(made);
    const MarkerOutline::Pointer starOutline = MarkerOutline::Polygon(star);
    for (ErrorFiber *marker : errorFibers) {
        marker->SetOutline(starOutline);
        marker->currentImage = currentImage;
        ApplyDrawnColour(marker);
        addItem(marker);
    }
    ++markerSetVersion;
    ShowErrorFibers();
}

void TrackScene::DeleteNormalFibers()
{
    DeleteMarkers([](const Fiber &fiber) { return !fiber.error; });
}

void TrackScene::DeleteErrorFibers()
{
    DeleteMarkers([](const Fiber &fiber) { return fiber.error; });
}

namespace {

// What a marker of the kind that stays needs to be rebuilt as it was.
struct KeptMarker
{
    unsigned int id;
    QColor color;
    PointMap points;
    bool hidden;
    bool selected;
};

template <typename Marker>
std::vector<KeptMarker> TakeMarkers(std::vector<Marker *> &markers,
                                    const std::function<bool(const Fiber &)> &drop)
{
    std::vector<KeptMarker> kept;
    kept.reserve(static_cast<size_t>(std::count_if(
        markers.begin(), markers.end(), [&drop](const Marker *marker) { return !drop(*marker); })));
    for (Marker *marker : markers) {
        if (!drop(*marker))
            kept.push_back({ marker->id, marker->color, std::move(marker->points), marker->hidden,
                             marker->isSelected() });
    }
    markers.clear();
    return kept;
}

} // namespace

// Deleting markers one at a time costs time quadratic in their number: for
// each one the scene searches and compacts its list of top-level items and its
// item index, and with both kinds in the scene no order of deletion avoids it
// (700,000 markers took most of a minute). Emptying the whole scene is linear,
// so markers are deleted by emptying the scene and adding back, as they were,
// the markers that stay, the creation marker and any other item.
void TrackScene::DeleteMarkers(const std::function<bool(const Fiber &)> &drop)
{
    const size_t markers = normalFibers.size() + errorFibers.size() + (newFiber ? 1 : 0);
    QList<QGraphicsItem *> others;
    const QList<QGraphicsItem *> all = items();
    if (static_cast<size_t>(all.size()) != markers) {
        for (QGraphicsItem *item : all) {
            if (!item->parentItem() && item != newFiber && !dynamic_cast<Fiber *>(item))
                others << item;
        }
        for (QGraphicsItem *item : std::as_const(others))
            removeItem(item);
    }
    std::vector<KeptMarker> keptNormal = TakeMarkers(normalFibers, drop);
    std::vector<KeptMarker> keptError = TakeMarkers(errorFibers, drop);
    const bool creationMarker = newFiber != nullptr;
    normalFibers.clear();
    errorFibers.clear();
    newFiber = nullptr;
    clear();
    ++markerSetVersion;

    for (QGraphicsItem *item : std::as_const(others))
        addItem(item);
    const auto restore = [](auto *marker, const KeptMarker &kept) {
        if (!kept.hidden)
            marker->ShowFiber();
        marker->setSelected(kept.selected);
    };
    for (KeptMarker &kept : keptNormal) {
        AddNormalFiber(kept.id, std::move(kept.points), kept.color);
        restore(normalFibers.back(), kept);
    }
    for (KeptMarker &kept : keptError) {
        AddErrorFiber(kept.id, std::move(kept.points), kept.color);
        restore(errorFibers.back(), kept);
    }
    if (creationMarker) {
        // Its points are the ones placed so far.
        AddCreationMarker();
        newFiber->SetPoints(newPoints);
        newFiber->Refresh();
    }
    RepaintMarkers();
}

namespace {

bool SortedContains(const std::vector<unsigned int> &ids, unsigned int id)
{
    const auto it = std::lower_bound(ids.begin(), ids.end(), id);
    return it != ids.end() && *it == id;
}

template <typename Marker>
void ShowOnly(const std::vector<Marker *> &markers, const std::vector<unsigned int> &ids)
{
    for (Marker *marker : markers) {
        if (SortedContains(ids, marker->id))
            marker->ShowFiber();
        else
            marker->HideFiber();
        marker->SetCurrentImage(marker->currentImage);
    }
}

template <typename Marker> void ShowEach(const std::vector<Marker *> &markers)
{
    for (Marker *marker : markers)
        marker->ShowFiber();
}

template <typename Marker> void HideEach(const std::vector<Marker *> &markers)
{
    for (Marker *marker : markers)
        marker->HideFiber();
}

} // namespace

void TrackScene::ShowOnlyFibers(const std::vector<unsigned int> &normIds,
                                const std::vector<unsigned int> &errIds)
{
    RepaintMarkers();
    ShowOnly(normalFibers, normIds);
    ShowOnly(errorFibers, errIds);
}

void TrackScene::HideErrorFibers()
{
    RepaintMarkers();
    HideEach(errorFibers);
}

void TrackScene::HideNormalFibers()
{
    RepaintMarkers();
    HideEach(normalFibers);
}

void TrackScene::ShowErrorFibers()
{
    RepaintMarkers();
    ShowEach(errorFibers);
}

void TrackScene::ShowNormalFibers()
{
    RepaintMarkers();
    ShowEach(normalFibers);
}

void TrackScene::ShowAll()
{
    RepaintMarkers();
    ShowEach(normalFibers);
    ShowEach(errorFibers);
}

void TrackScene::HideAll()
{
    RepaintMarkers();
    HideEach(normalFibers);
    HideEach(errorFibers);
}

void TrackScene::StartNewTrack()
{
    RepaintMarkers();
    creating = true;
    newPoints.clear();
    HideEach(normalFibers);
    HideEach(errorFibers);
    AddCreationMarker();
}

void TrackScene::AddCreationMarker()
{
    newFiber = new NormalFiber(0, QColor(QStringLiteral("blue")), markerRadius);
    newFiber->currentImage = currentImage;
    newFiber->ApplyColor();
    addItem(newFiber);
    newFiber->ShowFiber();
}

void TrackScene::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (!PlaceNewPoint(event))
        QGraphicsScene::mousePressEvent(event);
}

// While a track is placed every press is a point, never a selection: also the
// second press of a double-click, which would select the creation marker.
bool TrackScene::PlaceNewPoint(QGraphicsSceneMouseEvent *event)
{
    if (!creating)
        return false;
    event->accept();
    RepaintMarkers();
    const QPointF scenePos = event->scenePos();
    const TrackPoint p { static_cast<float>(scenePos.x()), static_cast<float>(scenePos.y()) };
    if (currentImage >= 0) {
        newPoints[static_cast<unsigned int>(currentImage)] = p;
        newFiber->SetPoint(static_cast<unsigned int>(currentImage), p);
    }
    newFiber->SetCurrentImage(currentImage);
    return true;
}

bool TrackScene::HasNewPoints() const { return !newPoints.empty(); }

void TrackScene::CopyNewPoints(PointMap &out) const
{
    for (const auto &[image, point] : newPoints)
        out[image] = point;
}

void TrackScene::AddNewFiber(unsigned int id, const QColor &color, bool error)
{
    if (error)
        AddErrorFiber(id, newPoints, color);
    else
        AddNormalFiber(id, newPoints, color);
}

void TrackScene::EndNewTrack()
{
    RepaintMarkers();
    creating = false;
    removeItem(newFiber);
    delete newFiber;
    newFiber = nullptr;
    ShowAll();
}

void TrackScene::FibersInRect(const QRectF &rect, int image, std::vector<Fiber *> &out) const
{
    for (NormalFiber *marker : normalFibers) {
        if (marker->PointInRect(rect, image))
            out.push_back(marker);
    }
    for (ErrorFiber *marker : errorFibers) {
        if (marker->PointInRect(rect, image))
            out.push_back(marker);
    }
}

void TrackScene::KeepSelected(std::vector<unsigned int> &norms, std::vector<unsigned int> &errs)
{
    RepaintMarkers();
    for (NormalFiber *marker : normalFibers) {
        if (marker->isSelected())
            norms.push_back(marker->id);
        else
            marker->HideFiber();
    }
    for (ErrorFiber *marker : errorFibers) {
        if (marker->isSelected())
            errs.push_back(marker->id);
        else
            marker->HideFiber();
    }
}
