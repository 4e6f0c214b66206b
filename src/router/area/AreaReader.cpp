#include "router/area/AreaReader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "codec/MicroCache.h"
#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "jcompat/InputStream.h"
#include "mapaccess/NodesCache.h"
#include "mapaccess/OsmFile.h"
#include "mapaccess/OsmNodesMap.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/RoutingContext.h"
#include "util/ScopeExit.h"

namespace ferrow::router {

using mapaccess::OsmLink;
using mapaccess::OsmNode;

namespace {

// How far a cache file's waypoint may lie from the start (grid units) and
// its radius from the scan's (metres).
constexpr std::int64_t kCachePositionTolerance = 500;
constexpr double kCacheRadiusTolerance = 500.0;
constexpr int kSectorCount = 4;

// The scan cell holding the point, as a closed square from its south-west
// corner counter-clockwise.
void setCellSquare(OsmNogoPolygon& cell, std::int32_t ilon, std::int32_t ilat) {
    const std::int32_t x0 = ilon / AreaReader::CELL_SIZE * AreaReader::CELL_SIZE;
    const std::int32_t y0 = ilat / AreaReader::CELL_SIZE * AreaReader::CELL_SIZE;
    cell.points.clear();
    cell.addVertex(x0, y0);
    cell.addVertex(x0 + AreaReader::CELL_SIZE, y0);
    cell.addVertex(x0 + AreaReader::CELL_SIZE, y0 + AreaReader::CELL_SIZE);
    cell.addVertex(x0, y0 + AreaReader::CELL_SIZE);
}

// The way description that counts for a link of a decoded node: the one of
// the far node's first link.
const util::ByteArray* countedDescription(const OsmLink& link, const OsmNode& node) {
    const OsmNode* target = link.getTarget(&node);
    if (target == nullptr || target->firstLink == nullptr) return nullptr;
    const util::ByteArray& description = target->firstLink->wayTags;
    return description.isNull() ? nullptr : &description;
}

} // namespace

bool AreaReader::ignoreCenter(std::int32_t maxscale, std::int32_t lonOffset, std::int32_t latOffset) {
    const auto centre = static_cast<std::int32_t>(std::floor(0.2 * maxscale + 0.5)) - 1;
    return centre >= 0 && std::abs(lonOffset) <= centre && std::abs(latOffset) <= centre;
}

bool AreaReader::containsRect(const OsmNogoPolygon& polygon, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                              std::int32_t y2) {
    return polygon.isWithin(x1, y1) && polygon.isWithin(x2, y2);
}

void AreaReader::getDirectAllData(const jcompat::File& segmentDir, RoutingContext& rc, const OsmNodeNamed& start,
                                  std::int32_t maxscale, expressions::BExpressionContextWay& wayContext,
                                  const OsmNogoPolygon& searchRect, std::vector<AreaInfo>& sectors) {
    // Probe point (by its key (ilon << 32) | ilat) to the base name of its segment file.
    std::map<std::int64_t, std::string> probes;
    const std::vector<OsmNogoPolygon::Point>& rect = searchRect.points;
    OsmNogoPolygon cell(true);
    for (std::int32_t i = -maxscale; i <= maxscale; ++i) {
        for (std::int32_t j = -maxscale; j <= maxscale; ++j) {
            if (ignoreCenter(maxscale, j, i)) continue;
            const std::int32_t ilon = start.ilon + j * CELL_SIZE;
            const std::int32_t ilat = start.ilat + i * CELL_SIZE;
            setCellSquare(cell, ilon, ilat);
            const std::vector<OsmNogoPolygon::Point>& c = cell.points;
            // Wide scans leave out the cells on the borders between the sectors.
            if (maxscale >= 8 && (cell.intersects(rect[0].x, rect[0].y, rect[2].x, rect[2].y) ||
                                  cell.intersects(rect[1].x, rect[1].y, rect[3].x, rect[3].y))) {
                continue;
            }
            if (searchRect.intersects(c[0].x, c[0].y, c[2].x, c[2].y) ||
                searchRect.intersects(c[1].x, c[1].y, c[3].x, c[3].y) ||
                containsRect(searchRect, c[0].x, c[0].y, c[2].x, c[2].y)) {
                probes.insert_or_assign((std::int64_t{ilon} << 32) | static_cast<std::uint32_t>(ilat),
                                        mapaccess::PhysicalFile::baseNameFor(ilon, ilat));
            }
        }
    }

    if (!rc.profile) throw jcompat::IllegalStateException("the area scan needs the profile's contexts");
    std::unique_ptr<mapaccess::NodesCache> nodesCache;
    std::unique_ptr<mapaccess::PhysicalFile> file;
    std::unique_ptr<codec::DataBuffers> buffers;
    const auto close = util::onScopeExit([&file, &nodesCache] {
        if (file) file->close();
        if (nodesCache) nodesCache->close();
    });
    try {
        // Grouped by file, so that each one is opened once; within a file in key order.
        std::vector<std::pair<std::int64_t, std::string>> entries(probes.begin(), probes.end());
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
        // Not used for reading: it sets the way context up for decoding as a search would.
        nodesCache =
            std::make_unique<mapaccess::NodesCache>(segmentDir, wayContext, rc.profile->meta, rc.forceSecondaryData,
                                                    std::int64_t{rc.memoryClass} * 1048576, nullptr, false);
        std::string previous;
        for (const auto& [key, name] : entries) {
            if (name != previous) {
                file.reset();
                buffers = std::make_unique<codec::DataBuffers>(mapaccess::NodesCache::READ_BUFFER_SIZE);
                file = std::make_unique<mapaccess::PhysicalFile>(jcompat::File(&segmentDir, name + ".rd5"), *buffers,
                                                                 -1, -1);
                previous = name;
            }
            getDirectData(*file, *buffers, static_cast<std::int32_t>(key >> 32), static_cast<std::int32_t>(key),
                          wayContext, sectors);
        }
    } catch (const jcompat::Exception&) {
        // A missing or unreadable segment file: no statistics at all.
        sectors.clear();
    }
}

bool AreaReader::getDirectData(mapaccess::PhysicalFile& file, codec::DataBuffers& buffers, std::int32_t ilon,
                               std::int32_t ilat, expressions::BExpressionContextWay& wayContext,
                               std::vector<AreaInfo>& sectors) {
    try {
        mapaccess::OsmNodesMap nodesMap;
        mapaccess::OsmFile osmFile(&file, ilon / 1000000, ilat / 1000000, buffers);
        if (!osmFile.hasData()) return false;
        const std::int32_t cellSize = 1000000 / osmFile.tilesPerDegree();
        const std::shared_ptr<codec::MicroCache> tile =
            osmFile.createMicroCache(ilon / cellSize, ilat / cellSize, buffers, &wayContext, nullptr, true, nullptr);
        if (!tile || tile->getSize() == 0) return true;

        const std::int32_t size = tile->getSize();
        for (std::int32_t index = 0; index < size; ++index) {
            const std::int64_t id = tile->expandId(tile->nodeIds()[static_cast<std::size_t>(index)]);
            OsmNode* node = nodesMap.createNode(static_cast<std::int32_t>(id >> 32), static_cast<std::int32_t>(id));
            if (tile->getAndClear(id)) node->parseNodeBody(*tile, nodesMap, wayContext);
            for (const OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
                const util::ByteArray* description = countedDescription(*link, *node);
                if (description == nullptr) continue;
                // A node counts once, for its first link with a way description.
                for (AreaInfo& sector : sectors) {
                    if (sector.polygon->isWithin(node->ilon, node->ilat)) {
                        sector.checkAreaInfo(wayContext, node->selev / 4.0, *description);
                        break;
                    }
                }
                break;
            }
        }
        return true;
    } catch (const jcompat::Exception&) {
        // A tile that cannot be decoded ends its own count only.
        return false;
    }
}

void AreaReader::readAreaInfo(const jcompat::File& file, const mapaccess::MatchedWaypoint& waypoint,
                              std::vector<AreaInfo>& sectors) {
    try {
        // The stream closes when it goes out of scope, also on a failure.
        jcompat::DataInputStream in{jcompat::BufferedInputStream(jcompat::FileInputStream(file))};
        const mapaccess::MatchedWaypoint stored = mapaccess::MatchedWaypoint::readFromStream(in);
        const std::int64_t dlon = std::abs(std::int64_t{stored.waypoint->ilon} - waypoint.waypoint->ilon);
        const std::int64_t dlat = std::abs(std::int64_t{stored.waypoint->ilat} - waypoint.waypoint->ilat);
        if (dlon > kCachePositionTolerance && dlat > kCachePositionTolerance) return;
        if (std::abs(stored.radius - waypoint.radius) > kCacheRadiusTolerance) return;
        for (int k = 0; k < kSectorCount; ++k) {
            AreaInfo sector(in.readInt());
            sector.startElevation = in.readDouble();
            sector.ways = in.readInt();
            sector.greenWays = in.readInt();
            sector.riverWays = in.readInt();
            sector.elev50 = in.readInt();
            sectors.push_back(std::move(sector));
        }
    } catch (const jcompat::IOException&) {
        sectors.clear();
    }
}

} // namespace ferrow::router
