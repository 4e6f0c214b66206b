// The engine's waypoint matching, and the correction of misplaced via points
// where two legs of a route meet.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

#include "jcompat/Exceptions.h"
#include "mapaccess/WaypointMatcherImpl.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingEngine.h"
#include "router/engine/RoutingIslandException.h"
#include "router/guidance/VoiceHint.h"
#include "util/ScopeExit.h"

namespace ferrow::router {

using mapaccess::MatchedWaypoint;
using mapaccess::OsmNode;

namespace {

// Classifier-mask bit of a roundabout way.
constexpr std::int32_t kRoundaboutMask = 4;

std::shared_ptr<OsmNode> nodeAt(const mapaccess::OsmPos& position) {
    return std::make_shared<OsmNode>(position.getILon(), position.getILat());
}

// An end of a bridge search: a waypoint at the point, on the segment towards the other.
MatchedWaypoint bridgeEnd(const char* name, const OsmPathElement& at, const OsmPathElement& other) {
    MatchedWaypoint waypoint;
    waypoint.name = name;
    waypoint.waypoint = nodeAt(at);
    waypoint.crossPoint = nodeAt(at);
    waypoint.node1 = nodeAt(at);
    waypoint.node2 = nodeAt(other);
    return waypoint;
}

bool isRoundabout(const OsmPathElement& point) {
    return point.message && (point.message->classifierMask & kRoundaboutMask) != 0;
}

// The absolute difference of two bearings, in [0, 180].
double bearingDifference(double fore, double back) {
    double diff = std::fmod(fore - back, 360.0);
    if (diff < -180.0) {
        diff += 360.0;
    } else if (diff >= 180.0) {
        diff -= 360.0;
    }
    return std::abs(diff);
}

// Cost, time and energy at a point: the values a leg is re-based by.
struct PointTotals {
    std::int32_t cost = 0;
    float time = 0.0f;
    float energy = 0.0f;

