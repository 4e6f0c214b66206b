#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmNode.h"
#include "router/KinematicModel.h"
#include "router/KinematicNoCostModel.h"
#include "router/KinematicNoCostPath.h"
#include "router/KinematicPath.h"
#include "router/KinematicPrePath.h"
#include "router/ProfileCache.h"
#include "router/ProfileFiles.h"
#include "router/RoutingContext.h"
#include "router/StdModel.h"
#include "router/StdPath.h"
#include "support/LookupTagCoder.h"

namespace ferrow::router::testing {
namespace {

using expressions::VariableOverrides;
using mapaccess::OsmLink;
using mapaccess::OsmNode;

// Way section: primary roads allow 100 km/h, residential streets 30, tracks
// give no speed at all; motorways ask for at least 90. Node section: traffic
// signals stop, crossings allow 20 km/h, bollards are forbidden.
std::string kinematicProfile(const std::string& model = "KinematicModel", const std::string& globals = "") {
    return "---model:ferrow.router." + model +
           "\n---context:global\nassign validForCars true\n" + globals +
           "\n---context:way\n"
           "assign costfactor switch highway=track 3 1\n"
           "assign maxspeed switch highway=track 0 switch highway=residential 30 100\n"
           "assign maxspeed_explicit v:maxspeed\n"
           "assign minspeed switch highway=motorway 90 0\n"
           "assign priorityclassifier switch highway=residential 18 26\n"
           "assign classifiermask add switch highway=primary_link 8 0 switch reversedirection=yes 32 0\n"
           "---context:node\n"
           "assign initialcost switch barrier=bollard 1000000 switch highway=traffic_signals 250 0\n"
           "assign maxspeed switch highway=traffic_signals 0 switch highway=crossing 20 999\n";
}

// A routing context with a kinematic profile loaded, for pricing sections.
class KinematicFixture {
public:
    explicit KinematicFixture(const std::string& profile = kinematicProfile(),
                              std::optional<VariableOverrides> overrides = std::nullopt) {
        rc.profilePath = profiles.write("kinematic.vpf", profile);
        rc.keyValues = std::move(overrides);
        ProfileCache::parseProfile(rc);
    }
    ~KinematicFixture() { ProfileCache::releaseProfile(rc); }

    KinematicModel& model() { return dynamic_cast<KinematicModel&>(*rc.pathModel); }
    void way(const char* tags, bool reverse = false) {
        wayTags_ = testsupport::LookupTagCoder::standard().wayTags(tags).toBytes();
        rc.expctxWay->evaluate(reverse, wayTags_);
    }
    util::ByteArray nodeTags(const char* tags) const {
        return testsupport::LookupTagCoder::standard().nodeTags(tags).toBytes();
    }
    // Kinetic energy at a speed in metres per second.
    double energyAt(double speed) { return 0.5 * model().totalweight * speed * speed; }

    ProfileDir profiles;
    RoutingContext rc;

private:
    util::ByteArray wayTags_;
};

// Physics results are compared to 12 significant digits: the simulation
// reaches the same values through other roundings (speed from energy).
void expectClose(double actual, double expected) {
    EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-12 + 1e-9) << "expected " << expected;
}

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const jcompat::Throwable& failure) {
        return failure.toString();
    }
    return "<no failure>";
}

TEST(KinematicModelParameters, DefaultsAndDerivedPowers) {
    KinematicFixture f;
    const KinematicModel& m = f.model();
    EXPECT_EQ(m.turnAngleDecayTime, 5.0);
    EXPECT_EQ(m.f_roll, 232.0);
    EXPECT_EQ(m.f_air, static_cast<double>(0.4f));
    EXPECT_EQ(m.f_recup, 400.0);
    EXPECT_EQ(m.p_standby, 250.0);
    EXPECT_EQ(m.outside_temp, 20.0);
    EXPECT_EQ(m.recup_efficiency, static_cast<double>(0.7f));
    EXPECT_EQ(m.totalweight, 1640.0);
    EXPECT_EQ(m.vmax, 80.0 / 3.6);
    EXPECT_EQ(m.leftWaySpeed, 12.0 / 3.6);
    EXPECT_EQ(m.rightWaySpeed, 12.0 / 3.6);
    const double v = 80.0 / 3.6;
    const double drivePower = 2 * m.f_air * v * v * v - 250;
    expectClose(m.drivePower, drivePower); // about 8529 W
    expectClose(m.energyPerMetreAtVmax, (drivePower + 250) / v + 232 + m.f_air * v * v);
    EXPECT_NEAR(m.drivePower, 8529.15, 0.01);
}

