#include "jcompat/LinkedHashMap.h"
#include "jcompat/StringTokenizer.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"

using namespace ferrow::jcompat;
using testing::ElementsAre;
using testing::Pair;

TEST(StringTokenizer, SkipsRunsOfDelimiters) {
    StringTokenizer tokens("?a=1&&b=2&", "?&");
    ASSERT_TRUE(tokens.hasMoreTokens());
    EXPECT_EQ(tokens.nextToken(), "a=1");
    EXPECT_EQ(tokens.nextToken(), "b=2");
    EXPECT_FALSE(tokens.hasMoreTokens());
    EXPECT_THROW(tokens.nextToken(), NoSuchElementException);
}

TEST(StringTokenizer, CountTokensKeepsPosition) {
    StringTokenizer tokens("a b  c", " ");
    EXPECT_EQ(tokens.countTokens(), 3);
    EXPECT_EQ(tokens.nextToken(), "a");
    EXPECT_EQ(tokens.countTokens(), 2);
    StringTokenizer empty("===", "=");
    EXPECT_EQ(empty.countTokens(), 0);
    EXPECT_FALSE(empty.hasMoreTokens());
}

TEST(StringTokenizer, NonAsciiTextAndDelimiters) {
    StringTokenizer tokens("ä·b·", "·");
    EXPECT_EQ(tokens.nextToken(), "ä");
    EXPECT_EQ(tokens.nextToken(), "b");
    EXPECT_FALSE(tokens.hasMoreTokens());
}

TEST(LinkedHashMap, InsertionOrderWithReplaceAndRemove) {
    LinkedHashMap<std::string, std::string> map;
    EXPECT_TRUE(map.put("b", "1"));
    EXPECT_TRUE(map.put("a", "2"));
    EXPECT_TRUE(map.put("c", "3"));
    EXPECT_FALSE(map.put("b", "4"));
    EXPECT_TRUE(map.remove("a"));
    EXPECT_FALSE(map.remove("a"));
    EXPECT_TRUE(map.put("a", "5"));
    EXPECT_THAT(map, ElementsAre(Pair("b", "4"), Pair("c", "3"), Pair("a", "5")));
    ASSERT_NE(map.get("c"), nullptr);
    EXPECT_EQ(*map.get("c"), "3");
    EXPECT_EQ(map.get("x"), nullptr);
    EXPECT_TRUE(map.containsValue("5"));
    EXPECT_FALSE(map.containsValue("2"));

    LinkedHashMap<std::string, std::string> copy = map;
    copy.put("d", "6");
    EXPECT_EQ(map.size(), 3u);
    EXPECT_THAT(copy, ElementsAre(Pair("b", "4"), Pair("c", "3"), Pair("a", "5"), Pair("d", "6")));
}

TEST(LinkedHashMap, RandomOperationsAgainstOracle) {
    std::mt19937 random(4711);
    LinkedHashMap<int, int> map;
    std::vector<std::pair<int, int>> oracle; // insertion-ordered list
    for (int step = 0; step < 5000; ++step) {
        const int key = static_cast<int>(random() % 64);
        const int value = static_cast<int>(random() % 1000);
        auto found = std::find_if(oracle.begin(), oracle.end(), [&](const auto& e) { return e.first == key; });
        if (random() % 3 == 0) {
            EXPECT_EQ(map.remove(key), found != oracle.end());
            if (found != oracle.end()) oracle.erase(found);
        } else {
            EXPECT_EQ(map.put(key, value), found == oracle.end());
            if (found != oracle.end()) {
                found->second = value;
            } else {
                oracle.emplace_back(key, value);
            }
        }
    }
    std::vector<std::pair<int, int>> listed(map.begin(), map.end());
    EXPECT_EQ(listed, oracle);
}
