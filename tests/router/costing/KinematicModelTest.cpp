#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expressions/BExpressionContextWay.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/LinkShape.h"
#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmNode.h"
#include "router/costing/KinematicModel.h"
#include "router/costing/KinematicNoCostModel.h"
#include "router/costing/ProfileCache.h"
#include "router/costing/RoutingContext.h"
#include "router/costing/StdModel.h"
#include "router/costing/StdPath.h"
#include "testsupport/LookupTagCoder.h"
#include "testsupport/ProfileFiles.h"
#include "util/ByteDataWriter.h"
#include "util/CheapAngleMeter.h"

namespace ferrow::router::testing {
namespace {

using expressions::VariableOverrides;
using mapaccess::OsmLink;
using mapaccess::OsmNode;

// Way section: primary roads allow 100 km/h, residential streets 30, tracks
// give no speed at all (the physics part is then -1, which leaves speed caps
// visible); motorways ask for at least 90. Node section: traffic signals
// stop, crossings allow 20 km/h, bollards are forbidden.
std::string kinematicProfile(const std::string& model = "KinematicModel", const std::string& globals = "") {
    return "---model:ferrow.router." + model + "\n---context:global\nassign validForCars true\n" + globals +
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
    // A section of a link (not its first) on the level, straight on.
    double drive(KinematicPath& path, double dist, double deltaH = 0) {
        return path.processWaySection(rc, dist, deltaH, 100, 0, 1.0, false, 1, 26);
    }

    ProfileDir profiles;
    RoutingContext rc;

private:
    util::ByteArray wayTags_;
};

// The simulation reaches the speed through the energy, so its results
// match the formulas to 12 digits, not to the last bit.
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

// The overrides decide; every parameter the model read ends up among them,
// in the order read, profile values and defaults as number text.
TEST(KinematicModelParameters, DefaultsOverridesAndTheirRecord) {
    VariableOverrides overrides;
    overrides.put("vmax", "100");
    KinematicFixture f(kinematicProfile("KinematicModel", "assign totalweight 1200"), overrides);
    EXPECT_EQ(f.model().vmax, 100.0 / 3.6);
    EXPECT_EQ(f.model().f_air, static_cast<double>(0.4f));
    std::vector<std::pair<std::string, std::string>> listed(f.rc.keyValues->begin(), f.rc.keyValues->end());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"vmax", "100"},           {"turnAngleDecayTime", "5.0"}, {"f_roll", "232.0"},      {"f_air", "0.4"},
        {"f_recup", "400.0"},      {"p_standby", "250.0"},        {"outside_temp", "20.0"}, {"recup_efficiency", "0.7"},
        {"totalweight", "1200.0"}, {"leftWaySpeed", "12.0"},      {"rightWaySpeed", "12.0"}};
    EXPECT_EQ(listed, expected);

    KinematicFixture defaults;
    const KinematicModel& m = defaults.model();
    const double v = 80.0 / 3.6;
    EXPECT_EQ(m.vmax, v);
    expectClose(m.drivePower, 2 * m.f_air * v * v * v - 250); // about 8529 W
    expectClose(m.energyPerMetreAtVmax, (m.drivePower + 250) / v + 232 + m.f_air * v * v);

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
        rc.keyValues.emplace().put("vmax", "100");
        const bool cached = ProfileCache::parseProfile(rc);
        ProfileCache::releaseProfile(rc);
        return cached;
    };
    EXPECT_FALSE(load());
    EXPECT_TRUE(load());
}

// Values that would divide by zero or make every cost NaN are refused.
TEST(KinematicModelParameters, ValuesThatCannotDriveAreRefused) {
    const auto loadWith = [](const std::string& globals) {
        return failureOf([&] { KinematicFixture f(kinematicProfile("KinematicModel", globals)); });
    };
    const std::string refused = "IllegalArgumentException: kinematic model: ";
    EXPECT_EQ(loadWith("assign vmax -30"), refused + "vmax must be above 0, not -30.0");
    EXPECT_EQ(loadWith("assign f_air sub multiply 1e30 1e30 multiply 1e30 1e30"),
              refused + "f_air is not a finite number: NaN");
    EXPECT_EQ(loadWith("assign f_roll multiply 1e30 1e30"), refused + "f_roll is not a finite number: Infinity");
    EXPECT_EQ(loadWith("assign f_roll 0\nassign f_air 0"),
              refused + "the energy per metre at vmax must be a finite number above 0, not 0.0");
}

