#include "mapaccess/GeometryDecoder.h"

#include "jcompat/Exceptions.h"
#include "mapaccess/OsmNode.h"

namespace ferrow::mapaccess {

OsmTransferNode* GeometryDecoder::nextPoint(std::size_t used) {
    if (used < POOL_SIZE) {
        return &pool_[used];
    }
    return &overflow_.emplace_back();
}

const OsmTransferNode* GeometryDecoder::decodeGeometry(LinkGeometry geometry, const OsmNode* sourceNode,
                                                       const OsmNode* targetNode, bool reverse) {
    const std::uint64_t generation = LinkGeometry::storageGeneration();
    if (geometry.isSameAs(lastGeometry_) && reverse == lastReverse_ && generation == lastGeneration_) {
        return head_;
    }
    head_ = nullptr;
    if (!overflow_.empty()) overflow_.clear();
    const OsmNode* start = reverse ? targetNode : sourceNode;
    if (start == nullptr) {
        throw jcompat::IllegalArgumentException("geometry without its start node");
    }
    std::int32_t ilon = start->ilon;
    std::int32_t ilat = start->ilat;
    auto selev = static_cast<std::uint16_t>(start->selev);
    reader_.reset(geometry.span());
    OsmTransferNode* tail = nullptr;
    std::size_t used = 0;
    while (reader_.hasMoreData()) {
        OsmTransferNode* point = nextPoint(used++);
        ilon = static_cast<std::int32_t>(static_cast<std::uint32_t>(ilon) +
                                         static_cast<std::uint32_t>(reader_.readSignedVarLength()));
        ilat = static_cast<std::int32_t>(static_cast<std::uint32_t>(ilat) +
                                         static_cast<std::uint32_t>(reader_.readSignedVarLength()));
        selev = static_cast<std::uint16_t>(selev + static_cast<std::uint16_t>(reader_.readSignedVarLength()));
        point->ilon = ilon;
        point->ilat = ilat;
        point->selev = static_cast<std::int16_t>(selev);
        point->next = nullptr;
        if (reverse) {
            point->next = head_;
            head_ = point;
        } else {
            if (tail == nullptr) {
                head_ = point;
            } else {
                tail->next = point;
            }
            tail = point;
        }
    }
    lastGeometry_ = geometry;
    lastGeneration_ = generation;
    lastReverse_ = reverse;
    return head_;
}

} // namespace ferrow::mapaccess
