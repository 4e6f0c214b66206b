#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ferrow::testsupport {

// A road network described in code, for writing segment files in tests:
//
//     TestNetwork net;
//     NodeRef a = net.node(8.000, 50.000);
//     NodeRef b = net.node(8.001, 50.000).elevation(112.5).tags("highway=traffic_signals");
//     NodeRef c = net.node(8.002, 50.001);
//     net.way("highway=residential", {a, b, shape(8.0015, 50.0008), c});
//     net.noTurn(a, b, c);
//
// Positions are in degrees (node, shape) or grid units (gridNode, gridShape);
// tags are tag=value text coded through the lookup table when the files are
// written. Each stretch of a way between two nodes becomes one link, its shape
// points the link's geometry.
struct NodeRef {
    std::int32_t index = -1;
};

// An intermediate point of a way, with an elevation in metres or none (then
// it keeps the elevation of the point before it).
struct ShapePoint {
    std::int32_t ilon = 0;
    std::int32_t ilat = 0;
    std::optional<double> elevation;
};

ShapePoint shape(double lon, double lat);
ShapePoint shape(double lon, double lat, double elevation);
ShapePoint gridShape(std::int32_t ilon, std::int32_t ilat);

using WayPoint = std::variant<NodeRef, ShapePoint>;

// Grid units of a coordinate in degrees, rounded to the nearest unit.
std::int32_t gridLon(double lon);
std::int32_t gridLat(double lat);

class TestNetwork {
public:
    struct Node {
        std::int32_t ilon = 0;
        std::int32_t ilat = 0;
        // Quarter metres; -32768 for none.
        std::int16_t elevation = -32768;
        std::string tags;
    };

    struct Way {
        std::string tags;
        std::vector<WayPoint> points;
    };

    struct Restriction {
        NodeRef from;
        NodeRef via;
        NodeRef to;
        bool positive = false;
        // Bit 0: bicycles excepted; bit 1: motor cars excepted.
        std::int16_t exceptions = 0;
    };

    // Returned by node(): sets the node's elevation and tags in a chain and
    // turns into the node's reference.
    class NodeBuilder {
    public:
        NodeBuilder(TestNetwork& network, std::int32_t index) : network_(&network), index_(index) {}
        NodeBuilder& elevation(double metres);
        NodeBuilder& elevationQuarterMetres(std::int16_t quarters);
        NodeBuilder& tags(std::string text);
        operator NodeRef() const { return NodeRef{index_}; } // NOLINT: a builder reads as the node

    private:
        TestNetwork* network_;
        std::int32_t index_;
    };

    NodeBuilder node(double lon, double lat);
    NodeBuilder gridNode(std::int32_t ilon, std::int32_t ilat);

    // A way through the points, which must start and end at nodes.
    void way(std::string tags, std::vector<WayPoint> points);

    // Turn restrictions at via, for the turn from the neighbour from to the
    // neighbour to.
    void noTurn(NodeRef from, NodeRef via, NodeRef to, std::int16_t exceptions = 0);
    void onlyTurn(NodeRef from, NodeRef via, NodeRef to, std::int16_t exceptions = 0);

    const std::vector<Node>& nodes() const noexcept { return nodes_; }
    const std::vector<Way>& ways() const noexcept { return ways_; }
    const std::vector<Restriction>& restrictions() const noexcept { return restrictions_; }
    const Node& at(NodeRef ref) const { return nodes_.at(static_cast<std::size_t>(ref.index)); }

private:
    std::vector<Node> nodes_;
    std::vector<Way> ways_;
    std::vector<Restriction> restrictions_;
};

} // namespace ferrow::testsupport
