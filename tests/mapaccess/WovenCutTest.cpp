// A tile woven again under the same profile leaves out what the peninsula cut
// took the first time: the graph the search sees is the same link for link.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "expressions/BExpressionMetaData.h"
#include "jcompat/File.h"
#include "mapaccess/DecodedTileCache.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNode.h"
#include "testsupport/FreshProcessState.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestTagValidator.h"

namespace ferrow::mapaccess {
namespace {

using testsupport::NodeRef;

// What a search can reach of the graph from a node: each node's links in
// chain order (far end and way tags), the node count, and whether the tile's
// nodes all took one visit id (which only a weave without a cut walk gives).
using Bytes = std::vector<util::Byte>;

struct Reached {
    std::map<std::int64_t, std::vector<std::pair<std::int64_t, Bytes>>> chains;
    std::int32_t nodeCount = 0;
    bool oneVisitId = false;

    bool operator==(const Reached& other) const { return chains == other.chains && nodeCount == other.nodeCount; }
};

// Tile B (east of 8.0) is reached from tile A over P's street. In B: the main
// street P - Q - R goes on east out of the tile; a dead end hangs on Q, and a
// loop L1 - L2 - L3 on the single link Q - L1; S hangs on R by two ways (the
// cut takes one of them) and T on S; U - V lies apart.
class WovenCut : public ::testing::Test {
protected:
    void SetUp() override {
        meta_.lookupVersion = testsupport::LookupTagCoder::standard().lookupVersion();
        west_ = net_.node(7.999, 50.505);
        p_ = net_.node(8.001, 50.505);
        const NodeRef q = net_.node(8.003, 50.505);
        const NodeRef r = net_.node(8.005, 50.505);
        const NodeRef east = net_.node(8.013, 50.505);
        const NodeRef d1 = net_.node(8.003, 50.507);
        const NodeRef d2 = net_.node(8.003, 50.509);
        const NodeRef s = net_.node(8.005, 50.502);
        const NodeRef t = net_.node(8.005, 50.501);
        const NodeRef u = net_.node(8.009, 50.510);
        const NodeRef v = net_.node(8.010, 50.510);
        const NodeRef l1 = net_.node(8.004, 50.507);
        const NodeRef l2 = net_.node(8.004, 50.509);
        const NodeRef l3 = net_.node(8.005, 50.508);
        net_.way("highway=residential", {west_, p_, q, r, east});
        net_.way("highway=service", {q, d1, d2});
        net_.way("highway=track", {r, s});
        net_.way("highway=track", {r, testsupport::shape(8.006, 50.503), s});
        net_.way("highway=footway", {s, t});
        net_.way("highway=residential", {u, v});
        net_.way("highway=residential", {q, l1, l2, l3, l1});
        if (secondWayOut_) net_.way("highway=track", {net_.node(7.999, 50.503), p_});
        testsupport::SegmentWriter().write(net_, segments_.path());
    }

    // Tile B woven by a search that came from A (so P is a known node with a
    // link out of B), optionally with P as its end node.
    Reached weave(testsupport::TestTagValidator& validator, std::int32_t cleanupMode, bool pIsEndNode = false) {
        NodesCache cache(jcompat::File(segments_.path()), validator, meta_, false, 64 * 1048576LL, nullptr, false);
        OsmNodesMap& map = cache.nodesMap();
        map.cleanupMode = cleanupMode;
        OsmNode* west = cache.getGraphNode(OsmNode(net_.at(west_).ilon, net_.at(west_).ilat));
        EXPECT_TRUE(cache.obtainNonHollowNode(west));
        OsmNode* p = west->firstLink->getTarget(west);
        EXPECT_EQ(p->ilon, net_.at(p_).ilon);
        if (pIsEndNode) map.endNode1 = p;
        EXPECT_TRUE(cache.obtainNonHollowNode(p));

        Reached reached;
        reached.nodeCount = map.nodeCount;
        std::deque<OsmNode*> open{p};
        std::map<std::int32_t, int> visitIds;
        while (!open.empty()) {
            OsmNode* node = open.front();
            open.pop_front();
            if (node->isHollow() || node->ilon < p->ilon || reached.chains.count(node->getIdFromPos()) != 0) continue;
            ++visitIds[node->visitId];
            auto& chain = reached.chains[node->getIdFromPos()];
            for (const OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
                OsmNode* target = link->getTarget(node);
                chain.emplace_back(target->getIdFromPos(),
                                   Bytes(link->wayTags.span().begin(), link->wayTags.span().end()));
                open.push_back(target);
            }
        }
        reached.oneVisitId = visitIds.size() == 1;
        return reached;
    }

