#include "review/tformstrandsight.h"

#include "review/tformstrandsightform.h"
#include "table/trackreviewer.h"
#include "view/tformtrackview.h"

#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QStatusBar>
#include <QTimer>
#include <functional>

void TFormStrandsight::ConnectReviewer()
{
    reviewer = new TrackReviewer(viewWindow.get(), tasks, this);
    // A double-click on an id goes to its track, as the track table does.
    for (const bool error : { false, true }) {
        QListWidget *list = error ? form->lwErr : form->lwCorr;
        connect(list, &QListWidget::itemDoubleClicked, this, [this, error](QListWidgetItem *item) {
            bool ok = false;
            const unsigned int id = item->text().toUInt(&ok);
            if (ok && reviewer->GoToTrack({ error, id }))
                ShowViewForm();
        });
    }
    connect(reviewer, &TrackReviewer::PickToggled, this, &TFormStrandsight::TogglePick);
    for (QListWidget *list : { form->lwCorr, form->lwErr, form->lwPick }) {
        QAbstractItemModel *model = list->model();
        connect(model, &QAbstractItemModel::rowsInserted, this,
                &TFormStrandsight::ScheduleListCounts);
        connect(model, &QAbstractItemModel::rowsRemoved, this,
                &TFormStrandsight::ScheduleListCounts);
        connect(model, &QAbstractItemModel::modelReset, this,
                &TFormStrandsight::ScheduleListCounts);
    }
    QAbstractItemModel *picks = form->lwPick->model();
    connect(picks, &QAbstractItemModel::rowsInserted, this,
            &TFormStrandsight::SchedulePickedUpdate);
    connect(picks, &QAbstractItemModel::rowsRemoved, this, &TFormStrandsight::SchedulePickedUpdate);
    connect(picks, &QAbstractItemModel::modelReset, this, &TFormStrandsight::SchedulePickedUpdate);
    connect(picks, &QAbstractItemModel::dataChanged, this, &TFormStrandsight::SchedulePickedUpdate);
}

void TFormStrandsight::TogglePick(TrackRef track)
{
    const QString text
        = (track.error ? QStringLiteral("E") : QString()) + QString::number(track.id);
    // The picked list's own duplicate test: the text, letter case ignored.
    const QList<QListWidgetItem *> found = form->lwPick->findItems(text, Qt::MatchFixedString);
    const QString name
        = track.error ? tr("Error track %1").arg(track.id) : tr("Track %1").arg(track.id);
    if (found.isEmpty()) {
        form->lwPick->addItem(text);
        viewWindow->statusBar()->showMessage(tr("%1 picked").arg(name), 4000);
    } else {
        qDeleteAll(found);
        viewWindow->statusBar()->showMessage(tr("%1 no longer picked").arg(name), 4000);
    }
}

namespace {

// Runs work once the event loop is back, however often it is asked for
// before then; pending (owner's) tells that it is due.
void OnceSettled(QObject *owner, bool &pending, std::function<void()> work)
{
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(0, owner, [&pending, work = std::move(work)] {
        pending = false;
        work();
    });
}

} // namespace

// Picks are removed one entry at a time (reloading a kind drops thousands):
// the table learns of them once the list has settled.
void TFormStrandsight::SchedulePickedUpdate()
{
    OnceSettled(this, pickedUpdatePending, [this] {
        std::vector<unsigned int> norms;
        std::vector<unsigned int> errs;
        SplitPickedIds(norms, errs);
        reviewer->SetPickedIds(norms, errs);
    });
}

// A list is filled one entry at a time (a million for a large set): the
// titles are counted once it has settled, not formatted and laid out again
// for every entry.
void TFormStrandsight::ScheduleListCounts()
{
    OnceSettled(this, listCountsPending, [this] { UpdateListCounts(); });
}

void TFormStrandsight::UpdateListCounts()
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    const auto show = [&locale](QLabel *label, const QString &title, const QListWidget *list) {
        // An empty list keeps its plain title. The titles are narrow: a count
        // that does not fit beside one goes under it.
        if (list->count() == 0) {
            label->setText(title);
            return;
        }
        const QString count = QStringLiteral("(%1)").arg(locale.toString(list->count()));
        const QString oneLine = title + QLatin1Char(' ') + count;
        const bool fits
            = label->fontMetrics().horizontalAdvance(oneLine) <= label->contentsRect().width();
        label->setText(fits ? oneLine : title + QLatin1Char('\n') + count);
    };
    show(form->lbCorr, tr("Non-Error Tracks"), form->lwCorr);
    show(form->lbError, tr("Error Tracks"), form->lwErr);
    show(form->lbPick, tr("Picked Tracks"), form->lwPick);
}