// Below the limit, where the recuperable air resistance balances the drive
// power saved: Q / v + r f v^2 = (1 - r) f_roll + Q / V + r f V^2.
TEST(KinematicModelParameters, EconomicalSpeed) {
    KinematicFixture f;
    KinematicModel& m = f.model();
    const double limit = m.vmax;
    const double eco = m.getEcoSpeed(limit);
    const double q = m.drivePower + m.p_standby;
    const double r = m.recup_efficiency;
    EXPECT_NEAR(eco, 16.7, 0.1);
    EXPECT_NEAR(q / eco + r * m.f_air * eco * eco, (1 - r) * m.f_roll + q / limit + r * m.f_air * limit * limit, 1e-6);
    EXPECT_LT(m.getEcoSpeed(30 / 3.6), 30 / 3.6);
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
    const double cost = f.drive(path, 1000);

    const double time = 1000 / v;
    const double energy = 1000 * (m.f_air * v * v + m.f_roll) + 0.5 * time * 250;
    const double physics = (energy + time * m.drivePower) / m.energyPerMetreAtVmax;
    expectClose(path.totalTime, time);
    expectClose(path.totalEnergy, energy);
    expectClose(cost, physics + 1000 * 1.0 + 0.5);
    EXPECT_NEAR(physics, 993.2, 0.1);
    EXPECT_FLOAT_EQ(path.message->costFactor, static_cast<float>(physics / 1000));
    EXPECT_EQ(path.message->wayMaxSpeed, 100);
    EXPECT_EQ(path.message->explicitMaxSpeed, 100);
    EXPECT_EQ(path.message->wayMinSpeed, 0);
    EXPECT_EQ(path.message->junctionSpeed, 999); // not the link's first section
}

// Entering a 30 km/h street at 80 km/h: the energy drops to the limit's at
// once, and the section is driven at the speed the vehicle came with. A
// minimum speed above vmax raises the limit.
TEST(KinematicSection, SpeedLimits) {
    KinematicFixture f;
    const KinematicModel& m = f.model();
    f.way("highway=residential");
    KinematicPath path;
    const double v = m.vmax;
    path.kineticEnergy = f.energyAt(v);
    f.drive(path, 100);
    EXPECT_EQ(path.kineticEnergy, f.energyAt(30.0f / 3.6f));
    expectClose(path.totalTime, 100 / v);
    expectClose(path.totalEnergy, 100 * (m.f_air * v * v + m.f_roll) + 0.5 * (100 / v) * 250);

    f.way("highway=motorway");
    KinematicPath fast;
    fast.kineticEnergy = f.energyAt(90.0f / 3.6f);
    f.drive(fast, 100);
    EXPECT_EQ(fast.kineticEnergy, f.energyAt(90.0f / 3.6f));
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
    f.drive(path, 100, -10);

    const double slope = 1640 * 9.81 * -10 / 100;
    const double brake = -(slope + m.f_air * v * v + m.f_roll); // about 1179 N
    const double time = 100 / v;
    const double r = m.recup_efficiency;
    const double loss = brake * 100 * (1 - r); // more than the standby loss
    ASSERT_GT(loss, time * 250);
    const double energy = -100 * (slope + brake * r) - 0.5 * loss + time * 250;
    expectClose(path.totalTime, time);
    expectClose(path.totalEnergy, energy + 1640 * 9.81 * -10);
    EXPECT_NEAR(path.totalEnergy, -99116.3, 0.1); // recovered
}

