#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "expressions/BExpressionContextWay.h"
#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmNode.h"
#include "router/costing/OsmPath.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/RoutingContext.h"
#include "router/costing/StdModel.h"
#include "router/costing/StdPath.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/ProfileFiles.h"
#include "testsupport/SearchFixture.h"

namespace ferrow::router::testing {
namespace {

using mapaccess::OsmLink;
using mapaccess::OsmNode;

// A routing context with a parsed profile, for pricing single sections.
class ModelFixture {
public:
    explicit ModelFixture(const std::string& profile, const std::string& lookups = "")
        : profiles(lookups.empty() ? readRepositoryFile("profiles/lookups.dat") : lookups) {
        if (!lookups.empty()) coder_ = std::make_unique<testsupport::LookupTagCoder>(profiles.lookups());
        rc.profilePath = profiles.write("model.vpf", profile);
        ProfileCache::parseProfile(rc);
    }
    ~ModelFixture() { ProfileCache::releaseProfile(rc); }

    const testsupport::LookupTagCoder& coder() const {
        return coder_ ? *coder_ : testsupport::LookupTagCoder::standard();
    }
    util::ByteArray wayTags(const char* text) const { return coder().wayTags(text).toBytes(); }
    util::ByteArray nodeTags(const char* text) const { return coder().nodeTags(text).toBytes(); }
    void evaluateWay(const char* text) {
        way_ = wayTags(text);
        rc.expctxWay->evaluate(false, way_);
    }

    ProfileDir profiles;
    RoutingContext rc;

private:
    std::unique_ptr<testsupport::LookupTagCoder> coder_;
    util::ByteArray way_;
};

std::string profileWith(const std::string& globals, const std::string& way, const std::string& node) {
    return "---context:global\n" + globals + "\n---context:way\n" + way + "\n---context:node\n" + node + "\n";
}

TEST(StdPathCost, TurnCostFollowsTheAngle) {
    ModelFixture f(profileWith("", "assign costfactor 1.5\nassign turncost 90", "assign initialcost 0"));
    f.evaluateWay("highway=primary");
    StdPath path;
    path.message = std::make_shared<MessageData>();
    // straight on: no turn cost; 100 m x 1.5 + 0.5
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 100, 0, 100, 0, 1.0, false, 0, 0), 150.5);
    EXPECT_EQ(path.message->turnCost, 0);
    // a U-turn: (1 - -1) x 90 = 180
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 100, 0, 100, 180, -1.0, false, 0, 0), 330.5);
    EXPECT_EQ(path.message->turnCost, 180);
    EXPECT_FLOAT_EQ(path.message->turnAngle, 180.0f);
    EXPECT_FLOAT_EQ(path.message->costFactor, 1.5f);
    // a right angle: 90 + 0.2, truncated
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, 90, 0.0, false, 0, 0), 90 + 15.5);
}

TEST(StdPathCost, CostDivisors) {
    ModelFixture f(profileWith("",
                               "assign costfactor 1\nassign downhillcost 0.5\nassign uphillcost 80\n"
                               "assign uphillmaxslopecost 3",
                               "assign initialcost 0"));
    f.evaluateWay("highway=primary");
    StdPath path;
    path.processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 0, 0);
    EXPECT_EQ(path.downhillDivisor, 0); // 0.5 truncates to 0: no downhill cost, not 2000000
    EXPECT_EQ(path.uphillDivisor, 12500);
}

