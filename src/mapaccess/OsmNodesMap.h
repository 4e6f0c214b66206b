#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "mapaccess/LinkShape.h"
#include "mapaccess/NodeTable.h"
#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmPos.h"
#include "mapaccess/TurnRestriction.h"
#include "util/ByteArrayUnifier.h"
#include "util/ObjectPool.h"

namespace ferrow::mapaccess {

// The nodes of one search. It owns every node, link and turn restriction made
// for the graph (they live until the map is dropped, or until a reclaim hands
// back what the graph let go of) and keeps the node table:
// the nodes known by position, that is the hollow nodes that links from
// decoded tiles point at, plus the search's end nodes. Decoded nodes are
// reached through links only.
//
// It also carries the search's memory bookkeeping and the marks of the
// peninsula cut that tile weaving runs.
class OsmNodesMap {
public:
    static constexpr std::int32_t UNIFIER_SLOTS = 16384;
    static constexpr std::int64_t INITIAL_MEMORY_ALLOWANCE = 4000000;
    // Created nodes (8 MiB of them) after which a search first reclaims what
    // its graph let go of: more than a search across a town needs.
    static constexpr std::size_t FIRST_RECLAIM_AFTER = 1 << 16;

    OsmNodesMap();
    ~OsmNodesMap();
    OsmNodesMap(const OsmNodesMap&) = delete;
    OsmNodesMap& operator=(const OsmNodesMap&) = delete;

    // --- node table ---
    OsmNode* get(std::int32_t ilon, std::int32_t ilat) const;
    // Registers node at its position; returns the node registered there
    // before (now replaced), or null.
    OsmNode* put(OsmNode* node);
    void remove(const OsmNode* node);
    // Removes node's position from the table unless it is one of the two end
    // nodes that the search keeps there.
    void removeUnlessEndNode(const OsmNode* node);
    bool isEndNode(const OsmNode* node) const noexcept;
    const NodeTable& nodeTable() const noexcept { return nodeTable_; }

    // --- objects owned by the map ---
    // A new node at the position with no elevation; not registered in the table.
    OsmNode* createNode(std::int32_t ilon, std::int32_t ilat);
    OsmLink* createLink() { return links_.create(); }
    TurnRestriction* createTurnRestriction() { return restrictions_.create(); }
    std::size_t createdNodeCount() const noexcept { return nodes_.liveCount(); }

    // Shares equal tag sets of nodes parsed from decoded tiles (made on first use).
    util::ByteArrayUnifier& byteArrayUnifier();
    // Keeps the shape points and coded points of a tile woven into the graph
    // for as long as the graph: its links point into them. The rest of the
    // tile is not needed once woven, and may go (it can be decoded again).
    void keepLinkData(std::shared_ptr<const TileLinkData> data) {
        if (data != nullptr) linkData_.push_back(std::move(data));
    }
    // Keeps a link's coded points (of a node parsed on its own) for as long as
    // the graph; the view of them for the link.
    LinkGeometry keepGeometry(util::ByteArray geometry) {
        if (geometry.isNull()) return {};
        return parsedGeometry_.emplace_back(std::move(geometry));
    }

    // --- reclaiming what the search let go of ---
    // Whether enough nodes were created since the last reclaim for one to be
    // worth its walk over the pools: the pools then hold at most about twice
    // what lives, and a small search never walks them.
    bool wantsReclaim() const noexcept { return createdSinceReclaim_ >= reclaimAfter_; }
    // Hands back to the pools, for the graph's next nodes and links, every
    // link released at both ends and every node that has no links, is not in
    // the node table and that no link refers to any more, with its own link
    // released and its turn restrictions. What something outside the graph
    // still refers to stays: pinned lists those nodes and links (sorted here),
    // that is whatever the search's queued paths refer to. Returns the nodes
    // handed back.
    std::size_t reclaim(std::vector<const void*>& pinned);
    // The first reclaim waits for this many created nodes (FIRST_RECLAIM_AFTER
    // unless a test sets another); a later one for at least as many as lived
    // after the last.
    void setFirstReclaimAfter(std::size_t createdNodes) noexcept {
        firstReclaimAfter_ = createdNodes;
        reclaimAfter_ = createdNodes;
    }
    // Nodes handed back by reclaim so far.
    std::size_t reclaimedNodeCount() const noexcept { return reclaimedNodes_; }
    // Bytes the pools of nodes and links hold.
    std::size_t poolBytes() const noexcept { return nodes_.capacityBytes() + links_.capacityBytes(); }

