#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "router/guidance/VoiceHint.h"
#include "router/guidance/VoiceHintList.h"
#include "router/guidance/VoiceHintProcessor.h"

namespace ferrow::router {
namespace {

std::shared_ptr<MessageData> way(float angle, std::int32_t priority = 0, std::int32_t mask = 0,
                                 std::int32_t distance = 0) {
    auto data = std::make_shared<MessageData>();
    data->turnAngle = angle;
    data->priorityClassifier = priority;
    data->classifierMask = mask;
    data->distance = distance;
    return data;
}

VoiceHint hintAt(float angle, const std::vector<float>& others = {}) {
    VoiceHint hint;
    hint.chosenWay = way(angle);
    hint.incomingWay = way(0.0f);
    for (const float other : others) hint.addBadWay(way(other));
    return hint;
}

std::int32_t commandAt(float angle, const std::vector<float>& others = {}) {
    VoiceHint hint = hintAt(angle, others);
    hint.calcCommand();
    return hint.command;
}

TEST(VoiceHint, CommandsByAngleAlone) {
    EXPECT_EQ(commandAt(0.0f), VoiceHint::CONTINUE);
    EXPECT_EQ(commandAt(-30.0f), VoiceHint::TURN_SLIGHT_LEFT);
    EXPECT_EQ(commandAt(-90.0f), VoiceHint::TURN_LEFT);
    EXPECT_EQ(commandAt(-120.0f), VoiceHint::TURN_SHARP_LEFT);
    EXPECT_EQ(commandAt(-150.0f), VoiceHint::TURN_SHARP_LEFT);
    EXPECT_EQ(commandAt(-170.0f), VoiceHint::U_TURN_LEFT);
    EXPECT_EQ(commandAt(30.0f), VoiceHint::TURN_SLIGHT_RIGHT);
    EXPECT_EQ(commandAt(45.0f), VoiceHint::TURN_SLIGHT_RIGHT);
    EXPECT_EQ(commandAt(90.0f), VoiceHint::TURN_RIGHT);
    EXPECT_EQ(commandAt(120.0f), VoiceHint::TURN_SHARP_RIGHT);
    EXPECT_EQ(commandAt(150.0f), VoiceHint::TURN_SHARP_RIGHT);
    EXPECT_EQ(commandAt(170.0f), VoiceHint::U_TURN_RIGHT);
    // Turning right back at a dead end, and the same beside another way.
    EXPECT_EQ(commandAt(179.5f), VoiceHint::U_TURN);
    EXPECT_EQ(commandAt(179.5f, {90.0f}), VoiceHint::U_TURN_RIGHT);
    EXPECT_EQ(commandAt(-179.5f), VoiceHint::U_TURN);
    EXPECT_EQ(commandAt(-179.5f, {-90.0f}), VoiceHint::U_TURN_LEFT);
}

TEST(VoiceHint, OtherWaysShiftTheCommand) {
    // Left turns: a way further left makes it slight; a way just right of it sharp.
    EXPECT_EQ(commandAt(-80.0f, {-120.0f}), VoiceHint::TURN_SLIGHT_LEFT);
    EXPECT_EQ(commandAt(-100.0f, {-40.0f}), VoiceHint::TURN_SHARP_LEFT);
    EXPECT_EQ(commandAt(80.0f, {120.0f}), VoiceHint::TURN_SLIGHT_RIGHT);
    EXPECT_EQ(commandAt(100.0f, {40.0f}), VoiceHint::TURN_SHARP_RIGHT);
    // Nearly straight on: which side the other ways lie on decides.
    EXPECT_EQ(commandAt(-10.0f, {20.0f}), VoiceHint::TURN_SLIGHT_LEFT);
    EXPECT_EQ(commandAt(-10.0f, {-60.0f, 20.0f}), VoiceHint::KEEP_LEFT);
    EXPECT_EQ(commandAt(-10.0f, {-15.0f, 60.0f}), VoiceHint::KEEP_RIGHT);
    EXPECT_EQ(commandAt(-10.0f, {-150.0f}), VoiceHint::CONTINUE);
    EXPECT_EQ(commandAt(0.0f, {-20.0f}), VoiceHint::KEEP_RIGHT);
    EXPECT_EQ(commandAt(0.0f, {20.0f}), VoiceHint::KEEP_LEFT);
    EXPECT_EQ(commandAt(0.0f, {-90.0f, 90.0f}), VoiceHint::CONTINUE);
    EXPECT_EQ(commandAt(10.0f, {-30.0f, 120.0f}), VoiceHint::TURN_SLIGHT_RIGHT);
    EXPECT_EQ(commandAt(10.0f, {-30.0f, 60.0f}), VoiceHint::KEEP_RIGHT);
    EXPECT_EQ(commandAt(10.0f, {-70.0f, 30.0f}), VoiceHint::KEEP_LEFT);

    // A way that is no candidate does not count.
    VoiceHint hint = hintAt(0.0f);
    hint.addBadWay(way(20.0f, 0, VoiceHint::MASK_NO_CANDIDATE));
    hint.addBadWay(nullptr);
    EXPECT_EQ(hint.otherWays.size(), 1u);
    hint.calcCommand();
    EXPECT_EQ(hint.command, VoiceHint::CONTINUE);
    EXPECT_FLOAT_EQ(hint.upperOtherAngle, 181.0f);
}

TEST(VoiceHint, BandEdgesHintAngleAndFixedCommands) {
    // -45 lies in the slight band, where a keep-right command stays.
    VoiceHint edge = hintAt(-45.0f);
    edge.command = VoiceHint::KEEP_RIGHT;
    edge.calcCommand();
    EXPECT_EQ(edge.command, VoiceHint::KEEP_RIGHT);
    VoiceHint below = hintAt(-45.5f);
    below.command = VoiceHint::KEEP_RIGHT;
    below.calcCommand();
    EXPECT_EQ(below.command, VoiceHint::TURN_SLIGHT_LEFT);

    VoiceHint angled = hintAt(0.0f);
    angled.hintAngle = -90.0f;
    angled.calcCommand();
    EXPECT_EQ(angled.command, VoiceHint::TURN_LEFT);

    VoiceHint straightLine = hintAt(90.0f);
    straightLine.command = VoiceHint::BEELINE;
    straightLine.calcCommand();
    EXPECT_EQ(straightLine.command, VoiceHint::BEELINE);

    VoiceHint roundabout = hintAt(-90.0f);
    roundabout.roundaboutExitCount = 2;
    roundabout.calcCommand();
    EXPECT_EQ(roundabout.command, VoiceHint::ROUNDABOUT);
    roundabout.roundaboutExitCount = -2;
    roundabout.calcCommand();
    EXPECT_EQ(roundabout.command, VoiceHint::ROUNDABOUT_CLOCKWISE);

    VoiceHint bare; // without any way
    bare.calcCommand();
    EXPECT_EQ(bare.command, VoiceHint::CONTINUE);
    EXPECT_FALSE(bare.hasGiveWay());
}

TEST(VoiceHint, GiveWayInTheDirectionOfTravel) {
    const auto giveWay = [](const char* nodeTags, const char* wayTags) {
        VoiceHint hint = hintAt(0.0f);
        hint.incomingWay->nodeTags = nodeTags;
        hint.incomingWay->wayTags = wayTags;
        return hint.hasGiveWay();
    };
    EXPECT_TRUE(giveWay("highway=stop", "highway=residential"));
    EXPECT_TRUE(giveWay("highway=give_way", "highway=residential"));
    EXPECT_FALSE(giveWay("highway=traffic_signals", "highway=residential"));
    EXPECT_TRUE(giveWay("highway=stop direction=backward", "highway=residential reversedirection=yes"));
    EXPECT_FALSE(giveWay("highway=stop direction=backward", "highway=residential"));
    EXPECT_FALSE(giveWay("highway=stop", "highway=residential reversedirection=yes"));
    VoiceHint untagged = hintAt(0.0f);
    EXPECT_FALSE(untagged.hasGiveWay());
}

// Raw hints with the given chosen-way angles and distances, route's end first.
std::vector<VoiceHint> rawHints(const std::vector<std::pair<float, std::int32_t>>& ways) {
    std::vector<VoiceHint> hints;
    for (const auto& [angle, distance] : ways) {
        VoiceHint& hint = hints.emplace_back();
        hint.chosenWay = way(angle, 0, 0, distance);
    }
    return hints;
}

TEST(VoiceHintProcessor, SumsAnglesWithinTheCatchingRange) {
    VoiceHintProcessor processor(true, VoiceHintList::TRANSPORT_MODE_CAR);
    auto hints = rawHints({{1.0f, 9}, {7.0f, 4}, {5.0f, 2}});
    EXPECT_FLOAT_EQ(processor.sumNonConsumedWithinCatchingRange(hints, 2, 5.0), 12.0f);
    EXPECT_TRUE(hints[2].angleConsumed);
    EXPECT_TRUE(hints[1].angleConsumed);
    EXPECT_FALSE(hints[0].angleConsumed);
    // Consumed hints count once.
    EXPECT_FLOAT_EQ(processor.sumNonConsumedWithinCatchingRange(hints, 1, 100.0), 0.0f);

    auto fresh = rawHints({{1.0f, 0}, {7.0f, 0}});
    EXPECT_FLOAT_EQ(processor.sumNonConsumedWithinCatchingRange(fresh, 1, 0.0), 0.0f);
    EXPECT_FALSE(fresh[1].angleConsumed);
    EXPECT_FLOAT_EQ(processor.sumNonConsumedWithinCatchingRange(fresh, 0, 100.0), 1.0f);
    EXPECT_FALSE(fresh[1].angleConsumed);
    EXPECT_FLOAT_EQ(processor.sumNonConsumedWithinCatchingRange(fresh, 2, 100.0), 0.0f); // beyond the list
    EXPECT_FLOAT_EQ(processor.sumNonConsumedWithinCatchingRange(fresh, -1, 100.0), 0.0f);

    auto ending = rawHints({{3.0f, 0}, {4.0f, 0}});
    ending[0].command = VoiceHint::END;
    EXPECT_FLOAT_EQ(processor.sumNonConsumedWithinCatchingRange(ending, 1, 100.0), 4.0f);
    EXPECT_FALSE(ending[0].angleConsumed);
}

TEST(VoiceHintProcessor, StraightHold) {
    const VoiceHintProcessor processor(true, VoiceHintList::TRANSPORT_MODE_CAR);
    // Straight on, onto a more important road, 21 m to the next hint.
    const auto holds = [&](float low, float high, auto&& change, const VoiceHint* lastJunction = nullptr) {
        VoiceHint hint = hintAt(0.0f);
        hint.chosenWay->priorityClassifier = 1;
        hint.trackIndex = 3;
        hint.distanceToNextHint = 21.0;
        hint.lowerOtherAngle = low;
        hint.upperOtherAngle = high;
        change(hint);
        return processor.checkStraightHold(hint, lastJunction, 20.0);
    };
    const auto same = [](VoiceHint&) {};
    EXPECT_TRUE(holds(-181.0f, 181.0f, same));
    EXPECT_FALSE(holds(-181.0f, 181.0f, [](VoiceHint& h) { h.distanceToNextHint = 20.0; }));
    EXPECT_FALSE(holds(-181.0f, 181.0f, [](VoiceHint& h) { h.trackIndex = 0; }));
    VoiceHint lastJunction;
    lastJunction.distanceToNextHint = 20.0;
    EXPECT_FALSE(holds(-181.0f, 181.0f, same, &lastJunction));
    lastJunction.distanceToNextHint = 25.0;
    EXPECT_TRUE(holds(-181.0f, 181.0f, same, &lastJunction));
    const auto noCandidate = [](VoiceHint& h) { h.addBadWay(way(90.0f, 0, VoiceHint::MASK_NO_CANDIDATE)); };
    EXPECT_FALSE(holds(-181.0f, 181.0f, noCandidate));
    EXPECT_FALSE(holds(-150.0f, 50.0f, same));
    EXPECT_FALSE(holds(-40.0f, 150.0f, same));
    // Ways well off to both sides: held only when the road gets more important.
    const auto fromPriority = [](std::int32_t incoming) {
        return [incoming](VoiceHint& h) {
            h.chosenWay->priorityClassifier = 10;
            h.maxOtherPriority = 5;
            h.incomingWay->priorityClassifier = incoming;
        };
    };
    EXPECT_FALSE(holds(-90.0f, 90.0f, fromPriority(10)));
    EXPECT_TRUE(holds(-90.0f, 90.0f, fromPriority(9)));
}

// Post-processing works on processed results: route's end first, each hint
// with its angle, the distance to the next and the chosen way.
class PostProcess : public ::testing::Test {
protected:
    VoiceHint& add(float angle, double distance, std::int32_t priority = 0) {
        VoiceHint& hint = travel.emplace_back();
        hint.chosenWay = way(angle, priority);
        hint.incomingWay = way(0.0f, priority);
        hint.hintAngle = angle;
        hint.distanceToNextHint = distance;
        hint.trackIndex = static_cast<std::int32_t>(travel.size());
        return hint;
    }

