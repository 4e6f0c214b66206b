#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "expressions/BExpressionContext.h"
#include "mapaccess/GeometryDecoder.h"
#include "router/costing/OsmPathElement.h"
#include "router/costing/OsmPathModel.h"
#include "router/costing/TrackPointMap.h"
#include "router/waypoints/OsmNodeNamed.h"
#include "util/CheapAngleMeter.h"
#include "util/ObjectPool.h"

namespace ferrow::expressions {
class BExpressionContextNode;
class BExpressionContextWay;
} // namespace ferrow::expressions

namespace ferrow::router {

struct ParsedProfile;
class OsmPath;
class OsmPrePath;

// The settings of one routing run: the profile and its overrides, the
// profile's contexts, cost model and global parameters, the request's
// settings, the no-go list with the waypoint-catching state, and the outputs
// of the segment length function calcDistance.
//
// The no-go lists are never "absent": an empty list means none.
class RoutingContext {
public:
    RoutingContext();
    ~RoutingContext();
    RoutingContext(const RoutingContext&) = delete;
    RoutingContext& operator=(const RoutingContext&) = delete;

    // ---- request and profile ----
    std::optional<std::string> profilePath;
    // The profile cache's key for this profile and these overrides.
    std::int64_t profileTimestamp = 0;
    // Profile-variable overrides ("profile:" keys), absent until the first one.
    std::optional<expressions::VariableOverrides> keyValues;
    // The profile held by this request; expctxWay and expctxNode point into it.
    std::shared_ptr<ParsedProfile> profile;
    expressions::BExpressionContextWay* expctxWay = nullptr;
    expressions::BExpressionContextNode* expctxNode = nullptr;
    std::unique_ptr<OsmPathModel> pathModel;
    std::int32_t memoryClass = 64; // megabytes
    mapaccess::GeometryDecoder geometryDecoder;
    util::CheapAngleMeter anglemeter;

    // ---- request settings ----
    OsmNodeNamedList poiList;
    OsmNodeNamedList nogoPoints;
    std::optional<std::int32_t> startDirection;
    std::optional<std::int32_t> roundTripDistance;
    std::optional<std::int32_t> roundTripDirectionAdd;
    std::optional<std::int32_t> roundTripPoints;
    bool forceUseStartDirection = false;
    bool allowSamewayback = false;
    bool exportWaypoints = false;
    bool exportCorrectedWaypoints = false;
    std::int32_t alternativeIdx = 0;
    std::int32_t turnInstructionMode = 0;
    std::string outputFormat = "gpx";

    // ---- search state ----
    OsmNodeNamedList nogoPointsAll;
    OsmNodeNamedList savedNogoPoints;
    std::shared_ptr<OsmNodeNamed> pendingEndpoint;
    bool isEndpoint = false;
    bool startDirectionValid = false;
    bool inverseDirection = false;
    // The route being assembled has straight-line legs (read by the turn instructions).
    bool hasDirectRouting = false;
    // A stored reference track and an area-info cache file; the service names neither.
    std::optional<std::string> rawTrackPath;
    std::optional<std::string> areaInfoCache;

    // ---- outputs of calcDistance ----
    double nogoCost = 0.0; // -1: forbidden
    bool shortestMatch = false;
    double wayFraction = 0.0;
    std::int32_t ilonShortest = 0;
    std::int32_t ilatShortest = 0;