// Uphill with the maximum-slope cost: up to the slope part ("uphillmaxslope"
// x 10000 x metres) the climb costs at the uphill rate, beyond it at the
// steeper rate.
TEST(StdPathCost, SlopeBeyondTheMaximumCostsMore) {
    ModelFixture f(profileWith("assign elevationpenaltybuffer 0\nassign elevationmaxbuffer 0",
                               "assign costfactor 1\nassign uphillcost 100\nassign uphillmaxslope 2\n"
                               "assign uphillmaxslopecost 400",
                               "assign initialcost 0"));
    f.evaluateWay("highway=primary");
    StdPath path;
    path.message = std::make_shared<MessageData>();
    // 10 m long, 5 m up: the whole 5 m leave the buffer; slope part 2 x 10000 x 10
    // = 200000 um at 1/10000, the other 4800000 um at 400/1000000.
    const double cost = path.processWaySection(f.rc, 10, 5, 100, 0, 1.0, false, 0, 0);
    EXPECT_DOUBLE_EQ(cost, 20.0f + 1920.0f + 10.5);
    EXPECT_EQ(path.message->elevationCost, 1940);
    EXPECT_EQ(path.uphillBuffer, 0);
    EXPECT_EQ(path.elevationCorrection(), 0);
}

// The buffer works off over the section's length when "elevationbufferreduce"
// is set: the weight is the share of the excess that the length works off.
TEST(StdPathCost, BufferReductionOverTheLength) {
    ModelFixture f(profileWith("assign elevationbufferreduce 0.5", // 5000 um per metre
                               "assign costfactor 1\nassign uphillcostfactor 3\nassign uphillcost 100",
                               "assign initialcost 0"));
    f.evaluateWay("highway=primary");
    StdPath path;
    // 6 m up over 100 m: buffer 6e6, excess 1e6 over the 5e6 penalty buffer;
    // the length could work off 5e5 x ... = 500000: weight 1, reduce 500000.
    const double cost = path.processWaySection(f.rc, 100, 6, 100, 0, 1.0, false, 0, 0);
    EXPECT_EQ(path.uphillBuffer, 5500000);
    EXPECT_DOUBLE_EQ(cost, 50.0f + (3.0f * 100.0f + 0.5f));
    // 300 m level after it: excess 500000 < 1500000: weight 1/3.
    const double level = path.processWaySection(f.rc, 300, 0, 100, 0, 1.0, false, 0, 0);
    EXPECT_EQ(path.uphillBuffer, 5000000);
    const float weight = 500000.0f / 1500000.0f;
    EXPECT_DOUBLE_EQ(level, 50.0f + ((3.0f * weight + 1.0f * (1.0f - weight)) * 300.0f + 0.5f));
    EXPECT_EQ(path.elevationCorrection(), 500);
}

// Negative penalty and maximum buffers: the buffers are cut below 0 and the
// cut priced; the next section finds them below the penalty buffer and clears them.
TEST(StdPathCost, NegativeBuffersOfTheContext) {
    ModelFixture f(profileWith("assign elevationpenaltybuffer -1\nassign elevationmaxbuffer -2",
                               "assign costfactor 1\nassign uphillcost 100", "assign initialcost 0"));
    f.evaluateWay("highway=primary");
    ASSERT_EQ(f.rc.elevationpenaltybuffer, -1000000);
    StdPath path;
    // Level, 10 m: both buffers 0, cut by 2000000 um to -2000000; only the
    // climb is priced, all beyond the slope part of 0: 2000000 / 10000.
    const double cost = path.processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 0, 0);
    EXPECT_DOUBLE_EQ(cost, 200.0f + (1.0f * 10.0f + 0.5f));
    EXPECT_EQ(path.uphillBuffer, -2000000);
    EXPECT_EQ(path.downhillBuffer, -2000000);
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 1, 0), 10.5);
    EXPECT_EQ(path.uphillBuffer, 0);
    EXPECT_EQ(path.downhillBuffer, 0);
}

