#include "testsupport/TestNetwork.h"

#include <cmath>
#include <stdexcept>

namespace ferrow::testsupport {

std::int32_t gridLon(double lon) { return static_cast<std::int32_t>(std::llround((lon + 180.0) * 1000000.0)); }

std::int32_t gridLat(double lat) { return static_cast<std::int32_t>(std::llround((lat + 90.0) * 1000000.0)); }

ShapePoint shape(double lon, double lat) { return ShapePoint{gridLon(lon), gridLat(lat), std::nullopt}; }

ShapePoint shape(double lon, double lat, double elevation) { return ShapePoint{gridLon(lon), gridLat(lat), elevation}; }

ShapePoint gridShape(std::int32_t ilon, std::int32_t ilat) { return ShapePoint{ilon, ilat, std::nullopt}; }

TestNetwork::NodeBuilder& TestNetwork::NodeBuilder::elevation(double metres) {
    return elevationQuarterMetres(static_cast<std::int16_t>(std::lround(metres * 4.0)));
}

TestNetwork::NodeBuilder& TestNetwork::NodeBuilder::elevationQuarterMetres(std::int16_t quarters) {
    network_->nodes_[static_cast<std::size_t>(index_)].elevation = quarters;
    return *this;
}

TestNetwork::NodeBuilder& TestNetwork::NodeBuilder::tags(std::string text) {
    network_->nodes_[static_cast<std::size_t>(index_)].tags = std::move(text);
    return *this;
}

TestNetwork::NodeBuilder TestNetwork::node(double lon, double lat) { return gridNode(gridLon(lon), gridLat(lat)); }

TestNetwork::NodeBuilder TestNetwork::gridNode(std::int32_t ilon, std::int32_t ilat) {
    nodes_.push_back(Node{ilon, ilat, -32768, {}});
    return NodeBuilder(*this, static_cast<std::int32_t>(nodes_.size() - 1));
}

void TestNetwork::way(std::string tags, std::vector<WayPoint> points) {
    if (points.size() < 2 || !std::holds_alternative<NodeRef>(points.front()) ||
        !std::holds_alternative<NodeRef>(points.back())) {
        throw std::invalid_argument("a way runs from a node to a node");
    }
    for (const WayPoint& point : points) {
        if (const NodeRef* ref = std::get_if<NodeRef>(&point);
            ref != nullptr && (ref->index < 0 || static_cast<std::size_t>(ref->index) >= nodes_.size())) {
            throw std::invalid_argument("a way names a node of another network");
        }
    }
    ways_.push_back(Way{std::move(tags), std::move(points)});
}

void TestNetwork::noTurn(NodeRef from, NodeRef via, NodeRef to, std::int16_t exceptions) {
    restrictions_.push_back(Restriction{from, via, to, false, exceptions});
}

void TestNetwork::onlyTurn(NodeRef from, NodeRef via, NodeRef to, std::int16_t exceptions) {
    restrictions_.push_back(Restriction{from, via, to, true, exceptions});
}

} // namespace ferrow::testsupport