    // The peninsula cut from node (reached from source, or null): gives the
    // subtree's nodes visit ids, cuts the links behind which no node of the
    // current batch (visit id 1) is reached, and returns the smallest visit id
    // found. Walks iteratively, so long dead-end chains need no deep stack.
    std::int32_t minVisitIdInSubtree(OsmNode* source, OsmNode* node);
    // When set, the cut notes every link it cuts there.
    std::vector<OsmLink*>* cutLog = nullptr;

    // --- memory bookkeeping of the search ---
    // After the node count was rebuilt: grows the allowance towards need +
    // 2000000 (at most to the maximum memory) and tells whether need + 100000
    // now fits.
    bool growMemoryAllowance(std::int64_t need) noexcept;

    // Two thirds of the node cache's budget; 0 until the node cache sets it.
    std::int64_t maxMemory = 0;
    std::int64_t memoryAllowance = INITIAL_MEMORY_ALLOWANCE;
    // Nodes counted for the memory estimate.
    std::int32_t nodeCount = 0;
    std::int32_t lastVisitId = 1000;
    std::int32_t baseId = 1000;
    // Set and read by the search.
    std::int32_t currentPathCost = 0;
    std::int32_t costLimit = 1000000000;
    OsmNode* destination = nullptr;
    OsmNode* endNode1 = nullptr;
    OsmNode* endNode2 = nullptr;
    // The node list that the search's memory check rebuilds.
    std::vector<OsmNode*> nodesToCheck;
    // 0: no peninsula cut (detailed search); 1: cut every part that hangs on a
    // single link; 2: cut only parts without a cycle (turn restrictions in force).
    std::int32_t cleanupMode = 0;

private:
    // One level of the peninsula walk.
    struct CutFrame {
        OsmNode* source;
        OsmNode* node;
        OsmLink* next;          // the next link of node to look at
        OsmLink* descendedLink; // the link to the child being walked, or null
        OsmNode* child;
        std::int32_t savedNodeCount;
        std::int32_t result;
    };

    // Gives node its visit id and counts it; the frame to walk it in.
    CutFrame enterCut(OsmNode* source, OsmNode* node);
    // Marks what reclaim handed back, so that a later reclaim skips it: no
    // node in use has this visit id, no link in use leads to itself.
    static constexpr std::int32_t RECLAIMED_VISIT_ID = -1;
    static bool isReclaimed(const OsmLink& link) noexcept { return link.nextAtFirst == &link; }
    std::size_t firstReclaimAfter_ = FIRST_RECLAIM_AFTER;
    std::size_t createdSinceReclaim_ = 0;
    std::size_t reclaimAfter_ = FIRST_RECLAIM_AFTER;
    std::size_t reclaimedNodes_ = 0;

    std::vector<CutFrame> cutStack_;
    NodeTable nodeTable_;
    std::unique_ptr<util::ByteArrayUnifier> unifier_;
    std::vector<std::shared_ptr<const TileLinkData>> linkData_;
    std::vector<util::ByteArray> parsedGeometry_;
    util::ObjectPool<OsmNode> nodes_;
    util::ObjectPool<OsmLink> links_;
    util::ObjectPool<TurnRestriction> restrictions_;
};

} // namespace ferrow::mapaccess