// From rest, 10 m towards the economical speed: the drive pushes with the
// recuperation force on top of the resistances, and the energy gained over
// the step follows the third-order series of the air term. Long enough,
// the vehicle reaches the limit.
TEST(KinematicSection, AcceleratesFromRest) {
    KinematicFixture f;
    KinematicModel& m = f.model();
    f.way("highway=primary");
    KinematicPath path;
    f.drive(path, 10);

    const double force = m.f_roll + m.f_recup; // no speed yet: no air resistance
    const double p = 10 * (2 * m.f_air / 1640);
    const double gained = 10 * force * (p * (p * (p * 0.0416666667 + 0.166666667) + 0.5) + 1);
    const double time = std::sqrt(2 * gained / 1640) / (force / 1640);
    const double r = m.recup_efficiency;
    const double loss = std::max(time * 250, 400 * 10 * (1 - r));
    expectClose(path.kineticEnergy, gained);
    expectClose(path.totalTime, time);
    expectClose(path.totalEnergy, gained - 10 * (400 * r) - 0.5 * loss + time * 250);
    EXPECT_NEAR(path.totalTime, 7.21, 0.01);

    KinematicPath longer;
    f.drive(longer, 3000);
    EXPECT_EQ(longer.kineticEnergy, f.energyAt(m.vmax));
}

// Curves: the turn angles summed per side and decaying with the time driven
// at the turn speed limit 200 / sum.
TEST(KinematicSection, TurnAnglesDecay) {
    KinematicFixture f;
    f.way("highway=track");
    KinematicPath path;
    path.message = std::make_shared<MessageData>();
    path.kineticEnergy = 1e6;
    const double cost = path.processWaySection(f.rc, 10, 0, 100, 90, 0.0, false, 1, 26);
    EXPECT_DOUBLE_EQ(cost, -1 + 10 * 3 + 0.5);
    EXPECT_FLOAT_EQ(path.message->costFactor, -0.1f);
    EXPECT_EQ(path.totalTime, 0.0);
    const double turnSpeed = 200.0 / 90.0;
    EXPECT_DOUBLE_EQ(path.kineticEnergy, f.energyAt(turnSpeed));
    const float right = static_cast<float>(90 * std::exp(-(10 / turnSpeed) / 5));
    EXPECT_EQ(path.rightTurnAccumulator, right);

    // 30 degrees left: the right-hand sum is still the larger one.
    path.kineticEnergy = 1e6;
    path.processWaySection(f.rc, 20, 0, 100, -30, std::cos(30 * M_PI / 180), false, 1, 26);
    const double speed = 200.0 / static_cast<double>(right);
    EXPECT_DOUBLE_EQ(path.kineticEnergy, f.energyAt(speed));
    EXPECT_EQ(path.leftTurnAccumulator, static_cast<float>(30 * std::exp(-(20 / speed) / 5)));

    // Up to 10 degrees in all, and with a decay time of 0, nothing slows.
    KinematicPath gentle;
    gentle.kineticEnergy = 1e6;
    gentle.processWaySection(f.rc, 10, 0, 100, 8, std::cos(8 * M_PI / 180), false, 1, 26);
    EXPECT_EQ(gentle.kineticEnergy, 1e6);
    KinematicFixture off(kinematicProfile("KinematicModel", "assign turnAngleDecayTime 0"));
    off.way("highway=track");
    KinematicPath free;
    free.kineticEnergy = 1e6;
    free.processWaySection(off.rc, 10, 0, 100, 90, 0.0, false, 1, 26);
    EXPECT_EQ(free.kineticEnergy, 1e6);
}

// Junction handling in a link's first section: the other ways at the
// junction, seen through the pre-paths, slow the vehicle.
class JunctionTest : public ::testing::Test {
protected:
    void SetUp() override { f.way("highway=track"); }

    // Prices the first section of a link going straight on at the junction,
    // from a way of priority lastPriority onto one of priority priority; the
    // result is the junction speed in km/h.
    std::int32_t enter(std::vector<KinematicPrePath> prePaths, std::int32_t lastPriority = 26,
                       std::int32_t priority = 26) {
        prePaths_ = std::move(prePaths);
        f.rc.firstPrePath = nullptr;
        for (KinematicPrePath& prePath : prePaths_) {
            prePath.next = f.rc.firstPrePath;
            f.rc.firstPrePath = &prePath;
        }
        path = std::make_unique<KinematicPath>();
        path->message = std::make_shared<MessageData>();
        path->kineticEnergy = 1e6;
        path->priorityClassifier = priority;
        cost = path->processWaySection(f.rc, 10, 0, 100, 0, 1.0, false, 0, lastPriority);
        return path->message->junctionSpeed;
    }

