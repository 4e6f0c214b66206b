#include <gtest/gtest.h>

#include <vector>

#include "jcompat/Exceptions.h"
#include "mapaccess/OsmLinkHolder.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"

namespace ferrow::mapaccess {
namespace {

util::ByteArray bytes(std::initializer_list<util::Byte> values) {
    return util::ByteArray::copyOf(std::vector<util::Byte>(values));
}

// The targets of a node's links in chain order.
std::vector<const OsmNode*> targetsOf(const OsmNode& node) {
    std::vector<const OsmNode*> targets;
    for (const OsmLink* l = node.firstLink; l != nullptr; l = l->getNext(&node)) {
        targets.push_back(l->getTarget(&node));
    }
    return targets;
}

class Holder final : public OsmLinkHolder {
public:
    OsmLinkHolder* getNextForLink() const override { return next; }
    void setNextForLink(OsmLinkHolder* holder) override { next = holder; }
    OsmLinkHolder* next = nullptr;
};

TEST(OsmNodeTest, IdentityIsThePosition) {
    OsmNode a(188000000, 140000000);
    OsmNode b(188000000, 140000000);
    OsmNode c(188000001, 140000000);
    EXPECT_TRUE(a.equals(b));
    EXPECT_FALSE(a.equals(c));
    EXPECT_EQ(a.hashCode(), 188000000 + 140000000);
    EXPECT_EQ(a.getIdFromPos(), (std::int64_t{188000000} << 32) | 140000000);
    EXPECT_EQ(OsmNode(a.getIdFromPos()).ilon, 188000000);
    EXPECT_EQ(a.toString(), "n_8000000_50000000");
    EXPECT_EQ(OsmNode(179500000, 89000000).toString(), "n_-500000_-1000000");
    EXPECT_EQ(a.getSElev(), OsmNode::NO_ELEVATION);
    a.selev = 10;
    EXPECT_DOUBLE_EQ(a.getElev(), 2.5);
}

TEST(OsmNodeTest, DistanceIsRoundedAndAtLeastOne) {
    OsmNode a(188000000, 140000000);
    EXPECT_EQ(a.calcDistance(OsmNode(188000000, 140000000)), 1);
    // 1000 grid units of latitude at 50 degrees north: ky ~ 0.1112 m per unit.
    const std::int32_t d = a.calcDistance(OsmNode(188000000, 140001000));
    EXPECT_EQ(d, 111);
    EXPECT_EQ(d, OsmNode(188000000, 140001000).calcDistance(a));
}

TEST(OsmNodeTest, LinkByPositionCreatesAHollowNodeThatIsItsOwnLink) {
    OsmNodesMap map;
    OsmNode* a = map.createNode(1000, 2000);
    const util::ByteArray tags = bytes({0x11});
    const util::ByteArray geometry = bytes({2, 2, 0});
    a->addLink(1010, 2000, tags, geometry, map, false);

    OsmNode* b = map.get(1010, 2000);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->isHollow());
    EXPECT_EQ(a->firstLink, b) << "the new node object is the link";
    EXPECT_EQ(b->firstLink, b);
    EXPECT_EQ(b->firstNode, a);
    EXPECT_EQ(b->secondNode, b);
    EXPECT_TRUE(b->wayTags.isSameAs(tags));
    EXPECT_TRUE(b->geometry.isSameAs(geometry));
    EXPECT_EQ(targetsOf(*a), std::vector<const OsmNode*>{b});
    EXPECT_EQ(targetsOf(*b), std::vector<const OsmNode*>{a});
    EXPECT_FALSE(b->isReverse(a));
    EXPECT_TRUE(b->isReverse(b));
}

TEST(OsmNodeTest, LinkToOwnPositionAddsNothing) {
    OsmNodesMap map;
    OsmNode* a = map.createNode(1000, 2000);
    a->addLink(1000, 2000, bytes({1}), LinkGeometry(), map, false);
    EXPECT_EQ(a->firstLink, nullptr);
    EXPECT_TRUE(map.nodeTable().empty());
}

TEST(OsmNodeTest, SecondForwardRecordMakesASecondLinkAndReverseRecordsReuse) {
    OsmNodesMap map;
    OsmNode* a = map.createNode(1000, 2000);
    const util::ByteArray first = bytes({1});
    const util::ByteArray second = bytes({2});
    a->addLink(1010, 2000, first, LinkGeometry(), map, false);
    a->addLink(1010, 2000, second, LinkGeometry(), map, false);
    OsmNode* b = map.get(1010, 2000);
    ASSERT_EQ(targetsOf(*a).size(), 2U);
    EXPECT_TRUE(a->firstLink->wayTags.isSameAs(second));
    EXPECT_TRUE(a->firstLink->getNext(a)->wayTags.isSameAs(first));

    // A reverse record from b reuses the first link it finds towards a.
    b->selev = 0;
    b->addLink(1000, 2000, bytes({9}), LinkGeometry(), map, true);
    EXPECT_EQ(targetsOf(*b).size(), 2U);
    EXPECT_TRUE(a->firstLink->wayTags.isSameAs(second)) << "a reverse record leaves the tags";
}

TEST(OsmNodeTest, ReverseFirstThenForwardFillsTheSameLink) {
    OsmNodesMap map;
    OsmNode* b = map.createNode(1010, 2000);
    b->addLink(1000, 2000, bytes({7}), LinkGeometry(), map, true);
    OsmNode* a = map.get(1000, 2000);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->firstLink->wayTags.isNull());
    EXPECT_EQ(a->firstLink->firstNode, a);

