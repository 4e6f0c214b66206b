#include "router/costing/RoutingContext.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "jcompat/NumberText.h"
#include "router/costing/KinematicModel.h"
#include "router/costing/KinematicNoCostModel.h"
#include "router/costing/OsmPath.h"
#include "router/costing/OsmPrePath.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/StdModel.h"
#include "router/waypoints/OsmNogoPolygon.h"
#include "util/CheapRuler.h"

namespace ferrow::router {

using jcompat::toInt;
using util::CheapRuler;

RoutingContext::RoutingContext() = default;
RoutingContext::~RoutingContext() = default;

namespace {

std::unique_ptr<OsmPathModel> createPathModel(const std::optional<std::string>& className) {
    if (!className || *className == RoutingContext::STD_MODEL) {
        return std::make_unique<StdModel>();
    }
    if (*className == RoutingContext::KINEMATIC_MODEL) {
        return std::make_unique<KinematicModel>();
    }
    if (*className == RoutingContext::KINEMATIC_NO_COST_MODEL) {
        return std::make_unique<KinematicNoCostModel>();
    }
    throw jcompat::RuntimeException("Cannot create path-model: java.lang.ClassNotFoundException: " + *className);
}

} // namespace

void RoutingContext::readGlobalConfig() {
    if (expctxWay == nullptr || expctxNode == nullptr) {
        throw jcompat::IllegalStateException("readGlobalConfig needs the profile's way and node contexts");
    }
    expressions::BExpressionContextWay& way = *expctxWay;

    std::unique_ptr<OsmPathModel> model = createPathModel(way.getModelClass());
    model->init(expctxWay, expctxNode, keyValues ? &*keyValues : nullptr);
    pathModel = std::move(model);

    const auto value = [&way](const char* name, float defaultValue) {
        return way.getVariableValue(name, defaultValue);
    };
    const auto flag = [&](const char* name, float defaultValue) { return value(name, defaultValue) != 0.0f; };
    const auto integer = [&](const char* name, float defaultValue) { return toInt(value(name, defaultValue)); };
    const auto widened = [&](const char* name, float defaultValue) {
        return static_cast<double>(value(name, defaultValue));
    };

    validForCars = flag("validForCars", 0);
    validForBikes = flag("validForBikes", 0);
    validForFoot = flag("validForFoot", 0);
    considerCrossing = flag("consider_crossing", 0);
    crossingPrioH = integer("crossing_Prio_H", 0);
    crossingPrioL = integer("crossing_Prio_L", 0);
    for (std::size_t i = 0; i < costToLeftFromHClass.size(); ++i) {
        costToLeftFromHClass[i] = integer(("cost_ToLeft_from_H_class" + std::to_string(i + 1)).c_str(), 0);
    }
    for (std::size_t i = 0; i < costToRightFromHClass.size(); ++i) {
        costToRightFromHClass[i] = integer(("cost_ToRight_from_H_class" + std::to_string(i + 1)).c_str(), 0);
    }
    waypointCatchingRange = widened("waypointCatchingRange", 250);
    considerTurnRestrictions = flag("considerTurnRestrictions", validForFoot ? 0 : 1);
    correctMisplacedViaPoints = flag("correctMisplacedViaPoints", 0);
    correctMisplacedViaPointsDistance = widened("correctMisplacedViaPointsDistance", 400);
    continueStraight = flag("continueStraight", 0);
    processUnusedTags = flag("processUnusedTags", 0);
    forceSecondaryData = flag("forceSecondaryData", 0);
    pass1coefficient = widened("pass1coefficient", 1.5f);
    pass2coefficient = widened("pass2coefficient", 0);
    elevationpenaltybuffer = toInt(value("elevationpenaltybuffer", 5) * 1000000.0f);
    elevationmaxbuffer = toInt(value("elevationmaxbuffer", 10) * 1000000.0f);
    elevationbufferreduce = toInt(value("elevationbufferreduce", 0) * 10000.0f);
    cost1speed = widened("cost1speed", 22);
    additionalcostfactor = widened("additionalcostfactor", 1.5f);
    changetime = widened("changetime", 180);
    buffertime = widened("buffertime", 120);
    waittimeadjustment = widened("waittimeadjustment", 0.9f);
    inittimeadjustment = widened("inittimeadjustment", 0.2f);
    starttimeoffset = widened("starttimeoffset", 0);
    transitonly = flag("transitonly", 0);
    showspeed = flag("showspeed", 0);
    showSpeedProfile = flag("showSpeedProfile", 0);
    inverseRouting = flag("inverseRouting", 0);
    showtime = flag("showtime", 0);
    // The profile decides the turn-instruction mode unless it leaves the
    // choice to the request by setting 1.
    const std::int32_t profileTurnInstructionMode = integer("turnInstructionMode", 0);
    if (profileTurnInstructionMode != 1) turnInstructionMode = profileTurnInstructionMode;
    turnInstructionCatchingRange = widened("turnInstructionCatchingRange", 40);
    turnInstructionRoundabouts = flag("turnInstructionRoundabouts", validForFoot ? 0 : 1);
    totalMass = widened("totalMass", 90);
    maxSpeed = widened("maxSpeed", validForFoot ? 6 : 45) / 3.6;
    S_C_x = widened("S_C_x", 0.225f);
    C_r = widened("C_r", 0.01f);
    bikerPower = widened("bikerPower", 100);
    useDynamicRange = value("use_dynamic_range", 1) == 1.0f;
    addBeeline = value("add_beeline", 0) == 1.0f;
    if (value("check_start_way", 1) != 1.0f) freeNoWays();
}

void RoutingContext::freeNoWays() {
    if (expctxWay != nullptr) expctxWay->freeNoWays();
}

void RoutingContext::prepareNogoPoints(OsmNodeNamedList& nogos) {
    for (const std::shared_ptr<OsmNodeNamed>& nogo : nogos) {
        if (nogo->asPolygon() != nullptr) continue;
        if (!nogo->name) {
            throw jcompat::IllegalArgumentException("no-go circle without a name");
        }
        std::string_view prefix = *nogo->name;
        if (const std::size_t space = prefix.find(' '); space != std::string_view::npos && space > 0) {
            prefix = prefix.substr(0, space);
        }
        nogo->radius = prefix.size() >= 5 ? jcompat::JString::parseInt(prefix.substr(4)) : 20.0;
    }
}

std::array<std::int64_t, 3> RoutingContext::getNogoChecksums() const {
    std::array<std::int64_t, 3> cs{};
    for (const std::shared_ptr<OsmNodeNamed>& nogo : nogoPoints) {
        cs[0] = jcompat::wrapAdd(cs[0], std::int64_t{nogo->ilon});
        cs[1] = jcompat::wrapAdd(cs[1], std::int64_t{nogo->ilat});
        cs[2] = jcompat::wrapAdd(cs[2], jcompat::toLong(nogo->radius * 10));
    }
    return cs;
}

void RoutingContext::setWaypoint(std::shared_ptr<OsmNodeNamed> wp, std::shared_ptr<OsmNodeNamed> pending,
                                 bool endpoint) {
    // Both lists keep their buffers, so catching allocates nothing once warm.
    savedNogoPoints = nogoPoints;
    nogoPoints.clear();
    nogoPoints.push_back(std::move(wp));
    nogoPoints.insert(nogoPoints.end(), savedNogoPoints.begin(), savedNogoPoints.end());
    isEndpoint = endpoint;
    pendingEndpoint = std::move(pending);
}

void RoutingContext::unsetWaypoint() {
    nogoPoints = savedNogoPoints;
    pendingEndpoint.reset();
    isEndpoint = false;
}

std::int32_t RoutingContext::calcDistance(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2) {
    const CheapRuler::Scales& scales = CheapRuler::scalesAt(jcompat::wrapAdd(lat1, lat2) >> 1);
    const double kx = scales.kx;
    const double ky = scales.ky;
    shortestMatch = false;

    double dx = kx * jcompat::wrapSub(lon2, lon1);
    double dy = ky * jcompat::wrapSub(lat2, lat1);
    double d = std::sqrt(dx * dx + dy * dy);

    if (dx * dx + dy * dy > 0) {
        for (std::size_t i = 0; i < nogoPoints.size(); ++i) {
            OsmNodeNamed& n = *nogoPoints[i];
            const double x1 = kx * jcompat::wrapSub(lon1, n.ilon);
            const double y1 = ky * jcompat::wrapSub(lat1, n.ilat);
            const double r1 = x1 * x1 + y1 * y1;
            const double x2 = kx * jcompat::wrapSub(lon2, n.ilon);
            const double y2 = ky * jcompat::wrapSub(lat2, n.ilat);
            const double r2 = x2 * x2 + y2 * y2;
            const double radius = n.radius;

            // distance of the centre from the segment's line
            double dist = std::abs(dx * (r1 < r2 ? y1 : y2) - dy * (r1 < r2 ? x1 : x2)) / d;
            if (!(radius > dist)) continue;
            double s1 = dx * x1 + dy * y1;
            double s2 = dx * x2 + dy * y2;
            if (s1 < 0) {
                s1 = -s1;
                s2 = -s2;
            }
            if (s2 > 0) {
                // the foot of the perpendicular lies outside the segment
                dist = std::sqrt(s1 < s2 ? r1 : r2);
                if (radius < dist) continue;
            }

            if (n.isNogo) {
                double cost;
                if (OsmNogoPolygon* polygon = n.asPolygon()) {
                    if (!polygon->intersects(lon1, lat1, lon2, lat2)) continue;
                    if (std::isnan(n.nogoWeight)) {
                        nogoCost = -1;
                        continue;
                    }
                    cost = polygon->isClosed ? polygon->distanceWithinPolygon(lon1, lat1, lon2, lat2) * n.nogoWeight
                                             : n.nogoWeight;
                } else {
                    if (std::isnan(n.nogoWeight)) {
                        nogoCost = -1;
                        continue;
                    }
                    cost = n.distanceWithinRadius(lon1, lat1, lon2, lat2, d) * n.nogoWeight;
                }
                // An infinite weight times no length inside the area costs nothing.
                if (std::isnan(cost)) cost = 0.0;
                nogoCost = std::clamp(cost, -MAX_NOGO_COST, MAX_NOGO_COST);
                continue;
            }

            // A waypoint in front: caught. Later segments must come closer.
            shortestMatch = true;
            n.radius = dist;
            if (s2 < 0) {
                wayFraction = -s2 / (d * d);
                ilonShortest = toInt((x2 - dx * wayFraction) / kx + n.ilon);
                ilatShortest = toInt((y2 - dy * wayFraction) / ky + n.ilat);
            } else if (s2 >= s1) {
                wayFraction = 1;
                ilonShortest = lon1;
                ilatShortest = lat1;
            } else {
                wayFraction = 0;
                ilonShortest = lon2;
                ilatShortest = lat2;
            }
            if (isEndpoint) {
                wayFraction = 1 - wayFraction;
                lon2 = ilonShortest;
                lat2 = ilatShortest;
            } else {
                nogoCost = 0;
                lon1 = ilonShortest;
                lat1 = ilatShortest;
            }
            dx = kx * jcompat::wrapSub(lon2, lon1);
            dy = ky * jcompat::wrapSub(lat2, lat1);
            d = std::sqrt(dx * dx + dy * dy);
        }
    }

    if (std::isnan(d)) {
        throw jcompat::IllegalArgumentException("Cannot round NaN value.");
    }
    return std::max(1, toInt(std::floor(d + 0.5)));
}

OsmPath* RoutingContext::createPath(mapaccess::OsmLink* link) {
    OsmPath* path = pathModel->createPath();
    path->init(link);
    return path;
}

OsmPath* RoutingContext::createPath(OsmPath& origin, mapaccess::OsmLink* link, const TrackPointMap* refTrack,
                                    bool detailMode) {
    OsmPath::prefetchShape(*link, origin.targetNode);
    OsmPath* path = pathModel->createPath();
    path->init(origin, link, refTrack, detailMode, *this);
    return path;
}

OsmPrePath* RoutingContext::createPrePath(OsmPath& origin, mapaccess::OsmLink* link) {
    if (!pathModel->makesPrePaths()) return nullptr;
    OsmPrePath* prePath = pathModel->createPrePath();
    if (prePath != nullptr) prePath->init(origin, link, *this);
    return prePath;
}

void RoutingContext::clearPrePaths() {
    firstPrePath = nullptr;
    if (pathModel && pathModel->makesPrePaths()) pathModel->releasePrePaths();
}

void RoutingContext::releasePath(OsmPath* path) {
    if (path == nullptr) return;
    path->letGoOfPoints(pathElements);
    pathModel->releasePath(path);
}

void RoutingContext::releaseSearchMemory() {
    firstPrePath = nullptr;
    if (pathModel) pathModel->releasePaths();
    pathElements.reset();
}

} // namespace ferrow::router