    static KinematicPrePath way(double angle, std::int32_t priority, std::int32_t mask = 0) {
        KinematicPrePath prePath;
        prePath.angle = angle;
        prePath.priorityClassifier = priority;
        prePath.classifierMask = mask;
        return prePath;
    }

    static constexpr std::int32_t kNoLimit = 3596; // 999 m/s
    KinematicFixture f;
    std::unique_ptr<KinematicPath> path;
    double cost = 0;

private:
    std::vector<KinematicPrePath> prePaths_;
};

TEST_F(JunctionTest, WaysToTheSides) {
    EXPECT_EQ(enter({}), kNoLimit);
    EXPECT_EQ(path->kineticEnergy, 1e6);
    // A bigger way on the right: 12 km/h; an equal one among major roads
    // does not count, among minor ones it does.
    EXPECT_EQ(enter({way(90, 26)}), kNoLimit);
    EXPECT_EQ(enter({way(90, 28)}), 12);
    EXPECT_DOUBLE_EQ(path->kineticEnergy, f.energyAt(12 / 3.6));
    EXPECT_EQ(enter({way(90, 18)}, 18, 18), 12);
    // On the left, with its own speed; both sides: the lower.
    f.model().leftWaySpeed = 20 / 3.6;
    EXPECT_EQ(enter({way(-60, 30)}), 20);
    EXPECT_EQ(enter({way(-60, 30), way(100, 30)}), 12);
    // Minor ways, ways straight on or behind, and links (another kind of way
    // than this one) do not count.
    EXPECT_EQ(enter({way(90, 18), way(20, 30), way(-150, 30), way(90, 30, 0x08 | 0x20)}), kNoLimit);
    // A way marked as slowing the junction: 13 m/s at most.
    EXPECT_EQ(enter({way(0, 10, 0x20)}), 47);
    EXPECT_DOUBLE_EQ(path->kineticEnergy, f.energyAt(13));
}

TEST_F(JunctionTest, CrossingIntoMinorRoadsStops) {
    const KinematicModel& m = f.model();
    // From priority 20 to 19: a stop and 10 s.
    EXPECT_EQ(enter({}, 20, 19), 0);
    EXPECT_EQ(path->kineticEnergy, 0.0);
    EXPECT_EQ(path->message->extraTimeMillis, 10000);
    EXPECT_EQ(path->totalTime, 10.0);
    EXPECT_DOUBLE_EQ(cost, -1 + 10 * 3 + 0.5 + 10 * m.drivePower / m.energyPerMetreAtVmax);
    // Onto a link way from another class: 2 s, no stop.
    f.way("highway=primary_link");
    EXPECT_EQ(enter({}, 28, 26), kNoLimit);
    EXPECT_EQ(path->message->extraTimeMillis, 2000);
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
    node.nodeTags = f.nodeTags("highway=traffic_signals");
    EXPECT_EQ(path.processTargetNode(f.rc), 250.0);
    EXPECT_EQ(path.kineticEnergy, 0.0);
    EXPECT_EQ(path.message->nodeCost, 250);
    EXPECT_EQ(path.message->nodeTags, "highway=traffic_signals");
    EXPECT_EQ(path.message->nodeMaxSpeed, 0);
    node.nodeTags = f.nodeTags("barrier=bollard");
    EXPECT_EQ(path.processTargetNode(f.rc), -1.0);
}

