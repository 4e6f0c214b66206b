// One attempt of a route run: the waypoints matched and checked, each leg
// searched in passes, the legs joined into one track and the track finished.
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/InputStream.h"
#include "router/costing/OsmPath.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/RoutingEngine.h"
#include "router/engine/SearchCutShortException.h"
#include "router/track/TrackTotals.h"
#include "util/ScopeExit.h"

namespace ferrow::router {

using mapaccess::MatchedWaypoint;
using mapaccess::OsmLink;
using mapaccess::OsmNode;

namespace {

// Grid units within which a stored reference track's end counts as the target.
constexpr std::int32_t kReferenceTargetTolerance = 20;
// How far a stored reference track's no-go checksums may differ from the request's.
constexpr std::int64_t kReferenceChecksumTolerance = 20;

} // namespace

std::shared_ptr<OsmTrack> RoutingEngine::tryFindTrack(TrackList& refTracks, TrackList& lastTracks) {
    RoutingContext& rc = routingContext_;
    auto totalTrack = std::make_shared<OsmTrack>();
    std::size_t unmatched = waypoints_.size();
    bool straight = false;

    // Arrays of the wrong size are replaced for this attempt only.
    TrackList ownRefTracks;
    TrackList ownLastTracks;
    TrackList* refs = &refTracks;
    TrackList* lasts = &lastTracks;
    const auto useOwnArrays = [&](std::size_t legs) {
        ownRefTracks.assign(legs, nullptr);
        ownLastTracks.assign(legs, nullptr);
        refs = &ownRefTracks;
        lasts = &ownLastTracks;
        straight = true;
    };
    if (lasts->size() + 1 < waypoints_.size()) useOwnArrays(waypoints_.size() - 1);

    for (const std::shared_ptr<OsmNodeNamed>& waypoint : waypoints_) {
        if (waypoint->waypointKind == OsmNodeNamed::KIND_STRAIGHT) straight = true;
    }

    std::shared_ptr<OsmTrack> nearbyTrack;
    if (!straight && waypoints_.size() >= 2 && !(*lasts)[waypoints_.size() - 2] && rc.rawTrackPath &&
        jcompat::File(*rc.rawTrackPath).exists()) {
        nearbyTrack = readReferenceTrack(*rc.rawTrackPath, *waypoints_.back());
        if (nearbyTrack) --unmatched; // the stored track's end stands in for the last waypoint
    }

    if (!matchedWaypoints_) {
        MatchedWaypointList matched;
        for (std::size_t i = 0; i < unmatched; ++i) {
            auto mwp = std::make_shared<MatchedWaypoint>();
            mwp->waypoint = waypoints_[i];
            mwp->name = waypoints_[i]->name;
            mwp->kind = waypoints_[i]->waypointKind;
            matched.push_back(std::move(mwp));
        }
        const std::size_t requested = matched.size();
        matchedWaypoints_ = std::move(matched);
        matchWaypointsToNodes(*matchedWaypoints_);
        if (matchedWaypoints_->size() > requested) useOwnArrays(matchedWaypoints_->size() - 1);
        checkWaypointsAgainstNogos();
        checkIslands();
        if (nearbyTrack) matchedWaypoints_->push_back(nearbyTrack->endWaypoint);
    } else if (lasts->size() + 1 < matchedWaypoints_->size()) {
        useOwnArrays(matchedWaypoints_->size() - 1);
    }

    // Handed to the turn instructions, which treat routes with straight legs apart.
    rc.hasDirectRouting = straight;

    MatchedWaypointList& matched = *matchedWaypoints_;
    for (std::size_t i = 0; i + 1 < matched.size(); ++i) {
        if ((*lasts)[i]) {
            if (!(*refs)[i]) (*refs)[i] = std::make_shared<OsmTrack>();
            (*refs)[i]->addPointsOf(*(*lasts)[i]);
        }
        const OsmTrack* refTrack = (*refs)[i].get();
        std::shared_ptr<OsmTrack> seg;
        std::size_t waypointIndex = i;
        if (rc.inverseRouting) {
            seg = searchTrack(matched[i + 1], matched[i], nullptr, refTrack, true);
            waypointIndex = i + 1;
        } else {
            seg = searchTrack(matched[i], matched[i + 1], i + 2 == matched.size() ? nearbyTrack : nullptr, refTrack);
            if (rc.continueStraight && i + 2 < matched.size()) addViaPointNogo(*seg, *matched[i + 1], i + 1);
        }
        const MatchedWaypoint& joint = *matched[i];
        if (rc.correctMisplacedViaPoints && joint.kind != OsmNodeNamed::KIND_STRAIGHT &&
            joint.kind != OsmNodeNamed::KIND_VIA && !rc.allowSamewayback) {
            snapPathConnection(*totalTrack, *seg, rc.inverseRouting ? *matched[i + 1] : joint);
        }
        if (waypointIndex > 0) {
            matched[waypointIndex]->indexInTrack = static_cast<std::int32_t>(totalTrack->points.size()) - 1;
        }
        totalTrack->appendLeg(*seg);
        (*lasts)[i] = std::move(seg);
    }

    TrackTotals::fillMissingElevations(*totalTrack);
    TrackTotals::recalculate(*totalTrack, rc, [this](const OsmPathElement& point) { return elevationFilter(point); });

    matched.back()->indexInTrack = static_cast<std::int32_t>(totalTrack->points.size()) - 1;
    totalTrack->matchedWaypoints = matched;
    totalTrack->processVoiceHints(rc);
    totalTrack->showtime = rc.showtime;
    totalTrack->profileOverrides = rc.keyValues;
    if (!rc.poiList.empty()) totalTrack->pois = rc.poiList;
    return totalTrack;
}

void RoutingEngine::addViaPointNogo(const OsmTrack& seg, const MatchedWaypoint& via, std::size_t number) {
    const bool atNode1 = seg.pointMap && seg.pointMap->contains(via.node1->getIdFromPos());
    const OsmNode& node = atNode1 ? *via.node1 : *via.node2;
    auto nogo = std::make_shared<OsmNodeNamed>(node.ilon, node.ilat, "nogo" + std::to_string(number));
    nogo->radius = 5.0;
    nogo->nogoWeight = 9999.0;
    nogo->isNogo = true;
    routingContext_.nogoPoints.push_back(std::move(nogo));
}

void RoutingEngine::checkWaypointsAgainstNogos() {
    const RoutingContext& rc = routingContext_;
    MatchedWaypointList& matched = *matchedWaypoints_;
    if (rc.nogoPoints.empty() || matched.size() < 2) return;

    MatchedWaypointList kept;
    const MatchedWaypoint* previous = nullptr;
    bool previousInside = false;
    std::size_t dropped = 0;
    for (std::size_t i = 0; i < matched.size(); ++i) {
        const std::shared_ptr<MatchedWaypoint>& waypoint = matched[i];
        bool inside = false;
        for (const std::shared_ptr<OsmNodeNamed>& nogo : rc.nogoPoints) {
            if (std::isnan(nogo->nogoWeight) && PathSearch::nogoHolds(*nogo, *waypoint->crossPoint)) {
                inside = true;
                break;
            }
        }
        if (!inside) {
            kept.push_back(waypoint);
            previousInside = false;
        } else if (i == 0 || waypoint->kind == OsmNodeNamed::KIND_STRAIGHT ||
                   previous->kind == OsmNodeNamed::KIND_STRAIGHT || previousInside) {
            kept.push_back(waypoint);
            previousInside = true;
        } else if (i + 1 == matched.size()) {
            throw jcompat::IllegalArgumentException("last wpt in restricted area ");
        } else {
            ++dropped;
            previousInside = false;
        }
        previous = waypoint.get();
    }
    if (kept.size() < 2) throw jcompat::IllegalArgumentException("a wpt in restricted area ");
    if (dropped > 0) replaceMatchedWaypoints(std::move(kept));
}

void RoutingEngine::checkIslands() {
    const RoutingContext& rc = routingContext_;
    const MatchedWaypointList& matched = *matchedWaypoints_;
    airDistanceCostFactor_ = 0.0;
    // Each check searches against the route's direction, from the leg's far
    // end, and gives up after a few nodes.
    SearchSettings check;
    check.nodeLimit = MAXNODES_ISLAND_CHECK;
    check.inverseDirection = !rc.inverseRouting;
    for (std::size_t i = 0; i + 1 < matched.size(); ++i) {
        if (matched[i]->kind == OsmNodeNamed::KIND_STRAIGHT) continue;
        std::shared_ptr<OsmTrack> track;
        if (rc.inverseRouting) {
            track = findTrack("start-island-check", *matched[i], matched[i + 1].get(), nullptr, nullptr, false, check);
        } else {
            track = findTrack("target-island-check", *matched[i + 1], matched[i].get(), nullptr, nullptr, false, check);
        }
        if (!track && !lastSearchReachedNodeLimit()) {
            throw jcompat::IllegalArgumentException(
                (rc.inverseRouting ? "start island detected for section " : "target island detected for section ") +
                std::to_string(i));
        }
    }
}

std::shared_ptr<OsmTrack> RoutingEngine::readReferenceTrack(const std::string& path, const OsmNodeNamed& target) {
    try {
        jcompat::DataInputStream in{jcompat::BufferedInputStream(jcompat::FileInputStream(jcompat::File(path)))};
        auto endWaypoint = std::make_shared<MatchedWaypoint>(MatchedWaypoint::readFromStream(in));
        const std::int64_t dlon = std::int64_t{endWaypoint->waypoint->ilon} - target.ilon;
        const std::int64_t dlat = std::int64_t{endWaypoint->waypoint->ilat} - target.ilat;
        if (std::abs(dlon) >= kReferenceTargetTolerance || std::abs(dlat) >= kReferenceTargetTolerance) {
            in.close();
            return nullptr;
        }

        auto track = std::make_shared<OsmTrack>();
        track->endWaypoint = std::move(endWaypoint);
        const std::int32_t count = in.readInt();
        OsmPathElement* previous = nullptr;
        for (std::int32_t i = 0; i < count; ++i) {
            const std::int32_t ilat = in.readInt();
            const std::int32_t ilon = in.readInt();
            const std::int16_t selev = in.readShort();
            auto point = std::make_shared<OsmPathElement>(ilon, ilat, selev, previous);
            point->cost = in.readInt();
            previous = point.get();
            track->points.push_back(std::move(point));
        }
        if (track->points.empty()) return nullptr;
        track->cost = track->points.back()->cost;
        track->buildMap();

        // The trailer may end anywhere: what is missing counts as 0 or false.
        std::array<std::int64_t, 3> checksums{};
        bool dirty = false;
        std::int64_t profileStamp = 0;
        try {
            for (std::int64_t& checksum : checksums) checksum = in.readLong();
            dirty = in.readByte() != 0;
            profileStamp = in.readLong();
        } catch (const jcompat::EOFException&) {
        }
        track->dirty = dirty;

        const std::array<std::int64_t, 3> current = routingContext_.getNogoChecksums();
        bool nogoCheckOk = true;
        for (std::size_t i = 0; i < checksums.size(); ++i) {
            const std::int64_t difference = checksums[i] - current[i];
            if (difference > kReferenceChecksumTolerance || difference < -kReferenceChecksumTolerance) {
                nogoCheckOk = false;
            }
        }
        const bool profileCheckOk = profileStamp == routingContext_.profileTimestamp;
        in.close();
        return nogoCheckOk && profileCheckOk ? track : nullptr;
    } catch (const jcompat::Exception&) {
        // An unreadable reference track is only a missed shortcut.
        return nullptr;
    }
}

std::shared_ptr<OsmTrack> RoutingEngine::searchTrack(const std::shared_ptr<MatchedWaypoint>& startWp,
                                                     const std::shared_ptr<MatchedWaypoint>& endWp,
                                                     const std::shared_ptr<OsmTrack>& nearbyTrack,
                                                     const OsmTrack* refTrack, bool inverseDirection) {
    RoutingContext& rc = routingContext_;
    const auto restoreNogos = util::onScopeExit([&rc] { rc.restoreNogoList(); });
    const MatchedWaypoint& start = *startWp;
    const MatchedWaypoint& end = *endWp;

    if (start.kind == OsmNodeNamed::KIND_STRAIGHT) return straightLeg(start, end, inverseDirection);
    SearchSettings settings;
    settings.inverseDirection = inverseDirection;

    // A match path of an earlier leg says nothing about this one.
    matchPath_ = nullptr;
    const double factors[2] = {rc.pass1coefficient, rc.pass2coefficient};
    std::shared_ptr<OsmTrack> track;
    bool dirty = false;
    std::optional<SearchCutShortException> reroutingFailure;

    if (nearbyTrack) {
        airDistanceCostFactor_ = 0.0;
        try {
            track = findTrack("re-routing", start, &end, nearbyTrack.get(), refTrack, true, settings);
        } catch (const SearchCutShortException& failure) {
            if (isTerminated()) throw;
            if (matchPath_ != nullptr) {
                // Cut short, but it met the stored track: use the partial result joined with it.
                track = mergeTrack(*matchPath_, *nearbyTrack);
                dirty = true;
                reroutingFailure = failure;
            }
            if (maxRunningTime_ > 0) maxRunningTime_ += jcompat::currentTimeMillis() - startTime_;
        }
    }

    if (!track) {
        for (int pass = 0; pass < 2; ++pass) {
            airDistanceCostFactor_ = factors[pass];
            if (pass == 1) lastAirDistanceCostFactor_ = factors[0];
            if (factors[pass] < 0.0) continue;
            std::shared_ptr<OsmTrack> found;
            try {
                found = findTrack(pass == 0 ? "pass0" : "pass1", start, &end, track.get(), refTrack, false, settings);
            } catch (const SearchCutShortException&) {
                if (!isTerminated() && matchPath_ != nullptr && track) {
                    offerRawTrack(mergeTrack(*matchPath_, *track), endWp, true);
                }
                throw;
            }
            if (!found && track && matchPath_ != nullptr) found = mergeTrack(*matchPath_, *track);
            if (!found) throw jcompat::IllegalArgumentException("no track found at pass=" + std::to_string(pass));
            track = std::move(found);
        }
    }
    if (!track) throw jcompat::IllegalArgumentException("no track found");

    const bool clean = nearbyTrack && !nearbyTrack->dirty;
    if (refTrack == nullptr && !(clean && dirty)) offerRawTrack(track, endWp, dirty);
    if (!clean && dirty) throw *reroutingFailure;

    airDistanceCostFactor_ = 0.0;
    lastAirDistanceCostFactor_ = 0.0;
    startTime_ = jcompat::currentTimeMillis();
    settings.guideTrack = track.get();
    std::shared_ptr<OsmTrack> leg = findTrack("re-tracking", start, &end, nullptr, refTrack, false, settings);
    if (!leg) throw jcompat::IllegalArgumentException("error re-tracking track");
    return leg;
}

void RoutingEngine::offerRawTrack(std::shared_ptr<OsmTrack> track, const std::shared_ptr<MatchedWaypoint>& endWp,
                                  bool dirty) {
    track->endWaypoint = endWp;
    track->nogoChecksums = routingContext_.getNogoChecksums();
    track->profileStamp = routingContext_.profileTimestamp;
    track->dirty = dirty;
    foundRawTrack_ = std::move(track);
}

std::shared_ptr<OsmTrack> RoutingEngine::straightLeg(const MatchedWaypoint& start, const MatchedWaypoint& end,
                                                     bool inverseDirection) {
    RoutingContext& rc = routingContext_;
    OsmLink startLink;
    startLink.secondNode = start.crossPoint.get();
    OsmLink line;
    line.firstNode = start.crossPoint.get();
    line.secondNode = end.crossPoint.get();
    // The track's times run from the start of travel also when routing inversely.
    rc.inverseDirection = inverseDirection;
    const auto release = util::onScopeExit([&rc] {
        rc.inverseDirection = false;
        rc.releaseSearchMemory();
    });
    OsmPath* startPath = rc.createPath(&startLink);
    OsmPath* path = rc.createPath(*startPath, &line, nullptr, false);
    return compileTrack(*path);
}

} // namespace ferrow::router
