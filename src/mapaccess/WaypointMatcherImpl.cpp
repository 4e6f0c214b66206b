#include "mapaccess/WaypointMatcherImpl.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "jcompat/NumberText.h"
#include "mapaccess/OsmNodePairSet.h"
#include "util/CheapRuler.h"

namespace ferrow::mapaccess {

namespace {

using util::CheapRuler;

constexpr double kDegreesPerRadian = 57.29577951308232;

// Orders like the language's total order of doubles: NaN after every number
// (all NaNs alike), -0.0 before 0.0.
int compareDoubles(double a, double b) noexcept {
    if (a < b) {
        return -1;
    }
    if (a > b) {
        return 1;
    }
    const bool aNaN = std::isnan(a);
    const bool bNaN = std::isnan(b);
    if (aNaN || bNaN) {
        return aNaN == bNaN ? 0 : (aNaN ? 1 : -1);
    }
    const bool aNegative = std::signbit(a);
    const bool bNegative = std::signbit(b);
    return aNegative == bNegative ? 0 : (aNegative ? -1 : 1);
}

// Nearer first, then the better agreement with the direction of travel.
bool candidateBefore(const MatchedWaypoint& a, const MatchedWaypoint& b) noexcept {
    const int byRadius = compareDoubles(a.radius, b.radius);
    return byRadius != 0 ? byRadius < 0 : compareDoubles(a.directionDiff, b.directionDiff) < 0;
}

std::shared_ptr<OsmNode> nodeAt(std::int32_t ilon, std::int32_t ilat) { return std::make_shared<OsmNode>(ilon, ilat); }

} // namespace

WaypointMatcherImpl::WaypointMatcherImpl(std::span<MatchedWaypoint* const> waypoints, double maxDistance,
                                         const OsmNodePairSet* islandPairs)
    : waypoints_(waypoints.begin(), waypoints.end()), islandPairs_(islandPairs), maxDistance_(std::abs(maxDistance)) {
    for (MatchedWaypoint* mwp : waypoints_) {
        mwp->radius = maxDistance_;
    }
    for (std::size_t i = 1; i < waypoints_.size(); ++i) {
        MatchedWaypoint& previous = *waypoints_[i - 1];
        if (previous.directionToNext == -1.0) {
            previous.directionToNext = bearing(*previous.waypoint, *waypoints_[i]->waypoint);
        }
    }
    if (!waypoints_.empty()) {
        // The last waypoint looks back at the one before it.
        MatchedWaypoint& last = *waypoints_.back();
        last.directionToNext =
            waypoints_.size() > 1 ? bearing(*last.waypoint, *waypoints_[waypoints_.size() - 2]->waypoint) : -1.0;
    }
}

double WaypointMatcherImpl::bearing(std::int32_t ilonA, std::int32_t ilatA, std::int32_t ilonB, std::int32_t ilatB) {
    double degrees = std::atan2(static_cast<double>(jcompat::wrapSub(ilonB, ilonA)),
                                static_cast<double>(jcompat::wrapSub(ilatB, ilatA))) *
                     kDegreesPerRadian;
    if (degrees < 0.0) {
        degrees += 360.0;
    }
    return degrees;
}

bool WaypointMatcherImpl::start(std::int32_t ilonStart, std::int32_t ilatStart, std::int32_t ilonTarget,
                                std::int32_t ilatTarget, bool isStartWay) {
    if (islandPairs_ != nullptr && islandPairs_->size() > 0 &&
        islandPairs_->hasPair(OsmPos::idFromPos(ilonStart, ilatStart), OsmPos::idFromPos(ilonTarget, ilatTarget))) {
        return false;
    }
    lonStart_ = ilonStart;
    latStart_ = ilatStart;
    lonTarget_ = ilonTarget;
    latTarget_ = ilatTarget;
    lonLast_ = ilonStart;
    latLast_ = ilatStart;
    anyUpdate_ = false;
    firstWaypointAllowed_ = isStartWay;
    return true;
}

void WaypointMatcherImpl::transferNode(std::int32_t ilon, std::int32_t ilat) {
    checkSegment(lonLast_, latLast_, ilon, ilat);
    lonLast_ = ilon;
    latLast_ = ilat;
}

bool WaypointMatcherImpl::hasMatch(std::int32_t ilon, std::int32_t ilat) {
    for (const MatchedWaypoint* mwp : waypoints_) {
        if (mwp->waypoint->ilon == ilon && mwp->waypoint->ilat == ilat &&
            (mwp->radius < maxDistance_ || mwp->crossPoint != nullptr)) {
            return true;
        }
    }
    return false;
}

void WaypointMatcherImpl::checkSegment(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2) {
    const CheapRuler::Scales& scales = CheapRuler::scalesAt(jcompat::wrapAdd(lat1, lat2) >> 1);
    const double kx = scales.kx;
    const double ky = scales.ky;
    const double dx = kx * jcompat::wrapSub(lon2, lon1);
    const double dy = ky * jcompat::wrapSub(lat2, lat1);
    const double d = std::sqrt(dy * dy + dx * dx);
    if (d == 0.0) {
        return;
    }

    for (std::size_t i = 0; i < waypoints_.size(); ++i) {
        if (i == 0 && !firstWaypointAllowed_) {
            continue;
        }
        MatchedWaypoint& mwp = *waypoints_[i];
        const OsmNode& w = *mwp.waypoint;

        // A straight-line leg's start needs no way: it stays where it is.
        if (mwp.kind == 3 && (i == 0 || waypoints_[i - 1]->kind == 3)) {
            if (mwp.crossPoint == nullptr) {
                mwp.crossPoint = nodeAt(w.ilon, w.ilat);
                mwp.hasUpdate = true;
                anyUpdate_ = true;
            }
            continue;
        }

        const double ax = kx * jcompat::wrapSub(lon1, w.ilon);
        const double ay = ky * jcompat::wrapSub(lat1, w.ilat);
        const double bx = kx * jcompat::wrapSub(lon2, w.ilon);
        const double by = ky * jcompat::wrapSub(lat2, w.ilat);
        const double d1 = ax * ax + ay * ay;
        const double d2 = bx * bx + by * by;
        // Distance to the segment's line, measured from the nearer end.
        double distance = std::abs(d1 < d2 ? dx * ay - dy * ax : dx * by - dy * bx) / d;
        if (distance > mwp.radius) {
            continue;
        }
        double s1 = dx * ax + dy * ay;
        double s2 = dx * bx + dy * by;
        if (s1 < 0.0) {
            s1 = -s1;
            s2 = -s2;
        }
        if (s2 > 0.0) {
            // The foot of the perpendicular lies beyond an end: the end is nearest.
            distance = std::sqrt(std::abs(s1) < std::abs(s2) ? d1 : d2);
            if (mwp.radius < distance) {
                continue;
            }
        }

        mwp.radius = distance;
        mwp.hasUpdate = true;
        anyUpdate_ = true;
        if (mwp.crossPoint == nullptr) {
            mwp.crossPoint = std::make_shared<OsmNode>();
        }
        OsmNode& crossPoint = *mwp.crossPoint;
        if (s2 < 0.0) {
            const double lambda = -s2 / (d * d);
            crossPoint.ilon = jcompat::toInt(w.ilon + (bx - dx * lambda) / kx);
            crossPoint.ilat = jcompat::toInt(w.ilat + (by - dy * lambda) / ky);
        } else if (s2 < std::abs(s1)) {
            crossPoint.ilon = lon2;
            crossPoint.ilat = lat2;
        } else {
            crossPoint.ilon = lon1;
            crossPoint.ilat = lat1;
        }
    }
}

void WaypointMatcherImpl::end() {
    checkSegment(lonLast_, latLast_, lonTarget_, latTarget_);
    if (!anyUpdate_) {
        return;
    }
    for (MatchedWaypoint* mwp : waypoints_) {
        if (!mwp->hasUpdate) {
            continue;
        }
        mwp->hasUpdate = false;
        addCandidate(*mwp, lonStart_, latStart_, lonTarget_, latTarget_, "_w_");
        addCandidate(*mwp, lonTarget_, latTarget_, lonStart_, latStart_, "_w2_");

        const MatchedWaypoint& best = mwp->nearestWays.front();
        mwp->crossPoint->ilon = best.crossPoint->ilon;
        mwp->crossPoint->ilat = best.crossPoint->ilat;
        mwp->node1 = nodeAt(best.node1->ilon, best.node1->ilat);
        mwp->node2 = nodeAt(best.node2->ilon, best.node2->ilat);
        mwp->directionDiff = best.directionDiff;
        mwp->radius = best.radius;
    }
}

void WaypointMatcherImpl::addCandidate(MatchedWaypoint& mwp, std::int32_t fromLon, std::int32_t fromLat,
                                       std::int32_t toLon, std::int32_t toLat, const char* nameTag) {
    double diff = std::fmod(bearing(fromLon, fromLat, toLon, toLat) - mwp.directionToNext, 360.0);
    if (diff < -180.0) {
        diff += 360.0;
    } else if (diff >= 180.0) {
        diff -= 360.0;
    }
    const OsmNode& crossPoint = *mwp.crossPoint;
    MatchedWaypoint candidate;
    candidate.waypoint = nodeAt(mwp.waypoint->ilon, mwp.waypoint->ilat);
    candidate.crossPoint = nodeAt(crossPoint.ilon, crossPoint.ilat);
    candidate.node1 = nodeAt(fromLon, fromLat);
    candidate.node2 = nodeAt(toLon, toLat);
    candidate.name =
        mwp.name.value_or("null") + nameTag + std::to_string(jcompat::wrapAdd(crossPoint.ilat, crossPoint.ilon));
    candidate.radius = mwp.radius;
    candidate.directionDiff = std::abs(diff);
    candidate.directionToNext = mwp.directionToNext;
    updateWayList(mwp.nearestWays, std::move(candidate));
}

void WaypointMatcherImpl::updateWayList(std::vector<MatchedWaypoint>& ways, MatchedWaypoint candidate) {
    // The list is kept sorted, so a stable sort after appending puts the new
    // entry after every entry that does not order behind it.
    const auto position = std::upper_bound(ways.begin(), ways.end(), candidate, candidateBefore);
    ways.insert(position, std::move(candidate));
    if (ways.size() > MAX_CANDIDATES) {
        ways.erase(ways.begin() + static_cast<std::ptrdiff_t>(MAX_CANDIDATES));
    }
}

} // namespace ferrow::mapaccess
