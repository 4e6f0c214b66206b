#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "router/costing/MessageData.h"

namespace ferrow::router {

// A turn instruction at a track point: the section that arrives there, the
// one the route leaves by, the other ways leaving the junction, and the
// command worked out from their angles. Angles are signed degrees, right
// turns positive.
class VoiceHint {
public:
    // Command codes; 0 means not yet computed.
    static constexpr std::int32_t CONTINUE = 1;
    static constexpr std::int32_t TURN_LEFT = 2;
    static constexpr std::int32_t TURN_SLIGHT_LEFT = 3;
    static constexpr std::int32_t TURN_SHARP_LEFT = 4;
    static constexpr std::int32_t TURN_RIGHT = 5;
    static constexpr std::int32_t TURN_SLIGHT_RIGHT = 6;
    static constexpr std::int32_t TURN_SHARP_RIGHT = 7;
    static constexpr std::int32_t KEEP_LEFT = 8;
    static constexpr std::int32_t KEEP_RIGHT = 9;
    static constexpr std::int32_t U_TURN_LEFT = 10;
    static constexpr std::int32_t U_TURN_RIGHT = 11;
    static constexpr std::int32_t ROUNDABOUT = 13;
    static constexpr std::int32_t ROUNDABOUT_CLOCKWISE = 14;
    static constexpr std::int32_t U_TURN = 15;
    static constexpr std::int32_t BEELINE = 16;
    static constexpr std::int32_t EXIT_LEFT = 17;
    static constexpr std::int32_t EXIT_RIGHT = 18;
    static constexpr std::int32_t END = 100;

    // Classifier-mask bits of a way, as the profile sets them.
    static constexpr std::int32_t MASK_NO_CANDIDATE = 1;
    static constexpr std::int32_t MASK_ROUNDABOUT = 4;
    static constexpr std::int32_t MASK_LINK = 8;
    static constexpr std::int32_t MASK_ROUNDABOUT_EXIT = 16;

    // The hintAngle that stands for "use the chosen way's turn angle".
    static constexpr float NO_ANGLE = std::numeric_limits<float>::max();

    std::int32_t ilon = 0;
    std::int32_t ilat = 0;
    std::int16_t selev = 0; // quarter metres
    // Records of the track, shared with its points; null where a point has none.
    std::shared_ptr<MessageData> incomingWay{};
    std::shared_ptr<MessageData> chosenWay{};
    // Empty stands for "none yet".
    std::vector<std::shared_ptr<MessageData>> otherWays{};
    double distanceToNextHint = 0.0; // metres
    std::int32_t command = 0;
    // Index of the hint point in the track's points.
    std::int32_t trackIndex = 0;
    float hintAngle = NO_ANGLE;
    // The nearest other-way angles on each side of the chosen way's angle.
    float lowerOtherAngle = -181.0f;
    float upperOtherAngle = 181.0f;
    std::int32_t maxOtherPriority = -1;
    // The exit number of a roundabout hint; negative when the angle sum is not.
    std::int32_t roundaboutExitCount = 0;
    bool angleConsumed = false;
    bool requiresTurn = false;

    // Appends data to the other ways; null is ignored.
    void addBadWay(std::shared_ptr<MessageData> data);
    // Sets `command` from the angles (BEELINE is kept).
    void calcCommand();
    // A give-way or stop sign that applies in the direction of travel.
    bool hasGiveWay() const;
    bool isRoundabout() const { return roundaboutExitCount != 0; }

    // Fields of the chosen and the incoming way, read as a fresh record's
    // values when the way is missing.
    float chosenTurnAngle() const { return chosenWay ? chosenWay->turnAngle : 0.0f; }
    std::int32_t chosenDistance() const { return chosenWay ? chosenWay->distance : 0; }
    std::int32_t chosenPriority() const { return chosenWay ? chosenWay->priorityClassifier : 0; }
    std::int32_t chosenMask() const { return chosenWay ? chosenWay->classifierMask : 0; }
    std::int32_t incomingPriority() const { return incomingWay ? incomingWay->priorityClassifier : 0; }
    std::int32_t incomingMask() const { return incomingWay ? incomingWay->classifierMask : 0; }
};

} // namespace ferrow::router
