#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "expressions/BExpressionContext.h"
#include "mapaccess/GeometryDecoder.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/SegmentFiles.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TestTagValidator.h"

// Random networks written by the test writer and read back, by weaving and
// through decoded tiles: every node, link, point, elevation, tag set and
// restriction must come back.
namespace ferrow::mapaccess {
namespace {

using testsupport::LookupTagCoder;
using testsupport::NodeRef;
using testsupport::SegmentFileOptions;
using testsupport::ShapePoint;
using testsupport::TestNetwork;
using Bytes = std::vector<util::Byte>;
using Point = std::tuple<std::int32_t, std::int32_t, std::int16_t>;

// A link as seen from one of its nodes.
struct LinkView {
    std::int32_t targetLon;
    std::int32_t targetLat;
    bool forward;
    Bytes tags;
    std::vector<Point> points; // from this node towards the target
    bool operator==(const LinkView&) const = default;
    // Spelled out: not every standard library orders vectors with <=>.
    bool operator<(const LinkView& other) const {
        return std::tie(targetLon, targetLat, forward, tags, points) <
               std::tie(other.targetLon, other.targetLat, other.forward, other.tags, other.points);
    }
};

using RestrictionView = std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t, bool, std::int16_t>;

struct NodeView {
    std::int16_t elevation;
    Bytes tags;
    std::vector<RestrictionView> restrictions;
    std::vector<LinkView> links;
    bool operator==(const NodeView&) const = default;
};

void PrintTo(const NodeView& view, std::ostream* out) {
    *out << "elevation " << view.elevation << ", " << view.tags.size() << " tag bytes, " << view.restrictions.size()
         << " restrictions, links to";
    for (const LinkView& link : view.links) {
        *out << " " << link.targetLon << "/" << link.targetLat << (link.forward ? " fwd" : " rev") << " "
             << link.points.size() << "pts";
    }
}

Bytes bytesOf(std::span<const util::Byte> bytes) { return Bytes(bytes.begin(), bytes.end()); }

NodeView viewOf(OsmNode* node, GeometryDecoder& decoder) {
    NodeView view{node->selev, bytesOf(node->nodeTags), {}, {}};
    for (const TurnRestriction* r = node->firstRestriction; r != nullptr; r = r->next) {
        view.restrictions.emplace_back(r->fromLon, r->fromLat, r->toLon, r->toLat, r->isPositive, r->exceptions);
    }
    for (OsmLink* l = node->firstLink; l != nullptr; l = l->getNext(node)) {
        OsmNode* target = l->getTarget(node);
        const bool forward = l->firstNode == node;
        LinkView link{target->ilon, target->ilat, forward, bytesOf(l->wayTags), {}};
        for (const OsmTransferNode* p = decoder.decodeGeometry(l->geometry, node, target, !forward); p != nullptr;
             p = p->next) {
            link.points.emplace_back(p->ilon, p->ilat, p->selev);
        }
        view.links.push_back(std::move(link));
    }
    std::sort(view.restrictions.begin(), view.restrictions.end());
    std::sort(view.links.begin(), view.links.end());
    return view;
}

// What the reader must give for each node of the network.
std::vector<NodeView> expectedViews(const TestNetwork& net, const LookupTagCoder& tags) {
    std::vector<NodeView> views;
    for (const TestNetwork::Node& node : net.nodes()) {
        views.push_back(
            NodeView{node.elevation,
                     bytesOf(tags.nodeTags(node.tags).empty() ? util::ByteArray() : tags.nodeTags(node.tags).toBytes()),
                     {},
                     {}});
    }
    for (const TestNetwork::Way& way : net.ways()) {
        const Bytes wayTags = bytesOf(tags.wayTags(way.tags).toBytes());
        NodeRef start = std::get<NodeRef>(way.points.front());
        std::int16_t elevation = net.at(start).elevation;
        std::vector<Point> points;
        for (std::size_t i = 1; i < way.points.size(); ++i) {
            if (const ShapePoint* p = std::get_if<ShapePoint>(&way.points[i])) {
                if (p->elevation) {
                    elevation = static_cast<std::int16_t>(std::lround(*p->elevation * 4.0));
                }
                points.emplace_back(p->ilon, p->ilat, elevation);
                continue;
            }
            const NodeRef end = std::get<NodeRef>(way.points[i]);
            const TestNetwork::Node& a = net.at(start);
            const TestNetwork::Node& b = net.at(end);
            views[static_cast<std::size_t>(start.index)].links.push_back(
                LinkView{b.ilon, b.ilat, true, wayTags, points});
            std::reverse(points.begin(), points.end());
            views[static_cast<std::size_t>(end.index)].links.push_back(
                LinkView{a.ilon, a.ilat, false, wayTags, points});
            points.clear();
            start = end;
            elevation = b.elevation;
        }
    }
    for (const TestNetwork::Restriction& r : net.restrictions()) {
        views[static_cast<std::size_t>(r.via.index)].restrictions.emplace_back(
            net.at(r.from).ilon, net.at(r.from).ilat, net.at(r.to).ilon, net.at(r.to).ilat, r.positive, r.exceptions);
    }
    for (NodeView& view : views) {
        std::sort(view.restrictions.begin(), view.restrictions.end());
        std::sort(view.links.begin(), view.links.end());
    }
    return views;
}

// Tag text of one to three random tags of a context's lookup table.
std::string randomTags(const expressions::BExpressionContext& context, std::mt19937& random) {
    std::set<int> used;
    std::string text;
    const int count = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < count; ++i) {
        const int tag = 1 + static_cast<int>(random() % static_cast<unsigned>(context.lookupTagCount() - 1));
        if (!used.insert(tag).second) {
            continue;
        }
        const auto& values = context.lookupValues(tag);
        const std::string value = random() % 8 == 0
                                      ? std::to_string(random() % 300)
                                      : values[1 + random() % static_cast<unsigned>(values.size() - 1)].toString();
        text += (text.empty() ? "" : " ") + context.lookupName(tag) + "=" + value;
    }
    return text;
}

// Nodes around the corner of four files (5 E / 50 N), ways between random
// nodes with shape points, restrictions at nodes with two neighbours or more.
TestNetwork randomNetwork(std::uint32_t seed, const LookupTagCoder& tags) {
    std::mt19937 random(seed);
    TestNetwork net;
    std::set<std::pair<std::int32_t, std::int32_t>> positions;
    std::uniform_int_distribution<std::int32_t> lon(testsupport::gridLon(4.97), testsupport::gridLon(5.03));
    std::uniform_int_distribution<std::int32_t> lat(testsupport::gridLat(49.985), testsupport::gridLat(50.015));
    std::vector<NodeRef> nodes;
    while (nodes.size() < 300) {
        const std::int32_t ilon = lon(random);
        const std::int32_t ilat = lat(random);
        if (!positions.emplace(ilon, ilat).second) {
            continue;
        }
        auto node = net.gridNode(ilon, ilat);
        if (random() % 10 < 7) {
            node.elevationQuarterMetres(static_cast<std::int16_t>(static_cast<int>(random() % 9000) - 400));
        }
        if (random() % 5 == 0) {
            node.tags(randomTags(tags.nodeContext(), random));
        }
        nodes.push_back(node);
    }

    std::set<std::pair<int, int>> pairs;
    std::vector<std::vector<int>> neighbours(nodes.size());
    for (int w = 0; w < 160; ++w) {
        std::vector<testsupport::WayPoint> points;
        int current = static_cast<int>(random() % nodes.size());
        points.emplace_back(nodes[static_cast<std::size_t>(current)]);
        const int stretches = 1 + static_cast<int>(random() % 3);
        for (int s = 0; s < stretches; ++s) {
            // Mostly near neighbours (the same or the next tile), sometimes far across files.
            int next = current;
            for (int attempt = 0; attempt < 20; ++attempt) {
                const int candidate = static_cast<int>(random() % nodes.size());
                const auto& a = net.at(nodes[static_cast<std::size_t>(current)]);
                const auto& b = net.at(nodes[static_cast<std::size_t>(candidate)]);
                const bool near = std::abs(a.ilon - b.ilon) < 15000 && std::abs(a.ilat - b.ilat) < 15000;
                if (candidate != current && (near || attempt > 15) &&
                    !pairs.contains({std::min(current, candidate), std::max(current, candidate)})) {
                    next = candidate;
                    break;
                }
            }
            if (next == current) {
                break;
            }
            pairs.insert({std::min(current, next), std::max(current, next)});
            neighbours[static_cast<std::size_t>(current)].push_back(next);
            neighbours[static_cast<std::size_t>(next)].push_back(current);
            const auto& a = net.at(nodes[static_cast<std::size_t>(current)]);
            const auto& b = net.at(nodes[static_cast<std::size_t>(next)]);
            const int shapes = static_cast<int>(random() % 4);
            for (int p = 1; p <= shapes; ++p) {
                ShapePoint point = testsupport::gridShape(
                    a.ilon + (b.ilon - a.ilon) * p / (shapes + 1) + static_cast<int>(random() % 201) - 100,
                    a.ilat + (b.ilat - a.ilat) * p / (shapes + 1) + static_cast<int>(random() % 201) - 100);
                if (random() % 2 == 0) {
                    point.elevation = static_cast<double>(random() % 4000) / 4.0 - 50.0;
                }
                points.emplace_back(point);
            }
            points.emplace_back(nodes[static_cast<std::size_t>(next)]);
            current = next;
        }
        if (points.size() >= 2) {
            net.way(randomTags(tags.wayContext(), random), points);
        }
    }

    for (std::size_t via = 0; via < nodes.size(); ++via) {
        const auto& around = neighbours[via];
        if (around.size() < 2 || random() % 3 != 0) {
            continue;
        }
        const NodeRef from = nodes[static_cast<std::size_t>(around[random() % around.size()])];
        const NodeRef to = nodes[static_cast<std::size_t>(around[random() % around.size()])];
        const auto exceptions = static_cast<std::int16_t>(random() % 4);
        if (random() % 2 == 0) {
            net.noTurn(from, nodes[via], to, exceptions);
        } else {
            net.onlyTurn(from, nodes[via], to, exceptions);
        }
    }
    return net;
}

class SegmentRoundTripTest : public ::testing::TestWithParam<std::uint32_t> {
protected:
    void SetUp() override {
        network = randomNetwork(GetParam(), LookupTagCoder::standard());
        testsupport::SegmentWriter writer;
        // Every file form at once: both densities and all three trailers.
        SegmentFileOptions dense;
        dense.tilesPerDegree = 32;
        SegmentFileOptions noTrailer;
        noTrailer.trailer = SegmentFileOptions::Trailer::None;
        SegmentFileOptions shortTrailer;
        shortTrailer.trailer = SegmentFileOptions::Trailer::WithoutElevationType;
        writer.file("E0_N45", dense).file("E0_N50", noTrailer).file("E5_N45", shortTrailer);
        ASSERT_EQ(writer.write(network, directory.path()).size(), 4U);
        expected = expectedViews(network, LookupTagCoder::standard());
    }

