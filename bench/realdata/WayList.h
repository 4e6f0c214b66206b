#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <utility>
#include <vector>

// The way list the converter reads (ways.tsv): one way per line, its id, its
// points as "lon,lat;lon,lat;..." and its tags as "key=value", all separated
// by TABs. Lines may end in CR LF.
namespace ferrow::realdata {

using Position = std::int64_t; // (ilon << 32) | ilat

inline Position positionOf(std::int32_t ilon, std::int32_t ilat) {
    return (static_cast<std::int64_t>(ilon) << 32) | static_cast<std::uint32_t>(ilat);
}

inline std::int32_t ilonOf(Position p) { return static_cast<std::int32_t>(p >> 32); }
inline std::int32_t ilatOf(Position p) { return static_cast<std::int32_t>(p & 0xffffffff); }

struct Way {
    std::string id;
    // On the micro-degree grid; a point that rounds to the position of the
    // one before it is left out.
    std::vector<Position> points;
    std::vector<std::pair<std::string, std::string>> tags;
};

// The ways of at least two points, in the order of the lines; throws
// std::runtime_error naming the first line or way that does not parse.
std::vector<Way> readWays(std::istream& in);
std::vector<Way> readWays(const std::string& path);

} // namespace ferrow::realdata
