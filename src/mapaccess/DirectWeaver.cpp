#include "mapaccess/DirectWeaver.h"

#include <algorithm>

#include "jcompat/NumberText.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"
#include "util/ByteDataReader.h"

namespace ferrow::mapaccess {

void DirectWeaver::filterWayTags(const DecodedTile& tile, expressions::TagValueValidator& wayValidator,
                                 std::vector<expressions::FilteredTagSet>& filtered) {
    filtered.clear();
    filtered.reserve(tile.wayTagSets.size());
    for (std::size_t i = 0; i < tile.wayTagSets.size(); ++i) {
        filtered.push_back(wayValidator.filterTagSet(tile.rawTagSet(i)));
    }
}

DirectWeaver::DirectWeaver(std::shared_ptr<const DecodedTile> decoded, OsmNodesMap& hollowNodes,
                           std::span<const expressions::FilteredTagSet> wayTags,
                           expressions::TagValueValidator& wayValidator, codec::WaypointMatcher* waypointMatcher)
    : tile_(decoded.get()), nodesMap_(&hollowNodes), wayTags_(wayTags) {
    const DecodedTile& tile = *decoded;
    hollowNodes.keepLinkData(tile.linkData());
    nodes_.assign(tile.lons.size(), nullptr);
    adoptKnownNodes();

    // In the order the tile body gives them: a node's restrictions, its data, its links.
    std::size_t restriction = 0;
    std::size_t link = 0;
    for (std::size_t n = 0; n < tile.nodes.size(); ++n) {
        const DecodedTile::Node& data = tile.nodes[n];
        current_ = n;
        for (; restriction < data.restrictionsEnd; ++restriction) {
            const DecodedTile::Restriction& r = tile.restrictions[restriction];
            TurnRestriction* created = nodesMap_->createTurnRestriction();
            created->exceptions = r.exceptions;
            created->isPositive = r.positive;
            created->fromLon = r.fromLon;
            created->fromLat = r.fromLat;
            created->toLon = r.toLon;
            created->toLat = r.toLat;
            node(static_cast<std::int32_t>(n))->addTurnRestriction(created);
        }
        if (OsmNode* tileNode = nodes_[n]) fill(*tileNode, data);
        for (; link < data.linksEnd; ++link) {
            weaveLink(link);
        }
    }

    if (hollowNodes.cleanupMode != 0) {
        hollowNodes.baseId = hollowNodes.lastVisitId++;
        for (OsmNode* tileNode : nodes_) {
            if (tileNode != nullptr && tileNode->firstLink != nullptr && tileNode->visitId == 1) {
                hollowNodes.minVisitIdInSubtree(nullptr, tileNode);
            }
        }
    } else {
        for (const OsmNode* tileNode : nodes_) {
            if (tileNode != nullptr && tileNode->firstLink != nullptr) {
                ++hollowNodes.nodeCount;
            }
        }
    }

    if (waypointMatcher != nullptr) feedMatcher(*waypointMatcher, wayValidator);
}

// The tile's nodes that the map knows already (hollow ones and the end nodes)
// are completed in place, found from whichever side is smaller. A known node
// leaves the table with the first tile node at its position, unless it is an
// end node: then every tile node there becomes that node.
void DirectWeaver::adoptKnownNodes() {
    const DecodedTile& tile = *tile_;
    if (nodesMap_->nodeTable().size() >= tile.lons.size()) {
        for (std::size_t n = 0; n < tile.lons.size(); ++n) {
            if (OsmNode* known = nodesMap_->get(tile.lons[n], tile.lats[n])) adoptKnown(n, known);
        }
        return;
    }
    knownScratch_.clear();
    for (const auto& [id, known] : nodesMap_->nodeTable()) {
        // The position from the key: a node outside the tile is not even read.
        const auto ilon = static_cast<std::int32_t>(static_cast<std::uint64_t>(id) >> 32);
        const auto ilat = static_cast<std::int32_t>(static_cast<std::uint32_t>(id));
        if (!tile.mayHold(ilon, ilat)) continue;
        for (const auto& [position, n] : tile.nodesAt(ilon, ilat)) {
            knownScratch_.emplace_back(n, known);
            if (!nodesMap_->isEndNode(known)) break;
        }
    }
    std::sort(knownScratch_.begin(), knownScratch_.end());
    for (const auto& [n, known] : knownScratch_) adoptKnown(static_cast<std::size_t>(n), known);
}

void DirectWeaver::adoptKnown(std::size_t n, OsmNode* known) {
    known->visitId = 1;
    nodesMap_->removeUnlessEndNode(known);
    nodes_[n] = known;
}

OsmNode* DirectWeaver::createNode(std::size_t n) {
    OsmNode* created = nodesMap_->createNode(tile_->lons[n], tile_->lats[n]);
    nodes_[n] = created;
    // A node the loop has reached already gets its data now; the others get it there.
    if (n <= current_ && n < tile_->nodes.size()) fill(*created, tile_->nodes[n]);
    return created;
}

void DirectWeaver::fill(OsmNode& tileNode, const DecodedTile::Node& data) {
    tileNode.selev = data.elevation;
    tileNode.nodeTags = data.tags;
}

void DirectWeaver::weaveLink(std::size_t index) {
    const DecodedTile::Link& link = tile_->links[index];
    const expressions::FilteredTagSet& wayTags = wayTags_[static_cast<std::size_t>(link.wayTagSet)];
    if (wayTags.accessType == 0) return;
    OsmNode* source = node(link.node);
    if (link.target >= 0) {
        OsmNode* target = node(link.target);
        OsmLink* woven = source->isLinkUnused() ? source : target->isLinkUnused() ? target : nodesMap_->createLink();
        woven->wayTags = wayTags.tags;
        woven->geometry = link.geometry;
        const LinkShape* shape = tile_->shapeOf(index);
        woven->shape = shape != nullptr ? *shape : LinkShape{};
        source->addLink(woven, false, target);
    } else {
        source->addLink(link.targetLon, link.targetLat, wayTags.tags, link.geometry, *nodesMap_, link.reverse,
                        tile_->shapeOf(index));
        source->visitId = 1;
    }
}

void DirectWeaver::feedMatcher(codec::WaypointMatcher& matcher, expressions::TagValueValidator& wayValidator) const {
    util::ByteDataReader points;
    for (const DecodedTile::Link& link : tile_->links) {
        const expressions::FilteredTagSet& wayTags = wayTags_[static_cast<std::size_t>(link.wayTagSet)];
        if (link.reverse || wayTags.accessType < 2) continue;
        std::int32_t ilon = tile_->lons[static_cast<std::size_t>(link.node)];
        std::int32_t ilat = tile_->lats[static_cast<std::size_t>(link.node)];
        if (!matcher.start(ilon, ilat, link.targetLon, link.targetLat, wayValidator.checkStartWay(wayTags.tags))) {
            continue;
        }
        points.reset(link.geometry.span());
        while (points.hasMoreData()) {
            ilon = jcompat::wrapAdd(ilon, points.readSignedVarLength());
            ilat = jcompat::wrapAdd(ilat, points.readSignedVarLength());
            points.readSignedVarLength(); // the elevation step
            matcher.transferNode(ilon, ilat);
        }
        matcher.end();
    }
}

} // namespace ferrow::mapaccess