TEST(StdPathCost, NodeCostLimit) {
    ModelFixture f(profileWith("", "assign costfactor 1\nassign nodeaccessgranted 0",
                               "assign initialcost switch barrier=gate 999999 switch barrier=bollard 1000000 0"));
    f.evaluateWay("highway=primary");
    OsmNode node(188000000, 140000000);
    StdPath path;
    path.targetNode = &node;
    path.message = std::make_shared<MessageData>();
    EXPECT_EQ(path.processTargetNode(f.rc), 0.0); // no node tags
    node.nodeTags = f.nodeTags("barrier=gate");
    EXPECT_EQ(path.processTargetNode(f.rc), 999999.0);
    EXPECT_EQ(path.message->nodeCost, 999999);
    EXPECT_EQ(path.message->nodeTags, "barrier=gate");
    node.nodeTags = f.nodeTags("barrier=bollard");
    EXPECT_EQ(path.processTargetNode(f.rc), -1.0);
}

TEST(StdPathCost, DominanceNeedsAStrictlyLowerCost) {
    StdPath p;
    StdPath q;
    p.cost = 1000;
    q.cost = 1000;
    EXPECT_FALSE(q.definitlyWorseThan(p));
    q.cost = 1001;
    EXPECT_TRUE(q.definitlyWorseThan(p));
    // p has 200 of downhill cost pending that q has not: p no longer dominates.
    p.downhillDivisor = 10000;
    p.downhillBuffer = 2000000;
    EXPECT_EQ(p.elevationCorrection(), 200);
    EXPECT_FALSE(q.definitlyWorseThan(p));
    q.cost = 1201;
    EXPECT_TRUE(q.definitlyWorseThan(p));
    // Pending cost that q has as well does not count against p.
    q.downhillDivisor = 10000;
    q.downhillBuffer = 2000000;
    q.cost = 1001;
    EXPECT_TRUE(q.definitlyWorseThan(p));
}

// In detail mode a walker on the level at the profile's maximum speed:
// 6 km/h x exp(-3.5 x 0.05).
TEST(StdPathCost, TimeEstimateOnFoot) {
    ModelFixture f(profileWith("assign validForFoot true", "assign costfactor 1", "assign initialcost 0"));
    f.evaluateWay("highway=footway");
    StdPath path;
    path.computeKinematic(f.rc, 100, 0, false);
    EXPECT_EQ(path.totalTime, 0.0f); // only in detail mode
    path.computeKinematic(f.rc, 100, 0, true);
    const double speed = static_cast<double>(6.0f) / 3.6 * std::exp(-3.5 * 0.05);
    EXPECT_FLOAT_EQ(path.totalTime, static_cast<float>(100 / speed));
    EXPECT_FLOAT_EQ(path.totalEnergy, static_cast<float>(100 * (90 * 9.81 * static_cast<double>(0.01f) +
                                                                static_cast<double>(0.225f) * speed * speed)));
}

// A cyclist crossing a big road from it: the node's crossing class prices a
// left turn and a right turn differently.
TEST(StdPathCost, CrossingCostForBikes) {
    const std::string lookups =
        "---lookupversion:1\n---minorversion:0\n---context:way\n"
        "highway primary\nhighway residential\n"
        "---context:node\nestimated_crossing_class 1\nestimated_crossing_class 3\n";
    ModelFixture f(profileWith("assign validForBikes true\nassign consider_crossing true\n"
                               "assign crossing_Prio_H 20\nassign crossing_Prio_L 10\n"
                               "assign cost_ToLeft_from_H_class3 77\nassign cost_ToRight_from_H_class3 33",
                               "assign costfactor 1\nassign priorityclassifier 8", "assign initialcost 0"),
                   lookups);
    f.evaluateWay("highway=residential");
    OsmNode junction(188000000, 140000000);
    junction.nodeTags = f.nodeTags("estimated_crossing_class=3");
    StdPath path;
    path.sourceNode = &junction;
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, -60, 0.5, false, 0, 24), 77 + 10.5);
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, 60, 0.5, false, 0, 24), 33 + 10.5);
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 0, 24), 10.5);  // straight over
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, 60, 0.5, false, 1, 24), 10.5); // not at the junction
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, 60, 0.5, false, 0, 19), 10.5); // from a small road
    junction.nodeTags = f.nodeTags("estimated_crossing_class=1");
    EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 10, 0, 100, 60, 0.5, false, 0, 24), 10.5); // class 1 costs 0
}

