// The reference of the real-data benchmark: a plain one-to-one Dijkstra over
// the walkable links of the junction graph (RealNetwork.h), with the distances
// the shortest walk (profiles/shortest.vpf) counts: per section the ruler's
// metres rounded, at least 1.
#pragma once

#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

#include "RealNetwork.h"

namespace ferrow::realdata {

// Ways a walker may use, read from the original tags as realdata.py check reads
// them and as profiles/shortest.vpf reads them through the lookup table (which
// codes "official" as "designated"). Of a tag given twice the last value counts.
bool walkable(const Way& way);

// Adjacency in compressed rows: the arcs of node u are arcs[firstArc[u] .. firstArc[u + 1]).
struct Graph {
    struct Arc {
        std::uint32_t target;
        std::uint32_t metres;
    };
    std::vector<std::uint32_t> firstArc;
    std::vector<Arc> arcs;
    std::unordered_map<Position, std::uint32_t> nodeAt; // ids in order of first use

    std::uint32_t nodeCount() const { return static_cast<std::uint32_t>(firstArc.size() - 1); }
};

// Every walkable link of the junction graph of the ways, both ways (the shortest
// walk ignores one-way streets).
Graph walkableGraph(const std::vector<Way>& ways);

// Binary heap of (metres << 32 | node) with lazy deletion, stopping when the
// target is settled; the arrays stay allocated from one route to the next and
// only the nodes touched are reset.
class Dijkstra {
public:
    static constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();

    struct Result {
        std::uint32_t metres = kUnreached;
        std::uint32_t settled = 0;
    };

    explicit Dijkstra(const Graph& graph) : graph_(graph), metres_(graph.nodeCount(), kUnreached) {}

    Result route(std::uint32_t from, std::uint32_t to);

private:
    void reach(std::uint32_t u, std::uint32_t metres);

    const Graph& graph_;
    std::vector<std::uint32_t> metres_;
    std::vector<std::uint32_t> touched_;
    std::vector<std::uint64_t> heap_;
};

} // namespace ferrow::realdata
