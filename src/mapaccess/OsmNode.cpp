#include "mapaccess/OsmNode.h"

#include "codec/MicroCache.h"
#include "codec/MicroCache2.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/TurnRestriction.h"

namespace ferrow::mapaccess {

std::string OsmNode::toString() const {
    return "n_" + std::to_string(ilon - 180000000) + "_" + std::to_string(ilat - 90000000);
}

void OsmNode::throwLinkHeadsChain() { throw jcompat::IllegalArgumentException("UUUUPS"); }

void OsmNode::addLink(std::int32_t linkLon, std::int32_t linkLat, const util::ByteArray& linkTags,
                      LinkGeometry linkGeometry, OsmNodesMap& nodesMap, bool reverse, const LinkShape* linkShape) {
    if (linkLon == ilon && linkLat == ilat) {
        return;
    }
    OsmNode* target = nullptr;
    OsmLink* link = nullptr;
    for (OsmLink* l = firstLink; l != nullptr; l = l->getNext(this)) {
        OsmNode* t = l->getTarget(this);
        if (t != nullptr && t->ilon == linkLon && t->ilat == linkLat) {
            target = t;
            // A link that carries way tags already, or that was stored from the
            // other end, is not reused for a forward record.
            if (reverse || (l->wayTags.isNull() && (l->firstNode == this || l->firstNode == nullptr))) {
                link = l;
                break;
            }
        }
    }
    if (target == nullptr) {
        target = nodesMap.get(linkLon, linkLat);
        if (target == nullptr) {
            target = nodesMap.createNode(linkLon, linkLat);
            target->setHollow();
            nodesMap.put(target);
            link = target;
            addLink(link, reverse, target);
        }
    }
    if (link == nullptr) {
        link = nodesMap.createLink();
        addLink(link, reverse, target);
    }
    if (!reverse) {
        link->wayTags = linkTags;
        link->geometry = linkGeometry;
        link->shape = linkShape != nullptr ? *linkShape : LinkShape{};
    }
}

void OsmNode::unlinkLink(OsmLink* link) {
    OsmLink* next;
    if (link->secondNode != nullptr && link->secondNode != this) {
        next = link->nextAtFirst;
        link->nextAtFirst = nullptr;
        link->secondNode = nullptr;
        link->holdersFromFirst = nullptr;
    } else if (link->firstNode != nullptr && link->firstNode != this) {
        next = link->nextAtSecond;
        link->nextAtSecond = nullptr;
        link->firstNode = nullptr;
        link->holdersFromSecond = nullptr;
    } else {
        throw jcompat::IllegalArgumentException("internal error: setNext: unknown source");
    }
    if (link->isLinkUnused()) {
        link->wayTags = util::ByteArray();
        link->geometry = LinkGeometry();
        link->shape = LinkShape{};
    }

    if (firstLink == link) {
        firstLink = next;
        return;
    }
    for (OsmLink* l = firstLink; l != nullptr;) {
        if (l->firstNode == this || l->firstNode == nullptr) {
            if (l->secondNode == nullptr || l->secondNode == this) {
                throw jcompat::IllegalArgumentException("unlinkLink: unknown source");
            }
            if (l->nextAtFirst == link) {
                l->nextAtFirst = next;
                return;
            }
            l = l->nextAtFirst;
        } else {
            if (l->nextAtSecond == link) {
                l->nextAtSecond = next;
                return;
            }
            l = l->nextAtSecond;
        }
    }
}

void OsmNode::vanish() {
    if (isHollow()) {
        return;
    }
    OsmLink* l = firstLink;
    while (l != nullptr) {
        OsmNode* target = l->getTarget(this);
        OsmLink* next = l->getNext(this);
        if (target != nullptr && !target->isHollow()) {
            unlinkLink(l);
            if (!l->isLinkUnused()) {
                target->unlinkLink(l);
            }
        }
        l = next;
    }
}

void OsmNode::addTurnRestriction(TurnRestriction* restriction) noexcept {
    restriction->next = firstRestriction;
    firstRestriction = restriction;
}

void OsmNode::parseNodeBody(codec::MicroCache& tile, OsmNodesMap& nodesMap, util::IByteArrayUnifier& unifier) {
    if (dynamic_cast<codec::MicroCache2*>(&tile) == nullptr) {
        throw jcompat::IllegalArgumentException("unknown cache version: " + tile.describe());
    }
    // An empty node's record is empty: reading on would take the next node's bytes.
    if (!tile.hasMoreData()) {
        selev = NO_ELEVATION;
        nodesMap.removeUnlessEndNode(this);
        return;
    }
    while (tile.readBoolean()) {
        TurnRestriction* restriction = nodesMap.createTurnRestriction();
        restriction->exceptions = tile.readShort();
        restriction->isPositive = tile.readBoolean();
        restriction->fromLon = tile.readInt();
        restriction->fromLat = tile.readInt();
        restriction->toLon = tile.readInt();
        restriction->toLat = tile.readInt();
        addTurnRestriction(restriction);
    }
    selev = tile.readShort();
    const std::int32_t tagLength = tile.readVarLengthUnsigned();
    nodeTags = tagLength == 0 ? util::ByteArray() : tile.readUnified(tagLength, unifier);

    while (tile.hasMoreData()) {
        const std::int32_t size = tile.readVarLengthUnsigned();
        const std::int64_t end = static_cast<std::int64_t>(tile.getPosition()) + static_cast<std::uint32_t>(size);
        const std::int32_t dlon = tile.readSignedVarLength();
        const std::int32_t dlat = tile.readSignedVarLength();
        const auto mode = static_cast<std::uint32_t>(tile.readVarLengthUnsigned());
        const bool reverse = (mode & 1U) != 0;
        const auto tagCount = static_cast<std::int32_t>(mode >> 1);
        const util::ByteArray linkTags = tagCount > 0 ? tile.readUnified(tagCount, unifier) : util::ByteArray();
        const LinkGeometry linkGeometry = nodesMap.keepGeometry(tile.readCopy(end - tile.getPosition()));
        addLink(static_cast<std::int32_t>(static_cast<std::uint32_t>(ilon) + static_cast<std::uint32_t>(dlon)),
                static_cast<std::int32_t>(static_cast<std::uint32_t>(ilat) + static_cast<std::uint32_t>(dlat)),
                linkTags, linkGeometry, nodesMap, reverse);
    }
    nodesMap.removeUnlessEndNode(this);
}

} // namespace ferrow::mapaccess