// The way's costs are read again for every way whose outputs differ from the
// last one's, however the ways alternate.
TEST(StdPathCost, CostsFollowTheWayEvaluated) {
    ModelFixture f(
        profileWith("", "assign costfactor 1\nassign turncost switch highway=primary 90 0", "assign initialcost 0"));
    StdPath path;
    for (int round = 0; round < 2; ++round) {
        f.evaluateWay("highway=primary");
        EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 100, 0, 100, 180, -1.0, false, 0, 0), 280.5);
        EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 100, 0, 100, 180, -1.0, false, 1, 0), 280.5);
        f.evaluateWay("highway=residential");
        EXPECT_DOUBLE_EQ(path.processWaySection(f.rc, 100, 0, 100, 180, -1.0, false, 0, 0), 100.5);
    }
}

// The link step's outputs kept with the way costs: converted as it reads them
// (truncated toward zero), and those of the way evaluated last however ways
// alternate.
TEST(StdPathCost, LinkOutputsFollowTheWayEvaluated) {
    ModelFixture f(profileWith("",
                               "assign costfactor switch highway=primary 1.5 9999\n"
                               "assign classifiermask switch highway=primary 64.7 3\n"
                               "assign priorityclassifier switch highway=primary -3.9 30\n"
                               "assign istrafficbackbone switch highway=primary 0.5 0\n"
                               "assign initialclassifier switch highway=primary 2 0\n"
                               "assign initialcost switch highway=primary 250 0",
                               "assign initialcost 0"));
    auto& model = static_cast<StdModel&>(*f.rc.pathModel);
    for (int round = 0; round < 2; ++round) {
        f.evaluateWay("highway=primary");
        const OsmPath::LinkOutputs& primary = model.wayCostsOf(*f.rc.expctxWay).link;
        EXPECT_FLOAT_EQ(primary.costFactor, 1.5f);
        EXPECT_EQ(primary.classifierMask, 64);
        EXPECT_EQ(primary.priorityClassifier, -3);
        EXPECT_TRUE(primary.trafficBackbone);
        EXPECT_FLOAT_EQ(primary.initialClassifier, 2.0f);
        EXPECT_FLOAT_EQ(primary.initialCost, 250.0f);
        f.evaluateWay("highway=residential");
        const OsmPath::LinkOutputs& residential = model.wayCostsOf(*f.rc.expctxWay).link;
        EXPECT_FLOAT_EQ(residential.costFactor, 9999.0f);
        EXPECT_EQ(residential.classifierMask, 3);
        EXPECT_EQ(residential.priorityClassifier, 30);
        EXPECT_FALSE(residential.trafficBackbone);
        EXPECT_FLOAT_EQ(residential.initialCost, 0.0f);
    }
}

// The link step turns left from p over a (a big road) to b (a small one).
// Without a turn cost the angle is still taken where it prices a crossing or
// is recorded.
class LeftTurnFixture {
public:
    explicit LeftTurnFixture(ModelFixture& f) : f_(f) {
        startLink_.secondNode = &a_;
        link_.firstNode = &a_;
        link_.secondNode = &b_;
        link_.wayTags = f.wayTags("highway=residential");
        a_.nodeTags = f.nodeTags("estimated_crossing_class=3");
    }
    ~LeftTurnFixture() { f_.rc.releaseSearchMemory(); }

    OsmPath& priced(bool detailMode) {
        OsmPath* origin = f_.rc.createPath(&startLink_);
        origin->prevIlon = a_.ilon - 1000; // coming from the west
        origin->prevIlat = a_.ilat;
        origin->priorityClassifier = 24;
        return *f_.rc.createPath(*origin, &link_, nullptr, detailMode);
    }

private:
    ModelFixture& f_;
    OsmNode a_{188000000, 140000000};
    OsmNode b_{188000000, 140001000}; // 111 m north
    OsmLink startLink_;
    OsmLink link_;
};

