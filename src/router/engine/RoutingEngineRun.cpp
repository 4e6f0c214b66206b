// The engine's runs: the dispatch by mode, the route run with its
// alternatives and island retries, point information, the round trip, and
// how a failure becomes the run's error message.
#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/OsmNodesMap.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingEngine.h"
#include "router/engine/RoutingIslandException.h"
#include "util/Bounds.h"
#include "util/ScopeExit.h"

namespace ferrow::router {

using mapaccess::MatchedWaypoint;
using mapaccess::OsmNode;

namespace {

// The highest alternative index: a run computes at most four routes.
constexpr std::int32_t kMaxAlternativeIndex = 3;

// A round trip without settings: a radius of 1500 m, five points on its half circle.
constexpr double kDefaultRoundTripDistance = 1500.0;
constexpr std::int32_t kDefaultRoundTripPoints = 5;
// Metres within which a round trip's points catch a way, whatever the profile says.
constexpr double kRoundTripCatchingRange = 250.0;

// "ostrand_" + the profile's file name without ".vpf" + "_" + the alternative.
std::string trackName(const std::optional<std::string>& profilePath, std::int32_t alternative) {
    std::string name = profilePath.value_or("unknown");
    if (name.ends_with(".vpf")) name.resize(name.size() - 4);
    if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    return "ostrand_" + name + "_" + std::to_string(alternative);
}

std::shared_ptr<OsmNodeNamed> copyWithoutElevation(const OsmNodeNamed& point, std::string name) {
    return std::make_shared<OsmNodeNamed>(point.ilon, point.ilat, std::move(name));
}

} // namespace

void RoutingEngine::doRun(std::int64_t maxRunningTimeMillis) {
    switch (engineMode_) {
    case 0:
        if (waypoints_.size() < 2) throw jcompat::IllegalArgumentException("we need two lat/lon points at least!");
        doRouting(maxRunningTimeMillis);
        break;
    case 2:
    case 3:
        if (waypoints_.empty()) throw jcompat::IllegalArgumentException("we need one lat/lon point at least!");
        doGetInfo();
        break;
    case 4:
        if (waypoints_.empty()) throw jcompat::IllegalArgumentException("we need one lat/lon point at least!");
        doRoundTrip();
        break;
    default:
        throw jcompat::IllegalArgumentException("not a valid engine mode");
    }
}

void RoutingEngine::doRouting(std::int64_t maxRunningTimeMillis) {
    RoutingContext& rc = routingContext_;
    try {
        startTime_ = jcompat::currentTimeMillis();
        maxRunningTime_ = maxRunningTimeMillis;
        // The full no-go list, which every search restores when it ends.
        rc.nogoPointsAll = rc.nogoPoints;
        if (rc.allowSamewayback) addWayBack();

        TrackList refTracks(waypoints_.size() - 1);
        TrackList lastTracks(waypoints_.size() - 1);
        std::vector<std::string> messages;
        const std::int32_t alternatives = std::clamp(rc.alternativeIdx, 0, kMaxAlternativeIndex);
        for (std::int32_t i = 0; i <= alternatives;) {
            std::shared_ptr<OsmTrack> track;
            try {
                track = tryFindTrack(refTracks, lastTracks);
            } catch (const RoutingIslandException&) {
                retryAfterIsland();
                continue;
            }
            track->message = "track-length = " + std::to_string(track->distance) +
                             " filtered ascend = " + std::to_string(track->filteredAscend) +
                             " plain-ascend = " + std::to_string(track->plainAscend) +
                             " cost=" + std::to_string(track->cost);
            track->name = trackName(rc.profilePath, i);
            messages.push_back(*track->message);
            track->messageList = messages;
            if (i == alternatives) foundTrack_ = std::move(track);
            ++i;
        }
    } catch (const std::bad_alloc& failure) {
        cleanOnOOM();
        logException(failure);
    } catch (const std::exception& failure) {
        logException(failure);
    }
    ProfileCache::releaseProfile(rc);
    closeNodesCache();
    search_.clear();
}

void RoutingEngine::addWayBack() {
    // Out to the last waypoint and back over the same ones in reverse order.
    const std::size_t count = waypoints_.size();
    if (count == 2) {
        waypoints_.push_back(copyWithoutElevation(*waypoints_[0], "to"));
        return;
    }
    waypoints_.back()->name = "via" + std::to_string(count - 1) + "_center";
    for (std::size_t k = count - 1; k-- > 0;) {
        waypoints_.push_back(copyWithoutElevation(*waypoints_[k], k == 0 ? "to" : "via"));
    }
}

void RoutingEngine::retryAfterIsland() {
    if (routingContext_.useDynamicRange) {
        for (const std::shared_ptr<MatchedWaypoint>& waypoint : *matchedWaypoints_) {
            if (waypoint->name && waypoint->name->find("_add") != std::string::npos) {
                islandNodePairs_.addTempPair(waypoint->node1->getIdFromPos(), waypoint->node2->getIdFromPos());
            }
        }
    }
    islandNodePairs_.freezeTempPairs();
    if (nodesCache_) nodesCache_->clean(true);
    retireMatchedWaypoints();
}

void RoutingEngine::doGetInfo() {
    RoutingContext& rc = routingContext_;
    const auto close = util::onScopeExit([this] { closeNodesCache(); });
    try {
        startTime_ = jcompat::currentTimeMillis();
        rc.freeNoWays();

        auto info = std::make_shared<MatchedWaypoint>();
        info->waypoint = waypoints_[0];
        info->name = "wpt_info";
        retireMatchedWaypoints();
        matchedWaypoints_ = MatchedWaypointList{info};
        matchWaypointsToNodes(*matchedWaypoints_);

        resetCache(true);
        nodesCache_->nodesMap().cleanupMode = 0;
        OsmNode* start = nodesCache_->getGraphNode(*info->node1);
        nodesCache_->obtainNonHollowNode(start);
        // Taken now: the search below works on a graph of its own.
        const util::ByteArray startWayTags =
            start->firstLink != nullptr ? start->firstLink->wayTags : util::ByteArray();

        auto guide = std::make_shared<OsmTrack>();
        guide->addNode(std::make_shared<OsmPathElement>(info->node2->ilon, info->node2->ilat, 0, nullptr));
        guide->addNode(std::make_shared<OsmPathElement>(info->node1->ilon, info->node1->ilat, 0, nullptr));
        SearchSettings settings;
        settings.guideTrack = guide.get();
        settings.startWayHint = info->crossPoint.get();

        const auto segmentEnd = [&info](const OsmNode& at) {
            auto waypoint = std::make_shared<MatchedWaypoint>();
            waypoint->crossPoint = std::make_shared<OsmNode>(at.ilon, at.ilat);
            waypoint->node1 = std::make_shared<OsmNode>(info->node1->ilon, info->node1->ilat);
            waypoint->node2 = std::make_shared<OsmNode>(info->node2->ilon, info->node2->ilat);
            return waypoint;
        };
        retireMatchedWaypoints();
        matchedWaypoints_ = MatchedWaypointList{segmentEnd(*info->node1), segmentEnd(*info->node2)};

        std::shared_ptr<OsmTrack> track = findTrack("getinfo", *(*matchedWaypoints_)[0], (*matchedWaypoints_)[1].get(),
                                                    nullptr, nullptr, false, settings);
        if (!track) {
            if (!errorMessage_) errorMessage_ = "no track found";
        } else {
            track->messageList.emplace();
            track->matchedWaypoints = *matchedWaypoints_;
            track->name = "getinfo";
            // Worked out in both modes: a track it cannot be worked out on fails either way.
            std::shared_ptr<OsmNodeNamed> point = informationPoint(*track, *info);
            if (engineMode_ == 3) addInformationPoint(*track, std::move(point), info, startWayTags);
            foundTrack_ = std::move(track);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const RoutingIslandException&) {
        // The search along the segment died out (a no-go area over it): there
        // is no retry here, and the exception says nothing.
        errorMessage_ = "no track found";
    } catch (const std::exception& failure) {
        logException(failure);
    }
}

std::shared_ptr<OsmNodeNamed> RoutingEngine::informationPoint(const OsmTrack& track, const MatchedWaypoint& info) {
    const OsmNode& crossPoint = *info.crossPoint;
    const auto size = static_cast<std::int64_t>(track.points.size());
    // Points are read by index: a track too short for the two points, or
    // with no point nearer than the start distance, fails with an index
    // failure (the run's error), never with a read outside the track.
    const auto pointAt = [&track, size](std::int64_t k) -> const OsmPathElement& {
        if (k < 0 || k >= size) util::throwIndexOutOfBounds(k, size);
        return *track.points[static_cast<std::size_t>(k)];
    };
    std::int64_t nearest = -1;
    std::int32_t d1 = 99999;
    for (std::int64_t k = 0; k < size; ++k) {
        const std::int32_t d = pointAt(k).calcDistance(crossPoint);
        if (d < d1) {
            d1 = d;
            nearest = k;
        }
    }
    // The point after the nearest one, or the one before it at the end.
    const std::int64_t other = nearest == size - 1 ? nearest - 1 : nearest + 1;
    const std::int32_t d2 = pointAt(other).calcDistance(crossPoint);
    const std::int16_t e1 = pointAt(nearest).selev;
    const std::int16_t e2 = pointAt(other).selev;

    auto point = std::make_shared<OsmNodeNamed>(crossPoint.ilon, crossPoint.ilat, info.name);
    const double share = static_cast<double>(d1) / (d1 + d2);
    point->selev = static_cast<std::int16_t>(e1 + static_cast<std::int32_t>(share * (e2 - e1)));
    return point;
}

void RoutingEngine::addInformationPoint(OsmTrack& track, std::shared_ptr<OsmNodeNamed> point,
                                        const std::shared_ptr<MatchedWaypoint>& info, const util::ByteArray& wayTags) {
    point->nodeTags = wayTags;
    track.pois.push_back(std::move(point));
    track.matchedWaypoints = {info};
    track.exportWaypoints = routingContext_.exportWaypoints;
}

void RoutingEngine::doRoundTrip() {
    RoutingContext& rc = routingContext_;
    try {
        rc.useDynamicRange = true;
        // A negative radius mirrors the circle; a huge one would keep the service busy for minutes.
        if (rc.roundTripDistance && std::abs(std::int64_t{*rc.roundTripDistance}) > MAX_ROUND_TRIP_DISTANCE) {
            throw jcompat::IllegalArgumentException("roundTripDistance must lie between -" +
                                                    std::to_string(MAX_ROUND_TRIP_DISTANCE) + " and " +
                                                    std::to_string(MAX_ROUND_TRIP_DISTANCE) + " metres");
        }
        const double searchRadius = rc.roundTripDistance ? *rc.roundTripDistance : kDefaultRoundTripDistance;
        double direction = rc.startDirection ? *rc.startDirection : -1.0;
        if (direction == -1.0) direction = getRandomDirectionFromData(waypoints_[0], searchRadius);
        if (!rc.allowSamewayback) {
            buildPointsFromCircle(waypoints_, direction, searchRadius,
                                  rc.roundTripPoints.value_or(kDefaultRoundTripPoints));
        } else {
            // Out to one point and back the same way (the route run adds the way back).
            waypoints_.push_back(roundTripPoint(*waypoints_[0], searchRadius, direction, "rt1"));
        }
        rc.waypointCatchingRange = kRoundTripCatchingRange;
    } catch (const std::bad_alloc&) {
        endRoundTripWithoutRoute();
        throw;
    } catch (const std::exception& failure) {
        logException(failure);
        endRoundTripWithoutRoute();
        return;
    }
    doRouting(0);
}

void RoutingEngine::endRoundTripWithoutRoute() {
    // As a route run ends, so that the request's profile goes back to the cache.
    ProfileCache::releaseProfile(routingContext_);
    closeNodesCache();
    search_.clear();
}

void RoutingEngine::logException(const std::exception& failure) {
    if (const auto* runtime = dynamic_cast<const jcompat::RuntimeException*>(&failure)) {
        errorMessage_ = runtime->hasMessage() ? std::optional<std::string>(runtime->getMessage()) : std::nullopt;
    } else if (const auto* throwable = dynamic_cast<const jcompat::Throwable*>(&failure)) {
        errorMessage_ = throwable->toString();
    } else if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
        errorMessage_ = "OutOfMemoryError";
    } else {
        errorMessage_ = std::string("InternalError: ") + failure.what();
    }
}

double RoutingEngine::elevationFilter(const mapaccess::OsmPos& position) const {
    if (nodesCache_) {
        const std::int32_t lonDegree = position.getILon() / 1000000;
        for (const std::unique_ptr<mapaccess::OsmFile>& file : nodesCache_->fileRow(position.getILat() / 1000000)) {
            if (file->lonDegree() == lonDegree) return file->elevationType() == 1 ? -5.0 : -10.0;
        }
    }
    return -10.0;
}

void RoutingEngine::closeNodesCache() {
    if (!nodesCache_) return;
    nodesCache_->close();
    nodesCache_.reset();
}

void RoutingEngine::replaceMatchedWaypoints(MatchedWaypointList waypoints) {
    retireMatchedWaypoints();
    matchedWaypoints_ = std::move(waypoints);
}

void RoutingEngine::retireMatchedWaypoints() {
    // The node cache's matcher may still point at them: they live as long as the run.
    if (matchedWaypoints_) retiredWaypoints_.push_back(std::move(*matchedWaypoints_));
    matchedWaypoints_.reset();
}

} // namespace ferrow::router