    TestNetwork network;
    testsupport::TempDirectory directory;
    std::vector<NodeView> expected;
    testsupport::TestTagValidator validator;
    GeometryDecoder decoder;
};

TEST_P(SegmentRoundTripTest, WeavingGivesBackEveryNodeAndLink) {
    test::SegmentFiles files(directory.path(), 1);
    OsmNodesMap map;
    std::vector<OsmNode*> graph;
    for (const TestNetwork::Node& node : network.nodes()) {
        OsmNode* hollow = map.createNode(node.ilon, node.ilat);
        hollow->setHollow();
        map.put(hollow);
        graph.push_back(hollow);
    }
    std::set<std::tuple<std::int32_t, std::int32_t, std::int32_t>> woven;
    for (const TestNetwork::Node& node : network.nodes()) {
        const std::int32_t cell = files.square(node.ilon, node.ilat).cellSize();
        if (woven.insert({cell, node.ilon / cell, node.ilat / cell}).second) {
            files.tileAt(node.ilon, node.ilat, &validator, &map);
        }
        if (map.get(node.ilon, node.ilat) != nullptr) {
            ADD_FAILURE() << "node " << node.ilon << "/" << node.ilat << " not completed by its tile";
        }
    }
    EXPECT_TRUE(map.nodeTable().empty()) << "every link target is a node of some tile";
    for (std::size_t i = 0; i < graph.size(); ++i) {
        ASSERT_EQ(viewOf(graph[i], decoder), expected[i]) << "node " << i;
    }
}

TEST_P(SegmentRoundTripTest, DecodedTilesGiveBackEveryNodeAndLink) {
    test::SegmentFiles files(directory.path(), 1);
    std::map<std::tuple<std::int32_t, std::int32_t, std::int32_t>, std::shared_ptr<codec::MicroCache>> tiles;
    OsmNodesMap map;
    std::vector<OsmNode*> graph;
    for (std::size_t i = 0; i < network.nodes().size(); ++i) {
        const TestNetwork::Node& node = network.nodes()[i];
        const std::int32_t cell = files.square(node.ilon, node.ilat).cellSize();
        auto& tile = tiles[{cell, node.ilon / cell, node.ilat / cell}];
        if (tile == nullptr) {
            tile = files.tileAt(node.ilon, node.ilat, &validator, nullptr);
        }
        OsmNode* graphNode = map.get(node.ilon, node.ilat);
        if (graphNode == nullptr) {
            graphNode = map.createNode(node.ilon, node.ilat);
            graphNode->setHollow();
            map.put(graphNode);
        }
        graph.push_back(graphNode);
        if (!tile->getAndClear(graphNode->getIdFromPos())) {
            EXPECT_TRUE(expected[i].links.empty()) << "only nodes without links are left out of a decoded tile";
            graph.back() = nullptr;
            map.remove(graphNode);
            continue;
        }
        graphNode->parseNodeBody(*tile, map, map.byteArrayUnifier());
    }
    EXPECT_TRUE(map.nodeTable().empty());
    // Compared once all nodes are filled: a link made from its reverse record
    // gets its geometry when the other end's forward record is read.
    for (std::size_t i = 0; i < graph.size(); ++i) {
        if (graph[i] != nullptr) {
            ASSERT_EQ(viewOf(graph[i], decoder), expected[i]) << "node " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SegmentRoundTripTest, ::testing::Values(1U, 2U, 3U));

} // namespace
} // namespace ferrow::mapaccess
