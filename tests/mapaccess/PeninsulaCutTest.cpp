#include <gtest/gtest.h>

#include <vector>

#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"

namespace ferrow::mapaccess {
namespace {

// A woven tile: node a got an external link (visit id 1) to a hollow node
// outside; the others were created new (visit id 0).
class PeninsulaCutTest : public ::testing::Test {
protected:
    OsmNode* decoded(std::int32_t ilon) {
        OsmNode* node = map.createNode(ilon, 0);
        node->selev = 0;
        return node;
    }
    void link(OsmNode* from, OsmNode* to) { from->addLink(map.createLink(), false, to); }
    std::int32_t cut(OsmNode* start) {
        map.baseId = map.lastVisitId++;
        return map.minVisitIdInSubtree(nullptr, start);
    }

    OsmNodesMap map;
    OsmNode* a = nullptr;

    void SetUp() override {
        a = decoded(0);
        a->addLink(-10, 0, util::ByteArray(), LinkGeometry(), map, false); // hollow outside
        a->visitId = 1;
    }
};

TEST_F(PeninsulaCutTest, DeadEndChainIsCut) {
    map.cleanupMode = 1;
    OsmNode* b = decoded(10);
    OsmNode* c = decoded(20);
    link(a, b);
    link(b, c);
    EXPECT_EQ(cut(a), 1000);
    EXPECT_EQ(a->visitId, 1000);
    EXPECT_EQ(b->firstLink, nullptr);
    EXPECT_EQ(c->firstLink, nullptr);
    EXPECT_NE(a->firstLink, nullptr) << "the link to the hollow node stays";
    EXPECT_EQ(map.nodeCount, 1) << "nodes cut off are not counted";
}

TEST_F(PeninsulaCutTest, LoopOnOneLinkIsCutInMode1AndKeptInMode2) {
    for (std::int32_t mode : {1, 2}) {
        SetUp();
        map.cleanupMode = mode;
        OsmNode* b = decoded(10);
        OsmNode* c = decoded(20);
        OsmNode* d = decoded(30);
        link(a, b);
        link(b, c);
        link(c, d);
        link(d, b);
        cut(a);
        const bool aReachesB = a->firstLink->getTarget(a) == b;
        EXPECT_EQ(aReachesB, mode == 2) << "mode " << mode;
        EXPECT_NE(c->firstLink, nullptr) << "the loop itself is not taken apart";
    }
}

TEST_F(PeninsulaCutTest, PartReachingAnotherExternalNodeStays) {
    map.cleanupMode = 1;
    OsmNode* b = decoded(10);
    OsmNode* c = decoded(20);
    link(a, b);
    link(b, c);
    c->visitId = 1; // c has an external link too
    cut(a);
    EXPECT_EQ(a->firstLink->getTarget(a), b);
    EXPECT_EQ(map.nodeCount, 2) << "c is counted when the weaver starts a walk from it";
    map.minVisitIdInSubtree(nullptr, c);
    EXPECT_EQ(map.nodeCount, 3);
    EXPECT_EQ(c->firstLink->getTarget(c), b);
}

TEST_F(PeninsulaCutTest, LongChainNeedsNoDeepStack) {
    map.cleanupMode = 1;
    OsmNode* previous = a;
    std::vector<OsmNode*> chain;
    for (std::int32_t i = 1; i <= 200000; ++i) {
        OsmNode* next = decoded(i * 10);
        link(previous, next);
        chain.push_back(next);
        previous = next;
    }
    cut(a);
    EXPECT_EQ(chain.front()->firstLink, nullptr);
    EXPECT_EQ(chain.back()->firstLink, nullptr);
    EXPECT_EQ(map.nodeCount, 1);
}

} // namespace
} // namespace ferrow::mapaccess
