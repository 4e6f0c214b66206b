#include "util/CompactLongMap.h"
#include "util/FrozenLongMap.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "jcompat/Exceptions.h"

namespace ferrow::util {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(CompactLongMapTest, EmptyMapAndItsFrozenForm) {
    CompactLongMap<int> map;
    EXPECT_EQ(map.size(), 0);
    EXPECT_EQ(map.get(7), 0);
    EXPECT_FALSE(map.contains(0));
    FrozenLongMap<int> frozen(map);
    EXPECT_EQ(frozen.size(), 0);
    EXPECT_EQ(frozen.get(0), 0);
    EXPECT_FALSE(frozen.contains(kMin));
    EXPECT_TRUE(frozen.getKeyArray().empty());
}

TEST(CompactLongMapTest, KeysOrderAsSignedNumbers) {
    CompactLongMap<int> map;
    EXPECT_FALSE(map.put(0, 1));
    EXPECT_FALSE(map.put(-1, 2));
    EXPECT_FALSE(map.put(kMax, 3));
    EXPECT_FALSE(map.put(kMin, 4));
    EXPECT_FALSE(map.put(5, 5));
    EXPECT_EQ(map.get(kMin), 4);
    EXPECT_EQ(map.get(kMax), 3);
    EXPECT_EQ(map.get(-1), 2);
    FrozenLongMap<int> frozen(map);
    EXPECT_EQ(frozen.getKeyArray(), (std::vector<std::int64_t>{kMin, -1, 0, 5, kMax}));
    EXPECT_EQ(frozen.getValueList(), (std::vector<int>{4, 2, 1, 5, 3}));
    // Five entries: search step 4; every key is found, smaller and gaps are not.
    for (const std::int64_t key : {kMin, std::int64_t{-1}, std::int64_t{0}, std::int64_t{5}, kMax}) {
        EXPECT_TRUE(frozen.contains(key)) << key;
    }
    EXPECT_FALSE(frozen.contains(kMin + 1));
    EXPECT_FALSE(frozen.contains(4));
    // The source is consumed and left empty.
    EXPECT_EQ(map.size(), 0);
    EXPECT_FALSE(map.contains(0));
}

TEST(CompactLongMapTest, PutReplacesAPresentValue) {
    CompactLongMap<int> map;
    map.put(10, 1);
    map.put(20, 2);
    map.put(30, 3);
    EXPECT_TRUE(map.put(20, 22));
    EXPECT_EQ(map.size(), 3);
    EXPECT_EQ(map.get(20), 22);
    EXPECT_EQ(map.get(10), 1);
}

TEST(CompactLongMapTest, FrozenMapOfOneEntry) {
    CompactLongMap<int> map;
    map.fastPut(42, 9);
    FrozenLongMap<int> frozen(map);
    EXPECT_EQ(frozen.get(42), 9);
    EXPECT_EQ(frozen.get(41), 0);
    EXPECT_EQ(frozen.get(43), 0);
}

TEST(CompactLongMapTest, RepeatedFastPutIsCaughtLate) {
    CompactLongMap<int> twice;
    twice.fastPut(42, 1);
    // The second insertion merges both copies into one array at once.
    EXPECT_THAT([&] { twice.fastPut(42, 2); },
                ThrowsMessage<jcompat::IllegalArgumentException>(StrEq("duplicate key found in late check: 42")));

    // Two repeated keys meeting in one merge: the largest is reported.
    CompactLongMap<int> two;
    two.fastPut(1, 1);
    two.fastPut(2, 2);
    two.fastPut(1, 3);
    EXPECT_THAT([&] { two.fastPut(2, 4); },
                ThrowsMessage<jcompat::IllegalArgumentException>(StrEq("duplicate key found in late check: 2")));

    // 1 and 2 share an array, the repeated 1 sits alone: only freezing sees it.
    CompactLongMap<int> apart;
    apart.fastPut(-1, 1);
    apart.fastPut(2, 2);
    apart.fastPut(-1, 3);
    EXPECT_THAT([&] { FrozenLongMap<int> frozen(apart); },
                ThrowsMessage<jcompat::IllegalArgumentException>(StrEq("duplicate key found in late check: -1")));
}

TEST(CompactLongMapTest, FrozenMapRefusesInsertionsAndCopiesIntoANewFrozenMap) {
    CompactLongMap<int> map;
    map.put(3, 30);
    map.put(1, 10);
    std::unique_ptr<CompactLongMap<int>> frozen = std::make_unique<FrozenLongMap<int>>(map);
    EXPECT_THAT([&] { frozen->fastPut(2, 20); },
                ThrowsMessage<jcompat::RuntimeException>(StrEq("cannot put on FrozenLongIntMap")));
    EXPECT_THROW(frozen->put(1, 11), jcompat::RuntimeException);
    EXPECT_EQ(frozen->get(1), 10);

    FrozenLongMap<int> copy(*frozen);
    EXPECT_EQ(copy.getKeyArray(), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(copy.get(3), 30);
    EXPECT_EQ(frozen->size(), 2);
    EXPECT_EQ(frozen->get(3), 30);
}

// Random puts, fast puts and look-ups against std::map, then freezing; sizes
// run past 8192 entries so that large arrays are released and made again.
TEST(CompactLongMapTest, RandomOperationsMatchStdMap) {
    std::mt19937_64 random(123456789);
    for (const int operations : {1, 2, 3, 100, 1000, 20000}) {
        CompactLongMap<std::int64_t> map;
        std::map<std::int64_t, std::int64_t> oracle;
        const std::int64_t keyRange = operations * 2 + 1;
        for (int i = 0; i < operations; ++i) {
            std::int64_t key = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(keyRange)) - operations;
            if (random() % 8 == 0) {
                key = static_cast<std::int64_t>(random()); // anywhere in the signed range
            }
            const std::int64_t value = i + 1;
            switch (random() % 3) {
            case 0:
                ASSERT_EQ(map.put(key, value), oracle.count(key) == 1);
                oracle[key] = value;
                break;
            case 1:
                if (oracle.count(key) == 0) {
                    map.fastPut(key, value);
                    oracle[key] = value;
                }
                break;
            default: {
                const auto it = oracle.find(key);
                ASSERT_EQ(map.get(key), it == oracle.end() ? 0 : it->second);
                ASSERT_EQ(map.contains(key), it != oracle.end());
                break;
            }
            }
            ASSERT_EQ(map.size(), static_cast<std::int32_t>(oracle.size()));
        }
        for (const auto& [key, value] : oracle) {
            ASSERT_EQ(map.get(key), value);
        }
        FrozenLongMap<std::int64_t> frozen(map);
        ASSERT_EQ(frozen.size(), static_cast<std::int32_t>(oracle.size()));
        std::size_t i = 0;
        for (const auto& [key, value] : oracle) {
            ASSERT_EQ(frozen.getKeyArray()[i], key);
            ASSERT_EQ(frozen.getValueList()[i], value);
            ASSERT_EQ(frozen.get(key), value);
            if (key != kMax) {
                ASSERT_EQ(frozen.get(key + 1), oracle.count(key + 1) != 0 ? oracle.at(key + 1) : 0);
            }
            ++i;
        }
    }
}

} // namespace
} // namespace ferrow::util
