#pragma once

#include "table/trackref.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QTableView;
class TrackTableModel;

// The "Track Table" window: every loaded track with its measures, sorted by
// a click on a column's header and narrowed by the filter line above it; the
// counts below. Enter or a double-click on a row asks to go to its track.
class TFormTrackTable : public QWidget
{
    Q_OBJECT

public:
    TFormTrackTable(TrackTableModel *model, QWidget *parent);

    // Brings the window forward with the keyboard in the filter line.
    void Open();
    // Marks the row of track as the table's current row (none if not shown),
    // scrolled into sight if asked.
    void ShowCurrentTrack(TrackRef track, bool known, bool scroll = true);
    // The text under the table: "Showing 412 of 20,000 tracks; reviewed 37",
    // and what is still being measured.
    void SetPending(const QString &note);

signals:
    void GoToTrack(TrackRef track);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ApplyFilter(const QString &text);
    void UpdateCounts();
    void Activate();

    TrackTableModel *model;
    QLineEdit *leFilter;
    QLabel *lbFilterError;
    QTableView *tvTracks;
    QLabel *lbCounts;
    QString pending;
    bool hasCurrent = false;
    TrackRef current;
};
