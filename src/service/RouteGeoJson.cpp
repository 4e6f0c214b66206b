#include "service/RouteGeoJson.h"

#include <optional>

#include "jcompat/NumberText.h"
#include "service/RouteService.h"

namespace ferrow::service {

namespace {

float timeOf(const router::OsmPathElement& point) { return point.message ? point.message->time : 0.0f; }

void appendTotal(std::string& json, const char* name, std::int32_t value) {
    json += '"';
    json += name;
    json += "\":\"";
    json += std::to_string(value);
    json += "\",";
}

} // namespace

std::int32_t RouteGeoJson::totalTime(const router::OsmTrack& track) {
    if (track.points.size() < 2) return 0;
    const float difference = timeOf(*track.points.back()) - timeOf(*track.points.front());
    return jcompat::toInt(static_cast<double>(difference) + 0.5);
}

std::vector<std::string> RouteGeoJson::messageRows(const router::OsmTrack& track) {
    std::vector<std::string> rows;
    std::optional<router::MessageData> pending;
    for (const auto& point : track.points) {
        if (!point->message || !point->message->wayTags) continue;
        router::MessageData current = point->message->copy();
        if (pending) {
            if (!pending->nodeTags && pending->wayTags == current.wayTags) {
                current.distance = jcompat::wrapAdd(current.distance, pending->distance);
                current.elevationCost = jcompat::wrapAdd(current.elevationCost, pending->elevationCost);
                current.turnCost = jcompat::wrapAdd(current.turnCost, pending->turnCost);
                current.nodeCost = jcompat::wrapAdd(current.nodeCost, pending->nodeCost);
                current.initialCost = jcompat::wrapAdd(current.initialCost, pending->initialCost);
            } else {
                rows.push_back(*pending->toMessage());
            }
        }
        pending = std::move(current);
    }
    if (pending) {
        if (auto last = pending->toMessage()) rows.push_back(std::move(*last));
    }
    return rows;
}

std::string RouteGeoJson::format(const router::OsmTrack& track) {
    std::string json = R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{)";
    appendTotal(json, "track-length", track.distance);
    appendTotal(json, "filtered ascend", track.filteredAscend);
    appendTotal(json, "plain-ascend", track.plainAscend);
    appendTotal(json, "total-time", totalTime(track));
    appendTotal(json, "total-energy", track.energy);
    appendTotal(json, "cost", track.cost);
    json += R"("messages":[)";
    json += RouteService::row(router::OsmTrack::MESSAGES_HEADER);
    for (const std::string& messageRow : messageRows(track)) {
        json += ',';
        json += RouteService::row(messageRow);
    }
    json += R"(]},"geometry":{"type":"LineString","coordinates":[)";
    bool first = true;
    for (const auto& point : track.points) {
        if (!first) json += ',';
        first = false;
        json += '[';
        json += RouteService::formatPos(jcompat::wrapSub(point->ilon, 180000000));
        json += ',';
        json += RouteService::formatPos(jcompat::wrapSub(point->ilat, 90000000));
        if (point->selev != -32768) {
            json += ',';
            json += jcompat::doubleToString(point->selev / 4.0);
        }
        json += ']';
    }
    json += "]}}]}";
    return json;
}

} // namespace ferrow::service
