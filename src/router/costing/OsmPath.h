#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmLinkHolder.h"
#include "mapaccess/OsmNode.h"
#include "router/costing/MessageData.h"
#include "router/costing/OsmPathElement.h"
#include "router/costing/TrackPointMap.h"

namespace ferrow::expressions {
class BExpressionContextWay;
}

namespace ferrow::router {

class RoutingContext;

// A search path: the state of travel that has reached a link's target node
// coming from its source node, with the cost so far, the destination-area
// state, the classifier of the last way, the elevation at the target and the
// cost model's own state (in the subclasses).
//
// Paths live in their cost model's pool for one search (RoutingContext::
// createPath); they refer to graph objects and track points without owning
// them.
class OsmPath : public mapaccess::OsmLinkHolder {
public:
    // The way outputs the link step reads, as it uses them; a model that
    // keeps values derived from a way's outputs keeps these with them.
    struct LinkOutputs {
        float costFactor;
        float initialClassifier;
        float initialCost;
        std::int32_t classifierMask;
        std::int32_t priorityClassifier;
        bool trafficBackbone; // "istrafficbackbone" > 0

        // out holds at least the outputs up to "classifiermask".
        void read(std::span<const float> out) noexcept;
    };

    // destinationBits
    static constexpr std::int32_t PATH_START_BIT = 1;
    static constexpr std::int32_t CAN_LEAVE_DESTINATION_BIT = 2;
    static constexpr std::int32_t IS_ON_DESTINATION_BIT = 4;
    static constexpr std::int32_t HAD_DESTINATION_START_BIT = 8;

    // Classifier-mask bit of a destination-only way.
    static constexpr std::int32_t DESTINATION_WAY_MASK = 64;

    // A path cost from here up is refused.
    static constexpr std::int32_t COST_LIMIT = 2000000000;

    OsmPath() = default;
    ~OsmPath() override = default;
    OsmPath(const OsmPath&) = delete;
    OsmPath& operator=(const OsmPath&) = delete;

    // The number the next link without way tags (a straight-line leg) gets in
    // its "direct_segment=" tag: 1 for the first of the process, never reset.
    static std::int32_t takeDirectSegmentNumber();

    mapaccess::OsmNode* sourceNode = nullptr;
    mapaccess::OsmNode* targetNode = nullptr;
    mapaccess::OsmLink* link = nullptr;
    // The track point this path's track continues from.
    OsmPathElement* originElement = nullptr;
    // The track point at this path's target, made when another path extends this one.
    OsmPathElement* ownElement = nullptr;
    mapaccess::OsmLinkHolder* nextForLink = nullptr;
    // The record of the last section (detail mode, and links without way tags).
    std::shared_ptr<MessageData> message;
    std::int32_t cost = 0;        // -1: dropped
    std::int32_t airDistance = 0; // -1: closed
    std::int32_t treeDepth = 0;
    // The geometry point before the target: the turn reference of the next link.
    std::int32_t prevIlon = 0;
    std::int32_t prevIlat = 0;
    float lastClassifier = 0.0f;
    float lastInitialCost = 0.0f;
    std::int32_t priorityClassifier = 0;
    std::int32_t destinationBits = 0;
    std::int16_t selev = 0; // quarter metres

    // Start path on a link: its target is the link's far end seen from no node.
    void init(mapaccess::OsmLink* startLink);
    // Extends origin over nextLink and prices it (addAddionalPenalty).
    void init(OsmPath& origin, mapaccess::OsmLink* nextLink, const TrackPointMap* refTrack, bool detailMode,
              RoutingContext& rc);

    // The link step: prices link section by section; a path that must not be
    // used ends with cost -1. refTrack holds the points of earlier
    // alternatives (or is null): a link between two of them is charged again.
    // Lets go of the points this path refers to (its origin and its own
    // point), as the path goes back to its pool.
    void letGoOfPoints(util::ObjectPool<OsmPathElement>& pool) noexcept;

    void addAddionalPenalty(const TrackPointMap* refTrack, bool detailMode, OsmPath& origin,
                            mapaccess::OsmLink* nextLink, RoutingContext& rc);

    // Asks for the first shape point of link, walked from sourceNode, to be
    // loaded: it lies in the decoded tile, far from the link, and is needed
    // as soon as the link is priced.
    static void prefetchShape(const mapaccess::OsmLink& link, const mapaccess::OsmNode* sourceNode) noexcept {
#if defined(__GNUC__) || defined(__clang__)
        // Without a branch, and with no care for a link without points: a
        // prefetch never faults.
        const std::int32_t first = (link.shape.pointCount - 1) & -static_cast<std::int32_t>(link.isReverse(sourceNode));
        __builtin_prefetch(
            reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(link.shape.points) +
                                          sizeof(mapaccess::ShapePoint) * static_cast<std::uintptr_t>(first)));
#else
        (void)link;
        (void)sourceNode;
#endif
    }

