#include <gtest/gtest.h>

#include "testsupport/ProfileFixture.h"

namespace ferrow::expressions {
namespace {

using testing::encodeTags;
using testing::LoadedProfile;

using Tags = std::vector<std::pair<std::string, std::string>>;

// One of the project's profiles, read with the project's lookup table.
class ProjectProfile {
public:
    explicit ProjectProfile(const std::string& name, const VariableOverrides* overrides = nullptr)
        : profile_(FERROW_SOURCE_DIR "/profiles/lookups.dat") {
        profile_.parse(FERROW_SOURCE_DIR "/profiles/" + name, overrides);
    }

    BExpressionContextWay& way() { return *profile_.way; }
    BExpressionContextNode& node() { return *profile_.node; }

    BExpressionContextWay& way(const Tags& tags, bool reverse = false) {
        way().evaluate(reverse, encodeTags(way(), tags));
        return way();
    }
    float costfactor(const Tags& tags, bool reverse = false) { return way(tags, reverse).getCostfactor(); }
    float nodeCost(const Tags& tags, bool accessGranted = false) {
        node().evaluate(accessGranted, encodeTags(node(), tags));
        return node().getInitialcost();
    }
    int accessType(const Tags& tags) { return way().accessType(encodeTags(way(), tags)); }
    bool startWay(const Tags& tags) { return way().checkStartWay(encodeTags(way(), tags)); }

private:
    LoadedProfile profile_;
};

constexpr float kForbidden = 10000.0f;

TEST(CarProfileTest, CostsFollowSpeeds) {
    ProjectProfile car("car.vpf");
    BExpressionContextWay& residential = car.way({{"highway", "residential"}});
    EXPECT_EQ(residential.getCostfactor(), 130.0f / 30.0f);
    EXPECT_EQ(residential.getTurncost(), 200.0f);
    EXPECT_EQ(residential.getMaxspeed(), 30.0f);
    EXPECT_EQ(residential.getPriorityClassifier(), 18.0f);
    EXPECT_EQ(residential.getClassifierMask(), 16.0f);
    EXPECT_EQ(residential.getInitialClassifier(), 1.0f);
    EXPECT_EQ(residential.getInitialcost(), 0.0f);
    EXPECT_EQ(residential.getUphillcost(), 0.0f);

    // a posted limit replaces the typical speed, up to 1.3 times of it
    EXPECT_EQ(car.costfactor({{"highway", "primary"}, {"maxspeed", "100"}, {"surface", "asphalt"}}), 1.3f);
    EXPECT_EQ(car.way().getMaxspeed(), 100.0f);
    const int highway = car.way().getLookupNameIdx("highway");
    const int maxspeed = car.way().getLookupNameIdx("maxspeed");
    car.way().evaluate(false, encodeTags({{highway, 2}, {maxspeed, 1000 + 5000}})); // a number code of 50
    EXPECT_EQ(car.way().getMaxspeed(), 30.0f * 1.3f);
    EXPECT_EQ(car.way().getCostfactor(), 130.0f / (30.0f * 1.3f));

    // unpaved ways are avoided unless the request says otherwise
    const Tags gravelTrack = {{"highway", "track"}, {"tracktype", "grade1"}, {"surface", "gravel"}};
    EXPECT_EQ(car.costfactor(gravelTrack), (130.0f / 25.0f) * (1.6f * (1.0f * 5.0f)));
    VariableOverrides unpavedAllowed;
    unpavedAllowed.put("avoid_unpaved", "0");
    ProjectProfile car2("car.vpf", &unpavedAllowed);
    EXPECT_EQ(car2.costfactor(gravelTrack), (130.0f / 25.0f) * 1.6f);
    EXPECT_EQ(car2.costfactor({{"highway", "track"}, {"tracktype", "grade2"}}), kForbidden);

    BExpressionContextWay& ferry = car.way({{"route", "ferry"}});
    EXPECT_EQ(ferry.getCostfactor(), 130.0f / 15.0f);
    EXPECT_EQ(ferry.getInitialcost(), 20000.0f);
    EXPECT_EQ(ferry.getInitialClassifier(), 2.0f);
    EXPECT_EQ(ferry.getTurncost(), 0.0f);
}

TEST(CarProfileTest, AccessAndOneway) {
    ProjectProfile car("car.vpf");
    const Tags motorway = {{"highway", "motorway"}};
    EXPECT_EQ(car.costfactor(motorway), 130.0f / 120.0f);
    EXPECT_EQ(car.way().getPriorityClassifier(), 30.0f);
    EXPECT_EQ(car.costfactor(motorway, true), kForbidden); // implied oneway
    EXPECT_EQ(car.way().getClassifierMask(), 17.0f);
    EXPECT_EQ(car.accessType(motorway), 2);

    EXPECT_EQ(car.costfactor({{"highway", "residential"}, {"oneway", "yes"}}, true), kForbidden);
    EXPECT_EQ(car.costfactor({{"highway", "residential"}, {"oneway", "-1"}}), kForbidden);
    EXPECT_EQ(car.costfactor({{"highway", "residential"}, {"oneway", "-1"}}, true), 130.0f / 30.0f);
    EXPECT_EQ(car.costfactor({{"highway", "primary"}, {"junction", "roundabout"}}), 130.0f / 80.0f);
    EXPECT_EQ(car.way().getClassifierMask(), 4.0f);
    EXPECT_EQ(car.costfactor({{"highway", "motorway_link"}, {"oneway", "no"}}, true), 130.0f / 60.0f);
    EXPECT_EQ(car.way().getClassifierMask(), 24.0f);

    EXPECT_EQ(car.costfactor({{"highway", "footway"}}), kForbidden);
    EXPECT_EQ(car.accessType({{"highway", "footway"}}), 0);
    EXPECT_EQ(car.costfactor({{"highway", "residential"}, {"motorcar", "no"}}), kForbidden);
    EXPECT_EQ(car.costfactor({{"highway", "residential"}, {"access", "no"}, {"motorcar", "yes"}}), 130.0f / 30.0f);
    EXPECT_EQ(car.way().getNodeAccessGranted(), 1.0f);

    BExpressionContextWay& destination = car.way({{"highway", "residential"}, {"access", "destination"}});
    EXPECT_EQ(destination.getCostfactor(), 130.0f / 30.0f);
    EXPECT_EQ(destination.getClassifierMask(), 80.0f); // 16 + 64

    EXPECT_FALSE(car.startWay(motorway));
    EXPECT_FALSE(car.startWay({{"route", "ferry"}}));
    EXPECT_TRUE(car.startWay({{"highway", "residential"}}));
}

TEST(CarProfileTest, NodeCosts) {
    ProjectProfile car("car.vpf");
    EXPECT_EQ(car.nodeCost({}), 0.0f);
    EXPECT_EQ(car.nodeCost({{"barrier", "gate"}}), 300.0f);
    EXPECT_EQ(car.nodeCost({{"barrier", "bollard"}}), 1000000.0f);
    EXPECT_EQ(car.nodeCost({{"barrier", "bollard"}, {"motorcar", "yes"}}), 300.0f);
    EXPECT_EQ(car.nodeCost({{"highway", "traffic_signals"}}), 250.0f);
    EXPECT_EQ(car.nodeCost({{"barrier", "gate"}, {"access", "private"}}), 1000000.0f);
    EXPECT_EQ(car.nodeCost({{"barrier", "gate"}, {"access", "private"}}, true), 300.0f);
    EXPECT_EQ(car.nodeCost({{"railway", "level_crossing"}, {"highway", "stop"}}), 320.0f);
}

TEST(BikeProfileTest, CostsPreferCycleFacilities) {
    ProjectProfile bike("bike.vpf");
    BExpressionContextWay& cycleway = bike.way({{"highway", "cycleway"}});
    EXPECT_EQ(cycleway.getCostfactor(), 1.0f);
    EXPECT_EQ(cycleway.getTurncost(), 20.0f);
    EXPECT_EQ(cycleway.getUphillcost(), 60.0f);
    EXPECT_EQ(cycleway.getUphillcutoff(), 1.5f);
    EXPECT_EQ(cycleway.getDownhillcost(), 30.0f);
    EXPECT_EQ(cycleway.getDownhillcutoff(), 3.0f);
    EXPECT_EQ(cycleway.getUphillmaxslope(), 8.0f);
    EXPECT_EQ(cycleway.getUphillmaxslopecost(), 120.0f);
    EXPECT_EQ(cycleway.getMaxspeed(), 0.0f);

    EXPECT_EQ(bike.costfactor({{"highway", "primary"}}), 3.0f);
    EXPECT_EQ(bike.costfactor({{"highway", "primary"}, {"cycleway", "lane"}}), 1.5f);
    EXPECT_EQ(bike.costfactor({{"highway", "residential"}}), 1.15f);
    // a signed cycle route lowers the cost, never below that of a cycle path
    EXPECT_EQ(bike.costfactor({{"highway", "residential"}, {"cycle_network", "national"}}), 1.0f);
    EXPECT_EQ(bike.costfactor({{"highway", "secondary"}, {"cycle_network", "regional"}}), 2.0f * 0.85f);
    EXPECT_EQ(bike.costfactor({{"highway", "track"}, {"tracktype", "grade3"}, {"surface", "ground"}}), 2.0f * 1.8f);

    // pushing and carrying
    BExpressionContextWay& footway = bike.way({{"highway", "footway"}});
    EXPECT_EQ(footway.getCostfactor(), 4.0f);
    EXPECT_EQ(footway.getMaxspeed(), 5.0f);
    EXPECT_EQ(footway.getUphillcost(), 0.0f);
    EXPECT_EQ(bike.costfactor({{"highway", "footway"}, {"bicycle", "yes"}}), 1.3f);
    EXPECT_EQ(bike.costfactor({{"highway", "steps"}}), 20.0f);
    EXPECT_EQ(bike.way().getMaxspeed(), 3.0f);
    VariableOverrides noSteps;
    noSteps.put("allow_steps", "0");
    ProjectProfile bikeNoSteps("bike.vpf", &noSteps);
    EXPECT_EQ(bikeNoSteps.costfactor({{"highway", "steps"}}), kForbidden);
}

TEST(BikeProfileTest, AccessAndOneway) {
    ProjectProfile bike("bike.vpf");
    EXPECT_EQ(bike.costfactor({{"highway", "motorway"}}), kForbidden);
    EXPECT_EQ(bike.accessType({{"highway", "motorway"}}), 0);
    EXPECT_EQ(bike.costfactor({{"highway", "trunk"}, {"motorroad", "yes"}}), kForbidden);
    EXPECT_EQ(bike.costfactor({{"highway", "residential"}, {"bicycle", "no"}}), kForbidden);
    EXPECT_EQ(bike.costfactor({{"highway", "residential"}, {"access", "private"}, {"bicycle", "yes"}}), 1.15f);

    const Tags oneway = {{"highway", "residential"}, {"oneway", "yes"}};
    EXPECT_EQ(bike.costfactor(oneway), 1.15f);
    EXPECT_EQ(bike.costfactor(oneway, true), kForbidden);
    EXPECT_EQ(bike.costfactor({{"highway", "residential"}, {"oneway", "yes"}, {"oneway:bicycle", "no"}}, true), 1.15f);
    EXPECT_EQ(bike.costfactor({{"highway", "residential"}, {"oneway", "yes"}, {"cycleway", "opposite_lane"}}, true),
              1.15f);
    EXPECT_FALSE(bike.startWay({{"highway", "trunk"}}));
    EXPECT_TRUE(bike.startWay({{"highway", "cycleway"}}));
}

TEST(BikeProfileTest, NodeCosts) {
    ProjectProfile bike("bike.vpf");
    EXPECT_EQ(bike.nodeCost({{"barrier", "stile"}}), 500.0f);
    EXPECT_EQ(bike.nodeCost({{"barrier", "bollard"}}), 20.0f);
    EXPECT_EQ(bike.nodeCost({{"barrier", "fence"}}), 1000000.0f);
    EXPECT_EQ(bike.nodeCost({{"highway", "traffic_signals"}}), 60.0f);
    EXPECT_EQ(bike.nodeCost({{"bicycle", "no"}}), 1000000.0f);
    EXPECT_EQ(bike.nodeCost({{"bicycle", "no"}}, true), 0.0f);
}

TEST(FootProfileTest, CostsAndAccess) {
    ProjectProfile foot("foot.vpf");
    BExpressionContextWay& footway = foot.way({{"highway", "footway"}});
    EXPECT_EQ(footway.getCostfactor(), 1.0f);
    EXPECT_EQ(footway.getTurncost(), 0.0f);
    EXPECT_EQ(footway.getUphillcost(), 15.0f);
    EXPECT_EQ(footway.getUphillcutoff(), 3.0f);
    EXPECT_EQ(foot.way().getVariableValue("validForFoot", 0.0f), 1.0f);

    EXPECT_EQ(foot.costfactor({{"highway", "primary"}}), 2.2f);
    EXPECT_EQ(foot.costfactor({{"highway", "primary"}, {"sidewalk", "both"}}), 1.3f);
    EXPECT_EQ(foot.costfactor({{"highway", "motorway"}}), kForbidden);
    EXPECT_EQ(foot.costfactor({{"highway", "trunk"}}), kForbidden);
    EXPECT_EQ(foot.costfactor({{"highway", "trunk"}, {"sidewalk", "both"}}), 1.6f);
    EXPECT_EQ(foot.costfactor({{"highway", "residential"}, {"oneway", "yes"}}, true), 1.1f);
    EXPECT_EQ(foot.costfactor({{"highway", "path"}, {"sac_scale", "mountain_hiking"}}), 1.3f);
    EXPECT_EQ(foot.costfactor({{"highway", "path"}, {"sac_scale", "alpine_hiking"}}), kForbidden);
    EXPECT_EQ(foot.costfactor({{"highway", "residential"}, {"foot", "no"}}), kForbidden);
    VariableOverrides alpine;
    alpine.put("allow_alpine_paths", "1");
    ProjectProfile mountaineer("foot.vpf", &alpine);
    EXPECT_EQ(mountaineer.costfactor({{"highway", "path"}, {"sac_scale", "alpine_hiking"}}), 4.0f);
    EXPECT_EQ(mountaineer.costfactor({{"highway", "path"}, {"sac_scale", "difficult_alpine_hiking"}}), kForbidden);

    EXPECT_EQ(foot.nodeCost({{"barrier", "fence"}}), 1000000.0f);
    EXPECT_EQ(foot.nodeCost({{"barrier", "stile"}}), 60.0f);
    EXPECT_EQ(foot.nodeCost({{"highway", "traffic_signals"}}), 20.0f);
    EXPECT_EQ(foot.nodeCost({{"highway", "traffic_signals"}, {"crossing", "traffic_signals"}}), 40.0f);
    EXPECT_FALSE(foot.startWay({{"highway", "motorway"}}));
    EXPECT_TRUE(foot.startWay({{"highway", "footway"}}));
}

TEST(ProjectProfilesTest, EngineSettings) {
    ProjectProfile car("car.vpf");
    EXPECT_FALSE(car.way().getModelClass().has_value());
    EXPECT_EQ(car.way().getVariableValue("validForCars", 0.0f), 1.0f);
    EXPECT_EQ(car.way().getVariableValue("maxSpeed", 0.0f), 130.0f);
    EXPECT_EQ(car.way().getVariableValue("turnInstructionMode", 0.0f), 1.0f);
    EXPECT_EQ(car.way().getVariableValue("check_start_way", 0.0f), 1.0f);
    ProjectProfile bike("bike.vpf");
    EXPECT_EQ(bike.way().getVariableValue("validForBikes", 0.0f), 1.0f);
    EXPECT_EQ(bike.way().getVariableValue("elevationpenaltybuffer", 0.0f), 5.0f);
    // tile decoding keeps only the tags a profile reads
    EXPECT_TRUE(bike.way().isLookupIdxUsed(bike.way().getLookupNameIdx("cycle_network")));
    EXPECT_FALSE(car.way().isLookupIdxUsed(car.way().getLookupNameIdx("cycle_network")));
    EXPECT_FALSE(car.way().isLookupIdxUsed(100000));
}

} // namespace
} // namespace ferrow::expressions