    testsupport::FreshProcessState fresh_;
    testsupport::TestNetwork net_;
    testsupport::TempDirectory segments_;
    expressions::BExpressionMetaData meta_;
    NodeRef west_;
    NodeRef p_;
    bool secondWayOut_ = false;
};

// P leaves tile B by a second way, a track back into A.
class WovenCutTwoWaysOut : public WovenCut {
protected:
    void SetUp() override {
        secondWayOut_ = true;
        WovenCut::SetUp();
    }
};

TEST_F(WovenCut, ASecondWeaveGivesTheGraphTheCutLeft) {
    testsupport::TestTagValidator validator;
    // Each mode of the cut has its own memo.
    for (const std::int32_t mode : {1, 2}) {
        const Reached cut = weave(validator, mode);
        EXPECT_FALSE(cut.oneVisitId) << "mode " << mode << ": the first weave walks the tile";
        // Q's dead end and T are cut off, and one of R's two links to S; the
        // loop behind Q only in mode 1.
        EXPECT_EQ(cut.chains.size(), mode == 1 ? 4u : 7u) << "P, Q, R and S, and L1 to L3 in mode 2";
        const Reached again = weave(validator, mode);
        EXPECT_TRUE(again.oneVisitId) << "mode " << mode << ": the second weave does not walk it";
        EXPECT_EQ(again, cut) << "mode " << mode;
    }
}

TEST_F(WovenCut, EachProfileChoiceOfWaysHasItsOwnCut) {
    testsupport::TestTagValidator every;
    testsupport::TestTagValidator noTracks;
    noTracks.classify = [](const util::ByteArray& tags) {
        return tags.contentEquals(testsupport::LookupTagCoder::standard().wayTags("highway=track").toBytes()) ? 0 : 2;
    };
    const Reached everyCut = weave(every, 1);
    const Reached noTracksCut = weave(noTracks, 1);
    EXPECT_EQ(noTracksCut.chains.size(), 3u) << "S is out of reach without tracks";
    EXPECT_EQ(weave(every, 1), everyCut);
    EXPECT_EQ(weave(noTracks, 1), noTracksCut);
}

TEST_F(WovenCut, AnEndNodeInTheTileAlwaysWalksIt) {
    testsupport::TestTagValidator validator;
    const Reached first = weave(validator, 1, true);
    const Reached second = weave(validator, 1, true);
    EXPECT_FALSE(second.oneVisitId);
    EXPECT_EQ(second, first);
    EXPECT_EQ(weave(validator, 1), weave(validator, 1)) << "nor does it spoil the memo of the others";
}

// A known node with ways of two kinds out of the tile leaves the cut to the
// tile whichever of them the profile keeps.
TEST_F(WovenCutTwoWaysOut, AKnownNodeLeavesTheCutToTheTileByAnyWayItKeeps) {
    testsupport::TestTagValidator every;
    testsupport::TestTagValidator noTracks;
    noTracks.classify = [](const util::ByteArray& tags) {
        return tags.contentEquals(testsupport::LookupTagCoder::standard().wayTags("highway=track").toBytes()) ? 0 : 2;
    };
    for (testsupport::TestTagValidator* validator : {&every, &noTracks}) {
        const Reached first = weave(*validator, 1);
        const Reached second = weave(*validator, 1);
        EXPECT_TRUE(second.oneVisitId);
        EXPECT_EQ(second, first);
    }
}

} // namespace
} // namespace ferrow::mapaccess
