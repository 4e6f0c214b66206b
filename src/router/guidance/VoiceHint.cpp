#include "router/guidance/VoiceHint.h"

#include <string_view>

namespace ferrow::router {

void VoiceHint::addBadWay(std::shared_ptr<MessageData> data) {
    if (!data) return;
    if (otherWays.empty()) otherWays.reserve(10);
    otherWays.push_back(std::move(data));
}

void VoiceHint::calcCommand() {
    const float g = chosenTurnAngle();
    for (const std::shared_ptr<MessageData>& way : otherWays) {
        if ((way->classifierMask & MASK_NO_CANDIDATE) != 0) continue;
        const float t = way->turnAngle;
        if (lowerOtherAngle < t && t < g) lowerOtherAngle = t;
        if (g < t && t < upperOtherAngle) upperOtherAngle = t;
    }
    if (command == BEELINE) return;
    if (roundaboutExitCount > 0) {
        command = ROUNDABOUT;
        return;
    }
    if (roundaboutExitCount < 0) {
        command = ROUNDABOUT_CLOCKWISE;
        return;
    }

    const float a = hintAngle == NO_ANGLE ? g : hintAngle;
    const float low = lowerOtherAngle;
    const float high = upperOtherAngle;
    const bool noOthers = low == -181.0f && high == 181.0f;
    if (-180.0f <= a && a <= -179.0f && noOthers) {
        command = U_TURN;
    } else if (a < -159.0f) {
        command = U_TURN_LEFT;
    } else if (a < -135.0f) {
        command = TURN_SHARP_LEFT;
    } else if (a < -45.0f) {
        if (a < -95.0f && high < -30.0f && low < -180.0f) {
            command = TURN_SHARP_LEFT;
        } else if (a > -85.0f && low > -180.0f && high > -10.0f) {
            command = TURN_SLIGHT_LEFT;
        } else if (a < -110.0f) {
            command = TURN_SHARP_LEFT;
        } else if (a > -60.0f) {
            command = TURN_SLIGHT_LEFT;
        } else {
            command = TURN_LEFT;
        }
    } else if (a < -21.0f) {
        if (command != KEEP_RIGHT) command = TURN_SLIGHT_LEFT;
    } else if (a < -5.0f) {
        if (low < -100.0f && high < 45.0f) {
            command = TURN_SLIGHT_LEFT;
        } else if (low >= -100.0f && high < 45.0f) {
            command = KEEP_LEFT;
        } else if (low > -35.0f && high > 55.0f) {
            command = KEEP_RIGHT;
        } else {
            command = CONTINUE;
        }
    } else if (a < 5.0f) {
        if (low > -30.0f) {
            command = KEEP_RIGHT;
        } else if (high < 30.0f) {
            command = KEEP_LEFT;
        } else {
            command = CONTINUE;
        }
    } else if (a < 21.0f) {
        if (low > -45.0f && high > 100.0f) {
            command = TURN_SLIGHT_RIGHT;
        } else if (low > -45.0f && high <= 100.0f) {
            command = KEEP_RIGHT;
        } else if (low < -55.0f && high < 35.0f) {
            command = KEEP_LEFT;
        } else {
            command = CONTINUE;
        }
    } else if (a < 45.0f) {
        command = TURN_SLIGHT_RIGHT;
    } else if (a < 135.0f) {
        if (a < 85.0f && high < 180.0f && low < 10.0f) {
            command = TURN_SLIGHT_RIGHT;
        } else if (a > 95.0f && low > 30.0f && high > 180.0f) {
            command = TURN_SHARP_RIGHT;
        } else if (a > 110.0f) {
            command = TURN_SHARP_RIGHT;
        } else if (a < 60.0f) {
            command = TURN_SLIGHT_RIGHT;
        } else {
            command = TURN_RIGHT;
        }
    } else if (a < 159.0f) {
        command = TURN_SHARP_RIGHT;
    } else if (179.0f <= a && a <= 180.0f && noOthers) {
        command = U_TURN;
    } else {
        command = U_TURN_RIGHT;
    }
}

bool VoiceHint::hasGiveWay() const {
    if (!incomingWay || !incomingWay->nodeTags) return false;
    const std::string_view nodeTags = *incomingWay->nodeTags;
    const std::string_view wayTags =
        incomingWay->wayTags ? std::string_view(*incomingWay->wayTags) : std::string_view();
    const auto contains = [](std::string_view text, std::string_view part) {
        return text.find(part) != std::string_view::npos;
    };
    if (!contains(nodeTags, "highway=give_way") && !contains(nodeTags, "highway=stop")) return false;
    // A sign tagged for the backward direction applies on a way walked against its drawing direction.
    return contains(nodeTags, "direction=backward") == contains(wayTags, "reversedirection=yes");
}

} // namespace ferrow::router
