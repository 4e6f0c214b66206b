// The plain Dijkstra of the real-data benchmark (PlainDijkstra.h) as a process
// that answers one route a request, timed by bench/realdata/realdata.py run
// beside the service.
//
//   realdata_dijkstra <ways.tsv>
//
// Once the graph is built it prints "ready <nodes> <arcs>". Then each line
// "<lon1> <lat1> <lon2> <lat2>" (degrees, junctions of the graph) is answered
// with "<metres> <nodes settled> <nanoseconds>", the time taken from the read
// request to the answer, before it is written; "-" for metres when either
// position is no node of the walkable graph or the target is not reached.
// "quit" or the end of the input ends it.
#include <chrono>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "PlainDijkstra.h"
#include "RealNetwork.h"

namespace {

using ferrow::realdata::Dijkstra;
using ferrow::realdata::Graph;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t\r", at)) != std::string_view::npos) {
        const std::size_t end = line.find_first_of(" \t\r", at);
        found.push_back(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        at = end;
    }
    return found;
}

std::string answer(const Graph& graph, Dijkstra& dijkstra, std::string_view request) {
    const std::vector<std::string_view> fields = words(request);
    if (fields.size() != 4) {
        throw std::runtime_error("bad request: " + std::string(request));
    }
    const auto from = graph.nodeAt.find(ferrow::realdata::gridPosition(fields[0], fields[1]));
    const auto to = graph.nodeAt.find(ferrow::realdata::gridPosition(fields[2], fields[3]));
    if (from == graph.nodeAt.end() || to == graph.nodeAt.end()) {
        return "- 0";
    }
    const Dijkstra::Result result = dijkstra.route(from->second, to->second);
    return (result.metres == Dijkstra::kUnreached ? std::string("-") : std::to_string(result.metres)) + " " +
           std::to_string(result.settled);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: realdata_dijkstra <ways.tsv>\n";
        return 2;
    }
    try {
        std::ios::sync_with_stdio(false);
        const Graph graph = ferrow::realdata::walkableGraph(ferrow::realdata::readWays(argv[1]));
        Dijkstra dijkstra(graph);
        std::cout << "ready " << graph.nodeCount() << ' ' << graph.arcs.size() << std::endl;
        std::string line;
        while (std::getline(std::cin, line) && line != "quit") {
            const auto started = std::chrono::steady_clock::now();
            const std::string text = answer(graph, dijkstra, line);
            const auto elapsed = std::chrono::steady_clock::now() - started;
            std::cout << text << ' ' << std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()
                      << std::endl;
        }
    } catch (const std::exception& e) {
        std::cerr << "realdata_dijkstra: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
