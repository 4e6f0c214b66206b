#include "RealNetwork.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "testsupport/TestNetwork.h"

namespace ferrow::realdata {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (true) {
        const std::size_t end = text.find(separator, at);
        parts.push_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) {
            return parts;
        }
        at = end + 1;
    }
}

double parseDegrees(std::string_view text) {
    double value = std::numeric_limits<double>::quiet_NaN();
    try {
        value = jcompat::JString::parseDouble(text);
    } catch (const jcompat::NumberFormatException&) {
    }
    if (!std::isfinite(value)) {
        throw std::runtime_error("bad coordinate: " + std::string(text));
    }
    return value;
}

class LinkBuilder {
public:
    explicit LinkBuilder(JunctionGraph& graph) : graph_(graph) {}

    void markNodes(const std::vector<Way>& ways) {
        std::unordered_map<Position, int> uses;
        for (const Way& way : ways) {
            for (Position p : way.points) {
                if (++uses[p] == 2) {
                    isNode_.insert(p);
                }
            }
            isNode_.insert(way.points.front());
            isNode_.insert(way.points.back());
        }
    }

    // Cuts the way into stretches between nodes; they become links in finish().
    void addWay(std::size_t index, const Way& way) {
        auto from = way.points.begin();
        for (auto at = from + 1; at != way.points.end(); ++at) {
            if (isNode_.contains(*at)) {
                stretches_.push_back(Link{index, {from, at + 1}});
                from = at;
            }
        }
    }

    void finish() {
        std::map<std::pair<Position, Position>, std::size_t> keeper;
        for (std::size_t i = 0; i < stretches_.size(); ++i) {
            const std::vector<Position>& points = stretches_[i].points;
            if (points.front() == points.back()) {
                continue;
            }
            const auto [kept, added] = keeper.emplace(std::minmax(points.front(), points.back()), i);
            if (!added && points.size() == 2 && stretches_[kept->second].points.size() > 2) {
                kept->second = i;
            }
        }
        for (const auto& [pair, i] : keeper) {
            joined_.insert(pair);
        }
        for (std::size_t i = 0; i < stretches_.size(); ++i) {
            const std::vector<Position>& points = stretches_[i].points;
            const auto kept = keeper.find(std::minmax(points.front(), points.back()));
            if (kept != keeper.end() && kept->second == i) {
                graph_.links.push_back(stretches_[i]);
            } else {
                addSplit(stretches_[i]);
            }
        }
    }

private:
    // A stretch that is a loop or joins a pair of nodes joined already: its
    // middle point becomes a node, or it is dropped when it has none.
    void addSplit(const Link& stretch) {
        const std::vector<Position>& points = stretch.points;
        if (points.size() == 2) {
            ++graph_.droppedStretches;
            return;
        }
        const auto middle = points.begin() + static_cast<std::ptrdiff_t>(points.size() / 2);
        ++graph_.splitNodes;
        const Link halves[2] = {{stretch.way, {points.begin(), middle + 1}}, {stretch.way, {middle, points.end()}}};
        for (const Link& half : halves) {
            const Position a = half.points.front();
            const Position b = half.points.back();
            if (a != b && joined_.insert(std::minmax(a, b)).second) {
                graph_.links.push_back(half);
            } else {
                addSplit(half);
            }
        }
    }

    JunctionGraph& graph_;
    std::set<Position> isNode_;
    std::vector<Link> stretches_;
    std::set<std::pair<Position, Position>> joined_;
};

} // namespace

Position gridPosition(std::string_view lon, std::string_view lat) {
    return positionOf(testsupport::gridLon(parseDegrees(lon)), testsupport::gridLat(parseDegrees(lat)));
}

std::vector<Way> readWays(std::istream& in) {
    std::vector<Way> ways;
    std::string line;
    while (std::getline(in, line)) {
        // A file written on Windows: the CR would stay in the last tag's value.
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::vector<std::string_view> fields = split(line, '\t');
        if (fields.size() < 2) {
            throw std::runtime_error("bad way line: " + line);
        }
        Way way;
        way.id = std::string(fields[0]);
        for (std::string_view point : split(fields[1], ';')) {
            const std::vector<std::string_view> lonLat = split(point, ',');
            if (lonLat.size() != 2) {
                throw std::runtime_error("bad point in way " + way.id);
            }
            const Position p = gridPosition(lonLat[0], lonLat[1]);
            if (way.points.empty() || way.points.back() != p) {
                way.points.push_back(p);
            }
        }
        for (std::size_t i = 2; i < fields.size(); ++i) {
            const std::size_t equals = fields[i].find('=');
            if (equals == std::string_view::npos) {
                throw std::runtime_error("bad tag in way " + way.id);
            }
            way.tags.emplace_back(fields[i].substr(0, equals), fields[i].substr(equals + 1));
        }
        if (way.points.size() >= 2) {
            ways.push_back(std::move(way));
        }
    }
    return ways;
}

std::vector<Way> readWays(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return readWays(in);
}

JunctionGraph junctionGraph(const std::vector<Way>& ways) {
    JunctionGraph graph;
    LinkBuilder builder(graph);
    builder.markNodes(ways);
    for (std::size_t i = 0; i < ways.size(); ++i) {
        builder.addWay(i, ways[i]);
    }
    builder.finish();
    return graph;
}

} // namespace ferrow::realdata
