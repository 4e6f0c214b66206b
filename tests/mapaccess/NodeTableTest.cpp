#include "mapaccess/NodeTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "mapaccess/OsmNode.h"

namespace ferrow::mapaccess {
namespace {

TEST(NodeTableTest, PutFindEraseOfSinglePositions) {
    NodeTable table(4);
    OsmNode a(10, 20);
    OsmNode b(10, 20);
    const std::int64_t id = a.getIdFromPos();
    EXPECT_EQ(table.find(id), nullptr);
    EXPECT_EQ(table.put(id, &a), nullptr);
    EXPECT_EQ(table.put(id, &b), &a) << "a second node at the position replaces the first";
    EXPECT_EQ(table.size(), 1U);
    EXPECT_EQ(table.find(id), &b);
    table.erase(OsmPos::idFromPos(10, 21)); // not there: nothing happens
    EXPECT_EQ(table.size(), 1U);
    table.erase(id);
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(table.find(id), nullptr);
    EXPECT_TRUE(table.begin() == table.end());
}

// Against an ordered map as the model: a tiny start forces growth, crowded
// runs wrap around the array's end and erasing moves entries back into gaps.
TEST(NodeTableTest, AgreesWithAMapThroughGrowthAndErasing) {
    std::vector<std::unique_ptr<OsmNode>> owned;
    std::vector<OsmNode*> nodes;
    for (std::int32_t i = 0; i < 600; ++i) {
        owned.push_back(std::make_unique<OsmNode>(180000000 + i % 40, 90000000 + i / 40));
        nodes.push_back(owned.back().get());
    }
    NodeTable table(2);
    std::map<std::int64_t, OsmNode*> model;
    std::mt19937 random(7);
    for (int step = 0; step < 20000; ++step) {
        OsmNode* node = nodes[random() % nodes.size()];
        const std::int64_t id = node->getIdFromPos();
        if (random() % 3 == 0) {
            table.erase(id);
            model.erase(id);
        } else {
            const auto known = model.find(id);
            EXPECT_EQ(table.put(id, node), known == model.end() ? nullptr : known->second);
            model[id] = node;
        }
        ASSERT_EQ(table.size(), model.size()) << "step " << step;
        if (step % 97 == 0) {
            // The walk over the taken slots follows every erase's moves.
            std::map<std::int64_t, OsmNode*> walked;
            for (const auto& [walkedId, walkedNode] : table) walked.emplace(walkedId, walkedNode);
            ASSERT_EQ(walked, model) << "step " << step;
        }
    }
    for (const OsmNode* node : nodes) {
        const auto known = model.find(node->getIdFromPos());
        ASSERT_EQ(table.find(node->getIdFromPos()), known == model.end() ? nullptr : known->second);
    }
    std::map<std::int64_t, OsmNode*> walked;
    for (const auto& [id, node] : table) EXPECT_TRUE(walked.emplace(id, node).second) << "each entry once";
    EXPECT_EQ(walked, model);
}

} // namespace
} // namespace ferrow::mapaccess
