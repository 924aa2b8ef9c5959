#include "model/pointmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace {

const std::size_t kMaxCapacity = std::numeric_limits<std::uint32_t>::max();

bool ByImage(const PointEntry &entry, unsigned int image) { return entry.first < image; }

} // namespace

PointMap::Block *PointMap::Allocate(size_type capacity)
{
    if (capacity > kMaxCapacity)
        throw std::bad_alloc();
    void *memory = std::malloc(sizeof(Block) + capacity * sizeof(PointEntry));
    if (!memory)
        throw std::bad_alloc();
    Block *created = new (memory) Block;
    created->ref.store(1, std::memory_order_relaxed);
    created->size = 0;
    created->capacity = static_cast<std::uint32_t>(capacity);
    return created;
}

void PointMap::Release(Block *block) noexcept
{
    if (block && block->ref.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        block->~Block();
        std::free(block);
    }
}

PointMap::PointMap(std::initializer_list<PointEntry> entries)
{
    if (entries.size() == 0)
        return;
    block = Allocate(entries.size());
    PointEntry *data = EntriesOf(block);
    std::copy(entries.begin(), entries.end(), data);
    const auto byImage = [](const PointEntry &a, const PointEntry &b) { return a.first < b.first; };
    std::stable_sort(data, data + entries.size(), byImage);
    const auto sameImage
        = [](const PointEntry &a, const PointEntry &b) { return a.first == b.first; };
    block->size
        = static_cast<std::uint32_t>(std::unique(data, data + entries.size(), sameImage) - data);
}

PointMap::PointMap(const PointMap &other) noexcept
    : block(other.block)
{
    if (block)
        block->ref.fetch_add(1, std::memory_order_relaxed);
}

PointMap::PointMap(PointMap &&other) noexcept
    : block(other.block)
{
    other.block = nullptr;
}

PointMap &PointMap::operator=(const PointMap &other) noexcept
{
    PointMap copy(other);
    swap(copy);
    return *this;
}

PointMap &PointMap::operator=(PointMap &&other) noexcept
{
    PointMap moved(std::move(other));
    swap(moved);
    return *this;
}

PointMap::~PointMap() { Release(block); }

void PointMap::clear() noexcept
{
    Release(block);
    block = nullptr;
}

void PointMap::reserve(size_type n)
{
    if (n > (block ? block->capacity : 0) || Shared())
        Detach(n > size() ? n - size() : 0);
}

void PointMap::Detach(size_type extra)
{
    const size_type count = size();
    if (block && !Shared() && count + extra <= block->capacity)
        return;
    if (extra == 0 && count == 0) {
        clear();
        return;
    }
    Block *own = Allocate(count + extra);
    if (count)
        std::memcpy(EntriesOf(own), Data(), count * sizeof(PointEntry));
    own->size = static_cast<std::uint32_t>(count);
    Release(block);
    block = own;
}

PointMap::iterator PointMap::begin()
{
    Detach();
    return MutableData();
}

PointMap::iterator PointMap::end()
{
    Detach();
    return MutableData() + size();
}

PointMap::size_type PointMap::LowerIndex(key_type image) const noexcept
{
    const PointEntry *data = Data();
    return static_cast<size_type>(std::lower_bound(data, data + size(), image, ByImage) - data);
}

PointMap::const_iterator PointMap::find(key_type image) const noexcept
{
    const size_type index = LowerIndex(image);
    const PointEntry *data = Data();
    return index < size() && data[index].first == image ? data + index : end();
}

PointMap::iterator PointMap::find(key_type image)
{
    const size_type index = IndexOf(std::as_const(*this).find(image));
    Detach();
    return MutableData() + index;
}

PointMap::const_iterator PointMap::lower_bound(key_type image) const noexcept
{
    return Data() + LowerIndex(image);
}

PointMap::const_iterator PointMap::upper_bound(key_type image) const noexcept
{
    const PointEntry *data = Data();
    return std::upper_bound(
        data, data + size(), image,
        [](unsigned int key, const PointEntry &entry) { return key < entry.first; });
}

PointMap::iterator PointMap::lower_bound(key_type image)
{
    const size_type index = LowerIndex(image);
    Detach();
    return MutableData() + index;
}

