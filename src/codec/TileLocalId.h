#pragma once

#include <array>
#include <cstdint>

namespace ferrow::codec {

// Tile-local node identifiers: a node's offsets from its tile's south-west
// corner (each below 32768) interleaved bit by bit, the longitude offset in
// the even bits, so that ascending identifiers run in Z order.
namespace tile_local_id {

// Offsets of a 10-bit slice of an identifier as (dx << 32) | dy.
constexpr std::int64_t spread(std::uint32_t id) {
    std::uint64_t dx = 0;
    std::uint64_t dy = 0;
    for (int bit = 0; bit < 15; ++bit) {
        dx |= static_cast<std::uint64_t>((id >> (2 * bit)) & 1U) << bit;
        dy |= static_cast<std::uint64_t>((id >> (2 * bit + 1)) & 1U) << bit;
    }
    return static_cast<std::int64_t>((dx << 32) | dy);
}

struct ExpandTables {
    std::array<std::int64_t, 1024> low{};
    std::array<std::int64_t, 1024> middle{};
    std::array<std::int64_t, 1024> high{};
};

inline constexpr ExpandTables kExpandTables = [] {
    ExpandTables tables;
    for (std::uint32_t i = 0; i < 1024; ++i) {
        tables.low[i] = spread(i);
        tables.middle[i] = spread(i << 10);
        tables.high[i] = spread(i << 20);
    }
    return tables;
}();

// The offsets (dx << 32) | dy of a 30-bit identifier: three look-ups.
constexpr std::int64_t expand(std::int32_t id) {
    const auto u = static_cast<std::uint32_t>(id);
    return kExpandTables.low[u & 1023U] + kExpandTables.middle[(u >> 10) & 1023U] +
           kExpandTables.high[(u >> 20) & 1023U];
}

// The identifier of the offsets, from the low 15 bits of each.
constexpr std::int32_t shrink(std::int32_t dx, std::int32_t dy) {
    std::uint32_t id = 0;
    for (int bit = 0; bit < 15; ++bit) {
        id |= ((static_cast<std::uint32_t>(dx) >> bit) & 1U) << (2 * bit);
        id |= ((static_cast<std::uint32_t>(dy) >> bit) & 1U) << (2 * bit + 1);
    }
    return static_cast<std::int32_t>(id);
}

} // namespace tile_local_id

} // namespace ferrow::codec
