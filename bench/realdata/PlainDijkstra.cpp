#include "PlainDijkstra.h"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "mapaccess/OsmPos.h"

namespace ferrow::realdata {

namespace {

std::optional<std::string_view> tag(const Way& way, std::string_view key) {
    for (auto it = way.tags.rbegin(); it != way.tags.rend(); ++it) {
        if (it->first == key) {
            return it->second;
        }
    }
    return std::nullopt;
}

bool oneOf(std::optional<std::string_view> value, std::initializer_list<std::string_view> values) {
    return value && std::find(values.begin(), values.end(), *value) != values.end();
}

std::uint32_t linkMetres(const std::vector<Position>& points) {
    std::uint32_t metres = 0;
    for (std::size_t i = 1; i < points.size(); ++i) {
        metres += static_cast<std::uint32_t>(mapaccess::OsmPos::roundedDistance(
            ilonOf(points[i - 1]), ilatOf(points[i - 1]), ilonOf(points[i]), ilatOf(points[i])));
    }
    return metres;
}

} // namespace

bool walkable(const Way& way) {
    const std::optional<std::string_view> highway = tag(way, "highway");
    if (!oneOf(highway, {"trunk",          "trunk_link",    "primary",       "primary_link", "secondary",
                         "secondary_link", "tertiary",      "tertiary_link", "unclassified", "road",
                         "residential",    "living_street", "service",       "track",        "cycleway",
                         "footway",        "bridleway",     "pedestrian",    "path",         "steps"})) {
        return false;
    }
    if (const auto foot = tag(way, "foot")) {
        return oneOf(foot, {"yes", "designated", "permissive", "official"});
    }
    if (oneOf(tag(way, "sidewalk"), {"both", "left", "right", "yes", "separate"})) {
        return true;
    }
    if (oneOf(tag(way, "motorroad"), {"yes"})) {
        return false;
    }
    if (const auto access = tag(way, "access")) {
        return oneOf(access, {"yes", "designated", "permissive", "official"});
    }
    return !oneOf(highway, {"trunk", "trunk_link"});
}

Graph walkableGraph(const std::vector<Way>& ways) {
    struct Edge {
        std::uint32_t from;
        std::uint32_t to;
        std::uint32_t metres;
    };
    Graph graph;
    std::vector<Edge> edges;
    const auto node = [&graph](Position p) {
        return graph.nodeAt.emplace(p, static_cast<std::uint32_t>(graph.nodeAt.size())).first->second;
    };
    for (const Link& link : junctionGraph(ways).links) {
        if (walkable(ways[link.way])) {
            const std::uint32_t a = node(link.points.front());
            const std::uint32_t b = node(link.points.back());
            const std::uint32_t metres = linkMetres(link.points);
            edges.push_back({a, b, metres});
            edges.push_back({b, a, metres});
        }
    }
    graph.firstArc.assign(graph.nodeAt.size() + 1, 0);
    for (const Edge& edge : edges) {
        ++graph.firstArc[edge.from + 1];
    }
    for (std::size_t u = 1; u < graph.firstArc.size(); ++u) {
        graph.firstArc[u] += graph.firstArc[u - 1];
    }
    graph.arcs.resize(edges.size());
    std::vector<std::uint32_t> next(graph.firstArc.begin(), graph.firstArc.end() - 1);
    for (const Edge& edge : edges) {
        graph.arcs[next[edge.from]++] = {edge.to, edge.metres};
    }
    return graph;
}

Dijkstra::Result Dijkstra::route(std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t u : touched_) {
        metres_[u] = kUnreached;
    }
    touched_.clear();
    heap_.clear();
    Result result;
    reach(from, 0);
    while (!heap_.empty()) {
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
        const std::uint64_t top = heap_.back();
        heap_.pop_back();
        const auto metres = static_cast<std::uint32_t>(top >> 32);
        const auto u = static_cast<std::uint32_t>(top);
        if (metres > metres_[u]) {
            continue; // a stale entry of a node reached shorter since
        }
        ++result.settled;
        if (u == to) {
            result.metres = metres;
            return result;
        }
        for (std::uint32_t i = graph_.firstArc[u]; i < graph_.firstArc[u + 1]; ++i) {
            const Graph::Arc arc = graph_.arcs[i];
            if (metres + arc.metres < metres_[arc.target]) {
                reach(arc.target, metres + arc.metres);
            }
        }
    }
    return result;
}

void Dijkstra::reach(std::uint32_t u, std::uint32_t metres) {
    if (metres_[u] == kUnreached) {
        touched_.push_back(u);
    }
    metres_[u] = metres;
    heap_.push_back((static_cast<std::uint64_t>(metres) << 32) | u);
    std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
}

} // namespace ferrow::realdata
