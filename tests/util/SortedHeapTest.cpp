#include "util/SortedHeap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <utility>
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

// The open set as a list of occupied bins, each bin a sorted run, kept in the
// list order the heap's contract describes: a model to compare the exact
// order of equal keys against, step by step.
class ListHeapModel {
public:
    void add(int key, int value) {
        if (bins_[0].size() == 4 && bins_[1].size() == 4) mergeUpwards();
        const std::size_t index = bins_[0].size() < 4 ? 0 : 1;
        std::vector<std::pair<int, int>>& bin = bins_[index];
        // Behind the entries with keys up to the new one: equal keys keep their order.
        auto at = std::upper_bound(bin.begin(), bin.end(), key,
                                   [](int k, const std::pair<int, int>& entry) { return k < entry.first; });
        bin.insert(at, {key, value});
        if (std::find(occupied_.begin(), occupied_.end(), index) == occupied_.end()) {
            occupied_.insert(occupied_.begin() + static_cast<std::ptrdiff_t>(index), index);
        }
    }

    int popLowest() {
        if (occupied_.empty()) return 0;
        std::size_t best = 0;
        for (std::size_t i = 1; i < occupied_.size() && i < 32; ++i) {
            if (bins_[occupied_[i]].front().first < bins_[occupied_[best]].front().first) best = i;
        }
        std::vector<std::pair<int, int>>& bin = bins_[occupied_[best]];
        const int value = bin.front().second;
        bin.erase(bin.begin());
        if (bin.empty()) occupied_.erase(occupied_.begin() + static_cast<std::ptrdiff_t>(best));
        return value;
    }

private:
    void mergeUpwards() {
        std::size_t count = 8;
        std::size_t target = 1;
        std::size_t lastOccupied = 1;
        std::size_t size = 4;
        do {
            ++target;
            size *= 2;
            if (!bins_[target].empty()) lastOccupied = target;
            count += bins_[target].size();
        } while (size < count);
        // The listed bins up to the target are drained lowest key first, of
        // equal keys from the bin nearer the head.
        const auto behind = std::find(occupied_.begin(), occupied_.end(), lastOccupied) + 1;
        const std::vector<std::size_t> rest(behind, occupied_.end());
        occupied_.erase(behind, occupied_.end());
        std::vector<std::pair<int, int>> merged;
        while (!occupied_.empty()) {
            std::size_t best = 0;
            for (std::size_t i = 1; i < occupied_.size(); ++i) {
                if (bins_[occupied_[i]].front().first < bins_[occupied_[best]].front().first) best = i;
            }
            std::vector<std::pair<int, int>>& bin = bins_[occupied_[best]];
            merged.push_back(bin.front());
            bin.erase(bin.begin());
            if (bin.empty()) occupied_.erase(occupied_.begin() + static_cast<std::ptrdiff_t>(best));
        }
        bins_[target] = std::move(merged);
        occupied_ = {target};
        occupied_.insert(occupied_.end(), rest.begin(), rest.end());
    }

    std::array<std::vector<std::pair<int, int>>, 32> bins_;
    std::vector<std::size_t> occupied_;
};

// Pushes and pops with keys from a narrow range, so that equal keys meet in
// every bin: the heap gives exactly the values the list model gives.
TEST(SortedHeapTest, EqualKeysComeOutAsTheListOfBinsOrdersThem) {
    std::mt19937 random(31);
    SortedHeap<int> heap;
    ListHeapModel model;
    int nextValue = 1;
    for (int step = 0; step < 200000; ++step) {
        if (random() % 100 < (step % 40000 < 25000 ? 58U : 40U)) {
            const int key = static_cast<int>(random() % 12);
            heap.add(key, nextValue);
            model.add(key, nextValue);
            ++nextValue;
        } else {
            ASSERT_EQ(heap.popLowest(), model.popLowest()) << "step " << step;
        }
    }
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
