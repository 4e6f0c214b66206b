#pragma once

#include <cstdint>
#include <vector>

#include "testsupport/CodedTagSet.h"

namespace ferrow::testsupport {

// What one tile holds, before it is coded: nodes with their restrictions and
// link records. The tile encoder orders the nodes by tile-local identifier.
struct TileContent {
    struct Restriction {
        std::int16_t exceptions = 0;
        bool positive = false;
        std::int32_t fromLon = 0;
        std::int32_t fromLat = 0;
        std::int32_t toLon = 0;
        std::int32_t toLat = 0;
    };

    // An intermediate point: its offsets from the previous point (the first
    // from the link's node) and its elevation step, in quarter metres.
    struct Point {
        std::int32_t dlon = 0;
        std::int32_t dlat = 0;
        std::int32_t elevationStep = 0;
    };

    struct Link {
        // Index (into nodes) of the target in this tile, or -1 for an external
        // link, whose target lies at (dlon, dlat) from the node.
        std::int32_t target = -1;
        std::int32_t dlon = 0;
        std::int32_t dlat = 0;
        // External links only: the record of the far end of a link written in
        // full at the other end (no points).
        bool reverse = false;
        CodedTagSet wayTags;
        std::vector<Point> points;
    };

    // A feature the decoders do not know, skipped by its bit length.
    struct OtherFeature {
        std::int32_t id = 3;
        std::int32_t bitCount = 0;
    };

    struct Node {
        std::int32_t ilon = 0;
        std::int32_t ilat = 0;
        std::int16_t elevation = -32768;
        // No pairs: no node tags.
        CodedTagSet nodeTags;
        std::vector<Restriction> restrictions;
        std::vector<OtherFeature> otherFeatures;
        std::vector<Link> links;
    };

    std::int32_t lonIdx = 0;
    std::int32_t latIdx = 0;
    std::int32_t tilesPerDegree = 80;
    // Nodes may share a position (kept in their order here); otherwise the
    // encoder refuses two nodes at one position.
    bool sharedPositions = false;
    std::vector<Node> nodes;
};

} // namespace ferrow::testsupport