TEST(StdPathCost, LinkStepTakesTheAngleWhereItCounts) {
    const std::string lookups =
        "---lookupversion:1\n---minorversion:0\n---context:way\n"
        "highway primary\nhighway residential\n"
        "---context:node\nestimated_crossing_class 1\nestimated_crossing_class 3\n";
    const std::string way = "assign costfactor 1\nassign turncost 0\nassign priorityclassifier 8";
    const std::string crossing =
        "assign crossing_Prio_H 20\nassign crossing_Prio_L 10\n"
        "assign cost_ToLeft_from_H_class3 77\nassign cost_ToRight_from_H_class3 33";
    {
        ModelFixture bike(profileWith("assign validForBikes true\nassign consider_crossing true\n" + crossing, way,
                                      "assign initialcost 0"),
                          lookups);
        LeftTurnFixture turn(bike);
        EXPECT_EQ(turn.priced(false).cost, 111 + 77);
    }
    {
        ModelFixture walker(profileWith("assign validForFoot true\n" + crossing, way, "assign initialcost 0"), lookups);
        LeftTurnFixture turn(walker);
        EXPECT_EQ(turn.priced(false).cost, 111);
        OsmPath& recorded = turn.priced(true);
        EXPECT_EQ(recorded.cost, 111);
        ASSERT_TRUE(recorded.message);
        EXPECT_NEAR(recorded.message->turnAngle, -90.0f, 0.01f);
        EXPECT_EQ(recorded.message->turnCost, 0);
    }
}

// The link step hands the climb to the buffers in micrometres, held to the
// 32-bit range: 3000 m up fill the uphill buffer to the limit, which the
// maximum buffer then cuts back to 10 m. Routing inversely turns a climb.
TEST(StdPathCost, LinkStepClimbFillsTheBuffers) {
    ModelFixture f(profileWith("", "assign costfactor 1", "assign initialcost 0"));
    struct Case {
        std::int16_t rise; // quarter metres
        bool inverse;
        std::int32_t downhill;
        std::int32_t uphill;
    };
    for (const Case c : {Case{12000, false, 0, 10000000}, Case{-8, false, 2000000, 0}, Case{-8, true, 0, 2000000},
                         Case{-12000, true, 0, 10000000}}) {
        OsmNode a{188000000, 140000000};
        OsmNode b{188000000, 140001000};
        a.selev = 400;
        b.selev = static_cast<std::int16_t>(400 + c.rise);
        OsmLink startLink;
        startLink.secondNode = &a;
        OsmLink link;
        link.firstNode = &a;
        link.secondNode = &b;
        link.wayTags = f.wayTags("highway=primary");
        f.rc.inverseDirection = c.inverse;
        OsmPath* origin = f.rc.createPath(&startLink);
        const auto& path = static_cast<const StdPath&>(*f.rc.createPath(*origin, &link, nullptr, false));
        EXPECT_EQ(path.downhillBuffer, c.downhill) << c.rise << " " << c.inverse;
        EXPECT_EQ(path.uphillBuffer, c.uphill) << c.rise << " " << c.inverse;
        f.rc.releaseSearchMemory();
    }
    f.rc.inverseDirection = false;
}

TEST(OsmPathTest, InterpolateElevation) {
    EXPECT_EQ(OsmPath::interpolateEle(-32768, 400, 0.5), -32768);
    EXPECT_EQ(OsmPath::interpolateEle(400, -32768, 0.5), -32768);
    EXPECT_EQ(OsmPath::interpolateEle(400, 800, 0.25), 500);
    EXPECT_EQ(OsmPath::interpolateEle(400, 801, 0.5), 600);   // truncated
    EXPECT_EQ(OsmPath::interpolateEle(0, 30000, 2.0), -5536); // kept in 16 bits
}

