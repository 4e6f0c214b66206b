#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmPos.h"
#include "router/OsmTrack.h"
#include "router/ProfileCache.h"
#include "router/ProfileFiles.h"
#include "router/RoutingContext.h"
#include "router/RoutingEngine.h"
#include "support/SegmentWriter.h"
#include "support/TempDirectory.h"
#include "support/TestNetwork.h"

namespace ferrow::router::testing {

// The test profile's way section: cost factors by road class, oneways,
// destination-only access, and the outputs a test sets through variables.
inline std::string testProfile(const std::string& globals = "", const std::string& wayExtras = "",
                               const std::string& node = "assign initialcost 0") {
    return "---context:global\n"
           "assign validForCars true\n" +
           globals +
           "\n---context:way\n"
           "assign oneway_against if reversedirection=yes then oneway=yes else oneway=-1\n"
           "assign costfactor\n"
           "  if oneway_against then 10000\n"
           "  else switch highway=primary 1\n"
           "       switch highway=residential 2\n"
           "       switch highway=track 3\n"
           "       switch highway=footway 10000\n"
           "       5\n"
           "assign turncost 0\n"
           "assign classifiermask switch access=destination 64 0\n" +
           wayExtras + "\n---context:node\n" + node + "\n";
}

// Metres between two grid points as the graph measures them.
inline std::int32_t metres(std::int32_t ilon1, std::int32_t ilat1, std::int32_t ilon2, std::int32_t ilat2) {
    return mapaccess::OsmPos::roundedDistance(ilon1, ilat1, ilon2, ilat2);
}

// Segment files of a test network, a profile beside the project's lookup
// table, a routing context and an engine over them.
class SearchFixture {
public:
    ~SearchFixture() {
        if (rc.expctxWay != nullptr) ProfileCache::releaseProfile(rc);
    }

    void load(const testsupport::TestNetwork& network, const std::string& profile) {
        testsupport::SegmentWriter().write(network, segments.path());
        network_ = &network;
        rc.profilePath = profiles.write("test.vpf", profile);
        rc.memoryClass = 128;
        engine = std::make_unique<RoutingEngine>(jcompat::File(segments.path()), OsmNodeNamedList{}, rc, 0);
        rc.nogoPointsAll = rc.nogoPoints;
    }

    // A waypoint matched to the segment from a to b, with its cross point at
    // the fraction of the way (grid units, truncated).
    mapaccess::MatchedWaypoint on(testsupport::NodeRef a, testsupport::NodeRef b, double fraction = 0.5) const {
        const auto& na = network_->at(a);
        const auto& nb = network_->at(b);
        mapaccess::MatchedWaypoint waypoint;
        waypoint.node1 = std::make_shared<mapaccess::OsmNode>(na.ilon, na.ilat);
        waypoint.node2 = std::make_shared<mapaccess::OsmNode>(nb.ilon, nb.ilat);
        const auto lon = static_cast<std::int32_t>(na.ilon + std::trunc((nb.ilon - na.ilon) * fraction));
        const auto lat = static_cast<std::int32_t>(na.ilat + std::trunc((nb.ilat - na.ilat) * fraction));
        waypoint.crossPoint = std::make_shared<mapaccess::OsmNode>(lon, lat);
        waypoint.waypoint = std::make_shared<mapaccess::OsmNode>(lon, lat);
        return waypoint;
    }

    std::shared_ptr<OsmTrack> search(const mapaccess::MatchedWaypoint& from, const mapaccess::MatchedWaypoint& to,
                                     const OsmTrack* costCutting = nullptr, const std::string& name = "pass0") {
        return engine->findTrack(name, from, &to, costCutting, nullptr, false);
    }

    // The detailed search along a found track, as the final pass runs it.
    std::shared_ptr<OsmTrack> retrack(const mapaccess::MatchedWaypoint& from, const mapaccess::MatchedWaypoint& to,
                                      std::shared_ptr<OsmTrack> guide) {
        engine->guideTrack = std::move(guide);
        std::shared_ptr<OsmTrack> track = engine->findTrack("re-tracking", from, &to, nullptr, nullptr, false);
        engine->guideTrack = nullptr;
        return track;
    }

    // The node at each point of the track, as network node indexes (-1 for a
    // point that is no node).
    std::vector<int> nodesOf(const OsmTrack& track) const {
        std::vector<int> indexes;
        for (const auto& point : track.points) {
            int found = -1;
            for (std::size_t i = 0; i < network_->nodes().size(); ++i) {
                if (network_->nodes()[i].ilon == point->ilon && network_->nodes()[i].ilat == point->ilat) {
                    found = static_cast<int>(i);
                }
            }
            indexes.push_back(found);
        }
        return indexes;
    }

    const testsupport::TestNetwork::Node& at(testsupport::NodeRef ref) const { return network_->at(ref); }
    std::int32_t metresBetween(testsupport::NodeRef a, testsupport::NodeRef b) const {
        return metres(at(a).ilon, at(a).ilat, at(b).ilon, at(b).ilat);
    }

    testsupport::TempDirectory segments;
    ProfileDir profiles;
    RoutingContext rc;
    std::unique_ptr<RoutingEngine> engine;

private:
    const testsupport::TestNetwork* network_ = nullptr;
};

} // namespace ferrow::router::testing
