#pragma once

#include <cstdint>

#include "codec/DataBuffers.h"
#include "codec/MicroCache.h"
#include "codec/StatCoderContext.h"
#include "codec/WaypointMatcher.h"

namespace ferrow::expressions {
class TagValueValidator;
}

namespace ferrow::codec {

// A tile decoded from its body into node records. Nodes without any written
// link (in either direction) are left out, unless they are empty nodes.
class MicroCache2 final : public MicroCache {
public:
    // Decodes the tile body that coder reads (tileBytes bytes, body and footer).
    // Links without way tags are dropped when a way validator is given.
    MicroCache2(StatCoderContext& coder, DataBuffers& buffers, std::int32_t lonIdx, std::int32_t latIdx,
                std::int32_t tilesPerDegree, expressions::TagValueValidator* wayValidator,
                WaypointMatcher* waypointMatcher, std::int32_t tileBytes);

    std::int64_t expandId(std::int32_t id32) const override;
    std::int32_t shrinkId(std::int64_t id64) const override;
    std::string describe() const override { return "MicroCache2"; }

    std::int32_t originLon() const noexcept { return originLon_; }
    std::int32_t originLat() const noexcept { return originLat_; }
    std::int32_t cellSize() const noexcept { return cellSize_; }

private:
    class RecordSink;

    std::int32_t originLon_;
    std::int32_t originLat_;
    std::int32_t cellSize_;
};

} // namespace ferrow::codec
