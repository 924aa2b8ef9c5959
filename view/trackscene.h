#pragma once

// The track view: the one scene of images and track markers, and the window that shows it.

#include "edit/trackchange.h"
#include "model/tracktypes.h"
#include "stack/sequenceopening.h"

#include <QColor>
#include <QGraphicsScene>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class Fiber;
class NormalFiber;
class ErrorFiber;
class MarkerLayer;
class SliceLoader;

// The one scene of the program: the image sequence with its current slice
// painted as background, one marker per track kept at its point on the current
// image, and the point-placing half of creating a track by hand.
class TrackScene : public QGraphicsScene
{
    Q_OBJECT

public:
    explicit TrackScene(QObject *parent = nullptr);
    ~TrackScene() override;

    // For tests and tools: replaces the sequence by the files' slices (in the
    // given order) and decodes them all before returning, however long that
    // takes; positions of slices that could not be decoded are appended to
    // failed. The program opens sequences as a task of the review window.
    void LoadImages(const QStringList &files, std::vector<unsigned int> &failed);
    // Replaces the sequence by an opened one: image 0 is shown on return and
    // the rest is decoded behind the window.
    void OpenImages(OpenedSequence sequence);
    // Replaces the sequence by already decoded images (null entries allowed),
    // makes image 0 current and moves every marker to it.
    // names are the slices' names as SliceName gives them (may be empty).
    void SetImages(std::vector<QImage> decoded, QStringList names = {});
    // Shows image with every marker at its point there; an index outside the
    // sequence is ignored. An image that takes more than a moment to decode
    // is drawn when it arrives: until then the markers are shown over a plain
    // background (ImagePending, then ImageArrived).
    void SwitchImage(int image);
    bool HasImages() const;

    // What the view window's status bar shows about a slice: its name (the
    // file name, and the page of a multi-page file), and the value of one of
    // its pixels (the raw value of a 16-bit stack, the grey or RGB value
    // otherwise; empty outside the slice or while the value is not known:
    // PixelValuesReady follows once it is).
    QString SliceName(int image) const;
    QString PixelValueText(int image, QPoint pixel) const;
    // Why image is not shown ("slice040.tif could not be decoded"), or empty.
    QString ImageProblem(int image) const;
    // What the user should know about the files of the sequence (pages left
    // out, slices of another size).
    QStringList ImageNotes() const;
    // The current image is still being read.
    bool CurrentImagePending() const;
    // Memory the sequence holds, given back when another one replaces it.
    qint64 HeldImageBytes() const;

    void AddNormalFiber(unsigned int id, PointMap points, const QColor &color);
    void AddErrorFiber(unsigned int id, PointMap points, const QColor &color);
    void DeleteNormalFibers();
    void DeleteErrorFibers();
    // Markers made ahead of their place in the scene: a load makes them a few
    // at a time while the markers they are to replace stay on screen, and a
    // cancelled load deletes them. Owned by the caller until Replace..Fibers
    // takes them instead of every marker of their kind, shown.
    NormalFiber *MakeNormalFiber(unsigned int id, PointMap points, const QColor &color) const;
    ErrorFiber *MakeErrorFiber(unsigned int id, PointMap points, const QColor &color) const;
    void ReplaceNormalFibers(std::vector<NormalFiber *> made);
    void ReplaceErrorFibers(std::vector<ErrorFiber *> made);
    void ShowOnlyFibers(const std::vector<unsigned int> &normIds,
                        const std::vector<unsigned int> &errIds);

    void StartNewTrack();
    bool HasNewPoints() const;
    void CopyNewPoints(PointMap &out) const;
    void AddNewFiber(unsigned int id, const QColor &color, bool error);
    void EndNewTrack();

    void FibersInRect(const QRectF &rect, int image, std::vector<Fiber *> &out) const;
    void KeepSelected(std::vector<unsigned int> &norms, std::vector<unsigned int> &errs);

    // How markers look: the radius in image pixels (1 to 50; the star grows
    // with it), and hollow markers outlined in the track's colour instead of
    // filled ones.
    void SetMarkerRadius(int radius);
    int MarkerRadius() const { return markerRadius; }
    void SetOutlineMarkers(bool outline);
    bool OutlineMarkers() const { return outlineMarkers; }
    // The outline of a marker of either kind around its point, and how far
    // from its point any marker reaches.
    QPainterPath MarkerShape(bool error) const;
    qreal MarkerReach() const;

    // The topmost visible track marker at a scene position (the marker of a
    // track being created is not a track yet), or null. tolerance, in scene
    // units, also catches markers that are tiny on the screen.
    const Fiber *FiberAt(QPointF scenePos, qreal tolerance) const;
    // The cursor over the scene, or none: the track under it is the hovered
    // track, whose path is drawn across the whole sequence.
    void SetHoverPosition(QPointF scenePos, qreal tolerance);
    void ClearHover();
    const Fiber *HoveredFiber() const;

    // The track under review: its path is drawn as the hovered track's is,
    // until another track becomes current or its kind is loaded again.
    void SetCurrentTrack(bool error, unsigned int id);
    void ClearCurrentTrack();
    const Fiber *CurrentFiber() const;

