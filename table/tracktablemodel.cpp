#include "table/tracktablemodel.h"

#include <algorithm>
#include <cmath>

namespace {

// The number a column sorts by; -1 for a measure the track does not have,
// so that such rows come first in ascending order.
double SortKey(const TrackRow &row, int column)
{
    const TrackMeasure &m = row.measure;
    switch (column) {
    case TrackTableModel::IdColumn:
        return m.id;
    case TrackTableModel::KindColumn:
        return row.error ? 1.0 : 0.0;
    case TrackTableModel::FirstColumn:
        return m.first;
    case TrackTableModel::LastColumn:
        return m.last;
    case TrackTableModel::PointsColumn:
        return m.points;
    case TrackTableModel::GapsColumn:
        return m.points == 0 ? -1.0 : m.gaps;
    case TrackTableModel::JumpColumn:
        return m.jumpImage < 0 ? -1.0 : static_cast<double>(m.jump);
    case TrackTableModel::AtColumn:
        return m.jumpImage;
    case TrackTableModel::PickedColumn:
        return row.picked ? 1.0 : 0.0;
    case TrackTableModel::ReviewedColumn:
        return row.reviewed ? 1.0 : 0.0;
    default:
        return 0.0;
    }
}

QString ImageText(int image) { return image < 0 ? QString() : QString::number(image + 1); }

TrackRef RefOf(const TrackRow &row) { return { row.error, row.measure.id }; }

bool RowBefore(const TrackRow &row, TrackRef track) { return RefOf(row) < track; }

} // namespace

TrackTableModel::TrackTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void TrackTableModel::SetTracks(bool error, const std::vector<TrackMeasure> &measures)
{
    beginResetModel();
    std::vector<TrackRow> kept;
    kept.reserve(rows.size());
    for (const TrackRow &row : rows) {
        if (row.error != error)
            kept.push_back(row);
    }
    std::vector<TrackRow> added;
    added.reserve(measures.size());
    for (const TrackMeasure &measure : measures)
        added.push_back({ measure, error, false, false });
    std::sort(added.begin(), added.end(),
              [](const TrackRow &a, const TrackRow &b) { return a.measure.id < b.measure.id; });
    rows.clear();
    rows.reserve(kept.size() + added.size());
    // Non-error rows first, each kind by id.
    const auto append = [this](const std::vector<TrackRow> &part) {
        rows.insert(rows.end(), part.begin(), part.end());
    };
    if (error) {
        append(kept);
        append(added);
    } else {
        append(added);
        append(kept);
    }
    CountReviewed();
    SortAll();
    FilterAll();
    endResetModel();
    emit CountsChanged();
}

void TrackTableModel::UpdateTracks(bool error, const std::vector<TrackMeasure> &changed,
                                   const std::vector<unsigned int> &deleted)
{
    beginResetModel();
    for (const unsigned int id : deleted) {
        const int index = Find({ error, id });
        if (index >= 0)
            rows.erase(rows.begin() + index);
    }
    for (const TrackMeasure &measure : changed) {
        const TrackRef track { error, measure.id };
        const auto at = std::lower_bound(rows.begin(), rows.end(), track, RowBefore);
        if (at != rows.end() && RefOf(*at) == track)
            at->measure = measure;
        else
            rows.insert(at, { measure, error, false, false });
    }
    CountReviewed();
    SortAll();
    FilterAll();
    endResetModel();
    emit CountsChanged();
}

void TrackTableModel::SetPicked(bool error, const std::vector<unsigned int> &ids)
{
    std::vector<unsigned int> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    bool changed = false;
    for (TrackRow &row : rows) {
        if (row.error != error)
            continue;
        const bool picked = std::binary_search(sorted.begin(), sorted.end(), row.measure.id);
        changed = changed || picked != row.picked;
        row.picked = picked;
    }
    if (!changed)
        return;
    if (filter.Uses(TrackFilter::Field::Picked)) {
        Rebuild();
    } else if (sortColumn == PickedColumn) {
        Reorder();
    } else if (!shown.empty()) {
        emit dataChanged(index(0, PickedColumn), index(ShownCount() - 1, PickedColumn));
        emit CountsChanged();
    }
}

void TrackTableModel::SetReviewed(bool error, const std::vector<unsigned int> &ids)
{
    std::vector<unsigned int> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    for (TrackRow &row : rows) {
        if (row.error == error)
            row.reviewed = std::binary_search(sorted.begin(), sorted.end(), row.measure.id);
    }
    CountReviewed();
    if (filter.Uses(TrackFilter::Field::Reviewed)) {
        Rebuild();
    } else if (sortColumn == ReviewedColumn) {
        Reorder();
    } else {
        if (!shown.empty())
            emit dataChanged(index(0, ReviewedColumn), index(ShownCount() - 1, ReviewedColumn));
        emit CountsChanged();
    }
}

void TrackTableModel::SetReviewed(TrackRef track, bool reviewed)
{
    const int at = Find(track);
    if (at < 0 || rows[static_cast<size_t>(at)].reviewed == reviewed)
        return;
    rows[static_cast<size_t>(at)].reviewed = reviewed;
    reviewedCount += reviewed ? 1 : -1;
    MarkChanged(at, TrackFilter::Field::Reviewed, ReviewedColumn);
}