// The overrides decide; every parameter the model read ends up among them,
// in the order read, profile values and defaults as number text.
TEST(KinematicModelParameters, OverridesAndProfileValuesAreRecorded) {
    VariableOverrides overrides;
    overrides.put("vmax", "100");
    KinematicFixture f(kinematicProfile("KinematicModel", "assign totalweight 1200"), overrides);
    EXPECT_EQ(f.model().vmax, 100.0 / 3.6);
    EXPECT_EQ(f.model().totalweight, 1200.0);
    std::vector<std::pair<std::string, std::string>> listed(f.rc.keyValues->begin(), f.rc.keyValues->end());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"vmax", "100"},         {"turnAngleDecayTime", "5.0"}, {"f_roll", "232.0"},
        {"f_air", "0.4"},        {"f_recup", "400.0"},          {"p_standby", "250.0"},
        {"outside_temp", "20.0"}, {"recup_efficiency", "0.7"},   {"totalweight", "1200.0"},
        {"leftWaySpeed", "12.0"}, {"rightWaySpeed", "12.0"}};
    EXPECT_EQ(listed, expected);

    // An override that is no number fails as number parsing does.
    VariableOverrides bad;
    bad.put("f_roll", "heavy");
    EXPECT_EQ(failureOf([&] { f.model().init(f.rc.expctxWay, f.rc.expctxNode, &bad); }),
              "NumberFormatException: For input string: \"heavy\"");
}

// The recorded values do not change the profile cache's key: the same
// request again finds the cached profile.
TEST(KinematicModelParameters, CachedProfileFoundAgain) {
    ProfileDir profiles;
    const std::string path = profiles.write("kinematic.vpf", kinematicProfile());
    const auto load = [&path] {
        RoutingContext rc;
        rc.profilePath = path;
        rc.keyValues.emplace();
        rc.keyValues->put("vmax", "100");
        const bool cached = ProfileCache::parseProfile(rc);
        EXPECT_EQ(rc.keyValues->size(), 11u);
        ProfileCache::releaseProfile(rc);
        return cached;
    };
    EXPECT_FALSE(load());
    EXPECT_TRUE(load());
}

// Values that would divide by zero or make every cost NaN are refused with
// the parameter named.
TEST(KinematicModelParameters, ValuesThatCannotDriveAreRefused) {
    const auto loadWith = [](const std::string& globals) {
        return failureOf([&] { KinematicFixture f(kinematicProfile("KinematicModel", globals)); });
    };
    EXPECT_EQ(loadWith("assign vmax 0"), "IllegalArgumentException: kinematic model: vmax must be above 0, not 0.0");
    EXPECT_EQ(loadWith("assign vmax -30"),
              "IllegalArgumentException: kinematic model: vmax must be above 0, not -30.0");
    EXPECT_EQ(loadWith("assign f_air sub multiply 1e30 1e30 multiply 1e30 1e30"),
              "IllegalArgumentException: kinematic model: f_air is not a finite number: NaN");
    EXPECT_EQ(loadWith("assign f_roll multiply 1e30 1e30"),
              "IllegalArgumentException: kinematic model: f_roll is not a finite number: Infinity");
    EXPECT_EQ(loadWith("assign f_roll 0\nassign f_air 0"),
              "IllegalArgumentException: kinematic model: the energy per metre at vmax must be a finite number "
              "above 0, not 0.0");
    EXPECT_EQ(loadWith("assign totalweight 900"), "<no failure>");
}

TEST(KinematicModelParameters, EconomicalSpeed) {
    KinematicFixture f;
    KinematicModel& m = f.model();
    const double limit = m.vmax;
    const double eco = m.getEcoSpeed(limit);
    // Below the limit, where the recuperable air resistance balances the
    // drive power saved: Q / v + r f v^2 = (1 - r) f_roll + Q / V + r f V^2.
    const double q = m.drivePower + m.p_standby;
    const double r = m.recup_efficiency;
    EXPECT_GT(eco, 16.0);
    EXPECT_LT(eco, 17.0);
    const double balance = (1 - r) * m.f_roll + q / limit + r * m.f_air * limit * limit;
    EXPECT_NEAR(q / eco + r * m.f_air * eco * eco, balance, 1e-6);
    EXPECT_EQ(m.getEcoSpeed(limit), eco);
    const double slower = m.getEcoSpeed(30 / 3.6);
    EXPECT_LT(slower, 30 / 3.6);
    EXPECT_EQ(m.getEcoSpeed(limit), eco);
}