    static PointTotals of(const OsmPathElement& point) {
        PointTotals totals;
        totals.cost = point.cost;
        if (point.message) {
            totals.time = point.message->time;
            totals.energy = point.message->energy;
        }
        return totals;
    }
};

// Makes the leg start at 0 at its (new) first point, which was at oldIndex
// before the cut: only when two or more points left the leg and the first
// point's time is above 0.
void rebaseLeg(OsmTrack& leg, std::size_t oldIndex, const PointTotals& first) {
    if (oldIndex < 2 || !(first.time > 0.0f)) return;
    for (const std::shared_ptr<OsmPathElement>& point : leg.points) {
        point->cost -= first.cost;
        if (point->message) {
            point->message->time -= first.time;
            point->message->energy -= first.energy;
        }
    }
}

void takeCostsOfLastPoints(OsmTrack& tt, OsmTrack& t) {
    if (!tt.points.empty()) tt.cost = tt.points.back()->cost;
    if (!t.points.empty()) t.cost = t.points.back()->cost;
}

} // namespace

void RoutingEngine::matchWaypointsToNodes(MatchedWaypointList& waypoints) {
    RoutingContext& rc = routingContext_;
    resetCache(false);
    bool matched = nodesCache_->matchWaypointsToNodes(waypoints, rc.waypointCatchingRange, &islandNodePairs_);
    if (!matched && rc.useDynamicRange) {
        // The unmatched and the far waypoints again, with a radius up to the dynamic range.
        resetCache(false);
        MatchedWaypointList far;
        for (const std::shared_ptr<MatchedWaypoint>& waypoint : waypoints) {
            if (!waypoint->crossPoint || waypoint->radius >= rc.waypointCatchingRange) far.push_back(waypoint);
        }
        matched = nodesCache_->matchWaypointsToNodes(far, -static_cast<double>(MAX_DYNAMIC_RANGE), &islandNodePairs_);
    }
    if (!matched) {
        std::string name = "null";
        for (const std::shared_ptr<MatchedWaypoint>& waypoint : waypoints) {
            if (!waypoint->crossPoint) {
                name = waypoint->name.value_or("null");
                break;
            }
        }
        throw jcompat::IllegalArgumentException(name + "-position not mapped in existing datafile");
    }
    if (rc.useDynamicRange && rc.addBeeline) addBeelineWaypoints(waypoints);
}

void RoutingEngine::addBeelineWaypoints(MatchedWaypointList& waypoints) {
    const double range = routingContext_.waypointCatchingRange;
    MatchedWaypointList rebuilt;
    rebuilt.reserve(waypoints.size() * 3);
    for (std::size_t i = 0; i < waypoints.size(); ++i) {
        const std::shared_ptr<MatchedWaypoint>& waypoint = waypoints[i];
        const OsmNode& requested = *waypoint->waypoint;
        const OsmNode& crossPoint = *waypoint->crossPoint;
        if (requested.calcDistance(crossPoint) <= range) {
            rebuilt.push_back(waypoint);
            continue;
        }
        const std::string newName = waypoint->name.value_or("null") + "_add";
        if (i == 0) {
            // A far start: a straight line from the requested point to the road.
            auto from = std::make_shared<MatchedWaypoint>();
            from->waypoint = std::make_shared<OsmNodeNamed>(requested.ilon, requested.ilat, "from");
            from->name = "from";
            from->crossPoint = nodeAt(requested);
            from->kind = OsmNodeNamed::KIND_STRAIGHT;
            rebuilt.push_back(std::move(from));
            waypoint->waypoint = std::make_shared<OsmNodeNamed>(crossPoint.ilon, crossPoint.ilat, newName);
            waypoint->name = newName;
            rebuilt.push_back(waypoint);
            continue;
        }
        // A far later point: a straight line from the road to it (and back
        // again for a via point).
        auto roadSide = std::make_shared<MatchedWaypoint>();
        roadSide->waypoint = std::make_shared<OsmNodeNamed>(crossPoint.ilon, crossPoint.ilat, newName);
        roadSide->name = waypoint->name;
        roadSide->crossPoint = nodeAt(crossPoint);
        roadSide->node1 = nodeAt(*waypoint->node1);
        roadSide->node2 = nodeAt(*waypoint->node2);
        roadSide->kind = OsmNodeNamed::KIND_STRAIGHT;
        rebuilt.push_back(roadSide);
        waypoint->name = newName;
        rebuilt.push_back(waypoint);
        if (newName.starts_with("via")) {
            waypoint->kind = OsmNodeNamed::KIND_STRAIGHT;
            auto back = std::make_shared<MatchedWaypoint>();
            back->waypoint = std::make_shared<OsmNodeNamed>(crossPoint.ilon, crossPoint.ilat, newName + "_2");
            back->name = newName + "_2";
            back->crossPoint = nodeAt(*roadSide->crossPoint);
            back->node1 = nodeAt(*roadSide->node1);
            back->node2 = nodeAt(*roadSide->node2);
            back->kind = OsmNodeNamed::KIND_ORDINARY;
            rebuilt.push_back(std::move(back));
        }
        waypoint->crossPoint = nodeAt(requested);
    }
    waypoints = std::move(rebuilt);
}

std::shared_ptr<OsmTrack> RoutingEngine::getExtraSegment(const OsmPathElement* from, const OsmPathElement* to) {
    if (from == nullptr || to == nullptr) return nullptr;
    const MatchedWaypoint start = bridgeEnd("wptx1", *from, *to);
    const MatchedWaypoint end = bridgeEnd("wptx2", *to, *from);

    auto guide = std::make_shared<OsmTrack>();
    guide->addNode(std::make_shared<OsmPathElement>(from->ilon, from->ilat, from->selev, nullptr));
    guide->addNode(std::make_shared<OsmPathElement>(to->ilon, to->ilat, to->selev, nullptr));

    RoutingContext& rc = routingContext_;
    const bool correctViaPoints = std::exchange(rc.correctMisplacedViaPoints, false);
    const auto restore =
        util::onScopeExit([&rc, correctViaPoints] { rc.correctMisplacedViaPoints = correctViaPoints; });
    SearchSettings settings;
    settings.guideTrack = guide.get();
    try {
        return findTrack("getinfo", start, &end, nullptr, nullptr, false, settings);
    } catch (const RoutingIslandException&) {
        return nullptr; // the bridge search ran dry: no bridge, as when it finds nothing
    }
}

void RoutingEngine::snapPathConnection(OsmTrack& tt, OsmTrack& t, const MatchedWaypoint& startWp) {
    const RoutingContext& rc = routingContext_;
    if (!startWp.name || !(startWp.name->starts_with("via") || startWp.name->starts_with("rt"))) return;
    if (tt.points.empty() || t.points.empty() || !startWp.crossPoint) return;
    for (const std::shared_ptr<OsmNodeNamed>& poi : rc.poiList) {
        if (poi->calcDistance(*startWp.crossPoint) < rc.waypointCatchingRange) return;
    }

    auto& back = tt.points;
    auto& fore = t.points;
    const std::size_t n = back.size();
    const std::size_t lo =
        n - 1 > static_cast<std::size_t>(MAX_STEPS_CHECK) ? std::max<std::size_t>(1, n - 1 - MAX_STEPS_CHECK) : 1;
    const std::size_t maxSteps = n > lo ? n - lo : 0;
    const double maxLength = rc.correctMisplacedViaPointsDistance;

    // Direction walk: do the legs run back along each other, or through a
    // roundabout at the joint?
    bool backFlag = false;
    bool foreFlag = false;
    std::int64_t backStep = 0;
    std::int64_t foreStep = 0;
    std::optional<std::size_t> meetingIndex;
    std::optional<std::pair<std::size_t, std::size_t>> roundaboutAt; // (s, i)
    const OsmPathElement* reference = nullptr;
    for (std::size_t s = 0; s < fore.size() && s + lo < n; ++s) {
        const std::size_t i = n - 1 - s;
        const OsmPathElement& b = *back[i];
        const OsmPathElement& f = *fore[s];
        if (isRoundabout(b)) {
            backFlag = true;
            backStep = static_cast<std::int64_t>(s);
        }
        if (!foreFlag && isRoundabout(f)) {
            foreFlag = true;
            foreStep = static_cast<std::int64_t>(s);
        } else if (b.positionEquals(f) && isRoundabout(b)) {
            foreFlag = true;
            foreStep = static_cast<std::int64_t>(s);
        }
        if (s == 0) {
            reference = &f;
        } else {
            const double backBearing = mapaccess::WaypointMatcherImpl::bearing(*reference, b);
            const double foreBearing = mapaccess::WaypointMatcherImpl::bearing(*reference, f);
            if (!backFlag && !foreFlag && bearingDifference(foreBearing, backBearing) > 60.0) break;
        }
        if (backFlag != foreFlag && static_cast<std::int64_t>(s) - std::llabs(foreStep - backStep) > 8) break;
        if (b.positionEquals(f)) meetingIndex = i;
        if (backFlag && foreFlag) {
            roundaboutAt = std::pair{s, i};
            break;
        }
    }

    if (roundaboutAt) {
        correctAtRoundabout(tt, t, roundaboutAt->first, roundaboutAt->second, meetingIndex);
        return;
    }

    // Spur correction: the pairs of coinciding points from the joint outwards.
    std::vector<std::size_t> backIndexes; // of the recorded back points, junction last
    std::size_t foreJunction = 0;
    double spurLength = 0.0;
    for (std::size_t k = 0; k < maxSteps && k < fore.size(); ++k) {
        const std::size_t j = n - 1 - k;
        const std::int32_t c = back[j]->calcDistance(*fore[k]);
        if (c == 1 && k >= 1) {
            if (k == 1) backIndexes.push_back(n - 1);
            backIndexes.push_back(j);
            foreJunction = k;
            spurLength += fore[k - 1]->calcDistance(*fore[k]);
        }
        const bool goesOn = c < 2 && j != 1 && k + 1 < maxSteps && k + 1 < fore.size();
        if (!goesOn) break;
        if (maxLength > 0.0 && spurLength > maxLength) return;
    }
    if (backIndexes.empty()) return;

    // The last pair is the junction: its points stay, as the track's new last
    // point and the leg's new first point.
    const std::size_t backJunction = backIndexes.back();
    const PointTotals first = foreJunction >= 2 ? PointTotals::of(*fore[foreJunction]) : PointTotals{};
    back.erase(back.begin() + static_cast<std::ptrdiff_t>(backJunction) + 1, back.end());
    fore.erase(fore.begin(), fore.begin() + static_cast<std::ptrdiff_t>(foreJunction));
    if (tt.turnHints) {
        auto& hints = tt.turnHints->hints;
        for (const std::size_t index : backIndexes) {
            const auto last = std::find_if(hints.rbegin(), hints.rend(), [index](const VoiceHint& hint) {
                return hint.trackIndex == static_cast<std::int64_t>(index);
            });
            if (last != hints.rend()) hints.erase(std::next(last).base());
        }
    }
    rebaseLeg(t, foreJunction, first);
    if (fore.size() >= 2 && !back.empty()) takeCostsOfLastPoints(tt, t);
}

void RoutingEngine::correctAtRoundabout(OsmTrack& tt, OsmTrack& t, std::size_t s, std::size_t i,
                                        std::optional<std::size_t> meetingIndex) {
    auto& back = tt.points;
    auto& fore = t.points;
    const std::size_t n = back.size();

    // The roundabout's entry on the track so far, and its exit on the next leg.
    std::size_t e = i - 1;
    while (isRoundabout(*back[e]) && e > 0) --e;
    const std::shared_ptr<OsmPathElement> entry = back[e];
    std::size_t x = s;
    if (s + 1 < fore.size() && isRoundabout(*fore[s + 1])) {
        x = fore.size() - 1;
        for (std::size_t k = s + 2; k < fore.size(); ++k) {
            if (!isRoundabout(*fore[k])) {
                x = k;
                break;
            }
        }
    }
    const std::shared_ptr<OsmPathElement> exit = fore[x];
    const std::shared_ptr<OsmPathElement> meeting = back[meetingIndex.value_or(n - 1)];
    const bool meetingInRoundabout = isRoundabout(*meeting);

    std::int64_t stretch = 0;
    bool entryPassed = false;
    std::size_t qE = 0;
    std::size_t qM = 0;
    for (std::size_t k = 0; k < x; ++k) {
        if (k > 0) stretch += fore[k - 1]->calcDistance(*fore[k]);
        if (fore[k]->positionEquals(*entry)) {
            entryPassed = true;
            qE = k;
        }
        if (fore[k]->positionEquals(*meeting)) qM = k;
    }
    const double maxLength = routingContext_.correctMisplacedViaPointsDistance;
    if (maxLength > 0.0 && static_cast<double>(static_cast<std::int32_t>(stretch)) > maxLength) return;

    const bool plain = !entryPassed && !meetingInRoundabout;
    std::size_t backCut = 2;
    if (entryPassed) {
        backCut = e;
    } else {
        for (std::size_t k = meetingIndex.value_or(n - 1); k >= 3; --k) {
            if (isRoundabout(*back[k])) {
                backCut = k;
                break;
            }
        }
    }
    const std::size_t foreLimit = meetingInRoundabout ? (entryPassed ? qE : qM) : x;
    const OsmPathElement& foreTarget = entryPassed ? *entry : *exit;

    if (backCut + 1 < back.size()) back.erase(back.begin() + static_cast<std::ptrdiff_t>(backCut) + 1, back.end());
    const std::shared_ptr<OsmPathElement> last = back.back();

    std::size_t p = foreLimit;
    for (std::size_t k = 0; k < foreLimit; ++k) {
        if (fore[k]->positionEquals(foreTarget) || (plain && isRoundabout(*fore[k]))) {
            p = k;
            break;
        }
    }
    const PointTotals first = p >= 2 ? PointTotals::of(*fore[p]) : PointTotals{};
    fore.erase(fore.begin(), fore.begin() + static_cast<std::ptrdiff_t>(p));
    rebaseLeg(t, p, first);

    if (plain) bridgeToDetour(tt, t, last);
    takeCostsOfLastPoints(tt, t);
}

void RoutingEngine::bridgeToDetour(OsmTrack& tt, OsmTrack& t, const std::shared_ptr<OsmPathElement>& last) {
    const OsmTrack::OsmPathElementHolder* chain = tt.getFromDetourMap(last->getIdFromPos());
    if (chain == nullptr || !chain->element) return;
    const std::shared_ptr<OsmPathElement> detour = chain->element;
    const std::shared_ptr<OsmTrack> bridge = getExtraSegment(last.get(), detour.get());
    if (!bridge) return;

    const PointTotals base = PointTotals::of(*last);
    PointTotals end;
    bool afterLast = false;
    for (const std::shared_ptr<OsmPathElement>& point : bridge->points) {
        if (!afterLast) {
            afterLast = point->positionEquals(*last);
            continue;
        }
        if (point->positionEquals(*detour)) {
            end = PointTotals::of(*point);
            break;
        }
        point->cost += base.cost;
        if (point->message) {
            point->message->time += base.time;
            point->message->energy += base.energy;
        }
        tt.points.push_back(point);
    }
    detour->cost = end.cost + base.cost;
    if (detour->message) {
        detour->message->time = base.time + end.time;
        detour->message->energy = base.energy + end.energy;
    }
    tt.points.push_back(detour);
    t.points.push_front(detour);
}

} // namespace ferrow::router
