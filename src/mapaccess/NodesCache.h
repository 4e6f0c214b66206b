#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "codec/DataBuffers.h"
#include "codec/MicroCache.h"
#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/OsmFile.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/PhysicalFile.h"
#include "mapaccess/WaypointMatcherImpl.h"

namespace ferrow::expressions {
class BExpressionMetaData;
class TagValueValidator;
} // namespace ferrow::expressions

namespace ferrow::mapaccess {

class OsmNodePairSet;

// The map data of one search: opens segment files by coordinate on demand,
// weaves their tiles straight into its own node map and so completes hollow
// nodes when the search reaches them. Every node and link it hands out
// belongs to its node map and dies with the cache.
//
// A new cache takes over the previous one's open files (and the record of
// files found missing), decoding buffers and secondary directory; with the
// same detail level also its file rows, of which only the empty tiles stay:
// every woven tile is woven again into the new cache's node map.
class NodesCache {
public:
    static constexpr std::int32_t FILE_ROWS = 180;
    static constexpr std::int32_t READ_BUFFER_SIZE = 65636;
    // Tile rings that dynamic-range matching may preload.
    static constexpr std::int32_t RING_LIMIT = 20;

    // The profile's way context (the tag validator of tile decoding, whose
    // decode-forbidden switch follows detailed) and the lookup table whose
    // versions every segment file must match must outlive the cache. A
    // previous cache, when given, is left without files, buffers and rows:
    // drop it afterwards. RuntimeException "segment directory <path> does not
    // exist" when segmentDir is not a directory.
    NodesCache(const jcompat::File& segmentDir, expressions::TagValueValidator& wayContext,
               const expressions::BExpressionMetaData& lookupMeta, bool forceSecondary, std::int64_t memoryBudget,
               NodesCache* previous, bool detailed);
    NodesCache(const NodesCache&) = delete;
    NodesCache& operator=(const NodesCache&) = delete;

    // The tile covering the position, decoded (woven) on first use; null
    // where there is no data: a missing file, an empty square, or a position
    // outside the world. Failures reach the caller as RuntimeException.
    codec::MicroCache* getSegmentFor(std::int32_t ilon, std::int32_t ilat);

    // Loads the node's tile when the node is hollow; whether it is complete afterwards.
    // Inline: the search asks for the target of every link it follows.
    bool obtainNonHollowNode(OsmNode* node) { return !node->isHollow() || loadHollowNode(node); }
    // obtainNonHollowNode for the far end of every link of node.
    void expandHollowLinkTargets(OsmNode* node);
    // The node registered at the position, or a new hollow node registered there.
    OsmNode* getGraphNode(const OsmPos& position);

    // Matches the waypoints to the nearest way segments (see WaypointMatcherImpl)
    // by preloading the tiles around each one; whether every waypoint was
    // matched. A negative maxDistance asks for dynamic range. The waypoints
    // must outlive the cache: its matcher stays installed, and tiles decoded
    // later still feed it. IllegalArgumentException "datafile <name> not
    // found" when the first segment file needed for a waypoint does not exist.
    bool matchWaypointsToNodes(std::span<MatchedWaypoint* const> waypoints, double maxDistance,
                               const OsmNodePairSet* islandPairs);
    bool matchWaypointsToNodes(std::vector<MatchedWaypoint>& waypoints, double maxDistance,
                               const OsmNodePairSet* islandPairs);
    bool matchWaypointsToNodes(const std::vector<std::shared_ptr<MatchedWaypoint>>& waypoints, double maxDistance,
                               const OsmNodePairSet* islandPairs);

    // Empties the tile slots: all of them, or only those of woven tiles.
    void clean(bool all);
    // Closes every open segment file; failures are ignored.
    void close();

    OsmNodesMap& nodesMap() noexcept { return *nodesMap_; }
    // The sub-squares opened so far in latitude row latDegree (ilat / 1000000),
    // in the order they were first needed; empty for a row outside the world.
    std::span<const std::unique_ptr<OsmFile>> fileRow(std::int32_t latDegree) const;
    // The sub-square already opened at the position, or null.
    const OsmFile* fileAt(std::int32_t ilon, std::int32_t ilat) const;
    const std::optional<jcompat::File>& secondarySegmentDir() const noexcept { return secondarySegmentDir_; }
    // The segment file last looked at (empty when none stood behind it).
    const std::string& currentFileName() const noexcept { return currentFileName_; }
    // Tile slots holding a decoded tile or the placeholder of a woven one.
    std::int32_t loadedTileCount() const;
    // Segment files opened (missing ones not counted).
    std::int32_t openFileCount() const;

private:
    // obtainNonHollowNode for a hollow node.
    bool loadHollowNode(OsmNode* node);
    codec::MicroCache* loadSegmentFor(std::int32_t ilon, std::int32_t ilat);
    // The sub-square of the position, opening its file when needed.
    OsmFile* fileFor(std::int32_t ilon, std::int32_t ilat, std::int32_t lonDegree, std::int32_t latDegree);
    std::unique_ptr<PhysicalFile> openSegmentFile(const std::string& fileName);
    void preloadPosition(const OsmNode& node, std::int32_t step, std::int32_t levels, bool dynamic);
    void noteFirstFile(bool missing);
    static std::optional<jcompat::File> readSecondarySegmentDir(const jcompat::File& segmentDir);

    jcompat::File segmentDir_;
    std::optional<jcompat::File> secondarySegmentDir_;
    std::unique_ptr<OsmNodesMap> nodesMap_;
    expressions::TagValueValidator* wayContext_;
    std::int32_t lookupVersion_;
    std::int32_t lookupMinorVersion_;
    std::string currentFileName_;
    // Base name ("E5_N45") to the open file, or to null for a missing one.
    std::unordered_map<std::string, std::unique_ptr<PhysicalFile>> openFiles_;
    std::unique_ptr<codec::DataBuffers> dataBuffers_;
    // Declared after the files whose PhysicalFile the rows point at.
    std::array<std::vector<std::unique_ptr<OsmFile>>, FILE_ROWS> fileRows_;
    std::unique_ptr<WaypointMatcherImpl> waypointMatcher_;
    std::optional<std::string> firstFileName_;
    bool firstFileMissing_ = false;
    // Only a waypoint's own square can be the first file of matching: a
    // square that only the rings around it reach says nothing of the waypoint.
    bool loadingOwnSquare_ = false;
    bool forceSecondary_;
    bool detailed_;
    bool directWeaving_ = true;
};

} // namespace ferrow::mapaccess