    // Runs the passes over the hints added, given in travel order.
    std::vector<VoiceHint*> run(std::int32_t mode, double minRange = 20.0) {
        std::vector<VoiceHint*> results;
        for (auto it = travel.rbegin(); it != travel.rend(); ++it) results.push_back(&*it);
        VoiceHintProcessor processor(true, mode);
        return processor.postProcess(results, 40.0, minRange);
    }

    void SetUp() override { travel.reserve(16); }

    std::vector<VoiceHint> travel;
};

TEST_F(PostProcess, CarMergesTwoCloseLeftTurnsIntoATurnBack) {
    add(90.0f, 30.0); // an earlier junction, close as well
    add(-80.0f, 30.0);
    add(-85.0f, 50.0);
    const auto output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0], &travel[0]);
    EXPECT_EQ(output[0]->command, VoiceHint::TURN_RIGHT);
    EXPECT_EQ(output[1], &travel[1]);
    EXPECT_FLOAT_EQ(output[1]->hintAngle, -165.0f);
    EXPECT_EQ(output[1]->command, VoiceHint::U_TURN_LEFT);
    EXPECT_DOUBLE_EQ(output[1]->distanceToNextHint, 80.0);
}

TEST_F(PostProcess, BikeKeepsCloseLeftTurnsApart) {
    add(90.0f, 30.0);
    add(-80.0f, 30.0);
    add(-85.0f, 50.0);
    const auto output = run(VoiceHintList::TRANSPORT_MODE_BIKE, 5.0);
    ASSERT_EQ(output.size(), 3u);
    EXPECT_FLOAT_EQ(output[1]->hintAngle, -80.0f);
    EXPECT_EQ(output[1]->command, VoiceHint::TURN_LEFT);
    EXPECT_DOUBLE_EQ(output[1]->distanceToNextHint, 30.0);
    EXPECT_EQ(output[2]->command, VoiceHint::TURN_LEFT);
}

