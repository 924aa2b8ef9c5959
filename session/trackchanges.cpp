#include "session/trackchanges.h"

bool SamePoints(const PointMap &a, const PointMap &b)
{
    if (a.size() != b.size())
        return false;
    auto other = b.begin();
    for (const auto &[image, point] : a) {
        if (other->first != image || other->second.x != point.x || other->second.y != point.y)
            return false;
        ++other;
    }
    return true;
}

// Both tables are in id order: one walk through each.
TrackChanges CompareTracks(const TrackTable &loaded, const TrackTable &now)
{
    TrackChanges changes;
    auto before = loaded.begin();
    for (const auto &[id, points] : now) {
        while (before != loaded.end() && before->first < id) {
            changes.deleted.push_back(before->first);
            ++before;
        }
        if (before != loaded.end() && before->first == id) {
            if (!SamePoints(before->second, points))
                changes.changed.emplace_hint(changes.changed.end(), id, points);
            ++before;
        } else {
            changes.changed.emplace_hint(changes.changed.end(), id, points);
        }
    }
    for (; before != loaded.end(); ++before)
        changes.deleted.push_back(before->first);
    return changes;
}

void ApplyChanges(TrackTable &table, const TrackChanges &changes)
{
    for (const unsigned int id : changes.deleted)
        table.erase(id);
    for (const auto &[id, points] : changes.changed)
        table.insert_or_assign(id, points);
}
