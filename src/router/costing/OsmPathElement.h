#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mapaccess/OsmPos.h"
#include "router/costing/MessageData.h"
#include "util/ObjectPool.h"

namespace ferrow::router {

class OsmPath;

// A track point: a grid position with elevation, the path cost there, the
// record of the section ending here and the point before it. Points form a
// chain from the end of a track back to its start.
//
// `origin` does not own. During a search the points live in the search's
// pool; a track holds its own points (OsmTrack::points), and the origin of a
// track point is the point before it in that track, or null.
//
// The message is shared: a path and the points made from it carry the same
// record, as do two tracks that share a point.
class OsmPathElement final : public mapaccess::OsmPos {
public:
    OsmPathElement() = default;
    OsmPathElement(std::int32_t lon, std::int32_t lat, std::int16_t elevation, OsmPathElement* previous)
        : ilat(lat), ilon(lon), selev(elevation), origin(previous) {}
    OsmPathElement(const OsmPathElement&) = default;
    OsmPathElement& operator=(const OsmPathElement&) = default;

    std::int32_t ilat = 0;
    std::int32_t ilon = 0;
    std::int16_t selev = 0; // quarter metres, -32768 for none
    std::int32_t cost = 0;
    std::shared_ptr<MessageData> message;
    OsmPathElement* origin = nullptr;
    // During a search: the paths and points that refer to this point. At 0 it
    // goes back to the search's pool, and its origin loses a reference.
    std::int32_t references = 0;

    // A point at the path's target node, continuing from the path's origin
    // point, with the path's cost and message.
    static OsmPathElement* create(const OsmPath& path, util::ObjectPool<OsmPathElement>& pool);
    // A point at the position, made in the pool; it refers to its origin.
    static OsmPathElement* create(std::int32_t ilon, std::int32_t ilat, std::int16_t selev, OsmPathElement* origin,
                                  util::ObjectPool<OsmPathElement>& pool);

    // A search's reference to a point of its pool: taken, and let go, which
    // returns the point (and an origin nothing else refers to) to the pool.
    static OsmPathElement* retain(OsmPathElement* element) noexcept {
        if (element != nullptr) ++element->references;
        return element;
    }
    static void letGo(OsmPathElement* element, util::ObjectPool<OsmPathElement>& pool) noexcept {
        while (element != nullptr && --element->references == 0) {
            OsmPathElement* origin = element->origin;
            pool.release(element);
            element = origin;
        }
    }

    std::int32_t getILat() const override { return ilat; }
    std::int32_t getILon() const override { return ilon; }
    std::int16_t getSElev() const override { return selev; }
    double getElev() const override { return selev * 0.25; }
    // (ilon << 32) | ilat, ilat widened with its sign.
    std::int64_t getIdFromPos() const override {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(ilon)) << 32 |
                                         static_cast<std::uint64_t>(static_cast<std::int64_t>(ilat)));
    }
    // Metres to p as the graph measures them (OsmPos::roundedDistance).
    std::int32_t calcDistance(const mapaccess::OsmPos& p) const override;

    bool positionEquals(const OsmPathElement& other) const { return ilat == other.ilat && ilon == other.ilon; }
    // ilon + "_" + ilat, raw grid integers.
    std::string toString() const { return std::to_string(ilon) + "_" + std::to_string(ilat); }
};

} // namespace ferrow::router
