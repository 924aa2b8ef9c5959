#include "edit/trackedits.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString Tr(const char *text) { return QCoreApplication::translate("TrackEdits", text); }

// Images as the status bar counts them, from 1.
QString ImageNumber(int image) { return QString::number(image + 1); }

// "4, 5 and 8", at most a few named.
QString ImageList(const std::vector<unsigned int> &images)
{
    const size_t named = std::min<size_t>(images.size(), 5);
    QStringList numbers;
    for (size_t i = 0; i < named; ++i)
        numbers << ImageNumber(static_cast<int>(images[i]));
    if (images.size() > named)
        return Tr("%1 and %2 more")
            .arg(numbers.join(QStringLiteral(", ")))
            .arg(images.size() - named);
    if (numbers.size() == 1)
        return numbers.front();
    const QString last = numbers.takeLast();
    return Tr("%1 and %2").arg(numbers.join(QStringLiteral(", ")), last);
}

void SortUnique(std::vector<TrackKey> &keys)
{
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

EditPlan Refusal(const QString &message) { return { TrackEdit(), message }; }

// The change that deletes a track, and its pick with it.
TrackChange Deletion(const TrackRegistry &registry, TrackKey key, const PickedTest &picked)
{
    TrackChange change;
    change.key = key;
    change.track = true;
    change.before = registry.State(key);
    change.pick = picked(key);
    change.pickedBefore = change.pick;
    return change;
}

TrackChange Replacement(const TrackRegistry &registry, TrackKey key, PointMap points)
{
    TrackChange change;
    change.key = key;
    change.track = true;
    change.before = registry.State(key);
    change.after = change.before;
    change.after.points = std::move(points);
    return change;
}

// The change that adds a track that was not there.
TrackChange Addition(TrackKey key, PointMap points, const QColor &colour)
{
    TrackChange change;
    change.key = key;
    change.track = true;
    change.after.present = true;
    change.after.color = colour;
    change.after.points = std::move(points);
    return change;
}

double Distance(const TrackPoint &a, const TrackPoint &b)
{
    return std::hypot(double(a.x) - double(b.x), double(a.y) - double(b.y));
}

} // namespace

const PointMap *TrackRegistry::Find(TrackKey key) const
{
    const TrackTable &table = Tracks(key.error);
    const auto it = table.find(key.id);
    return it == table.end() ? nullptr : &it->second;
}

TrackState TrackRegistry::State(TrackKey key) const
{
    TrackState state;
    if (const PointMap *points = Find(key)) {
        state.present = true;
        state.points = *points;
        const ColorTable &colors = Colors(key.error);
        const auto colour = colors.find(key.id);
        if (colour != colors.end())
            state.color = colour->second;
    }
    return state;
}

QString TrackName(TrackKey key)
{
    return (key.error ? Tr("error track %1") : Tr("track %1")).arg(key.id);
}

EditPlan PlanPlacePoint(const TrackRegistry &registry, TrackKey key, int image, TrackPoint point)
{
    const PointMap *points = image >= 0 ? registry.Find(key) : nullptr;
    if (!points)
        return Refusal(Tr("There is no %1 to place a point of.").arg(TrackName(key)));
    const auto at = static_cast<unsigned int>(image);
    const auto old = points->find(at);
    const bool moving = old != points->end();
    if (moving && old->second.x == point.x && old->second.y == point.y)
        return Refusal(QString());
    PointMap changed = *points;
    changed.insert_or_assign(at, point);
    EditPlan plan;
    plan.edit.name = moving ? Tr("Move Point") : Tr("Add Point");
    plan.edit.changes.push_back(Replacement(registry, key, std::move(changed)));
    const QString track = TrackName(key);
    plan.message = (moving ? Tr("Moved the point of %1 on image %2.")
                           : Tr("Added a point to %1 on image %2."))
                       .arg(track, ImageNumber(image));
    return plan;
}

EditPlan PlanDeletePoints(const TrackRegistry &registry, std::vector<TrackKey> keys, int image,
                          const PickedTest &picked)
{
    SortUnique(keys);
    EditPlan plan;
    int emptied = 0;
    for (const TrackKey &key : keys) {
        const PointMap *points = image >= 0 ? registry.Find(key) : nullptr;
        if (!points || points->count(static_cast<unsigned int>(image)) == 0)
            continue;
        if (points->size() == 1) {
            plan.edit.changes.push_back(Deletion(registry, key, picked));
            ++emptied;
            continue;
        }
        PointMap kept = *points;
        kept.erase(static_cast<unsigned int>(image));
        plan.edit.changes.push_back(Replacement(registry, key, std::move(kept)));
    }
    const size_t count = plan.edit.changes.size();
    if (count == 0)
        return Refusal(
            keys.size() == 1
                ? Tr("%1 has no point on image %2.")
                      .arg(TrackName(keys.front()), ImageNumber(image))
                : Tr("None of these tracks has a point on image %1.").arg(ImageNumber(image)));
    plan.edit.name = count == 1 ? Tr("Delete Point") : Tr("Delete Points");
    plan.message = count == 1
        ? Tr("Deleted the point of %1 on image %2.")
              .arg(TrackName(plan.edit.changes.front().key), ImageNumber(image))
        : Tr("Deleted the points of %1 tracks on image %2.").arg(count).arg(ImageNumber(image));
    if (emptied == 1 && count == 1)
        plan.message += QLatin1Char(' ') + Tr("It had no other point: the track is deleted.");
    else if (emptied > 0)
        plan.message += QLatin1Char(' ')
            + Tr("%1 of them had no other point: those tracks are deleted.").arg(emptied);
    return plan;
}

