#include "testsupport/SegmentWriter.h"

#include <cmath>
#include <fstream>
#include <stdexcept>

#include "util/Crc32.h"

namespace ferrow::testsupport {

namespace {

void appendInt(std::vector<util::Byte>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<util::Byte>(value >> shift));
    }
}

void appendLong(std::vector<util::Byte>& out, std::uint64_t value) {
    appendInt(out, static_cast<std::uint32_t>(value >> 32));
    appendInt(out, static_cast<std::uint32_t>(value));
}

void putLong(std::vector<util::Byte>& out, std::size_t at, std::uint64_t value) {
    for (int i = 7; i >= 0; --i) {
        out[at + static_cast<std::size_t>(7 - i)] = static_cast<util::Byte>(value >> (8 * i));
    }
}

// Where a node was placed: its file, tile and index in the tile.
struct Placement {
    std::string file;
    std::pair<std::int32_t, std::int32_t> tile;
    std::int32_t index = 0;
};

std::int32_t wrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

} // namespace

SegmentWriter::SegmentWriter(const LookupTagCoder& tags) : tags_(&tags) {}

SegmentWriter& SegmentWriter::defaults(SegmentFileOptions options) {
    defaults_ = options;
    return *this;
}

SegmentWriter& SegmentWriter::file(const std::string& baseName, SegmentFileOptions options) {
    fileOptions_[baseName] = options;
    return *this;
}

const SegmentFileOptions& SegmentWriter::optionsFor(const std::string& baseName) const {
    const auto found = fileOptions_.find(baseName);
    return found == fileOptions_.end() ? defaults_ : found->second;
}

std::string SegmentWriter::baseNameFor(std::int32_t ilon, std::int32_t ilat) {
    // South-west corner of the 5 x 5 degree square, in whole degrees.
    const std::int32_t lon = ilon / 5000000 * 5 - 180;
    const std::int32_t lat = ilat / 5000000 * 5 - 90;
    std::string name(1, lon >= 0 ? 'E' : 'W');
    name.append(std::to_string(lon >= 0 ? lon : -lon));
    name.append(lat >= 0 ? "_N" : "_S");
    name.append(std::to_string(lat >= 0 ? lat : -lat));
    return name;
}

std::map<std::string, SegmentWriter::TileMap> SegmentWriter::tiles(const TestNetwork& network) const {
    std::map<std::string, TileMap> files;
    std::vector<Placement> placements;
    std::map<std::int64_t, std::int32_t> positions;
    for (const TestNetwork::Node& node : network.nodes()) {
        const std::int64_t position =
            (static_cast<std::int64_t>(node.ilon) << 32) | static_cast<std::uint32_t>(node.ilat);
        const std::string name = baseNameFor(node.ilon, node.ilat);
        if (!positions.emplace(position, static_cast<std::int32_t>(placements.size())).second &&
            !optionsFor(name).sharedPositions) {
            throw std::invalid_argument("two nodes at " + std::to_string(node.ilon) + "/" + std::to_string(node.ilat));
        }
        const std::int32_t t = optionsFor(name).tilesPerDegree;
        const std::int32_t cell = 1000000 / t;
        const std::pair<std::int32_t, std::int32_t> key{node.ilon / cell, node.ilat / cell};
        TileContent& tile = files[name][key];
        tile.lonIdx = key.first;
        tile.latIdx = key.second;
        tile.tilesPerDegree = t;
        tile.sharedPositions = optionsFor(name).sharedPositions;
        TileContent::Node tileNode;
        tileNode.ilon = node.ilon;
        tileNode.ilat = node.ilat;
        tileNode.elevation = node.elevation;
        tileNode.nodeTags = tags_->nodeTags(node.tags);
        tile.nodes.push_back(std::move(tileNode));
        placements.push_back(Placement{name, key, static_cast<std::int32_t>(tile.nodes.size() - 1)});
    }
    auto tileNode = [&](NodeRef ref) -> TileContent::Node& {
        const Placement& p = placements.at(static_cast<std::size_t>(ref.index));
        return files[p.file][p.tile].nodes[static_cast<std::size_t>(p.index)];
    };

    for (const TestNetwork::Way& way : network.ways()) {
        const CodedTagSet wayTags = tags_->wayTags(way.tags);
        NodeRef start = std::get<NodeRef>(way.points.front());
        TileContent::Link link;
        std::int32_t lastLon = network.at(start).ilon;
        std::int32_t lastLat = network.at(start).ilat;
        std::int16_t lastElevation = network.at(start).elevation;
        for (std::size_t i = 1; i < way.points.size(); ++i) {
            if (const ShapePoint* point = std::get_if<ShapePoint>(&way.points[i])) {
                TileContent::Point p{wrapSub(point->ilon, lastLon), wrapSub(point->ilat, lastLat), 0};
                if (point->elevation) {
                    const auto elevation = static_cast<std::int16_t>(std::lround(*point->elevation * 4.0));
                    p.elevationStep = static_cast<std::int16_t>(static_cast<std::uint16_t>(elevation) -
                                                                static_cast<std::uint16_t>(lastElevation));
                    lastElevation = elevation;
                }
                link.points.push_back(p);
                lastLon = point->ilon;
                lastLat = point->ilat;
                continue;
            }
            const NodeRef end = std::get<NodeRef>(way.points[i]);
            if (end.index == start.index) {
                throw std::invalid_argument("a way stretch from a node to itself");
            }
            const TestNetwork::Node& from = network.at(start);
            const TestNetwork::Node& to = network.at(end);
            link.wayTags = wayTags;
            const Placement& fromPlace = placements.at(static_cast<std::size_t>(start.index));
            const Placement& toPlace = placements.at(static_cast<std::size_t>(end.index));
            if (fromPlace.file == toPlace.file && fromPlace.tile == toPlace.tile) {
                link.target = toPlace.index;
            } else {
                link.dlon = wrapSub(to.ilon, from.ilon);
                link.dlat = wrapSub(to.ilat, from.ilat);
                TileContent::Link back;
                back.reverse = true;
                back.dlon = wrapSub(from.ilon, to.ilon);
                back.dlat = wrapSub(from.ilat, to.ilat);
                back.wayTags = wayTags;
                tileNode(end).links.push_back(std::move(back));
            }
            tileNode(start).links.push_back(std::move(link));
            link = TileContent::Link();
            start = end;
            lastLon = to.ilon;
            lastLat = to.ilat;
            lastElevation = to.elevation;
        }
    }

    for (const TestNetwork::Restriction& r : network.restrictions()) {
        TileContent::Restriction restriction;
        restriction.exceptions = r.exceptions;
        restriction.positive = r.positive;
        restriction.fromLon = network.at(r.from).ilon;
        restriction.fromLat = network.at(r.from).ilat;
        restriction.toLon = network.at(r.to).ilon;
        restriction.toLat = network.at(r.to).ilat;
        tileNode(r.via).restrictions.push_back(restriction);
    }
    return files;
}

