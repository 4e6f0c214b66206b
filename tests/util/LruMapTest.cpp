#include "util/LruMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <list>
#include <random>

#include "jcompat/Exceptions.h"

namespace ferrow::util {
namespace {

// An entry keyed by its id; the hash is set separately, as the owners do.
struct Entry final : LruMapNode {
    int id = 0;

    bool equals(const LruMapNode& other) const override { return id == static_cast<const Entry&>(other).id; }
};

Entry probe(int id, std::int32_t hash) {
    Entry key;
    key.id = id;
    key.hash = hash;
    return key;
}

TEST(LruMapTest, RecyclesTheLeastRecentlyUsedEntry) {
    LruMap map(8, 3);
    Entry a, b, c, d;
    a.id = 1, b.id = 2, c.id = 3, d.id = 4;
    for (Entry* e : {&a, &b, &c, &d}) {
        e->hash = e->id * 7;
    }
    map.put(&a);
    map.put(&b);
    EXPECT_EQ(map.removeLru(), nullptr); // below maxSize: nothing changes
    EXPECT_EQ(map.size(), 2);
    map.put(&c);
    map.moveToMostRecent(&a);
    EXPECT_EQ(map.removeLru(), &b);
    EXPECT_EQ(map.get(probe(2, 14)), nullptr);
    map.put(&d);
    EXPECT_EQ(map.removeLru(), &c);
    EXPECT_EQ(map.size(), 2);
    EXPECT_EQ(map.get(probe(1, 7)), &a);
    EXPECT_EQ(map.get(probe(4, 28)), &d);
    // get does not touch the order: a is still the least recently used.
    map.put(&b);
    EXPECT_EQ(map.removeLru(), &a);
}

TEST(LruMapTest, MovingTheMostRecentEntryChangesNothing) {
    LruMap map(4, 2);
    Entry a, b;
    a.id = 1, b.id = 2;
    map.put(&a);
    map.put(&b);
    map.moveToMostRecent(&b);
    EXPECT_EQ(map.removeLru(), &a);
    EXPECT_EQ(map.removeLru(), nullptr);
}

TEST(LruMapTest, HashesThatShareABinAreToldApartByEquals) {
    LruMap map(16, 10);
    Entry low, high, negative;
    low.id = 1;
    low.hash = 5;
    high.id = 2;
    high.hash = 5 | 0x70000000; // differs only above bit 27
    negative.id = 3;
    negative.hash = -1; // bin (0x0FFFFFFF % 16) = 15, never a negative bin
    map.put(&low);
    map.put(&high);
    map.put(&negative);
    EXPECT_EQ(map.get(probe(1, 5)), &low);
    EXPECT_EQ(map.get(probe(2, 5)), &high);
    EXPECT_EQ(map.get(probe(3, -1)), &negative);
    EXPECT_EQ(map.get(probe(3, 15)), &negative);
    EXPECT_EQ(map.get(probe(3, 14)), nullptr);
}

TEST(LruMapTest, NeedsABin) {
    EXPECT_THROW(LruMap(-1, 4), jcompat::IllegalArgumentException);
    EXPECT_THROW(LruMap(0, 4), jcompat::IllegalArgumentException);
}

// The caching pattern of the evaluation cache against a list kept in recency order.
TEST(LruMapTest, RandomUseMatchesARecencyList) {
    std::mt19937 random(4242);
    constexpr int maxSize = 16;
    LruMap map(5, maxSize);
    std::deque<Entry> entries;
    std::list<int> recency; // ids, least recently used first
    for (int step = 0; step < 20000; ++step) {
        const int id = static_cast<int>(random() % 40);
        const Entry key = probe(id, id * 0x01000001);
        LruMapNode* found = map.get(key);
        const auto inList = std::find(recency.begin(), recency.end(), id);
        ASSERT_EQ(found != nullptr, inList != recency.end());
        if (found != nullptr) {
            ASSERT_EQ(static_cast<Entry*>(found)->id, id);
            map.moveToMostRecent(found);
            recency.erase(inList);
            recency.push_back(id);
            continue;
        }
        auto* entry = static_cast<Entry*>(map.removeLru());
        if (entry == nullptr) {
            ASSERT_LT(static_cast<int>(recency.size()), maxSize);
            entry = &entries.emplace_back();
        } else {
            ASSERT_EQ(entry->id, recency.front());
            recency.pop_front();
        }
        entry->id = id;
        entry->hash = key.hash;
        map.put(entry);
        recency.push_back(id);
        ASSERT_EQ(map.size(), static_cast<int>(recency.size()));
    }
    EXPECT_EQ(entries.size(), static_cast<std::size_t>(maxSize));
}

} // namespace
} // namespace ferrow::util
