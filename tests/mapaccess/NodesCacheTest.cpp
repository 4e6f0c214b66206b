#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expressions/BExpressionMetaData.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmNode.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestTagValidator.h"

namespace ferrow::mapaccess {
namespace {

using testsupport::NodeRef;
using testsupport::SegmentWriter;
using testsupport::TestNetwork;

// Tiles of 1/80 degree from 10.0 E, 47.5 N: the west edge of the E10_N45
// file; tiles west of it lie in E5_N45.
constexpr std::int32_t CELL = 12500;
constexpr std::int32_t LON10 = 190000000;
constexpr std::int32_t LAT47_5 = 137500000;

std::int32_t tileLon(std::int32_t column, std::int32_t offset = 6000) { return LON10 + column * CELL + offset; }
std::int32_t tileLat(std::int32_t row, std::int32_t offset = 6000) { return LAT47_5 + row * CELL + offset; }

const char* const STREET = "highway=residential";

// A segment directory with its own way validator and lookup versions.
class NodesCacheTest : public ::testing::Test {
protected:
    NodesCacheTest() { meta_.lookupVersion = testsupport::LookupTagCoder::standard().lookupVersion(); }

    std::unique_ptr<NodesCache> newCache(NodesCache* previous = nullptr, bool detailed = false,
                                         bool forceSecondary = false, std::int64_t budget = 64 * 1048576LL) {
        return std::make_unique<NodesCache>(jcompat::File(segments_.path()), validator_, meta_, forceSecondary, budget,
                                            previous, detailed);
    }

    void writeSegments(const TestNetwork& network, const std::string& directory) const {
        SegmentWriter().write(network, directory);
    }
    void writeSegments(const TestNetwork& network) const { writeSegments(network, segments_.path()); }

    void writeConfig(const std::string& text) const { std::ofstream(segments_.file("storageconfig.txt")) << text; }

