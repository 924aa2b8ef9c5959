#include "review/trackload.h"

#include "model/errorfiber.h"
#include "model/normalfiber.h"
#include "model/trackcolors.h"
#include "model/trackset.h"
#include "stack/imagesequence.h"
#include "tasks/taskcontrol.h"

#include <QCoreApplication>
#include <algorithm>
#include <malloc.h>
#include <new>
#include <utility>

namespace {

const int kReadPollMs = 10;

QString Tr(const char *text) { return QCoreApplication::translate("TFormStrandsight", text); }

// The order of a sorted list widget (plain character-code comparison of the
// texts) for decimal ids, by a numeric key instead of string comparisons: the
// digits padded with zeros to ten places, a shorter text first on a tie
// ("1" < "10" < "100" < "11").
quint64 ListTextKey(const QString &label)
{
    const quint64 value = label.toULongLong();
    const int digits = static_cast<int>(label.size());
    quint64 padded = value;
    for (int d = digits; d < 10; ++d)
        padded *= 10;
    return padded * 16 + static_cast<quint64>(digits);
}

void SortAsListText(QStringList &labels)
{
    std::vector<std::pair<quint64, qsizetype>> keys;
    keys.reserve(static_cast<size_t>(labels.size()));
    for (qsizetype i = 0; i < labels.size(); ++i)
        keys.emplace_back(ListTextKey(labels[i]), i);
    std::sort(keys.begin(), keys.end());
    QStringList sorted;
    sorted.reserve(labels.size());
    for (const auto &key : keys)
        sorted << std::move(labels[key.second]);
    labels = std::move(sorted);
}

} // namespace

TrackLoad::TrackLoad(QStringList files, bool error)
    : files(std::move(files))
    , error(error)
    , kind(error ? Tr("error tracks") : Tr("non-error tracks"))
{
    this->files.sort(Qt::CaseSensitive);
}

TrackLoad::~TrackLoad()
{
    qDeleteAll(normals);
    qDeleteAll(errors);
}

void TrackLoad::Read(TaskControl &control)
{
    // Before the new tracks take any of it.
    available = ImageSequence::AvailableBytes();
    const int count = static_cast<int>(files.size());
    const auto reading = [this, count](int file) {
        return Tr("Loading %1: file %2 of %3").arg(kind).arg(std::min(file + 1, count)).arg(count);
    };
    control.SetStage(reading(0));
    TrackSetReader reader(files);
    if (reader.Start()) {
        bool building = false;
        int shown = 0;
        while (!reader.WaitForFinished(kReadPollMs)) {
            // The reader stops and frees what it read on its own.
            if (control.Cancelled())
                return;
            const int parsed = reader.FilesRead();
            if (parsed < count) {
                // The bar follows the bytes, so that it moves through one
                // large file as well as through many small ones.
                if (parsed != shown) {
                    shown = parsed;
                    control.SetStage(reading(parsed));
                }
                control.SetTotal(reader.TotalBytes());
                control.SetDone(reader.BytesRead());
            } else if (!building) {
                building = true;
                control.SetStage(Tr("Loading %1: building the track table").arg(kind));
            }
        }
    }
    read = reader.Result();
    if (read.outcome == TrackSetRead::Complete)
        table = reader.TakeTable();
    else
        stopped = true;
}

void TrackLoad::Release()
{
    qDeleteAll(normals);
    std::vector<NormalFiber *>().swap(normals);
    qDeleteAll(errors);
    std::vector<ErrorFiber *>().swap(errors);
    QStringList().swap(labels);
    ColorTable().swap(colors);
    TrackTable().swap(table);
    stopped = true;
    malloc_trim(0);
}

void TrackLoad::Prepare(TaskControl &control)
{
    if (stopped)
        return;
    try {
        PrepareAll(control);
    } catch (const std::bad_alloc &) {
        Release();
        throw;
    }
}

void TrackLoad::PrepareAll(TaskControl &control)
{
    control.SetStage(Tr("Loading %1: preparing the list").arg(kind));
    tracks = static_cast<qint64>(table.size());
    for (const auto &track : table)
        points += static_cast<qint64>(track.second.size());
    needed = EstimateLoadedBytes(tracks, points);
    if (needed > available) {
        stopped = true;
        refused = true;
        return;
    }
    AssignTrackColors(table, colors);
    labels.reserve(static_cast<qsizetype>(tracks));
    for (const auto &track : table)
        labels << QString::number(track.first);
    // The list keeps its entries in text order (10 before 9), but inserting
    // a batch into a sorted list costs time quadratic in its size: the labels
    // go in already in that order with sorting off, which leaves nothing to
    // move.
    SortAsListText(labels);
    // Room for every marker now: a marker made could otherwise be lost when
    // storing it runs out of memory.
    if (error)
        errors.reserve(static_cast<size_t>(tracks));
    else
        normals.reserve(static_cast<size_t>(tracks));
    next = table.cbegin();
    control.SetStage(Tr("Loading %1: making markers, %2 of %3")
                         .arg(kind, QStringLiteral("%1"), QStringLiteral("%2")),
                     tracks);
}
