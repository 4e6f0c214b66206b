#include "mapaccess/DirectWeaver.h"

#include "codec/TileBodyReader.h"
#include "mapaccess/OsmNode.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"

namespace ferrow::mapaccess {

DirectWeaver::DirectWeaver(codec::StatCoderContext& coder, codec::DataBuffers& buffers, std::int32_t lonIdx,
                           std::int32_t latIdx, std::int32_t tilesPerDegree,
                           expressions::TagValueValidator* wayValidator, codec::WaypointMatcher* waypointMatcher,
                           OsmNodesMap& hollowNodes, std::int32_t tileBytes)
    : nodesMap_(&hollowNodes), geometryBuffer_(buffers.recordBuffer) {
    codec::TileBodyReader reader(coder, buffers, lonIdx, latIdx, tilesPerDegree, wayValidator, waypointMatcher,
                                 tileBytes);
    const std::int32_t count = reader.nodeCount();
    lons_ = reader.nodeLons().data();
    lats_ = reader.nodeLats().data();
    nodes_.assign(static_cast<std::size_t>(count), nullptr);
    for (std::int32_t n = 0; n < count; ++n) {
        OsmNode* known = hollowNodes.get(lons_[n], lats_[n]);
        if (known != nullptr) {
            known->visitId = 1;
            hollowNodes.removeUnlessEndNode(known);
            nodes_[static_cast<std::size_t>(n)] = known;
        }
    }

    reader.readNodes(*this);

    if (hollowNodes.cleanupMode != 0) {
        hollowNodes.baseId = hollowNodes.lastVisitId++;
        for (OsmNode* tileNode : nodes_) {
            if (tileNode != nullptr && tileNode->firstLink != nullptr && tileNode->visitId == 1) {
                hollowNodes.minVisitIdInSubtree(nullptr, tileNode);
            }
        }
    } else {
        for (const OsmNode* tileNode : nodes_) {
            if (tileNode != nullptr && tileNode->firstLink != nullptr) {
                ++hollowNodes.nodeCount;
            }
        }
    }
}

OsmNode* DirectWeaver::node(std::int32_t n) {
    OsmNode*& slot = nodes_[static_cast<std::size_t>(n)];
    if (slot == nullptr) {
        slot = nodesMap_->createNode(lons_[n], lats_[n]);
    }
    return slot;
}

void DirectWeaver::restriction(std::int32_t n, std::int16_t exceptions, bool positive, std::int32_t fromLon,
                               std::int32_t fromLat, std::int32_t toLon, std::int32_t toLat) {
    TurnRestriction* restriction = nodesMap_->createTurnRestriction();
    restriction->exceptions = exceptions;
    restriction->isPositive = positive;
    restriction->fromLon = fromLon;
    restriction->fromLat = fromLat;
    restriction->toLon = toLon;
    restriction->toLat = toLat;
    node(n)->addTurnRestriction(restriction);
}

void DirectWeaver::nodeData(std::int32_t n, std::int16_t elevation, const codec::TagValueWrapper* nodeTags) {
    OsmNode* tileNode = node(n);
    tileNode->selev = elevation;
    tileNode->nodeTags = nodeTags != nullptr ? nodeTags->data : util::ByteArray();
}

bool DirectWeaver::beginLink(std::int32_t n, std::int32_t target, std::int32_t targetLon, std::int32_t targetLat,
                             bool reverse, const codec::TagValueWrapper* wayTags) {
    linkNode_ = n;
    linkTarget_ = target;
    linkLon_ = targetLon;
    linkLat_ = targetLat;
    linkReverse_ = reverse;
    linkTags_ = wayTags;
    geometryWriter_.reset(geometryBuffer_);
    return wayTags != nullptr;
}

void DirectWeaver::geometryPoint(std::int32_t dlon, std::int32_t dlat, std::int32_t elevationStep) {
    geometryWriter_.writeSignedVarLength(dlon);
    geometryWriter_.writeSignedVarLength(dlat);
    geometryWriter_.writeSignedVarLength(elevationStep);
}

void DirectWeaver::endLink() {
    if (linkTags_ == nullptr) {
        return;
    }
    const std::int32_t geometryLength = geometryWriter_.getPosition();
    const util::ByteArray geometry =
        geometryLength > 0 ? util::ByteArray::copyOf(geometryBuffer_.first(static_cast<std::size_t>(geometryLength)))
                           : util::ByteArray();
    OsmNode* source = node(linkNode_);
    if (linkTarget_ >= 0) {
        OsmNode* target = node(linkTarget_);
        OsmLink* link = source->isLinkUnused() ? source : target->isLinkUnused() ? target : nodesMap_->createLink();
        link->wayTags = linkTags_->data;
        link->geometry = geometry;
        source->addLink(link, false, target);
    } else {
        source->addLink(linkLon_, linkLat_, linkTags_->data, geometry, *nodesMap_, linkReverse_);
        source->visitId = 1;
    }
}

} // namespace ferrow::mapaccess