std::vector<util::Byte> SegmentWriter::fileBytes(const TileMap& tiles, const SegmentFileOptions& options,
                                                 std::int16_t lookupVersion) {
    const std::int32_t t = options.tilesPerDegree;
    if (t != 80 && t != 32) {
        throw std::invalid_argument("tiles per degree must be 80 or 32");
    }
    if (t == 32 && options.trailer == SegmentFileOptions::Trailer::None) {
        throw std::invalid_argument("a file without trailer has 80 tiles per degree");
    }
    if (tiles.empty()) {
        throw std::invalid_argument("a segment file needs at least one tile");
    }
    const TileContent& any = tiles.begin()->second;
    const std::int32_t cell = 1000000 / t;
    const std::int32_t lonDegree0 = any.lonIdx * cell / 5000000 * 5;
    const std::int32_t latDegree0 = any.latIdx * cell / 5000000 * 5;

    std::vector<util::Byte> out(200);
    std::vector<util::Byte> indexChecks;
    for (std::int32_t square = 0; square < 25; ++square) {
        const std::int32_t lonDegree = lonDegree0 + square / 5;
        const std::int32_t latDegree = latDegree0 + square % 5;
        std::vector<std::vector<util::Byte>> squareTiles(static_cast<std::size_t>(t * t));
        bool hasTiles = false;
        for (const auto& [key, tile] : tiles) {
            const std::int32_t column = key.first - t * lonDegree;
            const std::int32_t row = key.second - t * latDegree;
            if (column >= 0 && column < t && row >= 0 && row < t) {
                squareTiles[static_cast<std::size_t>(column + row * t)] =
                    TileEncoder::encode(tile, options.tileFooter, options.tilePadding);
                hasTiles = true;
            }
        }
        std::uint32_t indexCrc = 0;
        if (hasTiles) {
            std::vector<util::Byte> index;
            std::vector<util::Byte> body;
            std::uint32_t end = static_cast<std::uint32_t>(4 * t * t);
            for (const std::vector<util::Byte>& tile : squareTiles) {
                end += static_cast<std::uint32_t>(tile.size());
                appendInt(index, end);
                body.insert(body.end(), tile.begin(), tile.end());
            }
            indexCrc = static_cast<std::uint32_t>(util::Crc32::crc(index));
            out.insert(out.end(), index.begin(), index.end());
            out.insert(out.end(), body.begin(), body.end());
        }
        appendInt(indexChecks, indexCrc);
        std::uint64_t entry = out.size();
        if (square == 0) {
            entry |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(lookupVersion)) << 48;
        }
        putLong(out, static_cast<std::size_t>(8 * square), entry);
    }

    if (options.trailer != SegmentFileOptions::Trailer::None) {
        const std::int32_t topCrc = util::Crc32::crc(std::span<const util::Byte>(out).first(200));
        appendLong(out, static_cast<std::uint64_t>(options.creationTime));
        appendInt(out, static_cast<std::uint32_t>(t == 32 ? topCrc ^ 2 : topCrc));
        out.insert(out.end(), indexChecks.begin(), indexChecks.end());
        if (options.trailer == SegmentFileOptions::Trailer::WithElevationType) {
            out.push_back(static_cast<util::Byte>(options.elevationType));
        }
    }
    return out;
}

std::map<std::string, std::vector<util::Byte>> SegmentWriter::fileContents(const TestNetwork& network) const {
    std::map<std::string, std::vector<util::Byte>> contents;
    for (const auto& [name, tiles] : tiles(network)) {
        const SegmentFileOptions& options = optionsFor(name);
        contents[name] = fileBytes(tiles, options, options.lookupVersion.value_or(tags_->lookupVersion()));
    }
    return contents;
}

std::vector<std::string> SegmentWriter::write(const TestNetwork& network, const std::string& directory) const {
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : fileContents(network)) {
        const std::string path = directory + "/" + name + ".rd5";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            throw std::runtime_error("cannot write " + path);
        }
        paths.push_back(path);
    }
    return paths;
}

} // namespace ferrow::testsupport