// At vmax on the level nothing accelerates: one step over the whole
// section against air and rolling resistance, half the standby loss
// charged inside the step and the standby power over the time added.
TEST(KinematicSection, CruiseAtTheLimit) {
    KinematicFixture f;
    const KinematicModel& m = f.model();
    f.way("highway=primary maxspeed=100");
    KinematicPath path;
    path.message = std::make_shared<MessageData>();
    const double v = m.vmax;
    path.kineticEnergy = f.energyAt(v);
    const double cost = path.processWaySection(f.rc, 1000, 0, 100, 0, 1.0, false, 1, 26);

    const double force = m.f_air * v * v + m.f_roll;
    const double time = 1000 / v;
    const double energy = 1000 * force - 0.5 * time * 250 + time * 250;
    const double physics = (energy + time * m.drivePower) / m.energyPerMetreAtVmax;
    expectClose(path.totalTime, time);
    expectClose(path.totalEnergy, energy);
    expectClose(path.kineticEnergy, f.energyAt(v));
    expectClose(cost, physics + 1000 * 1.0 + 0.5);
    EXPECT_NEAR(physics, 1000 * (1 - 0.5 * 250 / v / m.energyPerMetreAtVmax), 1e-6);

    EXPECT_FLOAT_EQ(path.message->costFactor, static_cast<float>(physics / 1000));
    EXPECT_EQ(path.message->wayMaxSpeed, 100);
    EXPECT_EQ(path.message->explicitMaxSpeed, 100);
    EXPECT_EQ(path.message->wayMinSpeed, 0);
    EXPECT_EQ(path.message->junctionSpeed, 999); // not the link's first section
    EXPECT_EQ(path.message->extraTimeMillis, 0);
}

// Entering a 30 km/h street at 80 km/h: the energy drops to the limit's at
// once, and the section is driven at the speed the vehicle came with.
TEST(KinematicSection, BrakesToALowerLimit) {
    KinematicFixture f;
    const KinematicModel& m = f.model();
    f.way("highway=residential");
    KinematicPath path;
    const double v = m.vmax;
    path.kineticEnergy = f.energyAt(v);
    path.processWaySection(f.rc, 100, 0, 100, 0, 1.0, false, 1, 18);
    const double limit = 30.0f / 3.6f;
    EXPECT_EQ(path.kineticEnergy, f.energyAt(limit));
    expectClose(path.totalTime, 100 / v);
    const double time = 100 / v;
    expectClose(path.totalEnergy, 100 * (m.f_air * v * v + m.f_roll) + 0.5 * time * 250);

    // A minimum speed above vmax raises the limit: 90 km/h are kept.
    f.way("highway=motorway");
    KinematicPath fast;
    fast.kineticEnergy = f.energyAt(90.0f / 3.6f);
    fast.processWaySection(f.rc, 100, 0, 100, 0, 1.0, false, 1, 26);
    EXPECT_EQ(fast.kineticEnergy, f.energyAt(90.0f / 3.6f));
    expectClose(fast.totalTime, 100 / (90.0f / 3.6f));
}

// Downhill at the limit the slope pushes harder than the resistances: the
// excess is braked, and its recuperable share comes back as energy.
TEST(KinematicSection, RecuperatesDownhill) {
    KinematicFixture f;
    const KinematicModel& m = f.model();
    f.way("highway=primary");
    KinematicPath path;
    const double v = m.vmax;
    path.kineticEnergy = f.energyAt(v);
    path.processWaySection(f.rc, 100, -10, 100, 0, 1.0, false, 1, 26);

    const double slope = 1640 * 9.81 * -10 / 100;
    const double brake = -(slope + m.f_air * v * v + m.f_roll); // about 1179 N
    const double time = 100 / v;
    const double r = m.recup_efficiency;
    const double loss = brake * 100 * (1 - r); // more than the standby loss of 4.5 s
    ASSERT_GT(loss, time * 250);
    const double energy = -100 * (slope + brake * r) - 0.5 * loss + time * 250;
    expectClose(path.totalTime, time);
    expectClose(path.totalEnergy, energy + 1640 * 9.81 * -10);
    EXPECT_NEAR(path.totalEnergy, -99116.3, 0.1); // recovered
    expectClose(path.kineticEnergy, f.energyAt(v));
}

// From rest, 10 m towards the economical speed: the drive pushes with the
// recuperation force on top of the resistances, and the energy gained over
// the step follows the third-order series of the air term.
TEST(KinematicSection, AcceleratesFromRest) {
    KinematicFixture f;
    KinematicModel& m = f.model();
    f.way("highway=primary");
    KinematicPath path;
    path.processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 1, 26);

    const double force = m.f_roll + m.f_recup; // no speed yet: no air resistance
    const double p = 10 * (2 * m.f_air / 1640);
    const double gained = 10 * force * (p * (p * (p * 0.0416666667 + 0.166666667) + 0.5) + 1);
    const double speed = std::sqrt(2 * gained / 1640);
    const double time = speed / (force / 1640);
    const double r = m.recup_efficiency;
    const double loss = std::max(time * 250, 400 * 10 * (1 - r));
    const double energy = gained - 10 * (400 * r) - 0.5 * loss + time * 250;
    expectClose(path.kineticEnergy, gained);
    expectClose(path.totalTime, time);
    expectClose(path.totalEnergy, energy);
    EXPECT_NEAR(path.kineticEnergy, 6335.4, 0.1);
    EXPECT_NEAR(path.totalTime, 7.21, 0.01);

    // Long enough, the vehicle reaches the limit and cruises.
    KinematicPath longer;
    longer.processWaySection(f.rc, 3000, 0, 100, 0, 1.0, false, 1, 26);
    EXPECT_EQ(longer.kineticEnergy, f.energyAt(m.vmax));
    EXPECT_GT(longer.totalTime, 3000 / m.vmax);
    EXPECT_LT(longer.totalTime, 3000 / m.vmax + 60);
}