// The variant without cost factor prices physics and extra time alone; a
// way without speed then refuses the section.
TEST(KinematicSection, NoCostVariant) {
    KinematicFixture f(kinematicProfile("KinematicNoCostModel"));
    const OsmPathModel& model = *f.rc.pathModel;
    ASSERT_EQ(typeid(model), typeid(KinematicNoCostModel));
    const KinematicModel& m = f.model();
    f.way("highway=primary");
    KinematicNoCostPath path;
    path.kineticEnergy = f.energyAt(m.vmax);
    const double time = 1000 / m.vmax;
    const double energy = 1000 * (m.f_air * m.vmax * m.vmax + m.f_roll) + 0.5 * time * 250;
    expectClose(f.drive(path, 1000), (energy + time * m.drivePower) / m.energyPerMetreAtVmax);
    f.way("highway=track");
    EXPECT_EQ(f.drive(path, 10), -1.0);
}

// The kinematic models look ahead over a junction's other ways; the standard
// model does not, and the search then asks it for no pre-path at all.
TEST(KinematicPathClass, OnlyKinematicModelsMakePrePaths) {
    EXPECT_TRUE(KinematicModel().makesPrePaths());
    EXPECT_TRUE(KinematicNoCostModel().makesPrePaths());
    RoutingContext standard;
    standard.pathModel = std::make_unique<StdModel>();
    EXPECT_FALSE(standard.pathModel->makesPrePaths());
    StdPath origin;
    EXPECT_EQ(standard.createPrePath(origin, nullptr), nullptr);
}

// A path reads its parameters from a model of its own class only, and
// extends or competes with paths of its own class only.
TEST(KinematicPathClass, ModelAndPathsMustMatch) {
    KinematicFixture kinematic;
    kinematic.way("highway=primary");
    KinematicNoCostPath noCost;
    const std::string wrongModel = "ClassCastException: the routing context's cost model is not a ";
    EXPECT_EQ(failureOf([&] { kinematic.drive(noCost, 10); }), wrongModel + "ferrow.router.KinematicNoCostModel");
    RoutingContext standard;
    standard.pathModel = std::make_unique<StdModel>();
    KinematicPath path;
    EXPECT_EQ(failureOf([&] { path.processWaySection(standard, 10, 0, 100, 0, 1, false, 1, 26); }),
              wrongModel + "ferrow.router.KinematicModel");

    StdPath stdPath;
    const std::string otherPath = "ClassCastException: a path of another cost model than this one's";
    EXPECT_EQ(failureOf([&] { path.init(stdPath); }), otherPath);
    EXPECT_EQ(failureOf([&] { path.init(noCost); }), otherPath);
    EXPECT_EQ(failureOf([&] { (void)path.definitlyWorseThan(noCost); }), otherPath);
}

// Dropped only when more than 100 dearer than the holder.
TEST(KinematicPathClass, Dominance) {
    KinematicPath holder;
    KinematicPath next;
    holder.cost = 1000;
    next.cost = 1100;
    EXPECT_FALSE(next.definitlyWorseThan(holder));
    next.cost = 1101;
    EXPECT_TRUE(next.definitlyWorseThan(holder));
}

// Extreme profile values end in a result, never in a hang or a NaN cost.
TEST(KinematicSection, ExtremeValuesStaySound) {
    // A negative recuperation force downhill makes steps run backwards.
    KinematicFixture pulling(kinematicProfile("KinematicModel", "assign f_recup -1000"));
    pulling.way("highway=primary");
    for (const double climb : {-100.0, -50.0, -10.0}) {
        KinematicPath path;
        const double cost = pulling.drive(path, 1000, climb);
        EXPECT_TRUE(cost == -1.0 || std::isfinite(cost)) << climb;
    }
    // Nothing to push against from rest: the step's time is 0 / 0; the
    // section is refused rather than charged as nothing.
    KinematicFixture frictionless(kinematicProfile("KinematicModel", "assign f_roll 0\nassign f_recup 0"));
    frictionless.way("highway=primary");
    KinematicPath resting;
    EXPECT_EQ(frictionless.drive(resting, 10), -1.0);
    // An infinite minimum speed is no limit a vehicle can drive.
    KinematicFixture endless(
        "---model:ferrow.router.KinematicModel\n---context:global\n---context:way\nassign costfactor 1\n"
        "assign minspeed multiply 1e30 1e30\n---context:node\nassign initialcost 0\n");
    endless.way("highway=primary");
    KinematicPath unbounded;
    EXPECT_DOUBLE_EQ(endless.drive(unbounded, 10), -1 + 10 + 0.5);
    EXPECT_EQ(unbounded.totalTime, 0.0);
}

