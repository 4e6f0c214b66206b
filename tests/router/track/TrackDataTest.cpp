#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "router/costing/MessageData.h"
#include "router/costing/OsmPathElement.h"
#include "router/track/OsmTrack.h"

using namespace ferrow::router;

TEST(MessageData, DefaultsAndCopy) {
    MessageData data;
    EXPECT_EQ(data.explicitMaxSpeed, -1);
    EXPECT_EQ(data.wayMaxSpeed, -1);
    EXPECT_EQ(data.wayMinSpeed, -1);
    EXPECT_EQ(data.junctionSpeed, 999);
    EXPECT_EQ(data.nodeMaxSpeed, 999);
    EXPECT_EQ(data.extraTimeMillis, 0);
    data.wayTags = "highway=track";
    data.distance = 7;
    MessageData copy = data.copy();
    copy.distance = 9;
    EXPECT_EQ(copy.wayTags, "highway=track");
    EXPECT_EQ(data.distance, 7);
}

TEST(MessageData, MessageRowColumns) {
    MessageData data;
    EXPECT_EQ(data.toMessage(), std::nullopt);
    data.ilon = 188123456;
    data.ilat = 139876543;
    data.elevation = -6;
    data.distance = 42;
    data.costFactor = 1.25f;
    data.elevationCost = 1;
    data.turnCost = 2;
    data.nodeCost = 3;
    data.initialCost = 4;
    data.wayTags = "highway=primary";
    data.time = 12.99f;
    data.energy = -3.5f;
    EXPECT_EQ(data.toMessage(), "8123456\t49876543\t-1\t42\t1250\t1\t2\t3\t4\thighway=primary\t\t12\t-3");
    data.nodeTags = "barrier=gate";
    data.costFactor = std::numeric_limits<float>::quiet_NaN();
    data.time = 1e12f;
    EXPECT_EQ(data.toMessage(),
              "8123456\t49876543\t-1\t42\t0\t1\t2\t3\t4\thighway=primary\tbarrier=gate\t2147483647\t-3");
}

TEST(MessageData, ToString) {
    MessageData data;
    data.distance = 5;
    data.priorityClassifier = 3;
    data.turnAngle = 45.0f;
    EXPECT_EQ(data.toString(), "dist=5 prio=3 turn=45.0");
    data.turnAngle = -12.5f;
    EXPECT_EQ(data.toString(), "dist=5 prio=3 turn=-12.5");
}

TEST(OsmPathElement, PositionAndIdentifier) {
    OsmPathElement element;
    element.ilon = 188000000;
    element.ilat = 140000000;
    element.selev = 481;
    EXPECT_EQ(element.getIdFromPos(), (std::int64_t{188000000} << 32) | 140000000);
    EXPECT_DOUBLE_EQ(element.getElev(), 120.25);
    EXPECT_EQ(element.toString(), "188000000_140000000");
    OsmPathElement other;
    other.ilon = 188000000;
    other.ilat = 140000000;
    EXPECT_TRUE(element.positionEquals(other));
    other.ilat = -1;
    EXPECT_FALSE(element.positionEquals(other));
    EXPECT_EQ(other.getIdFromPos(), -1); // the sign of ilat fills the upper half
}

TEST(OsmTrack, AddNodeInsertsAtTheFront) {
    OsmTrack track;
    for (int i = 0; i < 3; ++i) {
        auto element = std::make_unique<OsmPathElement>();
        element->cost = i;
        track.addNode(std::move(element));
    }
    ASSERT_EQ(track.points.size(), 3u);
    EXPECT_EQ(track.points[0]->cost, 2);
    EXPECT_EQ(track.points[2]->cost, 0);
}