    // The elevation at fraction of the way from e1 to e2; -32768 when either is unknown.
    static std::int16_t interpolateEle(std::int16_t e1, std::int16_t e2, double fraction);

    bool didEnterDestinationArea() const {
        return (destinationBits & IS_ON_DESTINATION_BIT) != 0 && (destinationBits & HAD_DESTINATION_START_BIT) == 0;
    }

    mapaccess::OsmNode* getTargetNode() const { return targetNode; }
    mapaccess::OsmLinkHolder* getNextForLink() const override { return nextForLink; }
    void setNextForLink(mapaccess::OsmLinkHolder* holder) override { nextForLink = holder; }

    // ---- the cost model's part ----

    // Time and energy estimate of a section; only the standard model has one.
    virtual void computeKinematic(RoutingContext& rc, double dist, double deltaH, bool detailMode);
    // Whether this path can be dropped because other (on the same link) is better.
    virtual bool definitlyWorseThan(const OsmPath& other) const = 0;
    // Cost still pending in the model's elevation buffers.
    virtual std::int32_t elevationCorrection() const = 0;
    virtual double getTotalEnergy() const = 0;
    virtual double getTotalTime() const = 0;
    // Copies the model state from origin, a path of the same class.
    virtual void init(const OsmPath& origin) = 0;
    // Cost of passing the target node; negative forbids it.
    virtual double processTargetNode(RoutingContext& rc) = 0;
    // Cost of one geometry section; negative forbids it.
    virtual double processWaySection(RoutingContext& rc, double dist, double deltaH, double elevation, double angle,
                                     double cosAngle, bool isStartpoint, std::int32_t nsection,
                                     std::int32_t lastPriorityClassifier) = 0;
    // Sets the model state back to that of a fresh path.
    virtual void resetState() = 0;

protected:
    // The standard model's paths (StdPath) have their section and node costs
    // bound statically in the link step; the other models' are virtual calls.
    bool pricedAsStdPath_ = false;

private:
    struct LinkStep;
    struct LinkWalk;
    struct Section;

    // The sections of the link step, priced through the model's part: an
    // object that binds the path's cost operations (see OsmPath.cpp).
    template <bool Plain, class Pricing>
    void walkSections(Pricing& pricing, const LinkStep& step, LinkWalk& walk, RoutingContext& rc);

    // ---- steps of the link step, inline: it runs for every link a search prices ----
    // The record of a link without way tags: a straight line, free of cost.
    // The path's origin becomes point (taken over from the one before).
    inline void extendOrigin(OsmPathElement* point, RoutingContext& rc);
    inline void recordStraightLine();
    // Adds the initial cost where the way class changes; false when it forbids the link.
    inline bool addInitialCost(float newClassifier, float newInitialCost, bool inverseDirection);
    // Updates the destination bits; false when the path would leave a
    // destination-only area it may not leave.
    inline bool passDestinationArea(std::int32_t classifierMask);
    template <bool Plain>
    inline Section beginSection(const LinkWalk& walk, std::int32_t number);
    inline bool turnForbidden(const RoutingContext& rc, const LinkWalk& walk, const Section& section) const;
    // The segment caught a waypoint (RoutingContext::calcDistance): the path
    // ends there, or starts there (and catches the end too when it lies on
    // the same segment).
    inline void catchWaypoint(RoutingContext& rc, LinkWalk& walk, Section& section, bool detailMode);
    // The turn reference of a path's first section: the start direction, or
    // the section itself mirrored behind its start.
    static inline void setStartReference(const RoutingContext& rc, LinkWalk& walk, const Section& section);
    inline void startSectionRecord();
    inline void recordSection(const Section& section, double angle, std::int32_t classifierMask);
    // Moves the walk on to the geometry point that ends the section.
    template <bool Plain>
    inline void passGeometryPoint(RoutingContext& rc, LinkWalk& walk, const Section& section, std::int16_t elevation,
                                  bool detailMode);
    // The path ends at the caught end point, with the no-go cost of the link.
    inline void endAtWaypoint(RoutingContext& rc, bool detailMode, std::int16_t storedEle2);
    // The path reaches the target node: a link of an earlier alternative is
    // charged again, then the no-go cost; false when that forbids the path.
    inline bool reachTarget(const TrackPointMap* refTrack, RoutingContext& rc, std::int32_t linkDist,
                            std::int32_t lastDist, std::int16_t elevation);
    // Then the target node's own cost.
    inline void addNodeCost(double nodeCost);

    bool hasBit(std::int32_t bit) const { return (destinationBits & bit) != 0; }
    void setBit(std::int32_t bit, bool value) {
        destinationBits = value ? destinationBits | bit : destinationBits & ~bit;
    }
};

} // namespace ferrow::router
