#include "table/tformtracktable.h"

#include "table/tracktablemodel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// Numbers are short: the columns are as wide as their titles need.
const int kColumnWidths[TrackTableModel::ColumnCount] = { 80, 80, 60, 60, 64, 56, 110, 84, 64, 72 };

// Thousands grouped as the user's locale groups them, also in the C locale.
QString Count(int n)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(n);
}

} // namespace

TFormTrackTable::TFormTrackTable(TrackTableModel *model, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , model(model)
    , leFilter(new QLineEdit(this))
    , lbFilterError(new QLabel(this))
    , tvTracks(new QTableView(this))
    , lbCounts(new QLabel(this))
{
    setObjectName(QStringLiteral("TFormTrackTable"));
    setWindowTitle(tr("Track Table"));
    resize(780, 520);

    leFilter->setObjectName(QStringLiteral("leFilter"));
    leFilter->setPlaceholderText(tr("Filter, e.g. jump > 15 and kind = error"));
    leFilter->setClearButtonEnabled(true);
    leFilter->setToolTip(
        tr("Comparisons of id, kind, first, last, points, gaps, jump, at, picked or reviewed, "
           "joined with \"and\": jump > 15 and gaps >= 1, kind = error, reviewed = no"));
    lbFilterError->setObjectName(QStringLiteral("lbFilterError"));
    lbFilterError->setWordWrap(true);
    QPalette warning = lbFilterError->palette();
    warning.setColor(QPalette::WindowText, QColor(170, 0, 0));
    lbFilterError->setPalette(warning);
    lbFilterError->hide();

    tvTracks->setObjectName(QStringLiteral("tvTracks"));
    tvTracks->setModel(model);
    tvTracks->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvTracks->setSelectionMode(QAbstractItemView::SingleSelection);
    tvTracks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvTracks->setAlternatingRowColors(true);
    tvTracks->setWordWrap(false);
    // Sizes that never ask every row for its contents: 100,000 rows.
    tvTracks->verticalHeader()->hide();
    tvTracks->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tvTracks->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    tvTracks->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    tvTracks->horizontalHeader()->setStretchLastSection(true);
    for (int column = 0; column < TrackTableModel::ColumnCount; ++column)
        tvTracks->horizontalHeader()->resizeSection(column, kColumnWidths[column]);
    tvTracks->horizontalHeader()->setSortIndicator(model->SortColumn(), model->SortOrder());
    tvTracks->setSortingEnabled(true);

    lbCounts->setObjectName(QStringLiteral("lbCounts"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(leFilter);
    layout->addWidget(lbFilterError);
    layout->addWidget(tvTracks, 1);
    layout->addWidget(lbCounts);

    connect(leFilter, &QLineEdit::textChanged, this, &TFormTrackTable::ApplyFilter);
    connect(leFilter, &QLineEdit::returnPressed, this, &TFormTrackTable::Activate);
    connect(tvTracks, &QTableView::activated, this, [this](const QModelIndex &index) {
        emit GoToTrack(this->model->TrackAt(index.row()));
    });
    // A new order starts at its top: the largest jump first, say.
    connect(tvTracks->horizontalHeader(), &QHeaderView::sortIndicatorChanged, tvTracks,
            &QTableView::scrollToTop);
    tvTracks->installEventFilter(this);
    connect(model, &TrackTableModel::CountsChanged, this, &TFormTrackTable::UpdateCounts);
    // A new set of rows shown (a filter typed, say) starts at its top, with
    // the current track's row marked if it is among them.
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        ShowCurrentTrack(current, hasCurrent, false);
        tvTracks->scrollToTop();
    });
    UpdateCounts();
}

void TFormTrackTable::Open()
{
    show();
    raise();
    activateWindow();
    leFilter->setFocus(Qt::OtherFocusReason);
}

void TFormTrackTable::ShowCurrentTrack(TrackRef track, bool known, bool scroll)
{
    current = track;
    hasCurrent = known;
    const int row = known ? model->RowOf(track) : -1;
    if (row < 0) {
        tvTracks->selectionModel()->clear();
        return;
    }
    const QModelIndex index = model->index(row, TrackTableModel::IdColumn);
    tvTracks->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (scroll)
        tvTracks->scrollTo(index);
}

void TFormTrackTable::SetPending(const QString &note)
{
    pending = note;
    UpdateCounts();
}

void TFormTrackTable::ApplyFilter(const QString &text)
{
    QString why;
    const bool ok = model->SetFilter(text, why);
    // A wrong filter leaves the table as it was and says why.
    QPalette palette = leFilter->palette();
    palette.setColor(QPalette::Base, ok ? QPalette().color(QPalette::Base) : QColor(255, 205, 205));
    leFilter->setPalette(palette);
    leFilter->setProperty("invalid", !ok);
    lbFilterError->setText(why);
    lbFilterError->setVisible(!ok);
}

void TFormTrackTable::UpdateCounts()
{
    QString text = tr("Showing %1 of %2 tracks; reviewed %3")
                       .arg(Count(model->ShownCount()), Count(model->TrackCount()),
                            Count(model->ReviewedCount()));
    if (!pending.isEmpty())
        text += QStringLiteral("  ") + pending;
    lbCounts->setText(text);
}

bool TFormTrackTable::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in the table without a current row (after a click on a header,
    // say) goes to the first track, as it does in the filter line.
    if (watched == tvTracks && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter)
            && !tvTracks->currentIndex().isValid()) {
            Activate();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Enter in the filter line goes to the selected track, or the first one.
void TFormTrackTable::Activate()
{
    if (model->ShownCount() == 0)
        return;
    const QModelIndex selected = tvTracks->currentIndex();
    emit GoToTrack(model->TrackAt(selected.isValid() ? selected.row() : 0));
}