// A link without way tags (a straight-line leg) costs nothing and is
// numbered: 1 for the first of the process, then 2, 3, ...
TEST(OsmPathTest, LinksWithoutWayTagsAreNumbered) {
    RoutingContext rc;
    rc.pathModel = std::make_unique<StdModel>();
    OsmNode a(188000000, 140000000);
    OsmNode b(188000000, 140001000);
    OsmLink startLink;
    startLink.secondNode = &a;
    OsmLink direct;
    direct.firstNode = &a;
    direct.secondNode = &b;

    OsmPath* start = rc.createPath(&startLink);
    EXPECT_EQ(start->targetNode, &a);
    EXPECT_EQ(start->destinationBits, OsmPath::PATH_START_BIT);
    EXPECT_EQ(start->prevIlon, -1);
    std::vector<std::string> tags;
    for (int i = 0; i < 2; ++i) {
        OsmPath* leg = rc.createPath(*start, &direct, nullptr, false);
        EXPECT_EQ(leg->cost, 0);
        EXPECT_EQ(leg->targetNode, &b);
        ASSERT_TRUE(leg->message);
        EXPECT_EQ(leg->message->distance, 111);
        EXPECT_EQ(leg->message->time, 1.0f);
        EXPECT_EQ(leg->message->elevation, -32768);
        EXPECT_EQ(leg->message->ilat, 140001000);
        tags.push_back(*leg->message->wayTags);
        EXPECT_EQ(leg->originElement, start->ownElement);
    }
    ASSERT_EQ(tags.size(), 2u);
    const int first = std::stoi(tags[0].substr(std::string("direct_segment=").size()));
    EXPECT_EQ(tags[0], "direct_segment=" + std::to_string(first));
    EXPECT_EQ(tags[1], "direct_segment=" + std::to_string(first + 1));
    rc.releaseSearchMemory();
}

// The initial cost is charged where the way class changes by more than 0.0005.
TEST(OsmPathTest, InitialCostOnAClassChange) {
    testsupport::TestNetwork net;
    auto p = net.node(7.995, 50.000);
    auto a = net.node(8.000, 50.000);
    auto b = net.node(8.005, 50.000);
    auto q = net.node(8.010, 50.000);
    net.way("highway=primary", {p, a});
    net.way("highway=residential", {a, b, q});
    const auto costWith = [&](const char* residentialClass) {
        SearchFixture f;
        f.load(net, testProfile("", std::string("assign initialclassifier switch highway=primary 1 ") +
                                        residentialClass + "\nassign initialcost 500\n"));
        auto track = f.search(f.on(p, a), f.on(b, q));
        return track ? track->cost : -1;
    };
    const std::int32_t plain = costWith("1");
    EXPECT_EQ(costWith("1.0004"), plain);
    EXPECT_EQ(costWith("1.001"), plain + 500);
    EXPECT_EQ(costWith("0"), plain);
}

// A start direction makes the first section a turn: eastwards with a
// heading of 90 degrees is straight on, with 270 a U-turn (2 x 100).
TEST(OsmPathTest, StartDirection) {
    testsupport::TestNetwork net;
    auto p = net.node(7.995, 50.000);
    auto a = net.node(8.000, 50.000);
    auto b = net.node(8.005, 50.000);
    net.way("highway=primary", {p, a, b});
    const auto costWith = [&](int heading) {
        SearchFixture f;
        std::string profile = testProfile();
        profile.replace(profile.find("assign turncost 0"), 17, "assign turncost 100");
        f.load(net, profile);
        f.rc.startDirection = heading;
        f.rc.forceUseStartDirection = true;
        auto track = f.search(f.on(p, a), f.on(a, b));
        return track ? track->cost : -1;
    };
    const std::int32_t straight = costWith(90);
    EXPECT_EQ(costWith(270), straight + 200);
}

} // namespace
} // namespace ferrow::router::testing
