#include "router/costing/MessageData.h"

#include "jcompat/NumberText.h"

namespace ferrow::router {

using jcompat::toInt;

std::optional<std::string> MessageData::toMessage() const {
    if (!wayTags) return std::nullopt;
    const float costPerKm = costFactor * 1000.0f + 0.5f;
    std::string row;
    const auto column = [&row](const std::string& text) {
        row += text;
        row += '\t';
    };
    column(std::to_string(jcompat::wrapSub(ilon, 180000000)));
    column(std::to_string(jcompat::wrapSub(ilat, 90000000)));
    column(std::to_string(elevation / 4));
    column(std::to_string(distance));
    column(std::to_string(toInt(costPerKm)));
    column(std::to_string(elevationCost));
    column(std::to_string(turnCost));
    column(std::to_string(nodeCost));
    column(std::to_string(initialCost));
    column(*wayTags);
    column(nodeTags.value_or(""));
    column(std::to_string(toInt(time)));
    row += std::to_string(toInt(energy));
    return row;
}

std::string MessageData::toString() const {
    return "dist=" + std::to_string(distance) + " prio=" + std::to_string(priorityClassifier) +
           " turn=" + jcompat::floatToString(turnAngle);
}

} // namespace ferrow::router