// A pre-path looks at one way leaving the junction: its tags evaluated in
// the direction of travel, its first point's direction from the arrival.
TEST(KinematicPrePathTest, LooksAtTheOtherWay) {
    KinematicFixture f;
    // Arriving from the west; a way to the north coded from the junction, one
    // to the east coded towards it.
    OsmNode junction(180001000, 140000000);
    OsmNode north(180001000, 140001000);
    OsmNode east(180002000, 140000000);
    OsmLink toNorth;
    OsmLink fromEast;
    junction.addLink(&toNorth, false, &north);
    junction.addLink(&fromEast, true, &east);
    const auto& coder = testsupport::LookupTagCoder::standard();
    toNorth.wayTags = coder.wayTags("highway=residential").toBytes();
    KinematicPath origin;
    origin.targetNode = &junction;
    origin.prevIlon = 180000000;
    origin.prevIlat = 140000000;

    KinematicPrePath left;
    left.init(origin, &toNorth, f.rc);
    EXPECT_EQ(left.targetNode, &north);
    EXPECT_DOUBLE_EQ(left.angle, -90.0);
    EXPECT_EQ(left.priorityClassifier, 18);
    EXPECT_EQ(left.classifierMask, 0);

    // Without tags of its own the link takes the target node's; without
    // those, the empty tag set.
    east.wayTags = coder.wayTags("highway=primary_link").toBytes();
    KinematicPrePath straight;
    straight.init(origin, &fromEast, f.rc);
    EXPECT_DOUBLE_EQ(straight.angle, 0.0);
    EXPECT_EQ(straight.priorityClassifier, 26);
    EXPECT_EQ(straight.classifierMask, 8 | 32); // a link, evaluated backwards
    east.wayTags = util::ByteArray();
    straight.init(origin, &fromEast, f.rc);
    EXPECT_EQ(straight.classifierMask, 32);
}

// A link measured when its tile was decoded is looked at over its shape (the
// points its geometry codes); with a waypoint in front its geometry is
// decoded and the segment measured, which catches the waypoint.
TEST(KinematicPrePathTest, MeasuredLinksLookAtTheirShape) {
    KinematicFixture f;
    OsmNode junction(180001000, 140000000);
    OsmNode north(180001000, 140002000);
    OsmLink toNorth;
    junction.addLink(&toNorth, false, &north);
    toNorth.wayTags = testsupport::LookupTagCoder::standard().wayTags("highway=residential").toBytes();
    // one bend point, north-east of the junction
    std::vector<util::Byte> coded(8);
    util::ByteDataWriter writer(coded);
    for (const std::int32_t delta : {500, 1000, 0}) writer.writeSignedVarLength(delta);
    const util::ByteArray geometry =
        util::ByteArray::copyOf(std::span<const util::Byte>(coded).first(writer.getPosition()));
    const mapaccess::ShapePoint bend{0.0, 1.0, 180001500, 140001000, 120, OsmNode::NO_ELEVATION};
    KinematicPath fromWest;
    fromWest.targetNode = &junction;
    fromWest.prevIlon = 180000000;
    fromWest.prevIlat = 140000000;
    KinematicPath fromNorth;
    fromNorth.targetNode = &north;
    fromNorth.prevIlon = 180001000;
    fromNorth.prevIlat = 140003000;
    util::CheapAngleMeter meter;
    const double towardsBend = meter.calcAngle(180000000, 140000000, 180001000, 140000000, 180001500, 140001000);
    const double backToBend = meter.calcAngle(180001000, 140003000, 180001000, 140002000, 180001500, 140001000);

    toNorth.geometry = geometry;
    KinematicPrePath decoded;
    decoded.init(fromWest, &toNorth, f.rc);
    EXPECT_DOUBLE_EQ(decoded.angle, towardsBend);

    toNorth.shape = mapaccess::LinkShape{&bend, 1, 112};
    toNorth.geometry = {}; // the shape alone gives the point
    KinematicPrePath measured;
    measured.init(fromWest, &toNorth, f.rc);
    EXPECT_DOUBLE_EQ(measured.angle, towardsBend);
    KinematicPrePath backwards;
    backwards.init(fromNorth, &toNorth, f.rc);
    EXPECT_DOUBLE_EQ(backwards.angle, backToBend);

    toNorth.geometry = geometry;
    auto waypoint = std::make_shared<OsmNodeNamed>(180001300, 140000500, "wp");
    waypoint->radius = 50;
    f.rc.setWaypoint(waypoint, nullptr, false);
    KinematicPrePath caught;
    caught.init(fromWest, &toNorth, f.rc);
    EXPECT_DOUBLE_EQ(caught.angle, towardsBend);
    EXPECT_TRUE(f.rc.shortestMatch);
    f.rc.unsetWaypoint();
}

