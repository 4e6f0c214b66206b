// The real road network of the real-data benchmark as a junction graph: the
// ways of the way list cut into links between nodes. Shared by the converter
// (realdata_convert, which writes the links into segment files) and the plain
// Dijkstra it is timed against (realdata_dijkstra), so both see one graph.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ferrow::realdata {

using Position = std::int64_t; // (ilon << 32) | ilat

inline Position positionOf(std::int32_t ilon, std::int32_t ilat) {
    return (static_cast<std::int64_t>(ilon) << 32) | static_cast<std::uint32_t>(ilat);
}

inline std::int32_t ilonOf(Position p) { return static_cast<std::int32_t>(p >> 32); }
inline std::int32_t ilatOf(Position p) { return static_cast<std::int32_t>(p & 0xffffffff); }

// Degrees as text to the micro-degree grid of the segment files; a bad number throws.
Position gridPosition(std::string_view lon, std::string_view lat);

struct Way {
    std::string id;
    // On the grid; a point that rounds to the position of the one before it
    // is left out.
    std::vector<Position> points;
    std::vector<std::pair<std::string, std::string>> tags;
};

// The way list (ways.tsv): one way per line, its id, its points as
// "lon,lat;lon,lat;..." and its tags as "key=value", all separated by TABs.
// Lines may end in CR LF. Returns the ways of at least two points, in the order
// of the lines; throws std::runtime_error naming the first line or way that
// does not parse.
std::vector<Way> readWays(std::istream& in);
std::vector<Way> readWays(const std::string& path);

// A stretch of way ways[way] between two nodes; the points between are shape points.
struct Link {
    std::size_t way = 0;
    std::vector<Position> points;
};

struct JunctionGraph {
    std::vector<Link> links;
    std::size_t splitNodes = 0;       // middle points made nodes
    std::size_t droppedStretches = 0; // straight repeats of a joined pair
};

// A point is a node when it ends a way, is shared by ways or occurs twice in one
// way. Two nodes are joined by one link at most: of several stretches between
// them the first straight one is kept (or the first one when none is straight),
// the others get their middle point made a node, or are dropped when they are
// straight too. A loop is split likewise. The links come in a fixed order.
JunctionGraph junctionGraph(const std::vector<Way>& ways);

} // namespace ferrow::realdata
