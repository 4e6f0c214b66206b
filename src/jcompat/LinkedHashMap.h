#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <unordered_map>
#include <utility>

namespace ferrow::jcompat {

// A hash map that iterates in insertion order: a new key goes to the end,
// putting an existing key again replaces its value and keeps its place, and
// removing a key keeps the order of the others.
template <typename Key, typename Value, typename Hash = std::hash<Key>>
class LinkedHashMap {
public:
    using Entry = std::pair<const Key, Value>;
    using value_type = Entry;
    using const_iterator = typename std::list<Entry>::const_iterator;
    using iterator = typename std::list<Entry>::iterator;

    LinkedHashMap() = default;
    LinkedHashMap(const LinkedHashMap& other) { *this = other; }
    LinkedHashMap& operator=(const LinkedHashMap& other) {
        if (this != &other) {
            clear();
            for (const Entry& entry : other) put(entry.first, entry.second);
        }
        return *this;
    }
    LinkedHashMap(LinkedHashMap&&) noexcept = default;
    LinkedHashMap& operator=(LinkedHashMap&&) noexcept = default;

    // Returns true when the key was new.
    bool put(const Key& key, Value value) {
        if (auto found = index_.find(key); found != index_.end()) {
            found->second->second = std::move(value);
            return false;
        }
        entries_.emplace_back(key, std::move(value));
        index_.emplace(key, std::prev(entries_.end()));
        return true;
    }

    // The value, or nullptr when the key is absent.
    const Value* get(const Key& key) const {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : &found->second->second;
    }
    Value* get(const Key& key) {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : &found->second->second;
    }

    bool containsKey(const Key& key) const { return index_.count(key) != 0; }

    bool containsValue(const Value& value) const {
        for (const Entry& entry : entries_) {
            if (entry.second == value) return true;
        }
        return false;
    }

    // Returns true when the key was present.
    bool remove(const Key& key) {
        auto found = index_.find(key);
        if (found == index_.end()) return false;
        entries_.erase(found->second);
        index_.erase(found);
        return true;
    }

    std::size_t size() const { return entries_.size(); }
    bool isEmpty() const { return entries_.empty(); }
    void clear() {
        index_.clear();
        entries_.clear();
    }

    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }

private:
    std::list<Entry> entries_;
    std::unordered_map<Key, iterator, Hash> index_;
};

} // namespace ferrow::jcompat
