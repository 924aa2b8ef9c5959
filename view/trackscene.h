#pragma once

#include "edit/trackchange.h"
#include "model/tracktypes.h"
#include "stack/imagesequence.h"

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

    // Replaces the sequence by the files' slices (in the given order) and
    // decodes them all before returning; positions of slices that could not
    // be decoded are appended to failed.
    void LoadImages(const QStringList &files, std::vector<unsigned int> &failed);
    // Replaces the sequence by slices whose headers have been read: image 0 is
    // shown on return and the rest is decoded behind the window, holding at
    // most what the budget for available bytes allows.
    void OpenImages(std::vector<ImageSequence::SliceInfo> slices, qint64 available);
    // Replaces the sequence by already decoded images (null entries allowed),
    // makes image 0 current and moves every marker to it.
    // names are the slices' names as SliceName gives them (may be empty).
    void SetImages(std::vector<QImage> decoded, QStringList names = {});
    // Shows image, decoded on the spot when it is not held, with every
    // marker at its point there; an index outside the sequence is ignored.
    void SwitchImage(int image);
    bool HasImages() const;

    // What the view window's status bar shows about a slice: its name (the
    // file name, and the page of a multi-page file), and the value of one of
    // its pixels (the raw value of a 16-bit stack, the grey or RGB value
    // otherwise; empty outside the slice or while the value is not known:
    // PixelValuesReady follows once it is).
    QString SliceName(int image) const;
    QString PixelValueText(int image, QPoint pixel) const;

    void AddNormalFiber(unsigned int id, PointMap points, const QColor &color);
    void AddErrorFiber(unsigned int id, PointMap points, const QColor &color);
    void DeleteNormalFibers();
    void DeleteErrorFibers();
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
    void MoveMarkersTo(int image);
    bool PlaceNewPoint(QGraphicsSceneMouseEvent *event);
    void ApplyMarkerShape(NormalFiber *marker) const;
    // Deletes the markers for which drop is true.
    void DeleteMarkers(const std::function<bool(const Fiber &)> &drop);
    const std::vector<const Fiber *> &MarkedFibers() const;
    void AddCreationMarker();
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
    std::vector<TrackKey> markedPaths;
    // Their markers, found again once the markers changed.
    mutable std::vector<const Fiber *> markedFibers;
    mutable quint64 markedGeneration = 0;
};