    // Each shown track's path over the images from length before the current
    // one to length after it, drawn with the markers (0 draws none).
    void SetTailLength(int length);
    int TailLength() const { return tailLength; }
    // Markers (and tails) in a bright colour of their track's hue instead of
    // the track's own colour, which may be too dark to see on a dark slice.
    void SetBrightColours(bool bright);
    bool BrightColours() const { return brightColours; }
    // Brings the markers of the given tracks of one kind in line with the
    // registry after an edit: new points, a marker for a track that has none
    // (shown, unless a track is being created), none for a track that is
    // gone. Markers keep their selection and hidden state.
    void SyncFibers(bool error, const TrackTable &tracks, const ColorTable &colors,
                    std::vector<unsigned int> ids);
    // The marker of a track, or null.
    Fiber *FindFiber(TrackKey key) const;
    QGraphicsItem *FindMarker(TrackKey key) const;
    // While a point is dragged: the track's marker shown at at until
    // EndPointPreview puts it back on its point.
    void PreviewPoint(TrackKey key, QPointF at);
    void EndPointPreview(TrackKey key);
    // Tracks whose paths are drawn across the sequence besides the hovered
    // one (those just edited, the one whose points are being placed).
    void SetMarkedPaths(std::vector<TrackKey> keys);
    const std::vector<TrackKey> &MarkedPaths() const { return markedPaths; }

    // Markers do not repaint the view themselves (they have no contents):
    // every operation that moves, shows, hides, selects, adds or deletes
    // markers ends here.
    void RepaintMarkers();
    quint64 MarkerGeneration() const { return markerGeneration; }
    // Changes when track markers are added or deleted.
    quint64 MarkerSetVersion() const { return markerSetVersion; }
    // A change of the markers at scenePos only (a point moved, a marker added
    // or removed by an edit): the view redraws the markers around it alone.
    void RepaintMarkersAt(QPointF scenePos);
    // Whether every change since generation was one of RepaintMarkersAt, and
    // where; false once any other change came since.
    bool MarkerChangesSince(quint64 generation, std::vector<QPointF> &places) const;

    // Read access for the windows and the tests.
    int CurrentImage() const { return currentImage; }
    int ImageCount() const { return imageCount; }
    SliceLoader *ImageLoader() const { return images; }
    // The display image of the current slice (null when it cannot be decoded).
    const QImage &ShownImage() const { return shown; }
    const std::vector<NormalFiber *> &NormalFibers() const { return normalFibers; }
    const std::vector<ErrorFiber *> &ErrorFibers() const { return errorFibers; }
    bool IsCreating() const { return creating; }
    const NormalFiber *NewFiber() const { return creating ? newFiber : nullptr; }
    const PointMap &NewPoints() const { return newPoints; }
    const QPolygonF &Star() const { return star; }

signals:
    // The pixel values of image became known after PixelValueText had to
    // answer without them (they are read behind the window).
    void PixelValuesReady(int image);
    // The images are decoded behind the window after a sequence is opened:
    // done of total; then the first pass over them has ended, and failed
    // holds the images that could not be decoded in it.
    void ImagesLoading(int done, int total);
    void ImagesLoaded(const std::vector<unsigned int> &failed);
    // An image was found undecodable (in the first pass or later).
    void ImageFailed(int image);
    // The current image is being read (the markers are shown without it), and
    // then it arrived, or failed.
    void ImagePending(int image);
    void ImageArrived(int image);

public slots:
    void HideErrorFibers();
    void HideNormalFibers();
    void ShowErrorFibers();
    void ShowNormalFibers();
    void ShowAll();
    void HideAll();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    void drawBackground(QPainter *painter, const QRectF &rect) override;
    void drawForeground(QPainter *painter, const QRectF &rect) override;

private:
    void ShowFirstImage();
    void TakeArrivedImage(int image, const QImage &display);
    void MoveMarkersTo(int image);
    bool PlaceNewPoint(QGraphicsSceneMouseEvent *event);
    // Deletes the markers for which drop is true.
    void DeleteMarkers(const std::function<bool(const Fiber &)> &drop);
    const std::vector<const Fiber *> &MarkedFibers() const;
    void AddCreationMarker();
    void ApplyDrawnColour(Fiber *marker) const;
    // Adds the marker of a track (hidden, at the current image) without a
    // repaint.
    void AddMarker(bool error, unsigned int id, PointMap points, const QColor &color);
    template <typename Marker> void RepaintAround(const Marker *marker);

    SliceLoader *images;
    QImage shown;
    bool ownSceneRect = false;
    std::vector<NormalFiber *> normalFibers;
    std::vector<ErrorFiber *> errorFibers;
    NormalFiber *newFiber = nullptr;
    PointMap newPoints;
    int imageCount = 0;
    int currentImage = -1;
    bool creating = false;
    double pi;
    QColor backgroundColor;
    QPolygonF star;

    int markerRadius = 10;
    bool outlineMarkers = false;
    quint64 markerGeneration = 0;
    // The generation of the last change that was not one of RepaintMarkersAt,
    // and the places of those since.
    quint64 wholeGeneration = 0;
    std::vector<std::pair<quint64, QPointF>> changedPlaces;
    std::unique_ptr<MarkerLayer> markerLayer;
    bool hovering = false;
    QPointF hoverPosition;
    qreal hoverTolerance = 0;
    // Found again lazily after the markers changed under a still cursor.
    mutable const Fiber *hovered = nullptr;
    mutable bool hoverStale = false;

    // Counts additions and deletions of track markers: the current track's
    // marker is found again after one.
    quint64 markerSetVersion = 0;
    bool hasCurrentTrack = false;
    bool currentTrackError = false;
    unsigned int currentTrackId = 0;
    mutable const Fiber *currentFiber = nullptr;
    mutable quint64 currentFiberVersion = 0;
    int tailLength = 0;
    bool brightColours = false;
    std::vector<TrackKey> markedPaths;
    // Their markers, found again once the markers changed.
    mutable std::vector<const Fiber *> markedFibers;
    mutable quint64 markedGeneration = 0;
};
