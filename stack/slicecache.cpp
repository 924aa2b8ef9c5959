#include "stack/slicecache.h"

void SliceCache::Reset(int slices, qint64 bytes)
{
    Clear();
    count = slices;
    budget = bytes;
    current = 0;
    direction = 1;
}

std::vector<int> SliceCache::HeldSlices() const
{
    std::vector<int> slices;
    for (const auto &entry : held)
        slices.push_back(entry.first);
    return slices;
}

void SliceCache::SetFocus(int slice)
{
    if (slice > current)
        direction = 1;
    else if (slice < current)
        direction = -1;
    current = slice;
}

qint64 SliceCache::Rank(int slice) const
{
    // Ahead at distance d ranks 2d, behind 4d - 1: between ahead 2d - 1 and
    // ahead 2d, and never equal to another slice's rank.
    const qint64 offset = qint64(slice - current) * direction;
    return offset >= 0 ? 2 * offset : 4 * -offset - 1;
}

void SliceCache::VisitInRankOrder(const std::function<bool(int)> &visit) const
{
    // Two walks outward from the current slice, merged by rank.
    int ahead = current;
    int behind = current - direction;
    const auto inside = [this](int slice) { return slice >= 0 && slice < count; };
    while (inside(ahead) || inside(behind)) {
        const bool takeAhead = inside(ahead) && (!inside(behind) || Rank(ahead) < Rank(behind));
        int &next = takeAhead ? ahead : behind;
        const int slice = next;
        next += takeAhead ? direction : -direction;
        if (!visit(slice))
            return;
    }
}

QImage SliceCache::Find(int slice) const
{
    const auto it = held.find(slice);
    return it == held.end() ? QImage() : it->second;
}

qint64 SliceCache::EvictableFor(int slice) const
{
    const qint64 rank = Rank(slice);
    qint64 bytes = 0;
    for (const auto &[other, image] : held) {
        if (Rank(other) > rank)
            bytes += image.sizeInBytes();
    }
    return bytes;
}

void SliceCache::EvictFor(int slice, qint64 bytes, std::vector<QImage> *evicted)
{
    const qint64 rank = Rank(slice);
    while (used + bytes > budget && !held.empty()) {
        // Ranks grow with the distance on either side of the current slice,
        // so the furthest slice held is the first or the last.
        const auto last = std::prev(held.end());
        const auto furthest = Rank(held.begin()->first) > Rank(last->first) ? held.begin() : last;
        if (Rank(furthest->first) <= rank)
            return;
        used -= furthest->second.sizeInBytes();
        if (evicted)
            evicted->push_back(std::move(furthest->second));
        held.erase(furthest);
    }
}

bool SliceCache::MakeRoom(int slice, qint64 bytes, std::vector<QImage> *evicted)
{
    if (used + bytes > budget && used - EvictableFor(slice) + bytes > budget)
        return false;
    EvictFor(slice, bytes, evicted);
    return true;
}

bool SliceCache::Reserve(int slice, qint64 bytes, std::vector<QImage> *evicted)
{
    Unreserve(slice);
    if (!MakeRoom(slice, bytes, evicted))
        return false;
    reserved[slice] = bytes;
    used += bytes;
    return true;
}

void SliceCache::Unreserve(int slice)
{
    const auto it = reserved.find(slice);
    if (it == reserved.end())
        return;
    used -= it->second;
    reserved.erase(it);
}

bool SliceCache::Insert(int slice, const QImage &image)
{
    Unreserve(slice);
    const auto old = held.find(slice);
    if (old != held.end()) {
        used -= old->second.sizeInBytes();
        held.erase(old);
    }
    const qint64 bytes = image.sizeInBytes();
    if (!MakeRoom(slice, bytes, nullptr))
        return false;
    held[slice] = image;
    used += bytes;
    return true;
}

void SliceCache::Clear()
{
    held.clear();
    reserved.clear();
    used = 0;
}
