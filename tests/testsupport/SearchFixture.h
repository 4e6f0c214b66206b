#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "jcompat/Clock.h"
#include "jcompat/File.h"
#include "mapaccess/MatchedWaypoint.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmPos.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/RoutingContext.h"
#include "router/engine/PathSearch.h"
#include "router/engine/RoutingEngine.h"
#include "router/track/OsmTrack.h"
#include "testsupport/ProfileFiles.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestNetwork.h"

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

// The town of most scenarios, at 8 E, 50 N: a street from A to B between
// the end segments P - A and B - Q (residential), and a road round from A by
// C and D to B.
//
//   C ====== D
//   |        |
//   P --- A ------ B --- Q
struct RectangleTown {
    // The street is drawn from B to A when streetFromB is set (so that
    // "oneway=yes" lets it be used westwards only).
    RectangleTown(const std::string& streetTags, const std::string& roundTags, bool streetFromB = false,
                  double roundLatitude = 50.003) {
        p = net.node(7.995, 50.000);
        a = net.node(8.000, 50.000);
        b = net.node(8.010, 50.000);
        q = net.node(8.015, 50.000);
        c = net.node(8.000, roundLatitude);
        d = net.node(8.010, roundLatitude);
        net.way("highway=residential", {p, a});
        net.way("highway=residential", {b, q});
        if (streetFromB) {
            net.way(streetTags, {b, a});
        } else {
            net.way(streetTags, {a, b});
        }
        net.way(roundTags, {a, c, d, b});
    }

    std::vector<int> byStreet() const { return {p.index, a.index, b.index, q.index}; }
    std::vector<int> roundabout() const { return {p.index, a.index, c.index, d.index, b.index, q.index}; }

    testsupport::TestNetwork net;
    testsupport::NodeRef p, a, b, q, c, d;
};

// The cheapest cost from the sources (node, cost) to every node by a plain
// Dijkstra; steps(node, reach) calls reach(next node, cost of the step) for
// every step from node. Unreached nodes keep the largest 64-bit value.
template <typename Steps>
std::vector<std::int64_t> cheapestCosts(std::size_t nodeCount, const std::vector<std::pair<int, std::int64_t>>& sources,
                                        Steps&& steps) {
    std::vector<std::int64_t> cost(nodeCount, std::numeric_limits<std::int64_t>::max());
    using Entry = std::pair<std::int64_t, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
    const auto reach = [&](int node, std::int64_t c) {
        if (c < cost[static_cast<std::size_t>(node)]) {
            cost[static_cast<std::size_t>(node)] = c;
            queue.emplace(c, node);
        }
    };
    for (const auto& [node, c] : sources) reach(node, c);
    while (!queue.empty()) {
        const std::int64_t c = queue.top().first;
        const int node = queue.top().second;
        queue.pop();
        if (c > cost[static_cast<std::size_t>(node)]) continue;
        steps(node, [&reach, at = c](int next, std::int64_t step) { reach(next, at + step); });
    }
    return cost;
}

// Metres between two grid points as the graph measures them.
inline std::int32_t metres(std::int32_t ilon1, std::int32_t ilat1, std::int32_t ilon2, std::int32_t ilat2) {
    return mapaccess::OsmPos::roundedDistance(ilon1, ilat1, ilon2, ilat2);
}

// The engine's private state, for the tests (and the search benchmark) that
// set up or look into a search or a run.
class EngineProbe {
public:
    static mapaccess::NodesCache* nodesCache(const RoutingEngine& engine) { return engine.nodesCache_.get(); }
    static mapaccess::OsmNodePairSet& islandNodePairs(RoutingEngine& engine) { return engine.islandNodePairs_; }
    static const OsmPathElement* matchPath(const RoutingEngine& engine) { return engine.matchPath_; }
    static std::shared_ptr<OsmNodeNamed> informationPoint(const OsmTrack& track,
                                                          const mapaccess::MatchedWaypoint& info) {
        return RoutingEngine::informationPoint(track, info);
    }
};

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
        return engine->findTrack(name, from, &to, costCutting, nullptr, false, settings);
    }

    // The detailed search along a found track, as the final pass runs it.
    std::shared_ptr<OsmTrack> retrack(const mapaccess::MatchedWaypoint& from, const mapaccess::MatchedWaypoint& to,
                                      const std::shared_ptr<OsmTrack>& guide) {
        SearchSettings retracking = settings;
        retracking.guideTrack = guide.get();
        return engine->findTrack("re-tracking", from, &to, nullptr, nullptr, false, retracking);
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

    // A path search of its own over a new node cache of the fixture's files,
    // with the run's shared state in plain fields that a test sets.
    struct Direct {
        explicit Direct(SearchFixture& fixture)
            : rc(fixture.rc),
              cache(jcompat::File(fixture.segments.path()), *rc.expctxWay, rc.profile->meta, false,
                    std::int64_t{rc.memoryClass} * 1048576, nullptr, false) {
            cache.nodesMap().cleanupMode = 1;
        }
        ~Direct() {
            search.clear();
            rc.releaseSearchMemory();
        }
        OsmPath* find(const SearchTask& task) {
            SearchRun run{startTime, matchPath, stop, islandPairs};
            return search.find(cache, rc, task, run);
        }

        RoutingContext& rc;
        mapaccess::NodesCache cache;
        PathSearch search;
        std::int64_t startTime = jcompat::currentTimeMillis();
        OsmPathElement* matchPath = nullptr;
        std::atomic<bool> stop{false};
        mapaccess::OsmNodePairSet islandPairs{RoutingEngine::ISLAND_PAIR_CAPACITY};
    };

    const testsupport::TestNetwork::Node& at(testsupport::NodeRef ref) const { return network_->at(ref); }
    std::int32_t metresBetween(testsupport::NodeRef a, testsupport::NodeRef b) const {
        return metres(at(a).ilon, at(a).ilat, at(b).ilon, at(b).ilat);
    }

    testsupport::TempDirectory segments;
    ProfileDir profiles;
    RoutingContext rc;
    std::unique_ptr<RoutingEngine> engine;
    // Of every search and re-tracking search the fixture runs.
    SearchSettings settings;

private:
    const testsupport::TestNetwork* network_ = nullptr;
};

} // namespace ferrow::router::testing