// Pre-paths are recycled junction by junction, paths with the search.
TEST(KinematicModelPools, PathsAndPrePaths) {
    KinematicFixture f;
    KinematicModel& m = f.model();
    const OsmPath& path = *m.createPath();
    EXPECT_EQ(typeid(path), typeid(KinematicPath));
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
    noCost.model().releasePath(noCostPath);
    EXPECT_EQ(noCost.model().livePathCount(), 0u);
}

// The project's economical car profile drives the kinematic model.
TEST(CarEcoProfile, PricesWaysAndNodes) {
    KinematicFixture f(readRepositoryFile("profiles/car-eco.vpf"));
    const OsmPathModel& model = *f.rc.pathModel;
    ASSERT_EQ(typeid(model), typeid(KinematicModel));
    EXPECT_EQ(f.model().vmax, 90 / 3.6);
    const auto& way = *f.rc.expctxWay;
    f.way("highway=primary maxspeed=50");
    EXPECT_EQ(way.getMaxspeed(), 50.0f);
    EXPECT_EQ(f.model().getWayMaxspeedExplicit(), 50.0f / 3.6f);
    f.way("highway=track tracktype=grade1 surface=gravel");
    EXPECT_EQ(way.getCostfactor(), 1.0f + 2.0f); // rough and avoided
    f.way("highway=footway");
    EXPECT_EQ(way.getCostfactor(), 10000.0f);
    EXPECT_EQ(way.getClassifierMask(), 1.0f + 16.0f + 32.0f);
    f.way("highway=primary oneway=yes", true);
    EXPECT_EQ(way.getCostfactor(), 10000.0f);

    // A kilometre at the way's limit: about 1000 on good roads; slow
    // streets cost more, for the time.
    const auto cruise = [&f](const char* tags) {
        f.way(tags);
        KinematicPath path;
        path.kineticEnergy = f.energyAt(std::min(f.model().vmax, static_cast<double>(f.model().getWayMaxspeed())));
        return f.drive(path, 1000);
    };
    const double primary = cruise("highway=primary");
    EXPECT_NEAR(cruise("highway=motorway"), 1000, 20);
    EXPECT_NEAR(primary, 1000, 20);
    EXPECT_GT(cruise("highway=residential"), 1.5 * primary);
    EXPECT_GT(cruise("highway=secondary surface=sett"), 200 + cruise("highway=secondary"));

    // Signals stop the car and add waiting.
    f.way("highway=primary");
    OsmNode node(188000000, 140000000);
    node.nodeTags = f.nodeTags("highway=traffic_signals");
    KinematicPath path;
    path.targetNode = &node;
    path.kineticEnergy = 1e6;
    EXPECT_EQ(path.processTargetNode(f.rc), 150.0);
    EXPECT_EQ(path.kineticEnergy, 0.0);
    node.nodeTags = f.nodeTags("barrier=bollard");
    EXPECT_EQ(path.processTargetNode(f.rc), -1.0);
}

} // namespace
} // namespace ferrow::router::testing
