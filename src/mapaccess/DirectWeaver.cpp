#include "mapaccess/DirectWeaver.h"

#include <algorithm>
#include <unordered_map>

#include "jcompat/NumberText.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"
#include "util/ByteDataReader.h"
#include "util/ScopeExit.h"

namespace ferrow::mapaccess {

namespace {

bool testBit(std::span<const std::uint64_t> bits, std::size_t i) noexcept {
    return ((bits[i / 64] >> (i % 64)) & 1U) != 0;
}

void setBit(std::vector<std::uint64_t>& bits, std::size_t i) noexcept { bits[i / 64] |= std::uint64_t{1} << (i % 64); }

} // namespace

std::span<const expressions::FilteredTagSet> DirectWeaver::filterWayTags(
    const DecodedTile& tile, expressions::TagValueValidator& wayValidator,
    std::vector<expressions::FilteredTagSet>& filtered) {
    const std::uint64_t identity = wayValidator.filterIdentity();
    if (identity != 0) {
        if (const std::vector<expressions::FilteredTagSet>* kept = tile.findFilterMemo(identity)) return *kept;
    }
    filtered.clear();
    filtered.reserve(tile.wayTagSets.size());
    for (std::size_t i = 0; i < tile.wayTagSets.size(); ++i) {
        filtered.push_back(wayValidator.filterTagSet(tile.rawTagSet(i)));
    }
    if (identity != 0) tile.keepFilterMemo(identity, filtered);
    return filtered;
}

DirectWeaver::DirectWeaver(std::shared_ptr<const DecodedTile> decoded, OsmNodesMap& hollowNodes,
                           std::span<const expressions::FilteredTagSet> wayTags,
                           expressions::TagValueValidator& wayValidator, codec::WaypointMatcher* waypointMatcher)
    : tile_(decoded.get()), nodesMap_(&hollowNodes), wayTags_(wayTags) {
    const DecodedTile& tile = *decoded;
    hollowNodes.keepLinkData(tile.linkData());
    nodes_.assign(tile.lons.size(), nullptr);
    adoptKnownNodes();

    const DecodedTile::CutMemo* memo = nullptr;
    bool record = false;
    if (hollowNodes.cleanupMode != 0) {
        wovenTagSets_.assign((wayTags_.size() + 63) / 64, 0);
        for (std::size_t i = 0; i < wayTags_.size(); ++i) {
            if (wayTags_[i].accessType != 0) setBit(wovenTagSets_, i);
        }
        if (cutDecidedByTile_) {
            memo = tile.findCutMemo(wovenTagSets_, hollowNodes.cleanupMode);
            record = memo == nullptr && tile.hasRoomForCutMemo();
        }
    }
    if (hollowNodes.cleanupMode != 0) hollowNodes.baseId = hollowNodes.lastVisitId++;
    if (memo != nullptr) startBatchFromMemo();
    weaveNodes(memo, record);

    if (hollowNodes.cleanupMode != 0) {
        if (memo != nullptr) {
            nodesMap_->nodeCount += memo->countedNodes;
        } else {
            cut(record);
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

// In the order the tile body gives them: a node's restrictions, its data, its links.
void DirectWeaver::weaveNodes(const DecodedTile::CutMemo* memo, bool record) {
    const DecodedTile& tile = *tile_;
    if (record) wovenLinks_.assign(tile.links.size(), nullptr);
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
            if (memo != nullptr && testBit(memo->skippedLinks, link)) continue;
            OsmLink* woven = weaveLink(link);
            if (record) wovenLinks_[link] = woven;
        }
    }
}

bool DirectWeaver::isWoven(std::int32_t wayTagSet) const noexcept {
    return wayTags_[static_cast<std::size_t>(wayTagSet)].accessType != 0;
}

// The cut starts from the nodes with links out of the tile and from the known
// ones: when the known ones are among the former, the tile alone decides it.
// An end node may stand for several tile nodes, so it never does. (A known
// node stands at its tile node's position, and is at hand: the tile's
// positions are not read.)
bool DirectWeaver::leavesCutToTile(std::size_t n, const OsmNode& known) const {
    const auto isEndPosition = [&known](const OsmNode* end) {
        return end != nullptr && end->ilon == known.ilon && end->ilat == known.ilat;
    };
    return hasWovenLinkOut(n) && !isEndPosition(nodesMap_->endNode1) && !isEndPosition(nodesMap_->endNode2);
}

bool DirectWeaver::hasWovenLinkOut(std::size_t n) const {
    const DecodedTile& tile = *tile_;
    if (n >= tile.nodes.size()) return false;
    const std::int32_t out = tile.nodes[n].linkOutTagSet;
    if (out != DecodedTile::SEVERAL_LINKS_OUT) return out != DecodedTile::NO_LINK_OUT && isWoven(out);
    const std::size_t first = n == 0 ? 0 : tile.nodes[n - 1].linksEnd;
    for (std::size_t i = first; i < tile.nodes[n].linksEnd; ++i) {
        if (tile.links[i].target < 0 && isWoven(tile.links[i].wayTagSet)) return true;
    }
    return false;
}

void DirectWeaver::cut(bool record) {
    OsmNodesMap& nodesMap = *nodesMap_;
    const std::int32_t countedBefore = nodesMap.nodeCount;
    cutLinks_.clear();
    if (record) nodesMap.cutLog = &cutLinks_;
    const auto stopLog = util::onScopeExit([&nodesMap] { nodesMap.cutLog = nullptr; });
    for (OsmNode* tileNode : nodes_) {
        if (tileNode != nullptr && tileNode->firstLink != nullptr && tileNode->visitId == 1) {
            nodesMap.minVisitIdInSubtree(nullptr, tileNode);
        }
    }
    if (!record) return;
    if (std::optional<DecodedTile::CutMemo> memo = memoOfCut(nodesMap.nodeCount - countedBefore)) {
        tile_->keepCutMemo(std::move(*memo));
    }
}

// Every node of the tile takes this batch's visit id: later cuts only ask
// whether a node is of their own batch, and nothing reaches the nodes left out.
// The known nodes take it now, the others as they are woven.
void DirectWeaver::startBatchFromMemo() {
    memoBatch_ = nodesMap_->baseId;
    for (OsmNode* known : nodes_) {
        if (known != nullptr) known->visitId = memoBatch_;
    }
}

std::optional<DecodedTile::CutMemo> DirectWeaver::memoOfCut(std::int32_t countedNodes) {
    const DecodedTile& tile = *tile_;
    for (const DecodedTile::Link& link : tile.links) {
        if (link.target < 0 && isWoven(link.wayTagSet) && !tile.nodesAt(link.targetLon, link.targetLat).empty()) {
            return std::nullopt;
        }
    }
    const std::vector<bool> reached = reachedAfterCut();
    std::sort(cutLinks_.begin(), cutLinks_.end());
    DecodedTile::CutMemo memo{wovenTagSets_, nodesMap_->cleanupMode,
                              std::vector<std::uint64_t>((tile.links.size() + 63) / 64), countedNodes};
    for (std::size_t i = 0; i < tile.links.size(); ++i) {
        const auto source = static_cast<std::size_t>(tile.links[i].node);
        if (!reached[source] || std::binary_search(cutLinks_.begin(), cutLinks_.end(), wovenLinks_[i])) {
            setBit(memo.skippedLinks, i);
        }
    }
    return memo;
}

// The tile's nodes still reached from where the cut started (the nodes that
// took the batch's visit id).
std::vector<bool> DirectWeaver::reachedAfterCut() const {
    std::unordered_map<const OsmNode*, std::size_t> indexOf;
    std::vector<bool> reached(nodes_.size());
    std::vector<std::size_t> stack;
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
        if (nodes_[n] == nullptr) continue;
        indexOf.emplace(nodes_[n], n);
        if (nodes_[n]->visitId == nodesMap_->baseId) {
            reached[n] = true;
            stack.push_back(n);
        }
    }
    while (!stack.empty()) {
        const OsmNode* node = nodes_[stack.back()];
        stack.pop_back();
        for (const OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
            const auto found = indexOf.find(link->getTarget(node));
            if (found != indexOf.end() && !reached[found->second]) {
                reached[found->second] = true;
                stack.push_back(found->second);
            }
        }
    }
    return reached;
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
    if (cutDecidedByTile_ && nodesMap_->cleanupMode != 0) cutDecidedByTile_ = leavesCutToTile(n, *known);
    known->visitId = 1;
    nodesMap_->removeUnlessEndNode(known);
    nodes_[n] = known;
}

OsmNode* DirectWeaver::createNode(std::size_t n) {
    OsmNode* created = nodesMap_->createNode(tile_->lons[n], tile_->lats[n]);
    created->visitId = memoBatch_;
    nodes_[n] = created;
    // A node the loop has reached already gets its data now; the others get it there.
    if (n <= current_ && n < tile_->nodes.size()) fill(*created, tile_->nodes[n]);
    return created;
}

void DirectWeaver::fill(OsmNode& tileNode, const DecodedTile::Node& data) {
    tileNode.selev = data.elevation;
    tileNode.nodeTags = data.tags;
}

OsmLink* DirectWeaver::weaveLink(std::size_t index) {
    const DecodedTile::Link& link = tile_->links[index];
    const expressions::FilteredTagSet& wayTags = wayTags_[static_cast<std::size_t>(link.wayTagSet)];
    if (wayTags.accessType == 0) return nullptr;
    OsmNode* source = node(link.node);
    if (link.target >= 0) {
        OsmNode* target = node(link.target);
        OsmLink* woven = source->isLinkUnused() ? source : target->isLinkUnused() ? target : nodesMap_->createLink();
        woven->wayTags = wayTags.tags;
        woven->geometry = link.geometry;
        const LinkShape* shape = tile_->shapeOf(index);
        woven->shape = shape != nullptr ? *shape : LinkShape{};
        source->addLink(woven, false, target);
        return woven;
    }
    source->addLink(link.targetLon, link.targetLat, wayTags.tags, link.geometry, *nodesMap_, link.reverse,
                    tile_->shapeOf(index));
    // Where the cut is to start, unless a memo replaces the cut.
    source->visitId = memoBatch_ != 0 ? memoBatch_ : 1;
    return nullptr;
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