// The cap by curves and junctions shows on a track, whose speed limit of 0
// leaves the physics out (cost factor 3 per metre and -1).
TEST(KinematicSection, TurnAnglesDecay) {
    KinematicFixture f;
    f.way("highway=track");
    KinematicPath path;
    path.message = std::make_shared<MessageData>();
    path.kineticEnergy = 1e6;
    // A right angle: 200 / 90 m/s, the sum decaying over the time at that speed.
    const double cost = path.processWaySection(f.rc, 10, 0, 100, 90, 0.0, false, 1, 26);
    EXPECT_DOUBLE_EQ(cost, -1 + 10 * 3 + 0.5);
    EXPECT_FLOAT_EQ(path.message->costFactor, -0.1f);
    EXPECT_EQ(path.message->wayMaxSpeed, 0);
    EXPECT_EQ(path.totalTime, 0.0);
    const double turnSpeed = 200.0 / 90.0;
    EXPECT_DOUBLE_EQ(path.kineticEnergy, f.energyAt(turnSpeed));
    const float right = static_cast<float>(90 * std::exp(-(10 / turnSpeed) / 5));
    EXPECT_EQ(path.rightTurnAccumulator, right);
    EXPECT_EQ(path.leftTurnAccumulator, 0.0f);

    // 30 degrees left: the right-hand sum is still the larger one.
    path.kineticEnergy = 1e6;
    path.processWaySection(f.rc, 20, 0, 100, -30, std::cos(30 * M_PI / 180), false, 1, 26);
    const double speed = 200.0 / static_cast<double>(right);
    EXPECT_DOUBLE_EQ(path.kineticEnergy, f.energyAt(speed));
    EXPECT_EQ(path.leftTurnAccumulator, static_cast<float>(30 * std::exp(-(20 / speed) / 5)));

    // Under 10 degrees in all there is no limit.
    KinematicPath gentle;
    gentle.kineticEnergy = 1e6;
    gentle.processWaySection(f.rc, 10, 0, 100, 8, std::cos(8 * M_PI / 180), false, 1, 26);
    EXPECT_EQ(gentle.kineticEnergy, 1e6);
    EXPECT_EQ(gentle.rightTurnAccumulator, static_cast<float>(8 * std::exp(-(10.0 / 20) / 5)));

    // A decay time of 0 turns the curve limit off.
    KinematicFixture off(kinematicProfile("KinematicModel", "assign turnAngleDecayTime 0"));
    off.way("highway=track");
    KinematicPath free;
    free.kineticEnergy = 1e6;
    free.processWaySection(off.rc, 10, 0, 100, 90, 0.0, false, 1, 26);
    EXPECT_EQ(free.kineticEnergy, 1e6);
    EXPECT_EQ(free.rightTurnAccumulator, 0.0f);
}

// Junction handling in the link's first section: the other ways at the
// junction, seen through the pre-paths, slow the vehicle.
class JunctionTest : public ::testing::Test {
protected:
    void SetUp() override { f.way("highway=track"); }

    // Prices the first section of a link going straight on at the junction,
    // from a way of priority lastPriority onto one of priority priority.
    double enter(std::vector<KinematicPrePath>& prePaths, std::int32_t lastPriority = 26,
                 std::int32_t priority = 26) {
        f.rc.firstPrePath = nullptr;
        for (auto it = prePaths.rbegin(); it != prePaths.rend(); ++it) {
            it->next = f.rc.firstPrePath;
            f.rc.firstPrePath = &*it;
        }
        path = std::make_unique<KinematicPath>();
        path->message = std::make_shared<MessageData>();
        path->kineticEnergy = 1e6;
        path->priorityClassifier = priority;
        return path->processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 0, lastPriority);
    }

    static KinematicPrePath way(double angle, std::int32_t priority, std::int32_t mask = 0) {
        KinematicPrePath prePath;
        prePath.angle = angle;
        prePath.priorityClassifier = priority;
        prePath.classifierMask = mask;
        return prePath;
    }

    KinematicFixture f;
    std::unique_ptr<KinematicPath> path;
};

