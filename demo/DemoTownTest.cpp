#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo/DemoTown.h"
#include "expressions/BExpressionMetaData.h"
#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/ProfileFixture.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TestTagValidator.h"

namespace ferrow::demo {
namespace {

using mapaccess::MatchedWaypoint;
using mapaccess::NodesCache;
using mapaccess::OsmNode;
using testsupport::TestNetwork;

constexpr std::int32_t CELL = 12500;

const TestNetwork& town() {
    static const TestNetwork network = buildDemoTown();
    return network;
}

std::vector<util::Byte> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DemoTownTest, LooksLikeASmallTownOverTwoFilesAndManyTiles) {
    const TestNetwork& net = town();
    EXPECT_GE(net.nodes().size(), 2000U);
    EXPECT_LE(net.nodes().size(), 6000U);
    std::set<std::string> kinds;
    for (const TestNetwork::Way& way : net.ways()) {
        kinds.insert(way.tags.substr(0, way.tags.find(' ')));
        if (way.tags.find("bridge=yes") != std::string::npos) {
            kinds.insert("bridge");
        }
        if (way.tags.find("oneway=yes") != std::string::npos) {
            kinds.insert("oneway");
        }
        if (way.tags.find("junction=roundabout") != std::string::npos) {
            kinds.insert("roundabout");
        }
    }
    for (const char* kind :
         {"highway=residential", "highway=primary", "highway=secondary", "highway=tertiary", "highway=track",
          "highway=footway", "highway=path", "highway=steps", "bridge", "oneway", "roundabout"}) {
        EXPECT_TRUE(kinds.contains(kind)) << kind;
    }
    std::set<std::string> nodeTags;
    std::int16_t lowest = 32767;
    std::int16_t highest = -32768;
    for (const TestNetwork::Node& node : net.nodes()) {
        nodeTags.insert(node.tags);
        lowest = std::min(lowest, node.elevation);
        highest = std::max(highest, node.elevation);
    }
    EXPECT_TRUE(nodeTags.contains("barrier=gate"));
    EXPECT_TRUE(nodeTags.contains("barrier=bollard"));
    EXPECT_GT(highest - lowest, 4 * 150); // quarter metres: hills of more than 150 m

    const auto files = testsupport::SegmentWriter().tiles(net);
    ASSERT_EQ(files.size(), 2U);
    EXPECT_TRUE(files.contains("E5_N45"));
    EXPECT_TRUE(files.contains("E10_N45"));
    EXPECT_GE(files.at("E5_N45").size() + files.at("E10_N45").size(), 40U);
}

TEST(DemoTownTest, TheBuiltFilesAreTheDescription) {
    for (const auto& [baseName, bytes] : testsupport::SegmentWriter().fileContents(town())) {
        EXPECT_EQ(readFile(std::string(FERROW_DEMO_SEGMENTS) + "/" + baseName + ".rd5"), bytes) << baseName;
    }
}

class DemoSegmentsTest : public ::testing::Test {
protected:
    DemoSegmentsTest() { meta_.lookupVersion = testsupport::LookupTagCoder::standard().lookupVersion(); }

    std::unique_ptr<NodesCache> newCache(expressions::TagValueValidator& validator,
                                         const expressions::BExpressionMetaData& meta) {
        return std::make_unique<NodesCache>(jcompat::File(FERROW_DEMO_SEGMENTS), validator, meta, false,
                                            128 * 1048576LL, nullptr, false);
    }

    testsupport::TestTagValidator validator_;
    expressions::BExpressionMetaData meta_;
};

TEST_F(DemoSegmentsTest, EveryTileDecodesIntoTheWholeNetwork) {
    const TestNetwork& net = town();
    auto cache = newCache(validator_, meta_);
    std::vector<OsmNode*> nodes;
    for (const TestNetwork::Node& node : net.nodes()) {
        nodes.push_back(cache->getGraphNode(OsmNode(node.ilon, node.ilat)));
    }
    const Bounds bounds = boundsOf(net);
    std::int32_t tiles = 0;
    for (std::int32_t lonIdx = bounds.minLon / CELL; lonIdx <= bounds.maxLon / CELL; ++lonIdx) {
        for (std::int32_t latIdx = bounds.minLat / CELL; latIdx <= bounds.maxLat / CELL; ++latIdx) {
            cache->getSegmentFor(lonIdx * CELL, latIdx * CELL);
            ++tiles;
        }
    }
    EXPECT_EQ(cache->loadedTileCount(), tiles);
    EXPECT_EQ(cache->openFileCount(), 2);

    std::size_t linkEnds = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const OsmNode* node = nodes[i];
        ASSERT_FALSE(node->isHollow()) << node->toString();
        EXPECT_EQ(node->selev, net.nodes()[i].elevation);
        for (const mapaccess::OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
            ++linkEnds;
        }
    }
    std::size_t stretches = 0;
    for (const TestNetwork::Way& way : net.ways()) {
        for (std::size_t p = 1; p < way.points.size(); ++p) {
            stretches += std::holds_alternative<testsupport::NodeRef>(way.points[p]) ? 1 : 0;
        }
    }
    EXPECT_EQ(linkEnds, 2 * stretches);
}

// The run command's requests: by car from the west part of town (in
// E5_N45) across the file edge to the north-east of the grid; on foot from
// the pedestrian street in the old town to the steps below the hill.
TEST_F(DemoSegmentsTest, TheReadmeWaypointsMatchStreetsOfTheirProfile) {
    struct Request {
        const char* profile;
        std::int32_t fromLon, fromLat, toLon, toLat;
    };
    for (const Request& request : {Request{"car", 189990000, 137519000, 190012000, 137527000},
                                   Request{"foot", 190000000, 137525400, 190017300, 137498000}}) {
        const std::string profiles = std::string(FERROW_SOURCE_DIR) + "/profiles/";
        expressions::testing::LoadedProfile profile(profiles + "lookups.dat");
        profile.parse(profiles + request.profile + ".vpf");
        auto cache = newCache(*profile.way, profile.meta);

        std::vector<MatchedWaypoint> waypoints(2);
        waypoints[0].waypoint = std::make_shared<OsmNode>(request.fromLon, request.fromLat);
        waypoints[1].waypoint = std::make_shared<OsmNode>(request.toLon, request.toLat);
        ASSERT_TRUE(cache->matchWaypointsToNodes(waypoints, 250.0, nullptr)) << request.profile;
        for (const MatchedWaypoint& mwp : waypoints) {
            EXPECT_LT(mwp.radius, 30.0) << request.profile;
            EXPECT_NE(mwp.node1->getIdFromPos(), mwp.node2->getIdFromPos());
        }
    }
}

TEST_F(DemoSegmentsTest, TheTownLiesOnBothSidesOfTheFileEdge) {
    auto cache = newCache(validator_, meta_);
    ASSERT_NE(cache->getSegmentFor(189990000, 137519000), nullptr);
    ASSERT_NE(cache->getSegmentFor(190012000, 137527000), nullptr);
    EXPECT_EQ(cache->fileAt(189990000, 137519000)->fileName(), "E5_N45.rd5");
    EXPECT_EQ(cache->fileAt(190012000, 137527000)->fileName(), "E10_N45.rd5");
}

} // namespace
} // namespace ferrow::demo