void TrackTableModel::MarkChanged(int at, TrackFilter::Field field, int column)
{
    if (filter.Uses(field)) {
        Rebuild();
        return;
    }
    if (sortColumn == column) {
        Reorder();
        return;
    }
    const int row = shownAt[static_cast<size_t>(at)];
    if (row >= 0)
        emit dataChanged(index(row, column), index(row, column));
    emit CountsChanged();
}

bool TrackTableModel::SetFilter(const QString &text, QString &why)
{
    TrackFilter parsed;
    if (!TrackFilter::Parse(text, parsed, why))
        return false;
    filter = parsed;
    Rebuild();
    return true;
}

void TrackTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    sortColumn = column;
    sortOrder = order;
    Reorder();
}

void TrackTableModel::Reorder()
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The views' rows are kept by the track they show.
    const QModelIndexList before = persistentIndexList();
    std::vector<int> rowsBefore;
    rowsBefore.reserve(static_cast<size_t>(before.size()));
    for (const QModelIndex &at : before)
        rowsBefore.push_back(shown[static_cast<size_t>(at.row())]);
    SortAll();
    FilterAll();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int row = shownAt[static_cast<size_t>(rowsBefore[static_cast<size_t>(i)])];
        after << (row < 0 ? QModelIndex() : index(row, before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit CountsChanged();
}

void TrackTableModel::Rebuild()
{
    beginResetModel();
    SortAll();
    FilterAll();
    endResetModel();
    emit CountsChanged();
}

void TrackTableModel::SortAll()
{
    const size_t count = rows.size();
    std::vector<double> keys(count);
    for (size_t i = 0; i < count; ++i)
        keys[i] = SortKey(rows[i], sortColumn);
    ordered.resize(count);
    for (size_t i = 0; i < count; ++i)
        ordered[i] = static_cast<int>(i);
    // Equal keys keep the rows' own order, by kind and id, in both directions.
    const bool descending = sortOrder == Qt::DescendingOrder;
    std::sort(ordered.begin(), ordered.end(), [&keys, descending](int a, int b) {
        const double ka = keys[static_cast<size_t>(a)];
        const double kb = keys[static_cast<size_t>(b)];
        if (ka != kb)
            return descending ? ka > kb : ka < kb;
        return a < b;
    });
}

void TrackTableModel::FilterAll()
{
    shown.clear();
    shownAt.assign(rows.size(), -1);
    for (const int at : ordered) {
        if (filter.IsEmpty() || filter.Matches(rows[static_cast<size_t>(at)])) {
            shownAt[static_cast<size_t>(at)] = static_cast<int>(shown.size());
            shown.push_back(at);
        }
    }
}

void TrackTableModel::CountReviewed()
{
    reviewedCount = static_cast<int>(
        std::count_if(rows.begin(), rows.end(), [](const TrackRow &row) { return row.reviewed; }));
}

int TrackTableModel::Find(TrackRef track) const
{
    const auto at = std::lower_bound(rows.begin(), rows.end(), track, RowBefore);
    if (at == rows.end() || RefOf(*at) != track)
        return -1;
    return static_cast<int>(at - rows.begin());
}

TrackRef TrackTableModel::TrackAt(int row) const
{
    if (row < 0 || row >= ShownCount())
        return {};
    return RefOf(rows[static_cast<size_t>(shown[static_cast<size_t>(row)])]);
}

int TrackTableModel::RowOf(TrackRef track) const
{
    const int at = Find(track);
    return at < 0 ? -1 : shownAt[static_cast<size_t>(at)];
}

int TrackTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ShownCount();
}

int TrackTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrackTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= ShownCount())
        return {};
    if (role == Qt::TextAlignmentRole) {
        const bool number = index.column() != KindColumn && index.column() != PickedColumn
            && index.column() != ReviewedColumn;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole)
        return {};
    const TrackRow &row = rows[static_cast<size_t>(shown[static_cast<size_t>(index.row())])];
    const TrackMeasure &m = row.measure;
    switch (index.column()) {
    case IdColumn:
        return QString::number(m.id);
    case KindColumn:
        return row.error ? tr("error") : tr("non-error");
    case FirstColumn:
        return ImageText(m.first);
    case LastColumn:
        return ImageText(m.last);
    case PointsColumn:
        return QString::number(m.points);
    case GapsColumn:
        return m.points == 0 ? QString() : QString::number(m.gaps);
    case JumpColumn:
        return m.jumpImage < 0 ? QString() : QString::number(m.jump, 'f', 1);
    case AtColumn:
        return ImageText(m.jumpImage);
    case PickedColumn:
        return row.picked ? tr("yes") : QString();
    case ReviewedColumn:
        return row.reviewed ? tr("yes") : QString();
    default:
        return {};
    }
}

QVariant TrackTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    // The measures that point at wrong tracks list the largest first.
    if (role == Qt::InitialSortOrderRole)
        return section == GapsColumn || section == JumpColumn ? Qt::DescendingOrder
                                                              : Qt::AscendingOrder;
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case IdColumn:
        return tr("Id");
    case KindColumn:
        return tr("Kind");
    case FirstColumn:
        return tr("First");
    case LastColumn:
        return tr("Last");
    case PointsColumn:
        return tr("Points");
    case GapsColumn:
        return tr("Gaps");
    case JumpColumn:
        return tr("Largest Jump");
    case AtColumn:
        return tr("At Image");
    case PickedColumn:
        return tr("Picked");
    case ReviewedColumn:
        return tr("Reviewed");
    default:
        return {};
    }
}