    a->selev = 0;
    const util::ByteArray tags = bytes({3});
    const util::ByteArray geometry = bytes({4, 4, 0});
    a->addLink(1010, 2000, tags, geometry, map, false);
    ASSERT_EQ(targetsOf(*a).size(), 1U);
    EXPECT_TRUE(a->firstLink->wayTags.isSameAs(tags));
    EXPECT_EQ(a->firstLink, b->firstLink);
}

TEST(OsmNodeTest, AddingTheHeadLinkAgainFails) {
    OsmNodesMap map;
    OsmNode* a = map.createNode(0, 0);
    OsmNode* b = map.createNode(5, 0);
    OsmLink* link = map.createLink();
    a->addLink(link, false, b);
    try {
        a->addLink(link, false, b);
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_STREQ(e.what(), "UUUUPS");
    }
}

TEST(OsmNodeTest, UnlinkFromBothEndsReleasesTagsAndGeometry) {
    OsmNodesMap map;
    OsmNode* a = map.createNode(0, 0);
    OsmNode* b = map.createNode(5, 0);
    OsmNode* c = map.createNode(9, 0);
    OsmLink* ab = map.createLink();
    OsmLink* ac = map.createLink();
    a->addLink(ab, false, b);
    a->addLink(ac, false, c);
    ab->wayTags = bytes({1});
    const util::ByteArray geometry = bytes({2, 2, 0});
    ab->geometry = geometry;

    a->unlinkLink(ab);
    EXPECT_EQ(targetsOf(*a), std::vector<const OsmNode*>{c});
    EXPECT_EQ(targetsOf(*b), std::vector<const OsmNode*>{a}) << "still in b's chain, pointing back at a";
    EXPECT_FALSE(ab->wayTags.isNull());
    b->unlinkLink(ab);
    EXPECT_EQ(b->firstLink, nullptr);
    EXPECT_TRUE(ab->isLinkUnused());
    EXPECT_TRUE(ab->wayTags.isNull());
    EXPECT_TRUE(ab->geometry.isNull());
    EXPECT_THROW(b->unlinkLink(ab), jcompat::IllegalArgumentException);
}

TEST(OsmNodeTest, UnlinkInTheMiddleOfAChain) {
    OsmNodesMap map;
    OsmNode* hub = map.createNode(0, 0);
    std::vector<OsmNode*> others;
    std::vector<OsmLink*> links;
    for (int i = 1; i <= 4; ++i) {
        others.push_back(map.createNode(i, 0));
        links.push_back(map.createLink());
        // Alternate the direction so that hub sits at both kinds of end.
        hub->addLink(links.back(), i % 2 == 0, others.back());
    }
    hub->unlinkLink(links[1]);
    hub->unlinkLink(links[2]);
    EXPECT_EQ(targetsOf(*hub), (std::vector<const OsmNode*>{others[3], others[0]}));
}

TEST(OsmNodeTest, VanishKeepsLinksToHollowNodes) {
    OsmNodesMap map;
    OsmNode* a = map.createNode(0, 0);
    a->selev = 0;
    a->addLink(10, 0, bytes({1}), LinkGeometry(), map, false); // hollow b
    OsmNode* c = map.createNode(20, 0);
    c->selev = 0;
    OsmLink* ac = map.createLink();
    a->addLink(ac, false, c);

    OsmNode* b = map.get(10, 0);
    b->vanish();
    EXPECT_EQ(targetsOf(*b).size(), 1U) << "a hollow node keeps its links";

    a->vanish();
    EXPECT_EQ(targetsOf(*a), std::vector<const OsmNode*>{b});
    EXPECT_EQ(c->firstLink, nullptr);
    EXPECT_TRUE(ac->isLinkUnused());
}

TEST(OsmNodeTest, LinkHoldersPerDirection) {
    OsmNodesMap map;
    OsmNode* a = map.createNode(0, 0);
    OsmNode* b = map.createNode(5, 0);
    OsmLink* link = map.createLink();
    a->addLink(link, false, b);
    Holder first;
    Holder second;
    Holder back;
    link->addLinkHolder(&first, a);
    link->addLinkHolder(&second, a);
    link->addLinkHolder(&back, b);
    EXPECT_EQ(link->getFirstLinkHolder(a), &second);
    EXPECT_EQ(second.getNextForLink(), &first);
    EXPECT_EQ(link->getFirstLinkHolder(b), &back);

    OsmNode stranger(99, 99);
    OsmLink loose;
    try {
        loose.getFirstLinkHolder(&stranger);
        FAIL();
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_STREQ(e.what(), "internal error: getFirstLinkHolder: unknown source");
    }
}

} // namespace
} // namespace ferrow::mapaccess