    testsupport::TempDirectory segments_;
    testsupport::TestTagValidator validator_;
    expressions::BExpressionMetaData meta_;
};

// A hollow node registered at the position of a network node, as the search
// registers its start and end nodes.
OsmNode* registered(NodesCache& cache, const TestNetwork& network, NodeRef ref) {
    const OsmNode position(network.at(ref).ilon, network.at(ref).ilat);
    return cache.getGraphNode(position);
}

std::set<std::int64_t> neighbours(const OsmNode* node) {
    std::set<std::int64_t> ids;
    for (const OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
        ids.insert(link->getTarget(node)->getIdFromPos());
    }
    return ids;
}

std::int64_t idOf(const TestNetwork& network, NodeRef ref) {
    return OsmPos::idFromPos(network.at(ref).ilon, network.at(ref).ilat);
}

// ---- opening files and loading tiles ----

TEST_F(NodesCacheTest, TilesLoadOnDemandOnlyWhereTheSearchGoes) {
    TestNetwork net;
    const NodeRef a = net.gridNode(tileLon(0), tileLat(0)).elevation(120.0);
    const NodeRef b = net.gridNode(tileLon(1), tileLat(0));
    const NodeRef c = net.gridNode(tileLon(2), tileLat(0));
    const NodeRef d = net.gridNode(tileLon(0), tileLat(1));
    const NodeRef e = net.gridNode(tileLon(3), tileLat(3));
    net.way(STREET, {a, b, c});
    net.way(STREET, {a, d});
    net.way(STREET, {c, e});
    writeSegments(net);

    auto cache = newCache();
    EXPECT_EQ(cache->openFileCount(), 0);
    OsmNode* start = registered(*cache, net, a);
    EXPECT_TRUE(start->isHollow());
    EXPECT_EQ(cache->loadedTileCount(), 0);

    ASSERT_TRUE(cache->obtainNonHollowNode(start));
    EXPECT_EQ(start->selev, 480);
    EXPECT_EQ(cache->loadedTileCount(), 1);
    EXPECT_EQ(cache->openFileCount(), 1);
    EXPECT_EQ(neighbours(start), (std::set<std::int64_t>{idOf(net, b), idOf(net, d)}));

    cache->expandHollowLinkTargets(start);
    EXPECT_EQ(cache->loadedTileCount(), 3);
    for (OsmLink* link = start->firstLink; link != nullptr; link = link->getNext(start)) {
        OsmNode* target = link->getTarget(start);
        EXPECT_FALSE(target->isHollow());
        if (target->getIdFromPos() == idOf(net, b)) {
            // b's tile is loaded, c's is not: c is known by position only.
            ASSERT_EQ(neighbours(target).size(), 2U);
            for (OsmLink* next = target->firstLink; next != nullptr; next = next->getNext(target)) {
                if (next->getTarget(target)->getIdFromPos() == idOf(net, c)) {
                    EXPECT_TRUE(next->getTarget(target)->isHollow());
                }
            }
        }
    }
    const OsmFile* square = cache->fileAt(tileLon(0), tileLat(0));
    ASSERT_NE(square, nullptr);
    EXPECT_EQ(square->fileName(), "E10_N45.rd5");
    EXPECT_EQ(cache->fileRow(137).size(), 1U);
    EXPECT_TRUE(cache->fileRow(180).empty());
    EXPECT_EQ(cache->nodesMap().maxMemory, 2 * 64 * 1048576LL / 3);
}

TEST_F(NodesCacheTest, SquaresOfOneFileShareItAndMissingFilesAreLookedForOnce) {
    TestNetwork net;
    net.way(STREET, {net.gridNode(tileLon(0), tileLat(0)), net.gridNode(tileLon(1), tileLat(0))});
    net.way(STREET, {net.gridNode(tileLon(0), tileLat(80)), net.gridNode(tileLon(1), tileLat(80))});
    writeSegments(net);

    auto cache = newCache();
    ASSERT_NE(cache->getSegmentFor(tileLon(0), tileLat(0)), nullptr);
    ASSERT_NE(cache->getSegmentFor(tileLon(1), tileLat(0)), nullptr);
    ASSERT_NE(cache->getSegmentFor(tileLon(0), tileLat(80)), nullptr); // 48.5 N: the next square
    EXPECT_EQ(cache->openFileCount(), 1);
    EXPECT_EQ(cache->fileRow(137).size(), 1U);
    EXPECT_EQ(cache->fileRow(138).size(), 1U);
    // A square of the same file without data: an empty square, no new file.
    EXPECT_EQ(cache->getSegmentFor(tileLon(100), tileLat(0)), nullptr);
    EXPECT_EQ(cache->openFileCount(), 1);
    EXPECT_EQ(cache->currentFileName(), "E10_N45.rd5");

    // West of 10 E there is no file. Written later, it stays unseen by this cache.
    EXPECT_EQ(cache->getSegmentFor(tileLon(-1), tileLat(0)), nullptr);
    EXPECT_EQ(cache->currentFileName(), "");
    TestNetwork west;
    west.way(STREET, {west.gridNode(tileLon(-1), tileLat(0)), west.gridNode(tileLon(-1), tileLat(1))});
    writeSegments(west);
    EXPECT_EQ(cache->getSegmentFor(tileLon(-1), tileLat(0)), nullptr);
    EXPECT_EQ(cache->getSegmentFor(tileLon(-90), tileLat(0)), nullptr); // another square of E5_N45
    EXPECT_EQ(cache->openFileCount(), 1);
    EXPECT_NE(newCache()->getSegmentFor(tileLon(-1), tileLat(0)), nullptr);
}

TEST_F(NodesCacheTest, PositionsOutsideTheWorldHaveNoData) {
    auto cache = newCache();
    EXPECT_EQ(cache->getSegmentFor(LON10, 180000000), nullptr); // latitude +90
    EXPECT_EQ(cache->currentFileName(), "E10_N90.rd5");
    EXPECT_EQ(cache->getSegmentFor(LON10, -1), nullptr);
    EXPECT_EQ(cache->getSegmentFor(360000000, LAT47_5), nullptr);
    EXPECT_EQ(cache->getSegmentFor(-1, LAT47_5), nullptr);
    EXPECT_EQ(cache->getSegmentFor(2147483647, 2147483647), nullptr);
    EXPECT_EQ(cache->fileAt(LON10, 180000000), nullptr);
    OsmNode pole(LON10, 180000000);
    EXPECT_FALSE(cache->obtainNonHollowNode(cache->getGraphNode(pole)));
}

TEST_F(NodesCacheTest, SegmentDirectoryMustExist) {
    try {
        NodesCache cache(jcompat::File(segments_.file("nowhere")), validator_, meta_, false, 1000, nullptr, false);
        FAIL() << "a missing segment directory was accepted";
    } catch (const jcompat::RuntimeException& e) {
        EXPECT_EQ(e.getMessage(), "segment directory " + segments_.file("nowhere") + " does not exist");
    }
}

TEST_F(NodesCacheTest, FileErrorsReachTheCallerAsRunTimeFailures) {
    TestNetwork net;
    net.way(STREET, {net.gridNode(tileLon(0), tileLat(0)), net.gridNode(tileLon(1), tileLat(0))});
    testsupport::SegmentFileOptions options;
    options.lookupVersion = 7;
    SegmentWriter().file("E10_N45", options).write(net, segments_.path());

    auto cache = newCache();
    try {
        cache->getSegmentFor(tileLon(0), tileLat(0));
        FAIL() << "a file of another lookup version was read";
    } catch (const jcompat::IOException&) {
        FAIL() << "an I/O failure passed unconverted";
    } catch (const jcompat::RuntimeException& e) {
        EXPECT_EQ(e.getMessage(), "lookup version mismatch (old rd5?) lookups.dat=1 E10_N45.rd5=7");
    }
    // Nothing was recorded for the file: it is checked again, and fails again.
    EXPECT_THROW(cache->getSegmentFor(tileLon(0), tileLat(0)), jcompat::RuntimeException);
}

// ---- the secondary directory ----

class SecondaryDirectoryTest : public NodesCacheTest {
protected:
    SecondaryDirectoryTest() {
        std::filesystem::create_directory(secondaryPath());
        primaryNet_.way(
            STREET, {primaryNet_.gridNode(tileLon(0), tileLat(0)), primaryNet_.gridNode(tileLon(0, 7000), tileLat(0))});
        secondaryNet_.way(STREET, {secondaryNet_.gridNode(tileLon(0), tileLat(0)),
                                   secondaryNet_.gridNode(tileLon(0), tileLat(0, 9000))});
    }

