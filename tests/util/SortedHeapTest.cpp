#include "util/SortedHeap.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

namespace ferrow::util {
namespace {

// Values are ids from 1 on; 0 means none.
std::vector<int> popAll(SortedHeap<int>& heap) {
    std::vector<int> values;
    for (int value = heap.popLowest(); value != 0; value = heap.popLowest()) {
        values.push_back(value);
    }
    return values;
}

TEST(SortedHeapTest, PopsInKeyOrderWithEarlierEqualKeysFirst) {
    SortedHeap<int> heap;
    heap.add(5, 1);
    heap.add(3, 2);
    heap.add(5, 3);
    heap.add(1, 4);
    EXPECT_EQ(heap.size(), 4);
    EXPECT_EQ(popAll(heap), (std::vector<int>{4, 2, 1, 3}));
    EXPECT_EQ(heap.size(), 0);
}

TEST(SortedHeapTest, NinthEntryMergesIntoTheEightSlotBin) {
    SortedHeap<int> heap;
    const int keys[] = {9, -4, 7, 0, 12, -4, 3, 8, 1};
    for (int i = 0; i < 9; ++i) {
        heap.add(keys[i], i + 1);
    }
    EXPECT_EQ(heap.size(), 9);
    // By key; of the two -4 the earlier one first; negative keys below 0.
    EXPECT_EQ(popAll(heap), (std::vector<int>{2, 6, 4, 9, 7, 3, 8, 1, 5}));
}

// Worked by hand: 1..4 fill the first bin, 5..8 the second; 9 merges them into
// the 8-slot bin (first bin drained first on equal keys) and lands in the first
// bin, which is nearer the head and so wins the tie against the merged bin.
TEST(SortedHeapTest, EqualKeysAcrossBinsFavourTheBinNearerTheHead) {
    SortedHeap<int> heap;
    for (int value = 1; value <= 9; ++value) {
        heap.add(7, value);
    }
    EXPECT_EQ(popAll(heap), (std::vector<int>{9, 1, 2, 3, 4, 5, 6, 7, 8}));

    // First bin [1,2,3,4], second [5]; after popping 1 the first bin takes 6,
    // which then comes before 5 in the second bin.
    for (int value = 1; value <= 5; ++value) {
        heap.add(5, value);
    }
    EXPECT_EQ(heap.popLowest(), 1);
    heap.add(5, 6);
    EXPECT_EQ(popAll(heap), (std::vector<int>{2, 3, 4, 6, 5}));
}

TEST(SortedHeapTest, ClearEmptiesTheHeap) {
    SortedHeap<int> heap;
    for (int value = 1; value <= 100; ++value) {
        heap.add(value % 7, value);
    }
    heap.clear();
    EXPECT_EQ(heap.size(), 0);
    EXPECT_EQ(heap.popLowest(), 0);
    heap.add(3, 1);
    EXPECT_EQ(popAll(heap), std::vector<int>{1});
}

// Random pushes and pops against an ordered multiset: every pop returns an entry
// with the lowest key, and the entries themselves come back exactly once.
TEST(SortedHeapTest, RandomPushesAndPopsMatchAnOrderedReference) {
    std::mt19937 random(2718);
    SortedHeap<int> heap;
    std::multimap<int, int> reference;
    int nextValue = 1;
    for (int round = 0; round < 3; ++round) {
        for (int step = 0; step < 60000; ++step) {
            const bool push = random() % 100 < (step < 30000 ? 60U : 45U);
            if (push) {
                const int key = static_cast<int>(random() % 2001) - 1000;
                heap.add(key, nextValue);
                reference.emplace(key, nextValue);
                ++nextValue;
            } else {
                const int value = heap.popLowest();
                if (reference.empty()) {
                    ASSERT_EQ(value, 0);
                    continue;
                }
                const int lowest = reference.begin()->first;
                auto [begin, end] = reference.equal_range(lowest);
                auto it = begin;
                while (it != end && it->second != value) {
                    ++it;
                }
                ASSERT_NE(it, end) << "popped value " << value << " does not have the lowest key " << lowest;
                reference.erase(it);
            }
            ASSERT_EQ(heap.size(), static_cast<int>(reference.size()));
        }
        heap.clear();
        reference.clear();
    }
}

} // namespace
} // namespace ferrow::util