TEST_F(JunctionTest, WaysToTheSides) {
    std::vector<KinematicPrePath> none;
    enter(none);
    EXPECT_EQ(path->kineticEnergy, 1e6);
    EXPECT_EQ(path->message->junctionSpeed, 3596); // 999 m/s: no limit

    // A bigger way on the right: 12 km/h; an equal one among major roads
    // does not count.
    std::vector<KinematicPrePath> equal{way(90, 26)};
    enter(equal);
    EXPECT_EQ(path->kineticEnergy, 1e6);
    std::vector<KinematicPrePath> right{way(90, 28)};
    enter(right);
    EXPECT_DOUBLE_EQ(path->kineticEnergy, f.energyAt(12 / 3.6));
    EXPECT_EQ(path->message->junctionSpeed, 12);

    // On the left, with its own speed.
    f.model().leftWaySpeed = 20 / 3.6;
    std::vector<KinematicPrePath> left{way(-60, 30)};
    enter(left);
    EXPECT_DOUBLE_EQ(path->kineticEnergy, f.energyAt(20 / 3.6));
    EXPECT_EQ(path->message->junctionSpeed, 20);
    std::vector<KinematicPrePath> both{way(-60, 30), way(100, 30)};
    enter(both);
    EXPECT_DOUBLE_EQ(path->kineticEnergy, f.energyAt(12 / 3.6));

    // Minor ways, ways straight on or behind, and links (another kind of way
    // than this one) do not count.
    std::vector<KinematicPrePath> ignored{way(90, 18), way(20, 30), way(-150, 30), way(90, 30, 0x08 | 0x20)};
    enter(ignored);
    EXPECT_EQ(path->kineticEnergy, 1e6);
    EXPECT_EQ(path->message->junctionSpeed, 3596); // 999 m/s: no limit
    // Among minor roads an equal one does count.
    std::vector<KinematicPrePath> minor{way(90, 18)};
    enter(minor, 18, 18);
    EXPECT_EQ(path->message->junctionSpeed, 12);

    // A way marked as slowing the junction: 13 m/s at most.
    std::vector<KinematicPrePath> slowing{way(0, 10, 0x20)};
    enter(slowing);
    EXPECT_DOUBLE_EQ(path->kineticEnergy, f.energyAt(13));
    EXPECT_EQ(path->message->junctionSpeed, 47);
}

TEST_F(JunctionTest, CrossingIntoMinorRoadsStops) {
    const KinematicModel& m = f.model();
    std::vector<KinematicPrePath> none;
    // From priority 20 to 19: a stop and 10 s.
    const double cost = enter(none, 20, 19);
    EXPECT_EQ(path->kineticEnergy, 0.0);
    EXPECT_EQ(path->message->junctionSpeed, 0);
    EXPECT_EQ(path->message->extraTimeMillis, 10000);
    EXPECT_EQ(path->totalTime, 10.0);
    EXPECT_DOUBLE_EQ(cost, -1 + 10 * 3 + 0.5 + 10 * m.drivePower / m.energyPerMetreAtVmax);

    // Onto a link way from another class: 2 s, no stop.
    f.way("highway=primary_link");
    enter(none, 28, 26);
    EXPECT_EQ(path->message->extraTimeMillis, 2000);
    EXPECT_EQ(path->message->junctionSpeed, 3596); // 999 m/s: no limit

    // Only the link's first section is at the junction.
    f.way("highway=track");
    path = std::make_unique<KinematicPath>();
    path->kineticEnergy = 1e6;
    path->priorityClassifier = 19;
    path->processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 1, 20);
    EXPECT_EQ(path->kineticEnergy, 1e6);
    EXPECT_EQ(path->totalTime, 0.0);
}

// Without a turn reference (a start), turning round costs 40 s, except when
// routing backwards; there is no speed cap.
TEST(KinematicSection, StartPoint) {
    KinematicFixture f;
    const KinematicModel& m = f.model();
    f.way("highway=track");
    KinematicPath path;
    path.message = std::make_shared<MessageData>();
    path.kineticEnergy = 1e6;
    const double cost = path.processWaySection(f.rc, 10, 0, 100, 180, -1.0, true, 0, 0);
    EXPECT_EQ(path.totalTime, 40.0);
    EXPECT_EQ(path.message->extraTimeMillis, 40000);
    EXPECT_EQ(path.kineticEnergy, 1e6);
    EXPECT_DOUBLE_EQ(cost, -1 + 30 + 0.5 + 40 * m.drivePower / m.energyPerMetreAtVmax);

    f.rc.inverseDirection = true;
    KinematicPath backwards;
    backwards.processWaySection(f.rc, 10, 0, 100, 180, -1.0, true, 0, 0);
    EXPECT_EQ(backwards.totalTime, 0.0);
}