    std::string secondaryPath() const { return segments_.file("second"); }

    // The position of the other end of the street at the start node, or 0
    // when there is no data.
    std::int64_t streetEnd(NodesCache& cache) {
        OsmNode* start = registered(cache, primaryNet_, NodeRef{0});
        if (!cache.obtainNonHollowNode(start)) {
            return 0;
        }
        const std::set<std::int64_t> ends = neighbours(start);
        return ends.size() == 1 ? *ends.begin() : -1;
    }
    std::int64_t primaryEnd() const { return idOf(primaryNet_, NodeRef{1}); }
    std::int64_t secondaryEnd() const { return idOf(secondaryNet_, NodeRef{1}); }

    TestNetwork primaryNet_;
    TestNetwork secondaryNet_;
};

TEST_F(SecondaryDirectoryTest, NoConfigurationOrOnlyCommentsMeansNone) {
    writeSegments(secondaryNet_, secondaryPath());
    EXPECT_FALSE(newCache()->secondarySegmentDir().has_value());
    EXPECT_EQ(streetEnd(*newCache()), 0);
    writeConfig("# secondary_segment_dir=second\n\n");
    EXPECT_FALSE(newCache()->secondarySegmentDir().has_value());
}

TEST_F(SecondaryDirectoryTest, ARelativeDirectoryIsResolvedAgainstTheSegmentDirectory) {
    writeSegments(secondaryNet_, secondaryPath());
    writeConfig(
        "# where the rest lies\nsomething=else\n"
        "  secondary_segment_dir=  second \t\nsecondary_segment_dir=x\n");
    auto cache = newCache();
    ASSERT_TRUE(cache->secondarySegmentDir().has_value());
    EXPECT_EQ(cache->secondarySegmentDir()->getPath(), segments_.path() + "/second");
    EXPECT_EQ(streetEnd(*cache), secondaryEnd());
    EXPECT_EQ(cache->fileAt(tileLon(0), tileLat(0))->fileName(), "E10_N45.rd5");

    // The primary directory comes first.
    writeSegments(primaryNet_);
    EXPECT_EQ(streetEnd(*newCache()), primaryEnd());
    // Unless only the secondary data is wanted.
    EXPECT_EQ(streetEnd(*newCache(nullptr, false, true)), secondaryEnd());
}

TEST_F(SecondaryDirectoryTest, AnAbsoluteDirectoryIsTakenAsItIs) {
    testsupport::TempDirectory elsewhere;
    writeSegments(secondaryNet_, elsewhere.path());
    writeConfig("secondary_segment_dir=" + elsewhere.path() + "\n");
    EXPECT_EQ(streetEnd(*newCache()), secondaryEnd());
}

TEST_F(SecondaryDirectoryTest, AMissingDirectoryIsIgnored) {
    writeSegments(secondaryNet_, secondaryPath());
    writeConfig("secondary_segment_dir=third\n");
    auto cache = newCache();
    EXPECT_FALSE(cache->secondarySegmentDir().has_value());
    EXPECT_EQ(streetEnd(*cache), 0);
}

TEST_F(SecondaryDirectoryTest, ForcedSecondaryDataSkipsThePrimaryDirectory) {
    writeSegments(primaryNet_);
    EXPECT_EQ(streetEnd(*newCache(nullptr, false, true)), 0);
    writeConfig("secondary_segment_dir=second\n");
    EXPECT_EQ(streetEnd(*newCache(nullptr, false, true)), 0);
}

TEST_F(SecondaryDirectoryTest, WithoutASecondaryDirectoryTheWorkingDirectoryIsSearched) {
    testsupport::TempDirectory working;
    writeSegments(secondaryNet_, working.path());
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(working.path());
    const std::int64_t found = streetEnd(*newCache());
    const std::int64_t forced = streetEnd(*newCache(nullptr, false, true));
    writeConfig("secondary_segment_dir=second\n");
    const std::int64_t besideSecondary = streetEnd(*newCache());
    std::filesystem::current_path(before);
    EXPECT_EQ(found, secondaryEnd());
    EXPECT_EQ(forced, secondaryEnd());
    // A secondary directory takes the working directory's place.
    EXPECT_EQ(besideSecondary, 0);
}

// ---- hollow nodes and the woven graph ----

TEST_F(NodesCacheTest, HollowNodesAreCompletedInPlace) {
    TestNetwork net;
    const NodeRef a = net.gridNode(tileLon(0), tileLat(0)).elevation(100.0);
    const NodeRef b = net.gridNode(tileLon(1), tileLat(0)).elevation(101.0).tags("barrier=gate");
    const NodeRef c = net.gridNode(tileLon(1, 9000), tileLat(0, 3000)).elevation(102.0);
    net.way(STREET, {a, b, c});
    writeSegments(net);

    auto cache = newCache();
    OsmNode* hollowB = registered(*cache, net, b);
    EXPECT_EQ(registered(*cache, net, b), hollowB);
    EXPECT_EQ(cache->nodesMap().nodeTable().size(), 1U);

    OsmNode* start = registered(*cache, net, a);
    ASSERT_TRUE(cache->obtainNonHollowNode(start));
    // The link from a leads to the registered node, still hollow.
    ASSERT_NE(start->firstLink, nullptr);
    EXPECT_EQ(start->firstLink->getTarget(start), hollowB);
    EXPECT_TRUE(hollowB->isHollow());
    EXPECT_FALSE(hollowB->nodeTags);

    ASSERT_TRUE(cache->obtainNonHollowNode(hollowB));
    EXPECT_EQ(hollowB->selev, 404);
    EXPECT_TRUE(hollowB->nodeTags);
    EXPECT_EQ(neighbours(hollowB), (std::set<std::int64_t>{idOf(net, a), idOf(net, c)}));
    EXPECT_TRUE(cache->obtainNonHollowNode(hollowB));
    EXPECT_EQ(cache->loadedTileCount(), 2);
}

// Every link of the graph around the network's nodes, once per end, as
// "from -> to tags geometry" in the link's own direction.
std::vector<std::string> describeGraph(const std::vector<OsmNode*>& nodes) {
    std::vector<std::string> lines;
    for (const OsmNode* node : nodes) {
        std::ostringstream nodeLine;
        nodeLine << node->toString() << " elev " << node->selev << " tags " << node->nodeTags.size();
        lines.push_back(nodeLine.str());
        for (const OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
            std::ostringstream line;
            line << "  " << link->firstNode->toString() << " -> " << link->secondNode->toString() << " tags";
            for (const util::Byte byte : link->wayTags.span()) {
                line << ' ' << static_cast<int>(byte);
            }
            line << " geometry";
            for (const util::Byte byte : link->geometry.span()) {
                line << ' ' << static_cast<int>(byte);
            }
            lines.push_back(line.str());
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(NodesCacheTest, TileOrderDoesNotChangeTheGraph) {
    // Random streets over 4 x 3 tiles across the 10 E file edge, with shape
    // points, elevations and node tags.
    std::mt19937 random(20240607);
    std::uniform_int_distribution<std::int32_t> offset(0, 4 * CELL - 1);
    std::uniform_int_distribution<std::int32_t> row(0, 3 * CELL - 1);
    TestNetwork net;
    std::vector<NodeRef> refs;
    std::set<std::int64_t> used;
    while (refs.size() < 80) {
        const std::int32_t ilon = LON10 - CELL + offset(random);
        const std::int32_t ilat = LAT47_5 + row(random);
        if (!used.insert(OsmPos::idFromPos(ilon, ilat)).second) {
            continue;
        }
        auto builder = net.gridNode(ilon, ilat).elevation(200.0 + refs.size());
        if (refs.size() % 9 == 0) {
            builder.tags("barrier=bollard");
        }
        refs.push_back(builder);
    }
    std::set<std::pair<std::int32_t, std::int32_t>> streets;
    for (std::int32_t i = 1; i < static_cast<std::int32_t>(refs.size()); ++i) {
        for (std::int32_t k = 0; k < 2; ++k) {
            const std::int32_t j = std::uniform_int_distribution<std::int32_t>(0, i - 1)(random);
            if (!streets.insert({j, i}).second) {
                continue;
            }
            const auto& from = net.at(refs[static_cast<std::size_t>(j)]);
            const auto& to = net.at(refs[static_cast<std::size_t>(i)]);
            std::vector<testsupport::WayPoint> points{refs[static_cast<std::size_t>(j)]};
            if ((i + k) % 3 == 0) {
                points.push_back(
                    testsupport::gridShape((from.ilon + to.ilon) / 2 + 77, (from.ilat + to.ilat) / 2 - 55));
            }
            points.push_back(refs[static_cast<std::size_t>(i)]);
            net.way(k == 0 ? "highway=residential" : "highway=track tracktype=grade2", points);
        }
    }
    writeSegments(net);

    std::vector<std::pair<std::int32_t, std::int32_t>> tiles;
    for (std::int32_t r = 0; r < 3; ++r) {
        for (std::int32_t c = -1; c < 3; ++c) {
            tiles.emplace_back(c, r);
        }
    }
    auto graphAfterLoading = [&](const std::vector<std::pair<std::int32_t, std::int32_t>>& order) {
        auto cache = newCache();
        std::vector<OsmNode*> nodes;
        for (const NodeRef ref : refs) {
            nodes.push_back(registered(*cache, net, ref));
        }
        for (const auto& [c, r] : order) {
            cache->getSegmentFor(tileLon(c, 0), tileLat(r, 0));
        }
        EXPECT_EQ(cache->loadedTileCount(), 12);
        EXPECT_EQ(cache->openFileCount(), 2);
        for (const OsmNode* node : nodes) {
            EXPECT_FALSE(node->isHollow()) << node->toString();
        }
        return describeGraph(nodes);
    };

    const std::vector<std::string> forward = graphAfterLoading(tiles);
    std::reverse(tiles.begin(), tiles.end());
    EXPECT_EQ(graphAfterLoading(tiles), forward);
    std::shuffle(tiles.begin(), tiles.end(), random);
    EXPECT_EQ(graphAfterLoading(tiles), forward);

    // And it is the network that was written: one link per street.
    std::size_t linkLines = 0;
    for (const std::string& line : forward) {
        linkLines += line.starts_with("  ") ? 1 : 0;
    }
    EXPECT_EQ(linkLines, 2 * streets.size());
}

// ---- one cache after another ----

TEST_F(NodesCacheTest, ANewCacheTakesOverFilesBuffersAndEmptyTiles) {
    TestNetwork net;
    const NodeRef a = net.gridNode(tileLon(0), tileLat(0));
    const NodeRef b = net.gridNode(tileLon(1), tileLat(0));
    net.way(STREET, {a, b});
    writeSegments(net);
    std::filesystem::create_directory(segments_.file("second"));
    writeConfig("secondary_segment_dir=second\n");

    auto first = newCache(nullptr, false, false, 3000);
    EXPECT_EQ(first->nodesMap().maxMemory, 2000);
    ASSERT_TRUE(first->obtainNonHollowNode(registered(*first, net, a)));
    codec::MicroCache* emptyTile = first->getSegmentFor(tileLon(5), tileLat(5));
    ASSERT_NE(emptyTile, nullptr);
    EXPECT_TRUE(emptyTile->isPristine());
    EXPECT_EQ(first->getSegmentFor(tileLon(-1), tileLat(0)), nullptr); // E5_N45: missing
    EXPECT_EQ(first->loadedTileCount(), 2);
    EXPECT_FALSE(validator_.decodeForbidden());

    // The open file stays readable after it is gone from the directory, and
    // the missing one stays missing once it exists.
    std::filesystem::remove(segments_.file("E10_N45.rd5"));
    std::filesystem::remove(segments_.file("storageconfig.txt"));
    TestNetwork west;
    west.way(STREET, {west.gridNode(tileLon(-1), tileLat(0)), west.gridNode(tileLon(-1), tileLat(1))});
    writeSegments(west);

    auto second = newCache(first.get());
    EXPECT_EQ(second->openFileCount(), 1);
    ASSERT_TRUE(second->secondarySegmentDir().has_value());
    EXPECT_EQ(second->loadedTileCount(), 1); // only the empty tile
    EXPECT_EQ(second->getSegmentFor(tileLon(5), tileLat(5)), emptyTile);
    EXPECT_EQ(second->nodesMap().createdNodeCount(), 0U);
    OsmNode* again = registered(*second, net, a);
    ASSERT_TRUE(second->obtainNonHollowNode(again)); // woven anew into the new map
    EXPECT_EQ(neighbours(again), std::set<std::int64_t>{idOf(net, b)});
    EXPECT_GT(second->nodesMap().createdNodeCount(), 0U);
    EXPECT_EQ(second->getSegmentFor(tileLon(-1), tileLat(0)), nullptr);
    // The old cache is left without files.
    EXPECT_EQ(first->openFileCount(), 0);
    EXPECT_EQ(first->loadedTileCount(), 0);

    // Another detail level starts with empty rows but keeps the files.
    auto detailed = newCache(second.get(), true);
    EXPECT_TRUE(validator_.decodeForbidden());
    EXPECT_EQ(detailed->loadedTileCount(), 0);
    EXPECT_TRUE(detailed->fileRow(137).empty());
    EXPECT_EQ(detailed->openFileCount(), 1);
    EXPECT_TRUE(detailed->obtainNonHollowNode(registered(*detailed, net, b)));
    EXPECT_EQ(detailed->getSegmentFor(tileLon(-1), tileLat(0)), nullptr);
}

TEST_F(NodesCacheTest, CleanEmptiesWovenTilesOrAllAndCloseEndsReading) {
    TestNetwork net;
    net.way(STREET, {net.gridNode(tileLon(0), tileLat(0)), net.gridNode(tileLon(1), tileLat(0))});
    writeSegments(net);
    auto cache = newCache();
    cache->getSegmentFor(tileLon(0), tileLat(0));
    cache->getSegmentFor(tileLon(5), tileLat(5));
    EXPECT_EQ(cache->loadedTileCount(), 2);
    cache->clean(false);
    EXPECT_EQ(cache->loadedTileCount(), 1);
    cache->clean(true);
    EXPECT_EQ(cache->loadedTileCount(), 0);

    cache->close();
    cache->close();
    EXPECT_THROW(cache->getSegmentFor(tileLon(1), tileLat(0)), jcompat::RuntimeException);
}

// ---- matching waypoints through the cache ----

MatchedWaypoint waypointAt(std::int32_t ilon, std::int32_t ilat) {
    MatchedWaypoint mwp;
    mwp.waypoint = std::make_shared<OsmNode>(ilon, ilat);
    return mwp;
}

TEST_F(NodesCacheTest, MatchingLoadsTheWaypointTilesAndFindsTheStreet) {
    TestNetwork net;
    net.way(STREET, {net.gridNode(tileLon(0, 1000), tileLat(0)), net.gridNode(tileLon(0, 11000), tileLat(0))});
    net.way(STREET, {net.gridNode(tileLon(3), tileLat(3)), net.gridNode(tileLon(4), tileLat(3))});
    writeSegments(net);

    auto cache = newCache();
    std::vector<MatchedWaypoint> waypoints{waypointAt(tileLon(0, 3000), tileLat(0, 6500)),
                                           waypointAt(tileLon(0, 9000), tileLat(0, 5800))};
    EXPECT_TRUE(cache->matchWaypointsToNodes(waypoints, 250.0, nullptr));
    EXPECT_EQ(cache->loadedTileCount(), 1);
    EXPECT_EQ(waypoints[0].crossPoint->ilon, tileLon(0, 3000));
    EXPECT_EQ(waypoints[0].crossPoint->ilat, tileLat(0));
    EXPECT_EQ(waypoints[1].crossPoint->ilon, tileLon(0, 9000));
    EXPECT_EQ(waypoints[0].node1->ilon, tileLon(0, 1000));
    EXPECT_EQ(waypoints[0].node2->ilon, tileLon(0, 11000));
    EXPECT_EQ(waypoints[1].node1->ilon, tileLon(0, 11000)); // looking back west
    EXPECT_EQ(waypoints[0].nearestWays.size(), 2U);

    // The engine keeps its waypoints shared; matching them gives the same.
    std::vector<std::shared_ptr<MatchedWaypoint>> shared{std::make_shared<MatchedWaypoint>(waypointAt(0, 0)),
                                                         std::make_shared<MatchedWaypoint>(waypointAt(0, 0))};
    shared[0]->waypoint = waypoints[0].waypoint;
    shared[1]->waypoint = waypoints[1].waypoint;
    EXPECT_TRUE(newCache()->matchWaypointsToNodes(shared, 250.0, nullptr));
    EXPECT_EQ(shared[0]->crossPoint->ilon, tileLon(0, 3000));
    EXPECT_EQ(shared[1]->node1->ilon, tileLon(0, 11000));
}

TEST_F(NodesCacheTest, MatchingFailsOnAMissingFirstFileAndIsFalseFarFromStreets) {
    TestNetwork net;
    net.way(STREET, {net.gridNode(tileLon(4), tileLat(0)), net.gridNode(tileLon(5), tileLat(0))});
    writeSegments(net);

    std::vector<MatchedWaypoint> west{waypointAt(tileLon(-2), tileLat(0))};
    try {
        newCache()->matchWaypointsToNodes(west, 250.0, nullptr);
        FAIL() << "a waypoint without a segment file was accepted";
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "datafile E5_N45.rd5 not found");
    }
    std::vector<MatchedWaypoint> pole{waypointAt(LON10, 180000000)};
    try {
        newCache()->matchWaypointsToNodes(pole, 250.0, nullptr);
        FAIL() << "a waypoint at the pole was accepted";
    } catch (const jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "datafile E10_N90.rd5 not found");
    }

    // 2 km north of the street: the ring of points around it loads nothing.
    std::vector<MatchedWaypoint> far{waypointAt(tileLon(4), tileLat(0) + 18000)};
    auto cache = newCache();
    EXPECT_FALSE(cache->matchWaypointsToNodes(far, 250.0, nullptr));
    EXPECT_EQ(far[0].crossPoint, nullptr);
    EXPECT_EQ(cache->loadedTileCount(), 9); // its own tile, then 3 x 3 points 2.5 tiles apart

    // The end of a straight leg needs no street.
    std::vector<MatchedWaypoint> straight{waypointAt(tileLon(4), tileLat(0, 6100)), far[0]};
    straight[0].kind = 3;
    straight[1].crossPoint.reset();
    EXPECT_TRUE(newCache()->matchWaypointsToNodes(straight, 250.0, nullptr));
    EXPECT_EQ(straight[0].crossPoint->ilat, tileLat(0, 6100));
    EXPECT_EQ(straight[1].kind, 3);
    EXPECT_EQ(straight[1].crossPoint->ilat, tileLat(0) + 18000);
}

TEST_F(NodesCacheTest, DynamicRangeWidensUntilAStreetIsFound) {
    TestNetwork net;
    net.way(STREET, {net.gridNode(tileLon(0), tileLat(0)), net.gridNode(tileLon(1), tileLat(0))});
    writeSegments(net);
    // 10 km north; the rings also reach west into the missing E5_N45 file,
    // which does not count against the waypoint's own file.
    std::vector<MatchedWaypoint> far{waypointAt(tileLon(0, 8000), tileLat(0) + 90000)};
    auto cache = newCache();
    EXPECT_TRUE(cache->matchWaypointsToNodes(far, -60000.0, nullptr));
    EXPECT_EQ(far[0].crossPoint->ilat, tileLat(0));
    EXPECT_NEAR(far[0].radius, 90000 * 0.11118, 5.0);
    // It stopped at the third ring: fewer points than 19 rings would load.
    EXPECT_LT(cache->loadedTileCount(), 50);
}

TEST_F(NodesCacheTest, RingsPastThePoleAndTheDateLineAreSkipped) {
    TestNetwork net;
    net.way(STREET, {net.gridNode(359990000, 179990000), net.gridNode(359995000, 179990000)});
    writeSegments(net);
    std::vector<MatchedWaypoint> waypoints{waypointAt(359999000, 179999999)};
    auto cache = newCache();
    EXPECT_TRUE(cache->matchWaypointsToNodes(waypoints, -60000.0, nullptr));
    EXPECT_EQ(waypoints[0].crossPoint->ilat, 179990000);
    EXPECT_EQ(cache->fileRow(179).size(), 1U);
}

} // namespace
} // namespace ferrow::mapaccess
