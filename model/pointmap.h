#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <type_traits>
#include <utility>

// A track's position on one image, in image pixel coordinates (y grows downward).
// Single precision on purpose: this is what the track files carry and what keeps
// tens of millions of points in memory.
struct TrackPoint
{
    float x = 0.0f;
    float y = 0.0f;
};

inline bool operator==(const TrackPoint &a, const TrackPoint &b)
{
    return a.x == b.x && a.y == b.y;
}
inline bool operator!=(const TrackPoint &a, const TrackPoint &b) { return !(a == b); }

// One point of a track: the image index (first) and the point there (second),
// as an element of a std::map would name them.
struct PointEntry
{
    PointEntry() = default;
    // A template, as std::pair's, so that { slice, point } with an int slice
    // is no narrowing.
    template <typename Image, typename = std::enable_if_t<std::is_integral_v<Image>>>
    PointEntry(Image image, const TrackPoint &point)
        : first(static_cast<unsigned int>(image))
        , second(point)
    {
    }

    unsigned int first = 0;
    TrackPoint second;
};

// One track's points keyed by image index, at most one per image, in ascending
// image order: the subset of std::map<unsigned int, TrackPoint> the program
// uses, held as one sorted array of 12-byte entries.
//
// Copies share the array (a copy costs a reference count, so the registry and a
// marker hold the same points once); the first change through a holder that
// shares it gives that holder an array of its own, so a change never shows
// through another holder. As with Qt's containers, any non-const access
// (begin(), find(), operator[] on a non-const map) makes that copy when the
// array is shared: read through a const reference where nothing changes.
//
// Unlike std::map, inserting or erasing moves the entries after it:
// iterators, references and PointOn's pointers into the map are invalid after
// any change.
class PointMap
{
public:
    using key_type = unsigned int;
    using mapped_type = TrackPoint;
    using value_type = PointEntry;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = PointEntry &;
    using const_reference = const PointEntry &;
    using iterator = PointEntry *;
    using const_iterator = const PointEntry *;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    PointMap() noexcept = default;
    // Entries in any order; of entries with the same image the first is kept,
    // as std::map keeps it.
    PointMap(std::initializer_list<PointEntry> entries);
    PointMap(const PointMap &other) noexcept;
    PointMap(PointMap &&other) noexcept;
    PointMap &operator=(const PointMap &other) noexcept;
    PointMap &operator=(PointMap &&other) noexcept;
    ~PointMap();

    size_type size() const noexcept { return block ? block->size : 0; }
    bool empty() const noexcept { return size() == 0; }
    void clear() noexcept;
    // Room for n points without growing (and an array of its own).
    void reserve(size_type n);
    void swap(PointMap &other) noexcept { std::swap(block, other.block); }

    const_iterator begin() const noexcept { return Data(); }
    const_iterator end() const noexcept { return Data() + size(); }
    const_iterator cbegin() const noexcept { return begin(); }
    const_iterator cend() const noexcept { return end(); }
    iterator begin();
    iterator end();
    const_reverse_iterator rbegin() const noexcept { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const noexcept { return const_reverse_iterator(begin()); }
    reverse_iterator rbegin() { return reverse_iterator(end()); }
    reverse_iterator rend() { return reverse_iterator(begin()); }

    const_iterator find(key_type image) const noexcept;
    iterator find(key_type image);
    size_type count(key_type image) const noexcept { return find(image) != end() ? 1 : 0; }
    bool contains(key_type image) const noexcept { return count(image) != 0; }
    const_iterator lower_bound(key_type image) const noexcept;
    const_iterator upper_bound(key_type image) const noexcept;
    iterator lower_bound(key_type image);
    iterator upper_bound(key_type image);
    // Throw std::out_of_range when the track has no point on image.
    const TrackPoint &at(key_type image) const;
    TrackPoint &at(key_type image);
    // Inserts a point (0, 0) when the track has none on image.
    TrackPoint &operator[](key_type image);

    // Insert unless the image has a point already (then that one stays).
    std::pair<iterator, bool> insert(const PointEntry &entry);
    std::pair<iterator, bool> try_emplace(key_type image, const TrackPoint &point = {});
    std::pair<iterator, bool> emplace(key_type image, const TrackPoint &point);
    iterator emplace_hint(const_iterator hint, key_type image, const TrackPoint &point);
    // Insert or replace. The hint is where the entry goes if it is right
    // (appending in image order costs no search), and ignored otherwise.
    std::pair<iterator, bool> insert_or_assign(key_type image, const TrackPoint &point);
    iterator insert_or_assign(const_iterator hint, key_type image, const TrackPoint &point);

    size_type erase(key_type image);
    iterator erase(const_iterator position);
    iterator erase(const_iterator first, const_iterator last);

    // The two share one array (for tests and the benchmark's memory count).
    bool IsSharedWith(const PointMap &other) const noexcept
    {
        return block && block == other.block;
    }
    // Bytes of the array, shared or not.
    size_type AllocatedBytes() const noexcept;

    friend bool operator==(const PointMap &a, const PointMap &b) noexcept;
    friend bool operator!=(const PointMap &a, const PointMap &b) noexcept { return !(a == b); }

private:
    // The shared array: its header, then capacity entries, size of them used.
    struct Block
    {
        std::atomic<std::uint32_t> ref;
        std::uint32_t size;
        std::uint32_t capacity;
    };

    static Block *Allocate(size_type capacity);
    static void Release(Block *block) noexcept;
    static PointEntry *EntriesOf(Block *block) noexcept
    {
        return reinterpret_cast<PointEntry *>(reinterpret_cast<char *>(block) + sizeof(Block));
    }
    const PointEntry *Data() const noexcept { return block ? EntriesOf(block) : nullptr; }
    PointEntry *MutableData() noexcept { return block ? EntriesOf(block) : nullptr; }
    bool Shared() const noexcept { return block && block->ref.load(std::memory_order_acquire) > 1; }
    // An array of its own, with room for extra more entries.
    void Detach(size_type extra = 0);
    iterator InsertAt(size_type index, key_type image, const TrackPoint &point);
    size_type LowerIndex(key_type image) const noexcept;
    size_type IndexOf(const_iterator position) const noexcept
    {
        return static_cast<size_type>(position - Data());
    }

    Block *block = nullptr;
};

static_assert(sizeof(PointEntry) == 12, "a point takes 12 bytes");
static_assert(std::is_trivially_copyable_v<PointEntry>, "points are moved as bytes");
