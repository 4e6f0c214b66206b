// Converts a real road network into segment files for the real-data benchmark
// (bench/realdata/realdata.py), and writes the same network as OSM XML for the
// peer router it is compared with.
//
//   realdata_convert <ways.tsv> <tile.hgt> <lookups.dat> <segment dir> <network.osm>
//
// ways.tsv holds one way per line: its id, its points as "lon,lat;lon,lat;..."
// and its tags as "key=value", all separated by TABs; lines may end in CR LF.
// Points are rounded to the micro-degree grid, and points that round to one
// grid position are one point. The ways are cut into the links of a junction
// graph as RealNetwork.h tells; the plain Dijkstra of the benchmark
// (realdata_dijkstra) walks the same links.
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
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "RealNetwork.h"
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

// The junction graph's links as a test network, nodes numbered in order of first use.
class NetworkBuilder {
public:
    NetworkBuilder(const HgtTile& hgt, Counts& counts) : hgt_(hgt), counts_(counts) {}

    void addLink(const std::vector<Position>& points, const std::string& tags) {
        std::vector<WayPoint> wayPoints{node(points.front())};
        for (std::size_t i = 1; i + 1 < points.size(); ++i) {
            wayPoints.emplace_back(ShapePoint{ilonOf(points[i]), ilatOf(points[i]), hgt_.elevation(points[i])});
            ++counts_.shapePoints;
        }
        wayPoints.emplace_back(node(points.back()));
        network_.way(tags, std::move(wayPoints));
        ++counts_.links;
    }

    TestNetwork& network() { return network_; }

private:
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

    const HgtTile& hgt_;
    Counts& counts_;
    TestNetwork network_;
    std::map<Position, NodeRef> nodes_;
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
        std::vector<std::string> tags;
        for (const Way& way : ways) {
            tags.push_back(codedTagText(way, coder, counts));
        }
        const ferrow::realdata::JunctionGraph graph = ferrow::realdata::junctionGraph(ways);
        NetworkBuilder builder(hgt, counts);
        for (const ferrow::realdata::Link& link : graph.links) {
            builder.addLink(link.points, tags[link.way]);
        }
        std::filesystem::create_directories(argv[4]);
        for (const std::string& path : ferrow::testsupport::SegmentWriter(coder).write(builder.network(), argv[4])) {
            std::cout << path << ": " << std::filesystem::file_size(path) << " bytes\n";
        }
        writeOsm(ways, argv[5]);
        std::cout << ways.size() << " ways, " << counts.nodes << " nodes (" << graph.splitNodes
                  << " made to split a loop or a repeated pair), " << counts.shapePoints << " shape points, "
                  << counts.links << " links, " << graph.droppedStretches << " repeated stretches dropped\n";
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
