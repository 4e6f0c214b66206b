// Converts a real road network into segment files for the real-data benchmark
// (bench/realdata/realdata.py), and writes the same network as OSM XML for the
// peer router it is compared with.
//
//   realdata_convert <ways.tsv> <tile.hgt> <lookups.dat> <segment dir> <network.osm>
//
// ways.tsv holds one way per line: its id, its points as "lon,lat;lon,lat;..."
// and its tags as "key=value", all separated by TABs (WayList.h). Points are
// rounded to the micro-degree grid, and points that round to one grid position
// are one point.
// A point is a node when it ends a way, is shared by ways or occurs twice in
// one way (a junction); every other point is a shape point of its link. Two
// nodes are joined by one link at most: of several stretches between them the
// first straight one is kept (or the first one when none is straight), the
// others get their middle point made a node, or are dropped when they are
// straight too (a way repeating another's segment). A loop is split likewise.
//
// Tags are coded through the lookup table: a tag the table lacks is dropped, a
// value it lacks (or one with a blank) is coded as "unknown". Elevations come
// from the SRTM3 tile by bilinear interpolation; points outside the tile, or
// next to a void sample, get none. The output is the same bytes on every run.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "WayList.h"
#include "expressions/BExpressionContext.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TestNetwork.h"

namespace {

using ferrow::realdata::ilatOf;
using ferrow::realdata::ilonOf;
using ferrow::realdata::Position;
using ferrow::realdata::Way;
using ferrow::testsupport::LookupTagCoder;
using ferrow::testsupport::NodeRef;
using ferrow::testsupport::ShapePoint;
using ferrow::testsupport::TestNetwork;
using ferrow::testsupport::WayPoint;

// One SRTM3 tile: 1201 x 1201 big-endian samples, the north row first; its
// south-west corner is in its name ("N57E011.hgt").
class HgtTile {
public:
    explicit HgtTile(const std::string& path) {
        const std::string name = std::filesystem::path(path).filename().string();
        if (name.size() < 7 || (name[0] != 'N' && name[0] != 'S') || (name[3] != 'E' && name[3] != 'W')) {
            throw std::runtime_error(path + " is not named like N57E011.hgt");
        }
        lat0_ = std::stoi(name.substr(1, 2)) * (name[0] == 'S' ? -1 : 1);
        lon0_ = std::stoi(name.substr(4, 3)) * (name[3] == 'W' ? -1 : 1);
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() != 2u * kSide * kSide) {
            throw std::runtime_error(path + " is no SRTM3 tile");
        }
        samples_.resize(kSide * kSide);
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            samples_[i] = static_cast<std::int16_t>((static_cast<unsigned char>(bytes[2 * i]) << 8) |
                                                    static_cast<unsigned char>(bytes[2 * i + 1]));
        }
    }

    std::optional<double> elevation(Position p) const {
        const double x = ((ilonOf(p) - 180000000) / 1e6 - lon0_) * (kSide - 1);
        const double y = (lat0_ + 1 - (ilatOf(p) - 90000000) / 1e6) * (kSide - 1);
        if (!(x >= 0 && y >= 0 && x <= kSide - 1 && y <= kSide - 1)) {
            return std::nullopt;
        }
        const int column = std::min(static_cast<int>(x), kSide - 2);
        const int row = std::min(static_cast<int>(y), kSide - 2);
        const double fx = x - column;
        const double fy = y - row;
        const double weights[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
        const int offsets[4] = {0, 1, kSide, kSide + 1};
        double sum = 0;
        for (int i = 0; i < 4; ++i) {
            const std::int16_t sample = samples_[static_cast<std::size_t>(row * kSide + column + offsets[i])];
            if (sample == -32768) {
                return std::nullopt;
            }
            sum += weights[i] * sample;
        }
        return sum;
    }

private:
    static constexpr int kSide = 1201;
    int lon0_ = 0;
    int lat0_ = 0;
    std::vector<std::int16_t> samples_;
};

struct Counts {
    std::size_t nodes = 0;
    std::size_t shapePoints = 0;
    std::size_t links = 0;
    std::size_t splitNodes = 0;
    std::size_t droppedStretches = 0;
    std::map<std::string, std::size_t> droppedTags;
    std::map<std::string, std::size_t> unknownValues;
};

// The way's tags as the lookup table can code them.
std::string codedTagText(const Way& way, const LookupTagCoder& coder, Counts& counts) {
    std::string text;
    for (const auto& [key, value] : way.tags) {
        if (coder.wayContext().getLookupNameIdx(key) <= 0) {
            ++counts.droppedTags[key];
            continue;
        }
        std::string item = key + "=" + value;
        bool known = value.find(' ') == std::string::npos && !value.empty();
        if (known) {
            try {
                coder.wayTags(item);
            } catch (const std::invalid_argument&) {
                known = false;
            }
        }
        if (!known) {
            ++counts.unknownValues[item];
            item = key + "=unknown";
        }
        text += (text.empty() ? "" : " ") + item;
    }
    return text;
}

class NetworkBuilder {
public:
    NetworkBuilder(const HgtTile& hgt, Counts& counts) : hgt_(hgt), counts_(counts) {}

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
    void addWay(const Way& way, std::string tags) {
        tags_.push_back(std::move(tags));
        auto from = way.points.begin();
        for (auto at = from + 1; at != way.points.end(); ++at) {
            if (isNode_.contains(*at)) {
                stretches_.push_back(Stretch{tags_.size() - 1, {from, at + 1}});
                from = at;
            }
        }
    }

    // A pair of nodes joined by several stretches keeps the first straight one
    // (or the first one, when none is straight); the others are split at their
    // middle point, or dropped when they are straight as well.
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
                addLink(stretches_[i]);
            } else {
                addSplit(stretches_[i]);
            }
        }
    }

    TestNetwork& network() { return network_; }

