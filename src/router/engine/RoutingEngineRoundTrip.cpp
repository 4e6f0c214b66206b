// The geometry of round trips: the via points on a half circle, and the
// choice of a direction when the request gives none, at random or towards
// the best of four sectors around the start by the ways found there.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <utility>

#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "router/area/AreaInfo.h"
#include "router/area/AreaReader.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingEngine.h"
#include "util/CheapRuler.h"

namespace ferrow::router {

using mapaccess::MatchedWaypoint;
using mapaccess::OsmNode;

namespace {

// Latitudes end below 180 degrees on the grid, with the distance scales and
// the segment-file rows.
constexpr std::int32_t kMaxGridLat = 180000000;

// Sector corners lie this many round-trip radii from the start.
constexpr double kScanRadiusFactor = 1.5;

std::mt19937_64& directionGenerator() {
    // Seeded at first use, like any process-wide table.
    static std::mt19937_64 generator{std::random_device{}()};
    return generator;
}

// A uniform double in [0, 1): the generator's top 53 bits.
double nextRandom() { return static_cast<double>(directionGenerator()() >> 11) * 0x1.0p-53; }

// The second profile of the area scan: "dummy.vpf" in the request profile's
// directory, or "dummy" for a profile path without a directory.
std::string dummyProfilePath(const std::optional<std::string>& profilePath) {
    const std::string path = profilePath.value_or("");
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "dummy";
    return path.substr(0, slash + 1) + "dummy.vpf";
}

enum class SectorKey { Elevation, Green, River };

std::int32_t keyOf(const AreaInfo& sector, SectorKey key) {
    switch (key) {
    case SectorKey::Elevation:
        return sector.getElev50Weight();
    case SectorKey::Green:
        return sector.getGreen();
    case SectorKey::River:
        break;
    }
    return sector.getRiver();
}

} // namespace

void RoutingEngine::seedRoundTripRandom(std::uint64_t seed) { directionGenerator().seed(seed); }

std::shared_ptr<OsmNodeNamed> RoutingEngine::roundTripPoint(const OsmNode& start, double distance, double bearing,
                                                            std::string name) {
    const std::array<std::int32_t, 2> position =
        util::CheapRuler::destination(start.ilon, start.ilat, distance, bearing);
    // Beyond the date line there is simply no data file; beyond a pole, no
    // file row and no distance scale to match the point with.
    if (position[1] < 0 || position[1] >= kMaxGridLat) {
        throw jcompat::IllegalArgumentException("round trip point " + name + " lies outside the world");
    }
    return std::make_shared<OsmNodeNamed>(position[0], position[1], std::move(name));
}

void RoutingEngine::buildPointsFromCircle(OsmNodeNamedList& waypoints, double startAngle, double searchRadius,
                                          std::int32_t points) {
    const OsmNode start(waypoints[0]->ilon, waypoints[0]->ilat);
    for (std::int32_t i = 1; i < points; ++i) {
        const double bearing = startAngle - (i * -180.0 / points + 90.0);
        waypoints.push_back(roundTripPoint(start, searchRadius, bearing, "rt" + std::to_string(i)));
    }
    waypoints.push_back(std::make_shared<OsmNodeNamed>(start.ilon, start.ilat, "to_rt"));
}

// The second engine matches the start and the sector corners, the start's
// elevation is read from its way, and the tiles around are scanned.
void RoutingEngine::scanSectors(const jcompat::File& segmentDir, const std::optional<std::string>& profilePath,
                                const std::shared_ptr<OsmNodeNamed>& start, double searchRadius,
                                const std::shared_ptr<MatchedWaypoint>& info, std::vector<AreaInfo>& sectors) {
    constexpr std::array<std::int32_t, 4> kCornerBearings = {45, 135, 225, 315};
    // Declared before the engine: its node cache's matcher refers to them.
    RoutingEngine::MatchedWaypointList matchList{info};
    std::array<std::shared_ptr<OsmNodeNamed>, 4> corners;
    for (std::size_t k = 0; k < corners.size(); ++k) {
        const std::string name = "via" + std::to_string(kCornerBearings[k]);
        corners[k] = RoutingEngine::roundTripPoint(*start, kScanRadiusFactor * searchRadius, kCornerBearings[k], name);
        auto corner = std::make_shared<MatchedWaypoint>();
        corner->waypoint = corners[k];
        corner->name = name;
        matchList.push_back(std::move(corner));
    }

    RoutingContext scanContext;
    scanContext.profilePath = dummyProfilePath(profilePath);
    RoutingEngine scanEngine(segmentDir, OsmNodeNamedList{start}, scanContext, 4);
    scanContext.useDynamicRange = true;
    scanEngine.matchWaypointsToNodes(matchList);
    scanEngine.resetCache(true);

    expressions::BExpressionContextWay& wayContext = *scanContext.expctxWay;
    const std::int32_t greenKey = wayContext.getLookupKey("estimated_forest_class");
    const std::int32_t riverKey = wayContext.getLookupKey("estimated_river_class");

    double startElevation = 0.0;
    OsmNode* startNode = scanEngine.nodesCache_->getGraphNode(*info->node1);
    if (scanEngine.nodesCache_->obtainNonHollowNode(startNode)) {
        scanEngine.nodesCache_->expandHollowLinkTargets(startNode);
        startElevation = startNode->selev / 4.0;
    }

    std::int32_t minLon = corners[0]->ilon;
    std::int32_t maxLon = minLon;
    std::int32_t minLat = corners[0]->ilat;
    std::int32_t maxLat = minLat;
    for (const std::shared_ptr<OsmNodeNamed>& corner : corners) {
        minLon = std::min(minLon, corner->ilon);
        maxLon = std::max(maxLon, corner->ilon);
        minLat = std::min(minLat, corner->ilat);
        maxLat = std::max(maxLat, corner->ilat);
    }
    OsmNogoPolygon searchRect(true);
    searchRect.addVertex(maxLon, maxLat);
    searchRect.addVertex(maxLon, minLat);
    searchRect.addVertex(minLon, minLat);
    searchRect.addVertex(minLon, maxLat);

    for (std::size_t k = 0; k < corners.size(); ++k) {
        AreaInfo sector(90 * static_cast<std::int32_t>(k + 1));
        sector.greenKeyIndex = greenKey;
        sector.riverKeyIndex = riverKey;
        sector.startElevation = startElevation;
        const OsmNodeNamed& next = *corners[(k + 1) % corners.size()];
        sector.polygon->addVertex(start->ilon, start->ilat);
        sector.polygon->addVertex(corners[k]->ilon, corners[k]->ilat);
        sector.polygon->addVertex(next.ilon, next.ilat);
        sectors.push_back(std::move(sector));
    }

    // Half the rectangle's east-west extent in scan cells, rounded, plus one.
    const float halfWidth =
        static_cast<float>(std::abs(std::int64_t{searchRect.points[2].x} - searchRect.points[0].x)) /
        static_cast<float>(AreaReader::CELL_SIZE) * 0.5f;
    const std::int32_t maxscale = std::max(1, jcompat::toInt(std::floor(halfWidth + 0.5f)) + 1);
    AreaReader::getDirectAllData(segmentDir, scanContext, *start, maxscale, wayContext, searchRect, sectors);
    // The scan's profile stays taken in the profile cache.
    scanEngine.nodesCache_->close();
}

std::int32_t RoutingEngine::getRandomDirectionFromData(const std::shared_ptr<OsmNodeNamed>& start,
                                                       double searchRadius) {
    RoutingContext& rc = routingContext_;
    const expressions::BExpressionContextWay& way = *rc.expctxWay;
    const bool considerElevation = way.getVariableValue("consider_elevation", 0.0f) == 1.0f;
    const bool considerForest = way.getVariableValue("consider_forest", 0.0f) == 1.0f;
    const bool considerRiver = way.getVariableValue("consider_river", 0.0f) == 1.0f;
    if (!considerElevation && !considerForest && !considerRiver) return jcompat::toInt(nextRandom() * 360.0);

    auto info = std::make_shared<MatchedWaypoint>();
    info->waypoint = start;
    info->name = "info";
    info->radius = kScanRadiusFactor * searchRadius;
    std::vector<AreaInfo> sectors;
    if (rc.areaInfoCache) {
        const jcompat::File cacheFile(*rc.areaInfoCache);
        if (cacheFile.exists()) AreaReader::readAreaInfo(cacheFile, *info, sectors);
    }
    if (sectors.empty()) scanSectors(segmentDir_, rc.profilePath, start, searchRadius, info, sectors);

    const SectorKey key = considerElevation ? SectorKey::Elevation
                          : considerForest  ? SectorKey::Green
                                            : SectorKey::River;
    std::stable_sort(sectors.begin(), sectors.end(),
                     [key](const AreaInfo& a, const AreaInfo& b) { return keyOf(a, key) > keyOf(b, key); });
    if (sectors.empty()) throw jcompat::IndexOutOfBoundsException("index: 0, size: 0");
    return sectors[0].direction - 30 + jcompat::toInt(nextRandom() * 60.0);
}

} // namespace ferrow::router