TEST_F(PostProcess, FinalStraightOnCarriesItsDistanceToTheHintBefore) {
    add(10.0f, 30.0); // lost: straight on, short gap
    add(0.0f, 10.0);  // final, too short to hold
    const auto output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    EXPECT_TRUE(output.empty());
    EXPECT_DOUBLE_EQ(travel[0].distanceToNextHint, 40.0);
}

TEST_F(PostProcess, ExitsFromAMotorway) {
    // Priority 29 leaving ways of 30, slightly right: an exit at once when close.
    auto exitAt = [&](double distance, std::vector<std::int32_t> followingPriorities) {
        travel.clear();
        VoiceHint& exit = add(10.0f, distance, 29);
        exit.addBadWay(way(-30.0f, 30));
        exit.maxOtherPriority = 30;
        for (const std::int32_t priority : followingPriorities) add(90.0f, 100.0, priority);
        const auto output = run(VoiceHintList::TRANSPORT_MODE_CAR);
        EXPECT_EQ(output.front(), &travel[0]);
        return travel[0].command;
    };
    EXPECT_EQ(exitAt(30.0, {20}), VoiceHint::EXIT_RIGHT);
    // With a long gap only when the road soon drops below the exit's class.
    EXPECT_EQ(exitAt(50.0, {29, 20}), VoiceHint::EXIT_RIGHT);
    EXPECT_EQ(exitAt(50.0, {30, 20}), VoiceHint::TURN_SLIGHT_RIGHT);
    EXPECT_EQ(exitAt(50.0, {29, 29, 29, 20}), VoiceHint::TURN_SLIGHT_RIGHT);
}