private:
    struct Stretch {
        std::size_t tags = 0;
        std::vector<Position> points;
    };

    NodeRef node(Position p) {
        const auto found = nodes_.find(p);
        if (found != nodes_.end()) {
            return found->second;
        }
        auto builder = network_.gridNode(ilonOf(p), ilatOf(p));
        if (const std::optional<double> metres = hgt_.elevation(p)) {
            builder.elevation(*metres);
        }
        ++counts_.nodes;
        return nodes_.emplace(p, NodeRef(builder)).first->second;
    }

    // A stretch that is a loop or joins a pair of nodes joined already: its
    // middle point becomes a node, or it is dropped when it has none.
    void addSplit(const Stretch& stretch) {
        const std::vector<Position>& points = stretch.points;
        if (points.size() == 2) {
            ++counts_.droppedStretches;
            return;
        }
        const auto middle = points.begin() + static_cast<std::ptrdiff_t>(points.size() / 2);
        ++counts_.splitNodes;
        const Stretch halves[2] = {{stretch.tags, {points.begin(), middle + 1}},
                                   {stretch.tags, {middle, points.end()}}};
        for (const Stretch& half : halves) {
            const Position a = half.points.front();
            const Position b = half.points.back();
            if (a != b && joined_.insert(std::minmax(a, b)).second) {
                addLink(half);
            } else {
                addSplit(half);
            }
        }
    }

    void addLink(const Stretch& stretch) {
        const std::vector<Position>& points = stretch.points;
        std::vector<WayPoint> wayPoints{node(points.front())};
        for (std::size_t i = 1; i + 1 < points.size(); ++i) {
            wayPoints.emplace_back(ShapePoint{ilonOf(points[i]), ilatOf(points[i]), hgt_.elevation(points[i])});
            ++counts_.shapePoints;
        }
        wayPoints.emplace_back(node(points.back()));
        network_.way(tags_[stretch.tags], std::move(wayPoints));
        ++counts_.links;
    }

    const HgtTile& hgt_;
    Counts& counts_;
    TestNetwork network_;
    std::set<Position> isNode_;
    std::map<Position, NodeRef> nodes_;
    std::vector<std::string> tags_;
    std::vector<Stretch> stretches_;
    std::set<std::pair<Position, Position>> joined_;
};

std::string degreesText(std::int32_t grid, std::int32_t offset) {
    const std::int64_t micro = static_cast<std::int64_t>(grid) - offset;
    const std::int64_t magnitude = micro < 0 ? -micro : micro;
    const std::string fraction = std::to_string(magnitude % 1000000);
    std::string text(micro < 0 ? "-" : "");
    text.append(std::to_string(magnitude / 1000000)).append(".").append(6 - fraction.size(), '0').append(fraction);
    return text;
}

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Every point a node with an id of its own, numbered in order of first use;
// the ways with their original tags.
void writeOsm(const std::vector<Way>& ways, const std::string& path) {
    std::ofstream out(path, std::ios::trunc);
    out << "<?xml version='1.0' encoding='UTF-8'?>\n<osm version='0.6' generator='realdata_convert'>\n";
    std::unordered_map<Position, std::int64_t> ids;
    for (const Way& way : ways) {
        for (Position p : way.points) {
            if (ids.emplace(p, static_cast<std::int64_t>(ids.size()) + 1).second) {
                out << "  <node id='" << ids.size() << "' version='1' lat='" << degreesText(ilatOf(p), 90000000)
                    << "' lon='" << degreesText(ilonOf(p), 180000000) << "'/>\n";
            }
        }
    }
    for (const Way& way : ways) {
        out << "  <way id='" << xmlEscaped(way.id) << "' version='1'>\n";
        for (Position p : way.points) {
            out << "    <nd ref='" << ids.at(p) << "'/>\n";
        }
        for (const auto& [key, value] : way.tags) {
            out << "    <tag k=\"" << xmlEscaped(key) << "\" v=\"" << xmlEscaped(value) << "\"/>\n";
        }
        out << "  </way>\n";
    }
    out << "</osm>\n";
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: realdata_convert <ways.tsv> <tile.hgt> <lookups.dat> <segment dir> <network.osm>\n";
        return 2;
    }
    try {
        const std::vector<Way> ways = ferrow::realdata::readWays(argv[1]);
        const HgtTile hgt(argv[2]);
        const LookupTagCoder coder(argv[3]);
        Counts counts;
        NetworkBuilder builder(hgt, counts);
        builder.markNodes(ways);
        for (const Way& way : ways) {
            builder.addWay(way, codedTagText(way, coder, counts));
        }
        builder.finish();
        std::filesystem::create_directories(argv[4]);
        for (const std::string& path : ferrow::testsupport::SegmentWriter(coder).write(builder.network(), argv[4])) {
            std::cout << path << ": " << std::filesystem::file_size(path) << " bytes\n";
        }
        writeOsm(ways, argv[5]);
        std::cout << ways.size() << " ways, " << counts.nodes << " nodes (" << counts.splitNodes
                  << " made to split a loop or a repeated pair), " << counts.shapePoints << " shape points, "
                  << counts.links << " links, " << counts.droppedStretches << " repeated stretches dropped\n";
        std::cout << "tags the lookup table lacks (dropped):";
        for (const auto& [key, n] : counts.droppedTags) {
            std::cout << ' ' << key << '(' << n << ')';
        }
        std::cout << "\nvalues the lookup table lacks (coded as unknown):";
        for (const auto& [item, n] : counts.unknownValues) {
            std::cout << ' ' << item << '(' << n << ')';
        }
        std::cout << '\n';
    } catch (const std::exception& e) {
        std::cerr << "realdata_convert: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
