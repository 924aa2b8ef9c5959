#pragma once

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

// One entry of a FlatMap: the track id (first) and what it maps to (second),
// as an element of a std::map would name them.
template <typename T> struct FlatEntry
{
    FlatEntry() = default;
    // A template, as std::pair's, so that { id, value } with an int id is no
    // narrowing.
    template <typename Key, typename... Args, typename = std::enable_if_t<std::is_integral_v<Key>>>
    FlatEntry(Key key, Args &&...args)
        : first(static_cast<unsigned int>(key))
        , second(std::forward<Args>(args)...)
    {
    }

    unsigned int first = 0;
    T second {};
};

// Track id to a value, in ascending id: the subset of std::map<unsigned int, T>
// the program uses, held as one sorted vector. A table of 20,000 tracks is
// 20,000 entries side by side instead of 20,000 tree nodes, it is built in one
// ascending pass, and looking a track up is a bisection within one block of
// memory.
//
// Unlike std::map, inserting or erasing an entry moves the entries after it
// (a track created or deleted costs a move of the table, well under a
// millisecond for 100,000 tracks), and iterators and references into the
// table are invalid after any insertion or erasure.
template <typename T> class FlatMap
{
public:
    using key_type = unsigned int;
    using mapped_type = T;
    using value_type = FlatEntry<T>;
    using Storage = std::vector<value_type>;
    using size_type = typename Storage::size_type;
    using iterator = typename Storage::iterator;
    using const_iterator = typename Storage::const_iterator;
    using reverse_iterator = typename Storage::reverse_iterator;
    using const_reverse_iterator = typename Storage::const_reverse_iterator;

    FlatMap() = default;
    // Entries in any order; of entries with the same id the first is kept,
    // as std::map keeps it.
    FlatMap(std::initializer_list<value_type> list)
        : entries(list)
    {
        std::stable_sort(entries.begin(), entries.end(), ById);
        entries.erase(std::unique(entries.begin(), entries.end(),
                                  [](const value_type &a, const value_type &b) {
                                      return a.first == b.first;
                                  }),
                      entries.end());
    }

    size_type size() const noexcept { return entries.size(); }
    bool empty() const noexcept { return entries.empty(); }
    void clear() noexcept { entries.clear(); }
    void reserve(size_type n) { entries.reserve(n); }
    void shrink_to_fit() { entries.shrink_to_fit(); }
    void swap(FlatMap &other) noexcept { entries.swap(other.entries); }

    iterator begin() noexcept { return entries.begin(); }
    iterator end() noexcept { return entries.end(); }
    const_iterator begin() const noexcept { return entries.begin(); }
    const_iterator end() const noexcept { return entries.end(); }
    const_iterator cbegin() const noexcept { return entries.cbegin(); }
    const_iterator cend() const noexcept { return entries.cend(); }
    reverse_iterator rbegin() noexcept { return entries.rbegin(); }
    reverse_iterator rend() noexcept { return entries.rend(); }
    const_reverse_iterator rbegin() const noexcept { return entries.rbegin(); }
    const_reverse_iterator rend() const noexcept { return entries.rend(); }

    iterator lower_bound(key_type key)
    {
        return std::lower_bound(entries.begin(), entries.end(), key, ByKey);
    }
    const_iterator lower_bound(key_type key) const
    {
        return std::lower_bound(entries.begin(), entries.end(), key, ByKey);
    }
    iterator upper_bound(key_type key)
    {
        return std::upper_bound(entries.begin(), entries.end(), key, KeyBefore);
    }
    const_iterator upper_bound(key_type key) const
    {
        return std::upper_bound(entries.begin(), entries.end(), key, KeyBefore);
    }
    iterator find(key_type key)
    {
        const iterator at = lower_bound(key);
        return at != end() && at->first == key ? at : end();
    }
    const_iterator find(key_type key) const
    {
        const const_iterator at = lower_bound(key);
        return at != end() && at->first == key ? at : end();
    }
    size_type count(key_type key) const { return find(key) != end() ? 1 : 0; }
    bool contains(key_type key) const { return count(key) != 0; }

    // Throw std::out_of_range for an id that is not in the table.
    T &at(key_type key)
    {
        const iterator found = find(key);
        if (found == end())
            throw std::out_of_range("FlatMap::at: no such id");
        return found->second;
    }
    const T &at(key_type key) const
    {
        const const_iterator found = find(key);
        if (found == end())
            throw std::out_of_range("FlatMap::at: no such id");
        return found->second;
    }
    // Inserts a default value when the id is not in the table.
    T &operator[](key_type key) { return try_emplace(key).first->second; }

    // Insert unless the id is in the table (then its value stays).
    template <typename... Args> std::pair<iterator, bool> try_emplace(key_type key, Args &&...args)
    {
        const iterator at = lower_bound(key);
        if (at != end() && at->first == key)
            return { at, false };
        return { entries.emplace(at, key, std::forward<Args>(args)...), true };
    }
    // The hint is where the entry goes if it is right (building a table in
    // ascending id costs no search), and ignored otherwise.
    template <typename... Args>
    iterator try_emplace(const_iterator hint, key_type key, Args &&...args)
    {
        if (HintFits(hint, key))
            return entries.emplace(hint, key, std::forward<Args>(args)...);
        return try_emplace(key, std::forward<Args>(args)...).first;
    }
    template <typename... Args> std::pair<iterator, bool> emplace(key_type key, Args &&...args)
    {
        return try_emplace(key, std::forward<Args>(args)...);
    }
    template <typename... Args>
    iterator emplace_hint(const_iterator hint, key_type key, Args &&...args)
    {
        return try_emplace(hint, key, std::forward<Args>(args)...);
    }
    std::pair<iterator, bool> insert(const value_type &entry)
    {
        return try_emplace(entry.first, entry.second);
    }
    template <typename V> std::pair<iterator, bool> insert_or_assign(key_type key, V &&value)
    {
        auto [at, inserted] = try_emplace(key, std::forward<V>(value));
        if (!inserted)
            at->second = std::forward<V>(value);
        return { at, inserted };
    }
    template <typename V> iterator insert_or_assign(const_iterator hint, key_type key, V &&value)
    {
        if (HintFits(hint, key))
            return entries.emplace(hint, key, std::forward<V>(value));
        return insert_or_assign(key, std::forward<V>(value)).first;
    }

    size_type erase(key_type key)
    {
        const iterator found = find(key);
        if (found == end())
            return 0;
        entries.erase(found);
        return 1;
    }
    iterator erase(const_iterator position) { return entries.erase(position); }
    iterator erase(const_iterator first, const_iterator last) { return entries.erase(first, last); }

    friend bool operator==(const FlatMap &a, const FlatMap &b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const value_type &x, const value_type &y) {
                              return x.first == y.first && x.second == y.second;
                          });
    }
    friend bool operator!=(const FlatMap &a, const FlatMap &b) { return !(a == b); }

private:
    static bool ById(const value_type &a, const value_type &b) { return a.first < b.first; }
    static bool ByKey(const value_type &entry, key_type key) { return entry.first < key; }
    static bool KeyBefore(key_type key, const value_type &entry) { return key < entry.first; }
    bool HintFits(const_iterator hint, key_type key) const
    {
        return (hint == entries.begin() || std::prev(hint)->first < key)
            && (hint == entries.end() || key < hint->first);
    }

    Storage entries;
};