TEST_F(PostProcess, SignificantAngleDecidesAShortGap) {
    auto outcome = [&](float angle) {
        travel.clear();
        add(angle, 30.0);
        add(50.0f, 100.0);
        return run(VoiceHintList::TRANSPORT_MODE_BIKE, 5.0);
    };
    auto output = outcome(22.5f);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0], &travel[1]);
    EXPECT_DOUBLE_EQ(travel[1].distanceToNextHint, 130.0);
    output = outcome(22.4f);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_DOUBLE_EQ(travel[1].distanceToNextHint, 100.0);
    output = outcome(22.6f);
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0]->command, VoiceHint::TURN_SLIGHT_RIGHT);
}

TEST_F(PostProcess, GapOfExactlyTheCatchingRangeIsAJunction) {
    add(0.0f, 40.0); // straight on: lost with any shorter gap
    add(90.0f, 100.0);
    auto output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0]->command, VoiceHint::CONTINUE);

    travel.clear();
    add(0.0f, 39.0);
    add(90.0f, 100.0);
    output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0]->command, VoiceHint::TURN_RIGHT);
}

TEST_F(PostProcess, CloseHintsFoldIntoTheFirstOrTheRoundabout) {
    add(40.0f, 1.0);
    add(30.0f, 1.0);
    add(-10.0f, 60.0);
    auto output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_FLOAT_EQ(output[0]->hintAngle, 60.0f);
    EXPECT_DOUBLE_EQ(output[0]->distanceToNextHint, 62.0);
    EXPECT_EQ(output[0]->command, VoiceHint::TURN_RIGHT);

    // A roundabout just after a turn takes the turn's angle and stays itself.
    travel.clear();
    add(40.0f, 1.0);
    VoiceHint& roundabout = add(-90.0f, 60.0);
    roundabout.roundaboutExitCount = 2;
    output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0], &travel[1]);
    EXPECT_FLOAT_EQ(output[0]->hintAngle, -50.0f);
    EXPECT_DOUBLE_EQ(output[0]->distanceToNextHint, 60.0);
    EXPECT_EQ(output[0]->command, VoiceHint::ROUNDABOUT);
}

TEST_F(PostProcess, AnOutputNeverEndsWithTheEnd) {
    add(-90.0f, 100.0);
    VoiceHint& end = add(90.0f, 100.0);
    end.command = VoiceHint::END;
    add(0.0f, 10.0); // dropped
    const auto output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0], &travel[0]);
}

TEST_F(PostProcess, StraightLineStartsStay) {
    VoiceHint& beeline = add(30.0f, 1.0);
    beeline.command = VoiceHint::BEELINE;
    beeline.requiresTurn = true;
    add(0.0f, 5.0);
    const auto output = run(VoiceHintList::TRANSPORT_MODE_CAR);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0]->command, VoiceHint::BEELINE);
    EXPECT_FLOAT_EQ(output[0]->hintAngle, 30.0f);
}

} // namespace
} // namespace ferrow::router