TEST(KinematicSection, TargetNodes) {
    KinematicFixture f;
    f.way("highway=primary");
    OsmNode node(188000000, 140000000);
    KinematicPath path;
    path.targetNode = &node;
    path.message = std::make_shared<MessageData>();
    path.kineticEnergy = 1e6;
    EXPECT_EQ(path.processTargetNode(f.rc), 0.0); // no tags: nothing
    EXPECT_EQ(path.kineticEnergy, 1e6);

    node.nodeTags = f.nodeTags("highway=crossing");
    EXPECT_EQ(path.processTargetNode(f.rc), 0.0);
    EXPECT_DOUBLE_EQ(path.kineticEnergy, f.energyAt(20.0f / 3.6f));
    EXPECT_EQ(path.message->nodeMaxSpeed, 20);

    node.nodeTags = f.nodeTags("highway=traffic_signals");
    EXPECT_EQ(path.processTargetNode(f.rc), 250.0);
    EXPECT_EQ(path.kineticEnergy, 0.0);
    EXPECT_EQ(path.message->nodeCost, 250);
    EXPECT_EQ(path.message->nodeTags, "highway=traffic_signals");
    EXPECT_EQ(path.message->nodeMaxSpeed, 0);

    node.nodeTags = f.nodeTags("barrier=bollard");
    EXPECT_EQ(path.processTargetNode(f.rc), -1.0);
}

// The variant without cost factor prices physics and extra time alone.
TEST(KinematicSection, NoCostVariant) {
    KinematicFixture f(kinematicProfile("KinematicNoCostModel"));
    ASSERT_EQ(typeid(*f.rc.pathModel), typeid(KinematicNoCostModel));
    const KinematicModel& m = f.model();
    f.way("highway=primary");
    KinematicNoCostPath path;
    path.kineticEnergy = f.energyAt(m.vmax);
    const double cost = path.processWaySection(f.rc, 1000, 0, 100, 0, 1.0, false, 1, 26);
    const double time = 1000 / m.vmax;
    const double energy = 1000 * (m.f_air * m.vmax * m.vmax + m.f_roll) + 0.5 * time * 250;
    expectClose(cost, (energy + time * m.drivePower) / m.energyPerMetreAtVmax);

    // A track gives no speed: -1, and the section is refused.
    f.way("highway=track");
    EXPECT_EQ(path.processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 1, 26), -1.0);
}

// A path reads its parameters from a model of its own class only, and
// extends or competes with paths of its own class only.
TEST(KinematicPathClass, ModelAndPathsMustMatch) {
    KinematicFixture kinematic;
    kinematic.way("highway=primary");
    KinematicNoCostPath noCost;
    const std::string wrongModel = "ClassCastException: the routing context's cost model is not a ";
    EXPECT_EQ(failureOf([&] { noCost.processWaySection(kinematic.rc, 10, 0, 100, 0, 1, false, 1, 26); }),
              wrongModel + "ferrow.router.KinematicNoCostModel");

    KinematicFixture noCostContext(kinematicProfile("KinematicNoCostModel"));
    noCostContext.way("highway=primary");
    KinematicPath path;
    EXPECT_EQ(failureOf([&] { path.processWaySection(noCostContext.rc, 10, 0, 100, 0, 1, false, 1, 26); }),
              wrongModel + "ferrow.router.KinematicModel");

    RoutingContext standard;
    standard.pathModel = std::make_unique<StdModel>();
    EXPECT_EQ(failureOf([&] { path.processWaySection(standard, 10, 0, 100, 0, 1, false, 1, 26); }),
              wrongModel + "ferrow.router.KinematicModel");

    StdPath stdPath;
    const std::string otherPath = "ClassCastException: a path of another cost model than this one's";
    EXPECT_EQ(failureOf([&] { path.init(stdPath); }), otherPath);
    EXPECT_EQ(failureOf([&] { path.init(noCost); }), otherPath);
    EXPECT_EQ(failureOf([&] { (void)path.definitlyWorseThan(noCost); }), otherPath);
}

TEST(KinematicPathClass, StateAndDominance) {
    KinematicPath origin;
    origin.kineticEnergy = 1.5;
    origin.totalTime = 2.5;
    origin.totalEnergy = 3.5;
    origin.leftTurnAccumulator = 4.5f;
    origin.rightTurnAccumulator = 5.5f;
    KinematicPath next;
    next.init(origin);
    EXPECT_EQ(next.kineticEnergy, 1.5);
    EXPECT_EQ(next.totalTime, 2.5);
    EXPECT_EQ(next.totalEnergy, 3.5);
    EXPECT_EQ(next.leftTurnAccumulator, 4.5f);
    EXPECT_EQ(next.rightTurnAccumulator, 5.5f);
    EXPECT_EQ(next.getTotalTime(), 2.5);
    EXPECT_EQ(next.elevationCorrection(), 0);
    next.resetState();
    EXPECT_EQ(next.kineticEnergy, 0.0);
    EXPECT_EQ(next.totalEnergy, 0.0);
    EXPECT_EQ(next.rightTurnAccumulator, 0.0f);

    // Dropped only when more than 100 dearer.
    origin.cost = 1000;
    next.cost = 1100;
    EXPECT_FALSE(next.definitlyWorseThan(origin));
    next.cost = 1101;
    EXPECT_TRUE(next.definitlyWorseThan(origin));
}

