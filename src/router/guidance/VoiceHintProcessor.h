#pragma once

#include <cstdint>
#include <vector>

#include "router/guidance/VoiceHint.h"

namespace ferrow::router {

// Turns the raw hints of a track into turn instructions: classifies each
// junction, folds the hints inside a roundabout into one hint with an exit
// count, and drops or merges the hints a traveller does not need.
//
// The raw list runs from the route's end towards its start. The lists the
// operations return point into it; the hints are changed in place.
class VoiceHintProcessor {
public:
    static constexpr double SIGNIFICANT_ANGLE = 22.5;   // degrees
    static constexpr double NEAR_CATCHING_RANGE = 2.0;  // metres
    static constexpr double WIDE_CATCHING_RANGE = 10.0; // metres

    // transportMode as in VoiceHintList; explicitRoundabouts is the routing
    // context's "turnInstructionRoundabouts".
    VoiceHintProcessor(bool explicitRoundabouts, std::int32_t transportMode)
        : explicitRoundabouts_(explicitRoundabouts), transportMode_(transportMode) {}

    // The hints that matter at a junction, in raw-list order, with their
    // commands and the distance to the next kept hint.
    std::vector<VoiceHint*> process(std::vector<VoiceHint>& inputs);

    // Merges and drops hints of the processed results (raw-list order) and
    // returns the survivors in travel order, without a final END hint.
    std::vector<VoiceHint*> postProcess(const std::vector<VoiceHint*>& results, double catchingRange, double minRange);

    // Consumes the hints from offset towards the route's end while they lie
    // within range and sums their chosen ways' turn angles.
    float sumNonConsumedWithinCatchingRange(std::vector<VoiceHint>& hints, std::int32_t offset, double range);

    // Whether a straight-on hint is worth keeping where the gap is long.
    bool checkStraightHold(const VoiceHint& hint, const VoiceHint* lastJunction, double minLength) const;

private:
    // Gives the hint at index (the entry into a roundabout) the roundabout's
    // angle, exit number and exits; start is the raw index of the exit.
    void makeRoundaboutHint(std::vector<VoiceHint>& inputs, std::size_t index, std::size_t start,
                            std::int32_t exitCount, float angleSum, double distance) const;
    // Classifies an ordinary hint; true when it goes to the results.
    bool processJunction(std::vector<VoiceHint>& inputs, std::size_t index, double distance);
    // The travel-order list of the first post-processing pass.
    std::vector<VoiceHint*> absorbCloseHints(const std::vector<VoiceHint*>& results) const;
    bool isCar() const;

    bool explicitRoundabouts_;
    std::int32_t transportMode_;
};

} // namespace ferrow::router
