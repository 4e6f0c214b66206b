#include "router/track/TrackTotals.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"
#include "jcompat/NumberText.h"
#include "router/costing/RoutingContext.h"
#include "router/track/OsmTrack.h"

namespace ferrow::router {

namespace {

constexpr std::int16_t kNoElevation = mapaccess::OsmNode::NO_ELEVATION;

// The value of an "incline=" tag as elevation units per 100 metres: the text
// up to the next blank, cut before "%" and "°"; a text that is no number is 0.
double parseIncline(std::string_view value) {
    value = value.substr(0, value.find('%'));
    value = value.substr(0, value.find("\u00b0"));
    try {
        return jcompat::JString::parseDouble(jcompat::JString::trim(value));
    } catch (const jcompat::NumberFormatException&) {
        return 0.0;
    }
}

std::int16_t toElevation(double value) { return static_cast<std::int16_t>(jcompat::toInt(value)); }

} // namespace

void TrackTotals::fillMissingElevations(OsmTrack& track) {
    auto& points = track.points;
    const std::size_t count = points.size();
    const auto distance = [](const OsmPathElement& a, const OsmPathElement& b) { return a.calcDistance(b); };

    std::int16_t lastElev = kNoElevation;
    const OsmPathElement* lastPt = nullptr;
    std::int16_t startElev = kNoElevation;
    std::size_t startIdx = 0;
    const OsmPathElement* startPt = nullptr;
    std::int64_t dist = 0;

    for (std::size_t idx = 0; idx < count; ++idx) {
        OsmPathElement& n = *points[idx];
        const bool hasElev = n.selev != kNoElevation;
        if (!hasElev && lastElev != kNoElevation && idx != count - 1) {
            // A gap begins; its gradient starts two points before it.
            startElev = idx > 1 ? points[idx - 2]->selev : kNoElevation;
            if (startElev == kNoElevation) startElev = lastElev;
            startIdx = idx;
            startPt = lastPt;
            dist = distance(*lastPt, n);
        } else if (hasElev && lastElev == kNoElevation && startElev != kNoElevation) {
            // The gap ends: the points from the one before it to n follow the
            // gradient (or the incline tags) from the point two before it.
            std::int16_t endElev = idx + 1 < count ? points[idx + 1]->selev : n.selev;
            if (endElev == kNoElevation) endElev = n.selev;
            const std::size_t endIdx = idx;
            const std::size_t baseIdx = startIdx > 1 ? startIdx - 2 : startIdx - 1;
            const OsmPathElement* tmpPt = points[baseIdx].get();
            dist += distance(*tmpPt, *startPt) + distance(n, *lastPt);
            double distRest = static_cast<double>(dist);
            const double incline = (endElev - startElev) / (static_cast<double>(dist) / 100.0);
            double selev = points[baseIdx]->selev;
            double startIncline = 0.0;
            double tagIncline = 0.0;
            bool hasInclineTags = false;
            std::string lastMsg;
            for (std::size_t i = startIdx - 1; i <= endIdx; ++i) {
                OsmPathElement& tmp = *points[i];
                if (tmp.message) {
                    const std::string msg = tmp.message->copy().wayTags.value_or("");
                    if (msg != lastMsg) {
                        const bool reverse = msg.find("reversedirection=yes") != std::string::npos;
                        const std::size_t inclinePos = msg.find("incline=");
                        if (inclinePos != std::string::npos) {
                            hasInclineTags = true;
                            std::string_view value = std::string_view(msg).substr(inclinePos + 8);
                            value = value.substr(0, value.find(' '));
                            if (!value.empty()) {
                                tagIncline = parseIncline(value);
                                if (reverse) tagIncline = -tagIncline;
                            }
                        } else {
                            tagIncline = 0.0;
                        }
                        if (startIncline == 0.0) {
                            startIncline = tagIncline;
                        } else if (startIncline < 0.0 && tagIncline > 0.0) {
                            // Down, then up: the climb heads straight for the gap's exit.
                            tagIncline = (endElev - selev) / (distRest / 100.0);
                        }
                        lastMsg = msg;
                    }
                }
                const std::int32_t tmpDist = distance(tmp, *tmpPt);
                distRest -= tmpDist;
                selev += tmpDist / 100.0 * (hasInclineTags ? tagIncline : incline);
                tmp.selev = toElevation(selev);
                if (tmp.message) tmp.message->elevation = tmp.selev;
                tmpPt = &tmp;
            }
            dist = 0;
        } else if (hasElev && lastElev == kNoElevation && startIdx == 0) {
            for (std::size_t j = 0; j < idx; ++j) points[j]->selev = n.selev;
        } else if (!hasElev && idx == count - 1) {
            n.selev = lastElev;
        } else if (!hasElev && lastPt != nullptr) {
            dist += distance(n, *lastPt);
        }
        lastElev = n.selev;
        lastPt = &n;
    }
}

void TrackTotals::recalculate(OsmTrack& track, RoutingContext& rc, const ElevationFloor& elevationFloor) {
    auto& points = track.points;
    const double eleFactor = rc.inverseRouting ? 0.25 : -0.25;
    double ehb = 0.0; // metres of descent not yet paid back
    double ascent = 0.0;
    std::int64_t totalDist = 0;
    float lastTime = 0.0f;
    float speedMin = 9999.0f; // km/h
    std::int16_t eleStart = kNoElevation;
    std::int16_t eleEnd = kNoElevation;
    std::map<std::size_t, std::int32_t> straightSegments; // point index -> section length

    for (std::size_t i = 0; i < points.size(); ++i) {
        OsmPathElement& n = *points[i];
        if (!n.message) n.message = std::make_shared<MessageData>();
        const OsmPathElement* nLast = i > 0 ? points[i - 1].get() : nullptr;
        const std::int32_t dist = nLast != nullptr ? nLast->calcDistance(n) : 0;
        double angle = 0.0;
        if (i > 1) {
            const OsmPathElement& p0 = *points[i - 2];
            angle = rc.anglemeter.calcAngle(p0.ilon, p0.ilat, nLast->ilon, nLast->ilat, n.ilon, n.ilat);
        }
        n.message->distance = dist;
        n.message->turnAngle = static_cast<float>(angle);

        totalDist += dist;
        const float tmptime = n.message->time - lastTime;
        if (dist > 0) speedMin = std::min(speedMin, static_cast<float>(dist) / tmptime * 3.6f);
        if (tmptime == 1.0f) straightSegments[i] = dist;
        lastTime = n.message->time;

        if (n.selev != kNoElevation) eleEnd = n.selev;
        if (eleStart == kNoElevation) eleStart = n.selev;

        if (nLast != nullptr) {
            // A point without elevation (only possible at the very end after
            // the fill) neither climbs nor descends.
            if (nLast->selev != kNoElevation && n.selev != kNoElevation) ehb += eleFactor * (nLast->selev - n.selev);
            const double floor = elevationFloor(n);
            if (ehb > 0.0) {
                ascent += ehb;
                ehb = 0.0;
            } else if (ehb < floor) {
                ehb = floor;
            }
        }
    }

    track.distance = static_cast<std::int32_t>(std::min<std::int64_t>(totalDist, INT32_MAX));
    track.filteredAscend = jcompat::toInt(ascent);
    track.plainAscend = jcompat::toInt(eleFactor * (eleStart - eleEnd) + 0.5);

    const double v = speedMin / 3.6; // metres per second
    for (const auto& [k, length] : straightSegments) {
        const OsmPathElement* before = k > 0 ? points[k - 1].get() : nullptr;
        const OsmPathElement& at = *points[k];
        const double incline = before != nullptr && before->selev != kNoElevation && at.selev != kNoElevation
                                   ? (before->selev - at.selev) / 4.0 / length
                                   : 0.0;
        const auto energy = static_cast<float>((rc.totalMass * 9.81 * (incline + rc.C_r) + v * v * rc.S_C_x) * length);
        const auto time = static_cast<float>(length / v);
        for (std::size_t j = k; j < points.size(); ++j) {
            MessageData& message = *points[j]->message;
            message.time += time;
            message.energy += energy;
        }
    }

    track.energy = points.empty() ? 0 : jcompat::toInt(points.back()->message->energy);
}

} // namespace ferrow::router
