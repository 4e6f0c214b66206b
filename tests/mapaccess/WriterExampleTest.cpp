#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "codec/DataBuffers.h"
#include "mapaccess/GeometryDecoder.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/OddSites.h"
#include "testsupport/SegmentFiles.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestTagValidator.h"

// How tests describe a network and get segment files for it: a street of
// three nodes with a bend, written and woven back.
namespace ferrow::mapaccess {
namespace {

using namespace testsupport;

TEST(WriterExampleTest, ThreeNodeStreet) {
    TestNetwork net;
    const NodeRef a = net.node(8.0000, 50.0000).elevation(100);
    const NodeRef b = net.node(8.0010, 50.0000).elevation(101.5).tags("highway=traffic_signals");
    const NodeRef c = net.node(8.0020, 50.0010);
    net.way("highway=residential oneway=yes", {a, b, shape(8.0020, 50.0002, 103), c});
    net.noTurn(a, b, c);
    TempDirectory directory;
    EXPECT_EQ(SegmentWriter().write(net, directory.path()), std::vector<std::string>{directory.file("E5_N50.rd5")});

    test::SegmentFiles files(directory.path(), 1);
    TestTagValidator validator;
    OsmNodesMap map;
    OsmNode* start = map.createNode(net.at(a).ilon, net.at(a).ilat);
    start->setHollow();
    map.put(start);
    files.tileAt(start->ilon, start->ilat, &validator, &map);

    ASSERT_FALSE(start->isHollow());
    EXPECT_EQ(start->getElev(), 100.0);
    OsmNode* middle = start->firstLink->getTarget(start);
    EXPECT_EQ(middle->getElev(), 101.5);
    EXPECT_TRUE(
        middle->nodeTags.contentEquals(LookupTagCoder::standard().nodeTags("highway=traffic_signals").toBytes()));
    EXPECT_TRUE(TurnRestriction::isTurnForbidden(middle->firstRestriction, start->ilon, start->ilat, net.at(c).ilon,
                                                 net.at(c).ilat, false, false));
    OsmLink* toEnd = middle->firstLink;
    OsmNode* end = toEnd->getTarget(middle);
    EXPECT_EQ(end->ilat, gridLat(50.0010));
    GeometryDecoder decoder;
    const OsmTransferNode* bend = decoder.decodeGeometry(toEnd->geometry, middle, end, false);
    ASSERT_NE(bend, nullptr);
    EXPECT_EQ(bend->ilon, gridLon(8.0020));
    EXPECT_EQ(bend->ilat, gridLat(50.0002));
    EXPECT_EQ(bend->selev, 412);
}

TEST(WriterExampleTest, NodesSharingAPositionOnlyWhereTheFileAllowsThem) {
    TestNetwork net;
    oddsites::addSharedPosition(net);
    TempDirectory directory;
    EXPECT_THROW(SegmentWriter().write(net, directory.path()), std::invalid_argument);
    oddsites::writer().write(net, directory.path());

    // One tile holds the street's four nodes, two of them under one identifier.
    test::SegmentFiles files(directory.path(), 1);
    TestTagValidator validator;
    const std::int32_t lon = gridLon(oddsites::SHARED_POSITION_LON);
    const std::int32_t lat = gridLat(oddsites::SHARED_POSITION_LAT);
    const std::shared_ptr<codec::MicroCache> tile = files.tileAt(lon, lat, &validator, nullptr);
    ASSERT_EQ(tile->getSize(), 4);
    std::vector<std::int64_t> ids;
    for (const std::int32_t id : tile->nodeIds()) ids.push_back(tile->expandId(id));
    const std::int64_t shared = (std::int64_t{lon} << 32) | lat;
    EXPECT_EQ(std::count(ids.begin(), ids.end(), shared), 2);
}

} // namespace
} // namespace ferrow::mapaccess