// Extreme profile values end in a result, never in a hang or a NaN cost.
TEST(KinematicSection, ExtremeValuesStaySound) {
    // A negative recuperation force downhill makes steps run backwards;
    // the simulation still ends, within its bound of steps.
    KinematicFixture pulling(kinematicProfile("KinematicModel", "assign f_recup -1000"));
    pulling.way("highway=primary");
    for (const double climb : {-100.0, -50.0, -10.0}) {
        KinematicPath path;
        const double cost = path.processWaySection(pulling.rc, 1000, climb, 100, 0, 1, false, 1, 26);
        EXPECT_TRUE(cost == -1.0 || std::isfinite(cost)) << climb;
    }

    // Nothing to push against from rest: the step's time is 0 / 0; the
    // section is refused rather than charged as nothing.
    KinematicFixture frictionless(kinematicProfile("KinematicModel", "assign f_roll 0\nassign f_recup 0"));
    frictionless.way("highway=primary");
    KinematicPath resting;
    EXPECT_EQ(resting.processWaySection(frictionless.rc, 10, 0, 100, 0, 1, false, 1, 26), -1.0);

    // An infinite minimum speed is no speed limit the vehicle can drive.
    KinematicFixture endless(
        "---model:ferrow.router.KinematicModel\n---context:global\n---context:way\nassign costfactor 1\n"
        "assign minspeed multiply 1e30 1e30\n---context:node\nassign initialcost 0\n");
    endless.way("highway=primary");
    KinematicPath unbounded;
    EXPECT_DOUBLE_EQ(unbounded.processWaySection(endless.rc, 10, 0, 100, 0, 1, false, 1, 26), -1 + 10 + 0.5);
    EXPECT_EQ(unbounded.totalTime, 0.0);
}

// A pre-path looks at one way leaving the junction: its tags evaluated in
// the direction of travel, its first point's direction from the arrival.
TEST(KinematicPrePathTest, LooksAtTheOtherWay) {
    KinematicFixture f;
    // from: west of the junction; north: a way leaving it to the north,
    // coded from the junction; east: one coded towards the junction.
    OsmNode from(180000000, 140000000);
    OsmNode junction(180001000, 140000000);
    OsmNode north(180001000, 140001000);
    OsmNode east(180002000, 140000000);
    OsmLink toNorth;
    OsmLink fromEast;
    junction.addLink(&toNorth, false, &north);
    junction.addLink(&fromEast, true, &east);
    toNorth.wayTags = testsupport::LookupTagCoder::standard().wayTags("highway=residential").toBytes();

    KinematicPath origin;
    origin.targetNode = &junction;
    origin.prevIlon = from.ilon;
    origin.prevIlat = from.ilat;

    KinematicPrePath left;
    left.init(origin, &toNorth, f.rc);
    EXPECT_EQ(left.sourceNode, &junction);
    EXPECT_EQ(left.targetNode, &north);
    EXPECT_DOUBLE_EQ(left.angle, -90.0);
    EXPECT_EQ(left.priorityClassifier, 18);
    EXPECT_EQ(left.classifierMask, 0);

    // Without tags of its own the link takes the target node's, evaluated
    // backwards here (the link is coded towards the junction).
    east.wayTags = testsupport::LookupTagCoder::standard().wayTags("highway=primary_link").toBytes();
    KinematicPrePath straight;
    straight.init(origin, &fromEast, f.rc);
    EXPECT_EQ(straight.targetNode, &east);
    EXPECT_DOUBLE_EQ(straight.angle, 0.0);
    EXPECT_EQ(straight.priorityClassifier, 26);
    EXPECT_EQ(straight.classifierMask, 8 | 32);

    // With no tags at all the empty tag set stands in.
    east.wayTags = util::ByteArray();
    straight.init(origin, &fromEast, f.rc);
    EXPECT_EQ(straight.priorityClassifier, 26);
    EXPECT_EQ(straight.classifierMask, 32);
}

