#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "jcompat/LinkedHashMap.h"

namespace ferrow::jcompat {

// A map kept in insertion order whose entry listing is sorted by key.
template <typename Key, typename Value>
class TreeMap {
public:
    void put(const Key& key, Value value) { map_.put(key, std::move(value)); }
    const Value* get(const Key& key) const { return map_.get(key); }
    Value* get(const Key& key) { return map_.get(key); }
    bool containsKey(const Key& key) const { return map_.containsKey(key); }
    bool containsValue(const Value& value) const { return map_.containsValue(value); }
    bool remove(const Key& key) { return map_.remove(key); }
    std::size_t size() const { return map_.size(); }
    bool isEmpty() const { return map_.isEmpty(); }

    // A snapshot of the entries, ascending by key (stable for equal keys).
    std::vector<std::pair<Key, Value>> entries() const {
        std::vector<std::pair<Key, Value>> sorted(map_.begin(), map_.end());
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        return sorted;
    }

    // The keys in insertion order.
    std::vector<Key> keySet() const {
        std::vector<Key> keys;
        keys.reserve(map_.size());
        for (const auto& entry : map_) keys.push_back(entry.first);
        return keys;
    }

private:
    LinkedHashMap<Key, Value> map_;
};

} // namespace ferrow::jcompat
