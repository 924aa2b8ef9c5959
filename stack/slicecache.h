#pragma once

#include <QImage>
#include <functional>
#include <map>
#include <vector>

// The display images of a sequence's slices that are held in memory, never
// more bytes than a budget. When not every slice fits, the slices nearest the
// current one are kept: a slice ahead in the direction of stepping counts as
// half as far as one behind, so that stepping on finds its slices waiting.
// Room is made by evicting the slices ranked furthest away.
//
// Bytes are reserved for a slice before it is decoded and the reservation is
// replaced by the image when it arrives, so that slices being decoded count
// against the budget as well.
class SliceCache
{
public:
    // Forgets every slice; count slices, focus on slice 0 stepping forward.
    void Reset(int count, qint64 budget);

    qint64 Budget() const { return budget; }
    // Held and reserved bytes: never above the budget.
    qint64 Bytes() const { return used; }
    int HeldCount() const { return static_cast<int>(held.size()); }
    std::vector<int> HeldSlices() const;

    // The slice shown and the direction of the last step (+1 or -1; a step to
    // the same slice keeps the direction).
    void SetFocus(int current);
    // Calls visit with every slice, the ones kept first, until it returns false.
    void VisitInRankOrder(const std::function<bool(int)> &visit) const;

    bool Holds(int slice) const { return held.count(slice) > 0; }
    bool Reserved(int slice) const { return reserved.count(slice) > 0; }
    QImage Find(int slice) const;

    // Reserves bytes for slice, evicting held slices ranked behind it (the
    // furthest first) into evicted. False, and nothing evicted, when even that
    // leaves too little room.
    bool Reserve(int slice, qint64 bytes, std::vector<QImage> *evicted = nullptr);
    void Unreserve(int slice);
    // Holds image for slice in place of its reservation. False when it does not
    // fit even after evicting the slices ranked behind it; it is not held then.
    bool Insert(int slice, const QImage &image);
    void Clear();

private:
    // Smaller is kept first; every slice has its own rank.
    qint64 Rank(int slice) const;
    // Bytes held by slices ranked behind slice.
    qint64 EvictableFor(int slice) const;
    // Evicts slices ranked behind slice until bytes more fit; false, and
    // nothing evicted, when they cannot.
    bool MakeRoom(int slice, qint64 bytes, std::vector<QImage> *evicted);
    void EvictFor(int slice, qint64 bytes, std::vector<QImage> *evicted);

    int count = 0;
    qint64 budget = 0;
    qint64 used = 0;
    int current = 0;
    int direction = 1;
    std::map<int, QImage> held;
    std::map<int, qint64> reserved;
};
