// What a search lets go of in its graph goes back to the node map's pools and
// is given out again, and nothing that is still referred to goes.
#include <gtest/gtest.h>

#include <vector>

#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"

namespace ferrow::mapaccess {
namespace {

// A - B - C - D in a row, and E known by position only:
//   A - B over a link of its own, B - C over C's own link, C - D over a link
//   of its own; A has a turn restriction.
struct Row {
    Row() {
        a = map.createNode(1000, 2000);
        b = map.createNode(1010, 2000);
        c = map.createNode(1020, 2000);
        d = map.createNode(1030, 2000);
        e = map.createNode(1040, 2000);
        e->setHollow();
        map.put(e);
        ab = map.createLink();
        a->addLink(ab, false, b);
        b->addLink(c, false, c);
        cd = map.createLink();
        c->addLink(cd, false, d);
        restriction = map.createTurnRestriction();
        a->addTurnRestriction(restriction);
    }

    // Releases A - B and B - C at both ends, C - D at C only.
    void releaseAllButDsEnd() {
        a->unlinkLink(ab);
        b->unlinkLink(ab);
        b->unlinkLink(c);
        c->unlinkLink(c);
        c->unlinkLink(cd);
    }

    OsmNodesMap map;
    OsmNode* a;
    OsmNode* b;
    OsmNode* c;
    OsmNode* d;
    OsmNode* e;
    OsmLink* ab;
    OsmLink* cd;
    TurnRestriction* restriction;
};

TEST(GraphReclaim, HandsBackWhatNothingRefersToAndGivesItOutAgainFresh) {
    Row row;
    // A - B and B - C are released at both ends, C - D at C only: the link
    // then still leads from D to C, so C stays although it has no links left.
    row.releaseAllButDsEnd();
    ASSERT_EQ(row.c->firstLink, nullptr);
    ASSERT_EQ(row.cd->firstNode, row.c);

    // B has no links either, but a path still refers to it; E is in the
    // node table; D still has C - D.
    std::vector<const void*> pinned{row.b};
    EXPECT_EQ(row.map.reclaim(pinned), 1U);
    EXPECT_EQ(row.map.reclaimedNodeCount(), 1U);

    // A, A - B and A's restriction are given out again, as new.
    OsmNode* next = row.map.createNode(5, 6);
    EXPECT_EQ(next, row.a);
    EXPECT_EQ(next->ilon, 5);
    EXPECT_EQ(next->visitId, 0);
    EXPECT_EQ(next->firstRestriction, nullptr);
    OsmLink* link = row.map.createLink();
    EXPECT_EQ(link, row.ab);
    EXPECT_EQ(link->nextAtFirst, nullptr);
    EXPECT_EQ(row.map.createTurnRestriction(), row.restriction);
    // Nothing else was handed back.
    for (int i = 0; i < 3; ++i) {
        const OsmNode* fresh = row.map.createNode(7, 8);
        EXPECT_TRUE(fresh != row.b && fresh != row.c && fresh != row.d && fresh != row.e) << i;
    }
    EXPECT_NE(row.map.createLink(), row.cd);
    EXPECT_EQ(row.map.get(1040, 2000), row.e);
}

TEST(GraphReclaim, KeepsWhatAQueuedPathRefersTo) {
    Row row;
    row.releaseAllButDsEnd();
    row.d->unlinkLink(row.cd);
    // A closed path over A - B still waits in the open set; one over B - C
    // refers to C's own link: A, B, A - B and C stay, D and C - D go.
    std::vector<const void*> pinned{row.ab, row.a, row.b, static_cast<const OsmLink*>(row.c)};
    EXPECT_EQ(row.map.reclaim(pinned), 1U);
    OsmNode* again = row.map.createNode(5, 6);
    EXPECT_EQ(again, row.d);
    EXPECT_EQ(row.map.createLink(), row.cd);
    again->setHollow(); // known by position: it stays
    row.map.put(again);

    // Once the paths are gone, the rest goes, and only once however often
    // the graph is reclaimed.
    std::vector<const void*> none;
    EXPECT_EQ(row.map.reclaim(none), 3U);
    EXPECT_EQ(row.map.reclaim(none), 0U);
    std::vector<const OsmNode*> given;
    for (int i = 0; i < 4; ++i) given.push_back(row.map.createNode(9, i));
    EXPECT_EQ(given[0], row.c);
    EXPECT_EQ(given[1], row.b);
    EXPECT_EQ(given[2], row.a);
    EXPECT_TRUE(given[3] != row.a && given[3] != row.b && given[3] != row.c && given[3] != row.d);
}

TEST(GraphReclaim, WaitsForEnoughCreatedNodes) {
    OsmNodesMap map;
    EXPECT_FALSE(map.wantsReclaim());
    map.setFirstReclaimAfter(3);
    std::vector<OsmNode*> nodes;
    for (int i = 0; i < 2; ++i) nodes.push_back(map.createNode(i, 0));
    EXPECT_FALSE(map.wantsReclaim());
    for (int i = 2; i < 5; ++i) nodes.push_back(map.createNode(i, 0));
    EXPECT_TRUE(map.wantsReclaim());
    // Five nodes with a link each live on: the next reclaim waits for five more.
    for (std::size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i]->addLink(map.createLink(), false, nodes[i + 1]);
    std::vector<const void*> none;
    EXPECT_EQ(map.reclaim(none), 0U);
    for (int i = 0; i < 4; ++i) map.createNode(9, i);
    EXPECT_FALSE(map.wantsReclaim());
    map.createNode(9, 4);
    EXPECT_TRUE(map.wantsReclaim());
}

} // namespace
} // namespace ferrow::mapaccess
