#pragma once

#include "model/tracktypes.h"

#include <QColor>
#include <QGraphicsScene>
#include <QImage>
#include <QPolygonF>
#include <QStringList>
#include <vector>

class Fiber;
class NormalFiber;
class ErrorFiber;

// The one scene of the program: the decoded image sequence painted as
// background, one marker per track kept at its point on the current image, and
// the point-placing half of creating a track by hand.
class TrackScene : public QGraphicsScene
{
    Q_OBJECT

public:
    explicit TrackScene(QObject *parent = nullptr);
    ~TrackScene() override;

    // Replaces the sequence by decoding files (in the given order); positions of
    // files that could not be decoded are appended to failed.
    void LoadImages(const QStringList &files, std::vector<unsigned int> &failed);
    // Replaces the sequence by already decoded images (null entries allowed),
    // makes image 0 current and moves every marker to it.
    // names are the slices' names as SliceName gives them (may be empty).
    void SetImages(std::vector<QImage> decoded, QStringList names = {});
    void SwitchImage(int image);
    bool HasImages() const;

    // What the view window's status bar shows about a slice: its name (the
    // file name, and the page of a multi-page file), and the value of one of
    // its pixels (the raw value of a 16-bit stack, the grey or RGB value
    // otherwise; empty outside the slice or while the value is not known).
    QString SliceName(int image) const;
    QString PixelValueText(int image, QPoint pixel) const;

    void AddNormalFiber(unsigned int id, const PointMap &points, const QColor &color);
    void AddErrorFiber(unsigned int id, const PointMap &points, const QColor &color);
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

    // Read access for the windows and the tests.
    int CurrentImage() const { return currentImage; }
    int ImageCount() const { return imageCount; }
    const std::vector<QImage> &Images() const { return images; }
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
    void drawBackground(QPainter *painter, const QRectF &rect) override;

private:
    void MoveMarkersTo(int image);
    void DeleteMarkers(bool normal, bool error);
    void AddCreationMarker();

    std::vector<QImage> images;
    QStringList sliceNames;
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
};
