#pragma once

#include "table/trackfilter.h"
#include "table/trackref.h"

#include <QAbstractTableModel>
#include <vector>

// Every loaded track as one row of the track table, with its measures and
// marks, in the order and selection the user chose: sorted by any column
// (numbers as numbers) and filtered (TrackFilter). The order is the model's
// own, not a proxy's, so that 100,000 rows sort and filter in milliseconds,
// and the review queue (next and previous track) follows it whether or not
// the table window is open. The rows hold measures only, never points.
class TrackTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        IdColumn,
        KindColumn,
        FirstColumn,
        LastColumn,
        PointsColumn,
        GapsColumn,
        JumpColumn,
        AtColumn,
        PickedColumn,
        ReviewedColumn,
        ColumnCount
    };

    explicit TrackTableModel(QObject *parent = nullptr);

    // Replaces the rows of a kind; the marks are dropped with them.
    void SetTracks(bool error, const std::vector<TrackMeasure> &measures);
    // Adds or updates the rows of changed tracks and removes those of deleted
    // ones, keeping their marks.
    void UpdateTracks(bool error, const std::vector<TrackMeasure> &changed,
                      const std::vector<unsigned int> &deleted);
    // Ids of the kind carrying the mark, in any order; the others lose it.
    void SetPicked(bool error, const std::vector<unsigned int> &ids);
    void SetReviewed(bool error, const std::vector<unsigned int> &ids);
    void SetReviewed(TrackRef track, bool reviewed);

    // False, with why, for text that is no filter; the rows stay as they were.
    bool SetFilter(const QString &text, QString &why);
    int SortColumn() const { return sortColumn; }
    Qt::SortOrder SortOrder() const { return sortOrder; }

    // The rows shown: in the current order, those the filter keeps.
    int ShownCount() const { return static_cast<int>(shown.size()); }
    int TrackCount() const { return static_cast<int>(rows.size()); }
    int ReviewedCount() const { return reviewedCount; }
    TrackRef TrackAt(int row) const;
    // The row of track among those shown, or -1.
    int RowOf(TrackRef track) const;
    bool Contains(TrackRef track) const { return Find(track) >= 0; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

signals:
    // The rows shown, their order or the marks changed.
    void CountsChanged();

private:
    // Index into rows of track, or -1. Rows are kept ordered by kind, then id.
    int Find(TrackRef track) const;
    void SortAll();
    void FilterAll();
    // After the rows or their order changed with the rows shown staying the
    // same ones (a new order): views keep their current row and selection.
    void Reorder();
    // After the rows shown changed: the views start again.
    void Rebuild();
    // A mark of one row changed; the order and the filter follow if they use it.
    void MarkChanged(int index, TrackFilter::Field field, int column);
    void CountReviewed();

    std::vector<TrackRow> rows;
    // Every row in the current order, and those of them the filter keeps.
    std::vector<int> ordered;
    std::vector<int> shown;
    // Position in shown of each row, -1 when filtered out.
    std::vector<int> shownAt;
    TrackFilter filter;
    int sortColumn = IdColumn;
    Qt::SortOrder sortOrder = Qt::AscendingOrder;
    int reviewedCount = 0;
};