EditPlan PlanDeleteTracks(const TrackRegistry &registry, std::vector<TrackKey> keys,
                          const PickedTest &picked)
{
    SortUnique(keys);
    EditPlan plan;
    for (const TrackKey &key : keys) {
        if (registry.Find(key))
            plan.edit.changes.push_back(Deletion(registry, key, picked));
    }
    const size_t count = plan.edit.changes.size();
    if (count == 0)
        return Refusal(Tr("There is no track to delete."));
    plan.edit.name = count == 1 ? Tr("Delete Track") : Tr("Delete Tracks");
    plan.message = count == 1 ? Tr("Deleted %1.").arg(TrackName(plan.edit.changes.front().key))
                              : Tr("Deleted %1 tracks.").arg(count);
    return plan;
}

EditPlan PlanSplitTrack(const TrackRegistry &registry, TrackKey key, int image,
                        const std::function<QColor(const PointMap &)> &colourFor)
{
    const PointMap *points = image >= 0 ? registry.Find(key) : nullptr;
    if (!points)
        return Refusal(Tr("There is no %1 to split.").arg(TrackName(key)));
    const auto at = static_cast<unsigned int>(image);
    if (points->empty() || points->begin()->first >= at)
        return Refusal(Tr("%1 has no point before image %2: there is nothing to split off.")
                           .arg(TrackName(key), ImageNumber(image)));
    if (points->rbegin()->first < at)
        return Refusal(Tr("%1 has no point on image %2 or after it: there is nothing to split "
                          "off.")
                           .arg(TrackName(key), ImageNumber(image)));
    const TrackTable &table = registry.Tracks(key.error);
    const unsigned int highest = table.rbegin()->first;
    if (highest == std::numeric_limits<unsigned int>::max())
        return Refusal(Tr("No id above %1 is free for the new track.").arg(highest));
    const TrackKey added { key.error, highest + 1 };

    PointMap before;
    PointMap after;
    for (const auto &[index, point] : *points)
        (index < at ? before : after).insert_or_assign(index, point);

    EditPlan plan;
    plan.edit.name = Tr("Split Track");
    const QColor colour = colourFor(after);
    plan.edit.changes.push_back(Replacement(registry, key, std::move(before)));
    plan.edit.changes.push_back(Addition(added, std::move(after), colour));
    plan.message = Tr("Split %1: from image %2 on it is the new %3.")
                       .arg(TrackName(key), ImageNumber(image), TrackName(added));
    return plan;
}

EditPlan PlanJoinTracks(const TrackRegistry &registry, TrackKey key, unsigned int otherId,
                        const PickedTest &picked)
{
    const TrackKey other { key.error, otherId };
    const PointMap *points = registry.Find(key);
    const PointMap *otherPoints = registry.Find(other);
    if (!points)
        return Refusal(Tr("There is no %1 to join.").arg(TrackName(key)));
    if (!otherPoints)
        return Refusal(Tr("There is no %1 to join it with.").arg(TrackName(other)));
    if (other == key)
        return Refusal(Tr("A track cannot be joined with itself."));

    std::vector<unsigned int> shared;
    for (const auto &entry : *otherPoints) {
        if (points->count(entry.first))
            shared.push_back(entry.first);
    }
    if (!shared.empty())
        return Refusal((shared.size() == 1 ? Tr("Tracks %1 and %2 both have a point on image %3: "
                                                "they cannot be joined.")
                                           : Tr("Tracks %1 and %2 both have points on images "
                                                "%3: they cannot be joined."))
                           .arg(key.id)
                           .arg(otherId)
                           .arg(ImageList(shared)));

    // The track whose first image comes first keeps its id and colour.
    const bool keepKey = points->empty()
        || (!otherPoints->empty() && points->begin()->first < otherPoints->begin()->first);
    const TrackKey kept = keepKey ? key : other;
    const TrackKey joined = keepKey ? other : key;
    PointMap all = keepKey ? *points : *otherPoints;
    for (const auto &[index, point] : keepKey ? *otherPoints : *points)
        all.insert_or_assign(index, point);

    EditPlan plan;
    plan.edit.name = Tr("Join Tracks");
    plan.edit.changes.push_back(Replacement(registry, kept, std::move(all)));
    plan.edit.changes.push_back(Deletion(registry, joined, picked));
    plan.message = Tr("Joined %1 into %2.").arg(TrackName(joined), TrackName(kept));
    return plan;
}