// Pre-paths are recycled junction by junction, paths with the search.
TEST(KinematicModelPools, PathsAndPrePaths) {
    KinematicFixture f;
    KinematicModel& m = f.model();
    OsmPath* path = m.createPath();
    EXPECT_EQ(typeid(*path), typeid(KinematicPath));
    EXPECT_EQ(path->destinationBits, OsmPath::PATH_START_BIT);
    m.createPrePath();
    m.createPrePath();
    EXPECT_EQ(m.livePrePathCount(), 2u);
    f.rc.clearPrePaths();
    EXPECT_EQ(m.livePrePathCount(), 0u);
    EXPECT_EQ(m.livePathCount(), 1u);
    f.rc.releaseSearchMemory();
    EXPECT_EQ(m.livePathCount(), 0u);

    KinematicFixture noCost(kinematicProfile("KinematicNoCostModel"));
    OsmPath* noCostPath = noCost.model().createPath();
    EXPECT_EQ(typeid(*noCostPath), typeid(KinematicNoCostPath));
    EXPECT_EQ(noCost.model().livePathCount(), 1u);
    noCost.model().releasePath(noCostPath);
    EXPECT_EQ(noCost.model().livePathCount(), 0u);
}

// The project's economical car profile drives the kinematic model.
class CarEcoProfile : public ::testing::Test {
protected:
    KinematicFixture f{readRepositoryFile("profiles/car-eco.vpf")};

    // Cost of 1000 m at the way's speed limit, arriving at it.
    double cruise(const char* tags) {
        f.way(tags);
        KinematicModel& m = f.model();
        double limit = m.vmax;
        limit = std::min(limit, static_cast<double>(m.getWayMaxspeed()));
        KinematicPath path;
        path.kineticEnergy = f.energyAt(limit);
        return path.processWaySection(f.rc, 1000, 0, 100, 0, 1.0, false, 1, 26);
    }
};

TEST_F(CarEcoProfile, WayOutputs) {
    EXPECT_EQ(typeid(*f.rc.pathModel), typeid(KinematicModel));
    EXPECT_EQ(f.model().vmax, 90 / 3.6);
    const auto& way = *f.rc.expctxWay;
    f.way("highway=motorway");
    EXPECT_EQ(way.getMaxspeed(), 130.0f);
    EXPECT_EQ(way.getCostfactor(), 0.0f);
    f.way("highway=primary maxspeed=50");
    EXPECT_EQ(way.getMaxspeed(), 50.0f);
    EXPECT_EQ(f.model().getWayMaxspeedExplicit(), 50.0f / 3.6f);
    f.way("highway=residential");
    EXPECT_EQ(way.getMaxspeed(), 30.0f);
    EXPECT_EQ(f.model().getWayMaxspeedExplicit(), 0.0f);
    EXPECT_EQ(way.getClassifierMask(), 16.0f + 32.0f);
    f.way("highway=track tracktype=grade1 surface=gravel");
    EXPECT_EQ(way.getCostfactor(), 1.0f + 2.0f); // rough and avoided
    f.way("highway=footway");
    EXPECT_EQ(way.getCostfactor(), 10000.0f);
    EXPECT_EQ(way.getMaxspeed(), 0.0f);
    EXPECT_EQ(way.getClassifierMask(), 1.0f + 16.0f + 32.0f);
    f.way("highway=primary oneway=yes", true); // against the oneway
    EXPECT_EQ(way.getCostfactor(), 10000.0f);
}

// On good roads a kilometre costs about 1000 (metres at vmax); slow streets
// cost more, for the time; posted limits count.
TEST_F(CarEcoProfile, SectionCosts) {
    const double motorway = cruise("highway=motorway");
    const double primary = cruise("highway=primary");
    const double residential = cruise("highway=residential");
    EXPECT_NEAR(motorway, 1000, 20);
    EXPECT_NEAR(primary, 1000, 20);
    EXPECT_GT(residential, 1.5 * primary);
    EXPECT_GT(cruise("highway=primary maxspeed=30"), 1.5 * primary);
    EXPECT_GT(cruise("highway=secondary surface=sett"), 200 + cruise("highway=secondary"));
}

TEST_F(CarEcoProfile, NodesStopAndSlow) {
    f.way("highway=primary");
    OsmNode node(188000000, 140000000);
    KinematicPath path;
    path.targetNode = &node;
    const auto at = [&](const char* tags) {
        node.nodeTags = f.nodeTags(tags);
        path.kineticEnergy = 1e6;
        return path.processTargetNode(f.rc);
    };
    EXPECT_EQ(at("highway=traffic_signals"), 150.0);
    EXPECT_EQ(path.kineticEnergy, 0.0);
    EXPECT_EQ(at("highway=crossing"), 0.0);
    EXPECT_DOUBLE_EQ(path.kineticEnergy, f.energyAt(30.0f / 3.6f));
    EXPECT_EQ(at("barrier=gate"), 100.0);
    EXPECT_EQ(path.kineticEnergy, 0.0);
    EXPECT_EQ(at("barrier=bollard"), -1.0);
    EXPECT_EQ(at("railway=level_crossing"), 0.0);
    EXPECT_DOUBLE_EQ(path.kineticEnergy, f.energyAt(30.0f / 3.6f));
}

} // namespace
} // namespace ferrow::router::testing