    // ---- global parameters of the profile (readGlobalConfig) ----
    bool validForCars = false;
    bool validForBikes = false;
    bool validForFoot = false;
    bool considerCrossing = false;
    std::int32_t crossingPrioH = 0;
    std::int32_t crossingPrioL = 0;
    // Index 0 is class 1.
    std::array<std::int32_t, 6> costToLeftFromHClass{};
    std::array<std::int32_t, 6> costToRightFromHClass{};
    double waypointCatchingRange = 0.0; // metres
    bool considerTurnRestrictions = false;
    bool correctMisplacedViaPoints = false;
    double correctMisplacedViaPointsDistance = 0.0; // metres
    bool continueStraight = false;
    bool processUnusedTags = false;
    bool forceSecondaryData = false;
    double pass1coefficient = 0.0;
    double pass2coefficient = 0.0;
    std::int32_t elevationpenaltybuffer = 0; // micrometres
    std::int32_t elevationmaxbuffer = 0;     // micrometres
    std::int32_t elevationbufferreduce = 0;  // value x 10000
    double cost1speed = 0.0;
    double additionalcostfactor = 0.0;
    double changetime = 0.0;
    double buffertime = 0.0;
    double waittimeadjustment = 0.0;
    double inittimeadjustment = 0.0;
    double starttimeoffset = 0.0;
    bool transitonly = false;
    bool showspeed = false;
    bool showSpeedProfile = false;
    bool inverseRouting = false;
    bool showtime = false;
    double turnInstructionCatchingRange = 0.0;
    bool turnInstructionRoundabouts = false;
    double totalMass = 0.0;       // kg
    double maxSpeed = 0.0;        // metres per second
    double S_C_x = 0.0;           // air drag
    double C_r = 0.0;             // rolling resistance
    double bikerPower = 0.0;      // watts
    bool useDynamicRange = false; // "use_dynamic_range"
    bool addBeeline = false;      // "add_beeline"

    // The model class names of the profile's model line.
    static constexpr const char* STD_MODEL = "ferrow.router.StdModel";
    static constexpr const char* KINEMATIC_MODEL = "ferrow.router.KinematicModel";
    static constexpr const char* KINEMATIC_NO_COST_MODEL = "ferrow.router.KinematicNoCostModel";

    // Chooses and initialises the cost model and reads the global variables
    // from the way context, which must be set.
    void readGlobalConfig();
    // Lets every way serve as a start way.
    void freeNoWays();

    // Sets each circle's radius from its name ("nogo" + metres; 20 when the
    // name is shorter). Polygons keep their bounding-circle radius.
    static void prepareNogoPoints(OsmNodeNamedList& nogos);

    void restoreNogoList() { nogoPoints = nogoPointsAll; }
    // Sums of the no-go centres' ilon and ilat and of their radii x 10.
    std::array<std::int64_t, 3> getNogoChecksums() const;

    // Puts wp in front of the no-go list, where segments catch it.
    void setWaypoint(std::shared_ptr<OsmNodeNamed> wp, std::shared_ptr<OsmNodeNamed> pendingEndpoint, bool isEndpoint);
    void unsetWaypoint();

    // Metres of the segment, rounded, at least 1. Prices the no-go areas the
    // segment touches into nogoCost and catches a waypoint put in front by
    // setWaypoint (shortestMatch, wayFraction, ilonShortest, ilatShortest).
    std::int32_t calcDistance(std::int32_t lon1, std::int32_t lat1, std::int32_t lon2, std::int32_t lat2);

    // ---- paths of a search ----
    // A new start path of the model's path class on link.
    OsmPath* createPath(mapaccess::OsmLink* link);
    // A new path of the model's path class extending origin over link, priced.
    OsmPath* createPath(OsmPath& origin, mapaccess::OsmLink* link, const TrackPointMap* refTrack, bool detailMode);
    // The model's look-ahead over another link at origin's target, or null
    // when the model has none.
    OsmPrePath* createPrePath(OsmPath& origin, mapaccess::OsmLink* link);
    // Empties the junction's pre-path list; its pre-paths are recycled.
    void clearPrePaths();
    // Hands back a path that nothing refers to (a candidate that lost).
    void releasePath(OsmPath* path);
    // Ends a search: its paths, pre-paths and track points are recycled.
    void releaseSearchMemory();

    // The track points made during a search; they live until releaseSearchMemory.
    util::ObjectPool<OsmPathElement> pathElements;
    // The pre-paths of the junction being expanded (a list through OsmPrePath::next).
    OsmPrePath* firstPrePath = nullptr;

    // A no-go cost is kept within this bound: costs from here up are refused
    // by the search anyway, and a bounded value cannot overflow the sums.
    static constexpr double MAX_NOGO_COST = 2000000000.0;
};

} // namespace ferrow::router
