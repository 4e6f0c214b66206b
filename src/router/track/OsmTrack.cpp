#include "router/track/OsmTrack.h"

#include <algorithm>
#include <bit>

#include "jcompat/Exceptions.h"
#include "jcompat/NumberText.h"
#include "mapaccess/MatchedWaypoint.h"
#include "router/costing/RoutingContext.h"
#include "router/guidance/VoiceHintProcessor.h"
#include "router/waypoints/OsmNodeNamed.h"
#include "util/FrozenLongMap.h"
#include "util/Saturate.h"

namespace ferrow::router {

namespace {

using FrozenHolderMap = util::FrozenLongMap<OsmTrack::OsmPathElementHolder*>;

// Track totals add up leg by leg.
std::int32_t saturatingAdd(std::int32_t a, std::int32_t b) { return util::saturateToInt32(std::int64_t{a} + b); }

// The record of the section by which a detour point's chain leaves the
// junction, or null when the chain does not start there.
std::shared_ptr<MessageData> sectionLeaving(const OsmPathElement& detour, const OsmPathElement& junction) {
    constexpr int kMaxSteps = 1000000;
    int steps = 0;
    for (const OsmPathElement* element = &detour; element != nullptr; element = element->origin) {
        if (element->origin != nullptr && element->origin->positionEquals(junction)) return element->message;
        if (++steps >= kMaxSteps) {
            throw jcompat::IllegalArgumentException("ups: " + junction.toString() + "->" + detour.toString());
        }
    }
    return nullptr;
}

float turnAngleOf(const OsmPathElement& point) { return point.message ? point.message->turnAngle : 0.0f; }

} // namespace

OsmTrack::OsmTrack() = default;
OsmTrack::~OsmTrack() = default;

std::string OsmTrack::formatLongs(std::span<const std::int64_t> values) {
    std::string text = "{";
    for (const std::int64_t value : values) {
        text += std::to_string(value);
        text += ' ';
    }
    text += '}';
    return text;
}

void OsmTrack::buildMap() {
    pointHolders_.clear();
    HolderMap map;
    for (const std::shared_ptr<OsmPathElement>& point : points) {
        OsmPathElementHolder& holder = pointHolders_.emplace_back();
        holder.element = point;
        const std::int64_t id = point->getIdFromPos();
        OsmPathElementHolder* chain = map.get(id);
        if (chain == nullptr) {
            map.fastPut(id, &holder);
        } else {
            while (chain->next != nullptr) chain = chain->next;
            chain->next = &holder;
        }
    }
    pointMap = std::make_unique<FrozenHolderMap>(map);

    // At least 16 bits a point: a point the map lacks passes one time in 16 at most.
    const std::size_t bits = std::bit_ceil(std::max<std::size_t>(64, 16 * points.size()));
    pointFilterShift_ = 64 - static_cast<std::uint32_t>(std::countr_zero(bits));
    pointFilter_.assign(bits / 64, 0);
    for (const std::shared_ptr<OsmPathElement>& point : points) {
        const std::uint64_t bit = filterHash(point->getIdFromPos()) >> pointFilterShift_;
        pointFilter_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    }
}

OsmPathElement* OsmTrack::getLink(std::int64_t fromId, std::int64_t toId) const {
    if (!pointMap || !mayHoldPoint(toId)) return nullptr;
    for (const OsmPathElementHolder* holder = pointMap->get(toId); holder != nullptr; holder = holder->next) {
        const OsmPathElement* origin = holder->element->origin;
        if (origin != nullptr && origin->getIdFromPos() == fromId) return holder->element.get();
    }
    return nullptr;
}

const OsmTrack::OsmPathElementHolder* OsmTrack::lastOfChain(const OsmPathElementHolder* holder) {
    while (holder->next != nullptr) holder = holder->next;
    return holder;
}

void OsmTrack::registerDetourForId(std::int64_t id, std::shared_ptr<OsmPathElement> element) {
    if (!detourMap) detourMap = std::make_unique<HolderMap>();
    auto holder = std::make_shared<OsmPathElementHolder>();
    holder->element = std::move(element);
    OsmPathElementHolder* chain = detourMap->get(id);
    if (chain != nullptr) {
        const_cast<OsmPathElementHolder*>(lastOfChain(chain))->next = holder.get();
    } else {
        detourMap->fastPut(id, holder.get());
    }
    detourHolders_.push_back(std::move(holder));
}

const OsmTrack::OsmPathElementHolder* OsmTrack::getFromDetourMap(std::int64_t id) const {
    return detourMap ? detourMap->get(id) : nullptr;
}

void OsmTrack::freezeDetourMap() {
    if (detourMap && dynamic_cast<FrozenHolderMap*>(detourMap.get()) == nullptr) {
        detourMap = std::make_unique<FrozenHolderMap>(*detourMap);
    }
}

void OsmTrack::copyDetoursOf(OsmTrack& other) {
    if (!other.detourMap) return;
    other.freezeDetourMap();
    detourMap = std::make_unique<FrozenHolderMap>(*other.detourMap);
    detourHolders_ = other.detourHolders_;
}

void OsmTrack::appendLeg(OsmTrack& t) {
    const std::size_t ourSize = points.size();
    if (ourSize > 0 && t.points.size() > 1) {
        t.points[1]->origin = points.back().get();
    }
    float t0 = 0.0f;
    float e0 = 0.0f;
    std::int32_t c0 = 0;
    if (ourSize > 0) {
        const OsmPathElement& last = *points.back();
        if (last.message) {
            t0 = last.message->time;
            e0 = last.message->energy;
        }
        c0 = last.cost;
    }
    if (!t.points.empty()) {
        if (ourSize > 0 && points.back()->selev == mapaccess::OsmNode::NO_ELEVATION) {
            points.back()->selev = t.points.front()->selev;
        }
        for (std::size_t i = ourSize > 0 ? 1 : 0; i < t.points.size(); ++i) {
            const std::shared_ptr<OsmPathElement>& point = t.points[i];
            if (point->message) {
                point->message->time += t0;
                point->message->energy += e0;
            }
            point->cost = saturatingAdd(point->cost, c0);
            if (point->message && (point->message->ilon != point->ilon || point->message->ilat != point->ilat)) {
                point->message->ilon = point->ilon;
                point->message->ilat = point->ilat;
            }
            points.push_back(point);
        }
    }

    if (t.turnHints) {
        if (ourSize > 0) {
            const auto shift = static_cast<std::int32_t>(ourSize - 1);
            for (VoiceHint& hint : t.turnHints->hints) hint.trackIndex = saturatingAdd(hint.trackIndex, shift);
        }
        if (!turnHints) turnHints = std::make_unique<VoiceHintList>();
        turnHints->hints.insert(turnHints->hints.end(), t.turnHints->hints.begin(), t.turnHints->hints.end());
    } else if (!detourMap) {
        if (t.detourMap) {
            t.freezeDetourMap();
            detourMap = std::make_unique<FrozenHolderMap>(*t.detourMap);
            detourHolders_ = t.detourHolders_;
        }
    } else {
        freezeDetourMap();
        HolderMap merged;
        const auto& ours = static_cast<const FrozenHolderMap&>(*detourMap);
        for (std::size_t i = 0; i < ours.getKeyArray().size(); ++i) {
            merged.put(ours.getKeyArray()[i], ours.getValueList()[i]);
        }
        if (t.detourMap) {
            t.freezeDetourMap();
            const auto& theirs = static_cast<const FrozenHolderMap&>(*t.detourMap);
            for (std::size_t i = 0; i < theirs.getKeyArray().size(); ++i) {
                const std::int64_t id = theirs.getKeyArray()[i];
                if (!merged.contains(id) && t.pointMap && t.pointMap->contains(id)) {
                    merged.put(id, theirs.getValueList()[i]);
                }
            }
            detourHolders_.insert(detourHolders_.end(), t.detourHolders_.begin(), t.detourHolders_.end());
        }
        detourMap = std::make_unique<FrozenHolderMap>(merged);
    }

    distance = saturatingAdd(distance, t.distance);
    filteredAscend = saturatingAdd(filteredAscend, t.filteredAscend);
    plainAscend = saturatingAdd(plainAscend, t.plainAscend);
    cost = saturatingAdd(cost, t.cost);
    energy = !points.empty() && points.back()->message ? jcompat::toInt(points.back()->message->energy) : 0;
    showspeed = showspeed || t.showspeed;
    showSpeedProfile = showSpeedProfile || t.showSpeedProfile;
}

void OsmTrack::addPointsOf(const OsmTrack& t) {
    for (const std::shared_ptr<OsmPathElement>& point : t.points) addNode(point);
    buildMap();
}

void OsmTrack::processVoiceHints(RoutingContext& rc) {
    turnHints = std::make_unique<VoiceHintList>();
    turnHints->setTransportMode(rc.validForCars, rc.validForBikes);
    turnHints->turnInstructionMode = rc.turnInstructionMode;
    if ((!detourMap && !rc.hasDirectRouting) || points.empty()) return;

    const std::int32_t mode = rc.turnInstructionMode;
    const bool marksStraightLegs = mode == 2 || mode == 4 || mode == 8 || mode == 9;

    // Raw hints from the route's end backwards. The walk follows the points'
    // origins and ends at the first point, so a chain that leaves the track
    // cannot run on.
    std::vector<VoiceHint> inputs;
    inputs.reserve(points.size());
    const OsmPathElement* p = points.back().get();
    auto u = static_cast<std::int32_t>(points.size() - 1);
    while (p->origin != nullptr && u > 0) {
        const OsmPathElement& o = *p->origin;
        if (inputs.empty()) {
            VoiceHint& end = inputs.emplace_back();
            end.ilon = p->ilon;
            end.ilat = p->ilat;
            end.selev = p->selev;
            end.incomingWay = p->message;
            end.chosenWay = p->message;
            end.command = VoiceHint::END;
            end.trackIndex = static_cast<std::int32_t>(points.size() - 1);
        }
        VoiceHint& hint = inputs.emplace_back();
        hint.ilon = o.ilon;
        hint.ilat = o.ilat;
        hint.selev = o.selev;
        hint.trackIndex = u - 1;
        hint.chosenWay = p->message;
        hint.incomingWay = o.message ? o.message : p->message;

        if (marksStraightLegs) {
            for (const std::shared_ptr<mapaccess::MatchedWaypoint>& waypoint : matchedWaypoints) {
                if (!waypoint || waypoint->indexInTrack != u - 1) continue;
                if (waypoint->kind == OsmNodeNamed::KIND_STRAIGHT) {
                    hint.command = VoiceHint::BEELINE;
                    hint.hintAngle = u == 1 ? turnAngleOf(o) : turnAngleOf(*p);
                    hint.distanceToNextHint = p->calcDistance(o);
                }
                break;
            }
        }

        if (detourMap) {
            for (const OsmPathElementHolder* holder = getFromDetourMap(o.getIdFromPos()); holder != nullptr;
                 holder = holder->next) {
                if (holder->element) hint.addBadWay(sectionLeaving(*holder->element, o));
            }
        }
        p = &o;
        --u;
    }

    VoiceHintProcessor processor(rc.turnInstructionRoundabouts, turnHints->transportMode);
    const std::vector<VoiceHint*> results = processor.process(inputs);
    // The shortest gap worth an instruction of its own, by how fast the traveller moves.
    double minimumHintDistance = 3.0;
    if (turnHints->transportMode == VoiceHintList::TRANSPORT_MODE_CAR) minimumHintDistance = 20.0;
    if (turnHints->transportMode == VoiceHintList::TRANSPORT_MODE_BIKE) minimumHintDistance = 5.0;
    for (VoiceHint* hint : processor.postProcess(results, rc.turnInstructionCatchingRange, minimumHintDistance)) {
        turnHints->hints.push_back(*hint);
    }
}

} // namespace ferrow::router