EditPlan PlanChangeKind(const TrackRegistry &registry, std::vector<TrackKey> keys,
                        const PickedTest &picked)
{
    SortUnique(keys);
    std::vector<unsigned int> taken;
    EditPlan plan;
    for (const TrackKey &key : keys) {
        if (!registry.Find(key))
            continue;
        const TrackKey moved { !key.error, key.id };
        if (registry.Find(moved)) {
            taken.push_back(key.id);
            continue;
        }
        TrackChange gone = Deletion(registry, key, picked);
        TrackChange arrived;
        arrived.key = moved;
        arrived.track = true;
        arrived.after = gone.before;
        const bool alreadyPicked = picked(moved);
        arrived.pick = gone.pickedBefore && !alreadyPicked;
        arrived.pickedBefore = alreadyPicked;
        arrived.pickedAfter = alreadyPicked || gone.pickedBefore;
        plan.edit.changes.push_back(std::move(gone));
        plan.edit.changes.push_back(std::move(arrived));
    }
    if (!taken.empty()) {
        QStringList ids;
        for (unsigned int id : taken)
            ids << QString::number(id);
        return Refusal((taken.size() == 1 ? Tr("Id %1 is already taken in the other kind: "
                                               "nothing changed kind.")
                                          : Tr("Ids %1 are already taken in the other kind: "
                                               "nothing changed kind."))
                           .arg(ids.join(QStringLiteral(", "))));
    }
    const size_t count = plan.edit.changes.size() / 2;
    if (count == 0)
        return Refusal(Tr("There is no track to change."));
    plan.edit.name = Tr("Change Kind");
    if (count == 1) {
        const TrackKey key = plan.edit.changes.front().key;
        plan.message = (key.error ? Tr("Error track %1 is now a non-error track.")
                                  : Tr("Track %1 is now an error track."))
                           .arg(key.id);
    } else {
        plan.message = Tr("%1 tracks changed kind.").arg(count);
    }
    return plan;
}

EditPlan PlanAddTrack(TrackKey key, const PointMap &points, const QColor &colour)
{
    EditPlan plan;
    plan.edit.name = Tr("Add Created Track");
    plan.edit.changes.push_back(Addition(key, points, colour));
    plan.message = Tr("Added %1.").arg(TrackName(key));
    return plan;
}

EditPlan PlanPickChange(const QString &name, const QStringList &added, const QStringList &removed)
{
    EditPlan plan;
    plan.edit.name = name;
    for (const QStringList *texts : { &added, &removed }) {
        const bool adding = texts == &added;
        for (const QString &text : *texts) {
            TrackChange change;
            if (!PickKey(text, change.key))
                continue;
            change.pick = true;
            change.pickedBefore = !adding;
            change.pickedAfter = adding;
            plan.edit.changes.push_back(std::move(change));
        }
    }
    return plan;
}

std::optional<unsigned int> ProposeJoin(const TrackTable &table, unsigned int id)
{
    const auto self = table.find(id);
    if (self == table.end() || self->second.empty())
        return std::nullopt;
    const PointMap &points = self->second;
    const unsigned int first = points.begin()->first;
    const unsigned int last = points.rbegin()->first;
    const TrackPoint &head = points.begin()->second;
    const TrackPoint &tail = points.rbegin()->second;

    std::optional<unsigned int> best;
    unsigned int bestGap = 0;
    double bestDistance = 0.0;
    for (const auto &[candidate, candidatePoints] : table) {
        if (candidate == id || candidatePoints.empty())
            continue;
        const unsigned int candidateFirst = candidatePoints.begin()->first;
        const unsigned int candidateLast = candidatePoints.rbegin()->first;
        unsigned int gap = 0;
        double distance = 0.0;
        if (candidateFirst > last) {
            gap = candidateFirst - last - 1;
            distance = Distance(tail, candidatePoints.begin()->second);
        } else if (candidateLast < first) {
            gap = first - candidateLast - 1;
            distance = Distance(head, candidatePoints.rbegin()->second);
        } else {
            continue;
        }
        // Ascending ids: a tie keeps the smaller one.
        if (!best || gap < bestGap || (gap == bestGap && distance < bestDistance)) {
            best = candidate;
            bestGap = gap;
            bestDistance = distance;
        }
    }
    return best;
}
