#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ferrow::router {

// The record of one track section in detail mode: the way's and the target
// node's tags, the section's cost shares, and the path's time and energy
// totals at the section's end.
struct MessageData {
    std::optional<std::string> wayTags;
    std::optional<std::string> nodeTags;
    std::int32_t distance = 0;
    std::int32_t elevationCost = 0;
    std::int32_t turnCost = 0;
    std::int32_t nodeCost = 0;
    std::int32_t initialCost = 0;
    float costFactor = 0;
    std::int32_t priorityClassifier = 0;
    std::int32_t classifierMask = 0;
    float turnAngle = 0;
    std::int32_t ilon = 0;
    std::int32_t ilat = 0;
    float time = 0;   // seconds
    float energy = 0; // joules
    // Speeds in km/h and extra time written by the kinematic model.
    std::int32_t explicitMaxSpeed = -1;
    std::int32_t wayMaxSpeed = -1;
    std::int32_t wayMinSpeed = -1;
    std::int32_t junctionSpeed = 999;
    std::int32_t nodeMaxSpeed = 999;
    std::int32_t extraTimeMillis = 0;
    std::int16_t elevation = 0; // quarter metres

    MessageData copy() const { return *this; }

    // One row of the message table (13 TAB-separated columns), or nothing
    // when the record has no way tags.
    std::optional<std::string> toMessage() const;

    std::string toString() const;
};

} // namespace ferrow::router