PointMap::iterator PointMap::upper_bound(key_type image)
{
    const size_type index = IndexOf(std::as_const(*this).upper_bound(image));
    Detach();
    return MutableData() + index;
}

const TrackPoint &PointMap::at(key_type image) const
{
    const const_iterator found = find(image);
    if (found == end())
        throw std::out_of_range("PointMap::at: no point on this image");
    return found->second;
}

TrackPoint &PointMap::at(key_type image)
{
    std::as_const(*this).at(image);
    return find(image)->second;
}

TrackPoint &PointMap::operator[](key_type image) { return try_emplace(image).first->second; }

PointMap::iterator PointMap::InsertAt(size_type index, key_type image, const TrackPoint &point)
{
    const size_type count = size();
    if (Shared() || !block || count == block->capacity)
        Detach(std::max<size_type>(1, count / 2));
    PointEntry *data = EntriesOf(block);
    if (index < count)
        std::memmove(data + index + 1, data + index, (count - index) * sizeof(PointEntry));
    data[index] = PointEntry(image, point);
    ++block->size;
    return data + index;
}

std::pair<PointMap::iterator, bool> PointMap::insert(const PointEntry &entry)
{
    return try_emplace(entry.first, entry.second);
}

std::pair<PointMap::iterator, bool> PointMap::try_emplace(key_type image, const TrackPoint &point)
{
    const size_type index = LowerIndex(image);
    if (index < size() && Data()[index].first == image) {
        Detach();
        return { MutableData() + index, false };
    }
    return { InsertAt(index, image, point), true };
}

std::pair<PointMap::iterator, bool> PointMap::emplace(key_type image, const TrackPoint &point)
{
    return try_emplace(image, point);
}

PointMap::iterator PointMap::emplace_hint(const_iterator hint, key_type image,
                                          const TrackPoint &point)
{
    const size_type at = IndexOf(hint);
    const size_type count = size();
    const PointEntry *data = Data();
    // Right where the hint says: no search.
    if ((at == 0 || data[at - 1].first < image) && (at == count || image < data[at].first))
        return InsertAt(at, image, point);
    return try_emplace(image, point).first;
}

std::pair<PointMap::iterator, bool> PointMap::insert_or_assign(key_type image,
                                                               const TrackPoint &point)
{
    auto [position, inserted] = try_emplace(image, point);
    if (!inserted)
        position->second = point;
    return { position, inserted };
}

PointMap::iterator PointMap::insert_or_assign(const_iterator hint, key_type image,
                                              const TrackPoint &point)
{
    const size_type at = IndexOf(hint);
    const size_type count = size();
    const PointEntry *data = Data();
    if ((at == 0 || data[at - 1].first < image) && (at == count || image < data[at].first))
        return InsertAt(at, image, point);
    if (at < count && data[at].first == image) {
        Detach();
        MutableData()[at].second = point;
        return MutableData() + at;
    }
    return insert_or_assign(image, point).first;
}

PointMap::size_type PointMap::erase(key_type image)
{
    const const_iterator found = std::as_const(*this).find(image);
    if (found == cend())
        return 0;
    erase(found);
    return 1;
}

PointMap::iterator PointMap::erase(const_iterator position)
{
    return erase(position, position + 1);
}

PointMap::iterator PointMap::erase(const_iterator first, const_iterator last)
{
    const size_type from = IndexOf(first);
    const size_type to = IndexOf(last);
    const size_type count = size();
    if (from == to) {
        Detach();
        return MutableData() + from;
    }
    if (from == 0 && to == count) {
        clear();
        return MutableData();
    }
    Detach();
    PointEntry *data = EntriesOf(block);
    std::memmove(data + from, data + to, (count - to) * sizeof(PointEntry));
    block->size = static_cast<std::uint32_t>(count - (to - from));
    return data + from;
}

PointMap::size_type PointMap::AllocatedBytes() const noexcept
{
    return block ? sizeof(Block) + block->capacity * sizeof(PointEntry) : 0;
}

bool operator==(const PointMap &a, const PointMap &b) noexcept
{
    if (a.size() != b.size())
        return false;
    return std::equal(a.begin(), a.end(), b.begin(), [](const PointEntry &x, const PointEntry &y) {
        return x.first == y.first && x.second == y.second;
    });
}
