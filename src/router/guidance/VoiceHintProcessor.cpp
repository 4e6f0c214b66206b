#include "router/guidance/VoiceHintProcessor.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "router/guidance/VoiceHintList.h"

namespace ferrow::router {

namespace {

bool hasMask(const MessageData& way, std::int32_t bit) { return (way.classifierMask & bit) != 0; }

bool isStraightOn(std::int32_t command) {
    return command == VoiceHint::CONTINUE || command == VoiceHint::KEEP_LEFT || command == VoiceHint::KEEP_RIGHT;
}

// A way of priority 29 that leaves ways of priority 30 is an exit.
bool leavesForExit(const VoiceHint& hint) { return hint.chosenPriority() == 29 && hint.maxOtherPriority == 30; }

std::int32_t exitCommand(std::int32_t command) {
    switch (command) {
    case VoiceHint::TURN_SLIGHT_LEFT:
    case VoiceHint::KEEP_LEFT:
        return VoiceHint::EXIT_LEFT;
    case VoiceHint::TURN_SLIGHT_RIGHT:
    case VoiceHint::KEEP_RIGHT:
        return VoiceHint::EXIT_RIGHT;
    default:
        return command;
    }
}

} // namespace

bool VoiceHintProcessor::isCar() const { return transportMode_ == VoiceHintList::TRANSPORT_MODE_CAR; }

float VoiceHintProcessor::sumNonConsumedWithinCatchingRange(std::vector<VoiceHint>& hints, std::int32_t offset,
                                                            double range) {
    float sum = 0.0f;
    if (offset < 0 || !(range > 0.0) || static_cast<std::size_t>(offset) >= hints.size()) return sum;
    double distance = 0.0;
    auto i = static_cast<std::size_t>(offset);
    do {
        VoiceHint& hint = hints[i];
        if (hint.angleConsumed || hint.command == VoiceHint::BEELINE || hint.command == VoiceHint::END) break;
        hint.angleConsumed = true;
        sum += hint.chosenTurnAngle();
        if (i == 0) break;
        --i;
        distance += hint.chosenDistance();
    } while (distance < range);
    return sum;
}

std::vector<VoiceHint*> VoiceHintProcessor::process(std::vector<VoiceHint>& inputs) {
    std::vector<VoiceHint*> results;
    double distance = 0.0; // since the last kept hint
    // The roundabout being passed: its exit's raw index (the first met), exits counted, angle sum.
    std::ptrdiff_t roundaboutStart = -1;
    std::int32_t roundaboutExit = 0;
    float roundaboutTurnAngle = 0.0f;

    for (std::size_t index = 0; index < inputs.size(); ++index) {
        VoiceHint& input = inputs[index];
        if (input.command == VoiceHint::BEELINE) {
            results.push_back(&input);
            continue;
        }
        if (index != 0) distance += input.chosenDistance();

        if (explicitRoundabouts_ && (input.incomingMask() & VoiceHint::MASK_ROUNDABOUT) != 0) {
            if (roundaboutStart < 0) roundaboutStart = static_cast<std::ptrdiff_t>(index);
            roundaboutTurnAngle +=
                sumNonConsumedWithinCatchingRange(inputs, static_cast<std::int32_t>(index), NEAR_CATCHING_RANGE);
            if (roundaboutStart == static_cast<std::ptrdiff_t>(index) && !input.otherWays.empty()) {
                // At the exit the roundabout goes on along another way, not the chosen one.
                roundaboutTurnAngle -= input.chosenTurnAngle();
                for (const std::shared_ptr<MessageData>& way : input.otherWays) {
                    if (!hasMask(*way, VoiceHint::MASK_NO_CANDIDATE)) roundaboutTurnAngle += way->turnAngle;
                }
            }
            const bool passesExit = std::any_of(input.otherWays.begin(), input.otherWays.end(), [](const auto& way) {
                return hasMask(*way, VoiceHint::MASK_ROUNDABOUT_EXIT) && !hasMask(*way, VoiceHint::MASK_NO_CANDIDATE);
            });
            if (passesExit) {
                ++roundaboutExit;
            } else if (roundaboutExit == 0 || roundaboutExit == 1) {
                roundaboutExit = 1;
            }
            continue;
        }

        if (roundaboutExit > 0) {
            makeRoundaboutHint(inputs, index, static_cast<std::size_t>(roundaboutStart), roundaboutExit,
                               roundaboutTurnAngle, distance);
            results.push_back(&input);
            roundaboutStart = -1;
            roundaboutExit = 0;
            roundaboutTurnAngle = 0.0f;
            distance = 0.0;
            continue;
        }

        if (processJunction(inputs, index, distance)) {
            results.push_back(&input);
            distance = 0.0;
        }
        if (!results.empty() && distance < NEAR_CATCHING_RANGE) {
            results.back()->hintAngle +=
                sumNonConsumedWithinCatchingRange(inputs, static_cast<std::int32_t>(index), NEAR_CATCHING_RANGE);
        }
    }
    return results;
}

void VoiceHintProcessor::makeRoundaboutHint(std::vector<VoiceHint>& inputs, std::size_t index, std::size_t start,
                                            std::int32_t exitCount, float angleSum, double distance) const {
    VoiceHint& hint = inputs[index];
    hint.hintAngle = angleSum;
    if (hint.chosenWay) hint.chosenWay->turnAngle = angleSum;
    hint.distanceToNextHint = distance;
    hint.angleConsumed = true;
    hint.roundaboutExitCount = angleSum < 0.0f ? exitCount : -exitCount;

    // The exits passed inside the roundabout, each at the angle turned so far.
    std::vector<std::shared_ptr<MessageData>> exits;
    exits.reserve(10);
    float angle = 0.0f;
    for (std::size_t j = index; j > start + 1;) {
        const VoiceHint& inner = inputs[--j];
        angle += inner.chosenTurnAngle();
        for (const std::shared_ptr<MessageData>& way : inner.otherWays) {
            if (hasMask(*way, VoiceHint::MASK_NO_CANDIDATE)) continue;
            auto exit = std::make_shared<MessageData>();
            exit->distance = inner.chosenDistance();
            exit->priorityClassifier = inner.chosenPriority();
            exit->turnAngle = angle;
            exits.push_back(std::move(exit));
        }
    }
    hint.otherWays = std::move(exits);
}

bool VoiceHintProcessor::processJunction(std::vector<VoiceHint>& inputs, std::size_t index, double distance) {
    VoiceHint& input = inputs[index];
    const float g = input.chosenTurnAngle();
    const float absG = std::abs(g);

    std::int32_t maxPriorityAll = -1;
    std::int32_t maxPriorityCandidates = -1;
    float maxAngle = -180.0f;
    float minAngle = 180.0f;
    float minAbsAngle = 180.0f;
    bool otherIsLink = false;
    for (const std::shared_ptr<MessageData>& way : input.otherWays) {
        const float t = way->turnAngle;
        const std::int32_t priority = way->priorityClassifier;
        if (priority > maxPriorityAll) {
            input.maxOtherPriority = std::max(input.maxOtherPriority, priority);
            maxPriorityAll = priority;
        }
        if (hasMask(*way, VoiceHint::MASK_LINK)) otherIsLink = true;
        if (hasMask(*way, VoiceHint::MASK_NO_CANDIDATE) || std::abs(t) - absG > 80.0f) {
            if (minAbsAngle == 180.0f) minAbsAngle = absG;
            continue;
        }
        if (std::abs(t) < minAbsAngle && way->costFactor < 20.0f) minAbsAngle = std::abs(t);
        if (priority > maxPriorityCandidates) {
            input.maxOtherPriority = std::max(input.maxOtherPriority, priority);
            maxPriorityCandidates = priority;
        }
        maxAngle = std::max(maxAngle, t);
        minAngle = std::min(minAngle, t);
    }

    const bool hasOthers = !input.otherWays.empty();
    const bool incomingIsLink = (input.incomingMask() & VoiceHint::MASK_LINK) != 0;
    const bool chosenIsLink = (input.chosenMask() & VoiceHint::MASK_LINK) != 0;
    const std::int32_t incomingPriority = input.incomingPriority();
    const std::int32_t chosenPriority = input.chosenPriority();
    const std::int32_t minPriority = std::min(incomingPriority, chosenPriority);
    const auto giveWayAt = [&](std::size_t i) { return i < inputs.size() && inputs[i].hasGiveWay(); };

    const bool isDecisionPoint =
        chosenPriority < maxPriorityCandidates || (absG > 35.0f && hasOthers) ||
        (minPriority < maxPriorityAll && !(incomingIsLink && !chosenIsLink)) ||
        (absG > 5.0f && otherIsLink && !(!incomingIsLink && chosenIsLink)) ||
        (absG < 5.0f && !incomingIsLink && chosenIsLink && !otherIsLink) || (179.0f <= absG && absG <= 180.0f) ||
        (minAbsAngle < 35.0f && minAbsAngle != 180.0f && incomingPriority == chosenPriority &&
         minPriority - maxPriorityAll < 3 && !otherIsLink) ||
        (transportMode_ != VoiceHintList::TRANSPORT_MODE_FOOT && hasOthers && chosenPriority >= maxPriorityCandidates &&
         (input.hasGiveWay() || giveWayAt(index + 1)));
    if (!isDecisionPoint && maxPriorityCandidates < minPriority) return false;

    input.hintAngle = g;
    input.calcCommand();
    input.requiresTurn = input.command == VoiceHint::CONTINUE && !isDecisionPoint;
    if (absG > 5.0f) {
        // Another way close beside the chosen one: which side to keep to matters more than the angle.
        if (maxAngle < g && maxAngle > g - 45.0f - std::max(g, 0.0f)) input.command = VoiceHint::KEEP_RIGHT;
        if (minAngle > g && minAngle < g + 45.0f - std::min(g, 0.0f)) input.command = VoiceHint::KEEP_LEFT;
    }
    if (explicitRoundabouts_) {
        input.hintAngle =
            sumNonConsumedWithinCatchingRange(inputs, static_cast<std::int32_t>(index), WIDE_CATCHING_RANGE);
    } else {
        input.angleConsumed = true;
    }
    input.distanceToNextHint = distance;
    return true;
}

bool VoiceHintProcessor::checkStraightHold(const VoiceHint& hint, const VoiceHint* lastJunction,
                                           double minLength) const {
    if (hint.trackIndex == 0) return false;
    const float low = hint.lowerOtherAngle;
    const float high = hint.upperOtherAngle;
    const bool noOthers = low == -181.0f && high == 181.0f;
    const bool someNoCandidate = std::any_of(hint.otherWays.begin(), hint.otherWays.end(), [](const auto& way) {
        return hasMask(*way, VoiceHint::MASK_NO_CANDIDATE);
    });
    if (someNoCandidate && noOthers) return false;
    if (low != -181.0f && std::abs(low) > 135.0f && std::abs(high) > 35.0f) return false;
    if (std::abs(low) > 35.0f && high != 181.0f && high > 135.0f) return false;
    if (std::abs(low) >= 35.0f && high >= 35.0f && hint.chosenPriority() >= hint.maxOtherPriority &&
        hint.chosenPriority() <= hint.incomingPriority()) {
        return false;
    }
    if (lastJunction != nullptr && lastJunction->distanceToNextHint <= minLength) return false;
    return hint.distanceToNextHint > minLength;
}

std::vector<VoiceHint*> VoiceHintProcessor::absorbCloseHints(const std::vector<VoiceHint*>& results) const {
    std::vector<VoiceHint*> travel;
    for (std::size_t remaining = results.size(); remaining > 0;) {
        VoiceHint* hint = results[--remaining];
        if (hint->command == 0) hint->calcCommand();
        if (hint->command == VoiceHint::END || (hint->requiresTurn && hint->command == VoiceHint::BEELINE)) {
            travel.push_back(hint);
            continue;
        }
        if (hint->requiresTurn && hint->command == VoiceHint::CONTINUE) {
            if (!travel.empty()) travel.back()->distanceToNextHint += hint->distanceToNextHint;
            continue;
        }
        double gap = hint->distanceToNextHint;
        while (gap < NEAR_CATCHING_RANGE && remaining > 0) {
            VoiceHint* next = results[--remaining];
            hint->distanceToNextHint += next->distanceToNextHint;
            hint->hintAngle += next->hintAngle;
            gap = next->distanceToNextHint;
            if (next->isRoundabout()) {
                // The roundabout gives the instruction; the turn just before it adds to its angle.
                next->hintAngle = hint->hintAngle;
                hint = next;
                break;
            }
        }
        if (!explicitRoundabouts_) hint->roundaboutExitCount = 0;
        hint->calcCommand();
        travel.push_back(hint);
    }
    return travel;
}

std::vector<VoiceHint*> VoiceHintProcessor::postProcess(const std::vector<VoiceHint*>& results, double catchingRange,
                                                        double minRange) {
    const std::vector<VoiceHint*> travel = absorbCloseHints(results);

    std::vector<VoiceHint*> output;
    VoiceHint* lastJunction = nullptr; // the hint most recently kept as a junction
    VoiceHint* previous = nullptr;     // the hint examined before, straight-line starts aside
    for (std::size_t i = 0; i < travel.size(); ++i) {
        VoiceHint& hint = *travel[i];
        VoiceHint* const next = i + 1 < travel.size() ? travel[i + 1] : nullptr;
        if (hint.command == VoiceHint::BEELINE) {
            output.push_back(&hint);
            continue;
        }

        const auto retain = [&] {
            output.push_back(&hint);
            lastJunction = &hint;
        };
        const auto absorbNext = [&] {
            hint.distanceToNextHint += next->distanceToNextHint;
            ++i;
            retain();
        };
        const auto carryTo = [&](VoiceHint* target) {
            if (target != nullptr) target->distanceToNextHint += hint.distanceToNextHint;
        };
        const bool straightOn = isStraightOn(hint.command);
        const bool chosenIsLink = (hint.chosenMask() & VoiceHint::MASK_LINK) != 0;
        const std::int32_t chosenPriority = hint.chosenPriority();
        const float angle = hint.hintAngle;
        const float absAngle = std::abs(angle);

        if (next == nullptr) {
            if (straightOn) {
                if (chosenIsLink || checkStraightHold(hint, lastJunction, minRange)) {
                    output.push_back(&hint);
                } else {
                    carryTo(previous);
                }
            } else if (hint.command != VoiceHint::END) {
                output.push_back(&hint);
            }
        } else if ((lastJunction != nullptr && lastJunction->distanceToNextHint > catchingRange) ||
                   hint.distanceToNextHint > catchingRange) {
            if (straightOn) {
                if (checkStraightHold(hint, lastJunction, minRange)) {
                    retain();
                } else {
                    carryTo(lastJunction);
                }
            } else if (leavesForExit(hint)) {
                // An exit only when the road left by it soon drops below the exit's class.
                bool isExit = false;
                for (std::size_t k = 1; k <= 3 && i + k < travel.size(); ++k) {
                    const std::int32_t priority = travel[i + k]->chosenPriority();
                    if (priority < 29) {
                        isExit = true;
                        break;
                    }
                    if (priority == 30) break;
                }
                if (isExit) hint.command = exitCommand(hint.command);
                retain();
            } else if (chosenPriority == 26 || chosenPriority == 28 || chosenPriority == 30) {
                if (hint.isRoundabout() || absAngle > 21.0f || absAngle - hint.lowerOtherAngle < 21.0f) {
                    retain();
                } else {
                    carryTo(lastJunction);
                }
            } else {
                retain();
            }
        } else if (hint.distanceToNextHint == catchingRange) {
            retain();
        } else if (straightOn && !chosenIsLink) {
            if (chosenPriority >= hint.maxOtherPriority) {
                carryTo(lastJunction);
            } else if (lastJunction == nullptr || lastJunction->command == VoiceHint::CONTINUE ||
                       lastJunction->distanceToNextHint <= minRange || isCar()) {
                // lost
            } else if (next->command == VoiceHint::CONTINUE && (next->chosenMask() & VoiceHint::MASK_LINK) == 0) {
                absorbNext();
            } else {
                retain();
            }
        } else if (leavesForExit(hint)) {
            hint.command = exitCommand(hint.command);
            retain();
        } else if (179.0f <= absAngle && absAngle <= 180.0f) {
            retain();
        } else {
            const float sum = angle + next->hintAngle;
            const float absSum = std::abs(sum);
            if ((isCar() && absSum > 180.0 - SIGNIFICANT_ANGLE) ||
                (absSum < SIGNIFICANT_ANGLE && hint.distanceToNextHint < minRange)) {
                hint.hintAngle = sum;
                hint.calcCommand();
                absorbNext();
            } else if (absAngle > SIGNIFICANT_ANGLE) {
                retain();
            } else if (absAngle == SIGNIFICANT_ANGLE) {
                next->distanceToNextHint += hint.distanceToNextHint;
            }
            // below the significant angle: lost
        }
        previous = &hint;
    }
    if (!output.empty() && output.back()->command == VoiceHint::END) output.pop_back();
    return output;
}

} // namespace ferrow::router
