#pragma once

#include "mapaccess/LinkGeometry.h"
#include "mapaccess/LinkShape.h"
#include "util/ByteArray.h"
#include "util/Select.h"

namespace ferrow::mapaccess {

class OsmNode;
class OsmLinkHolder;

// One undirected edge between two nodes. Each end node's chain of links runs
// through the next field that belongs to that node's end, so a link is in the
// chains of both its nodes at once. Either node reference is cleared when the
// link is released at that end.
//
// The fields are the graph's plain data: tile decoding and the search set them
// directly, always keeping the two chains consistent.
class OsmLink {
public:
    OsmLink() = default;
    OsmLink(const OsmLink&) = delete;
    OsmLink& operator=(const OsmLink&) = delete;

    // First what walking a chain reads.
    OsmNode* firstNode = nullptr;
    OsmNode* secondNode = nullptr;
    OsmLink* nextAtSecond = nullptr;
    OsmLink* nextAtFirst = nullptr;
    // The way's coded tag set, set through a forward link record only.
    util::ByteArray wayTags;
    // The intermediate points, coded from the first node towards the second.
    LinkGeometry geometry;
    OsmLinkHolder* holdersFromSecond = nullptr;
    OsmLinkHolder* holdersFromFirst = nullptr;
    // The same points measured for the search, when the tile gave them.
    LinkShape shape;

    // The node at the other end, seen from source.
    // (Which end a link is seen from is as good as random: both pointers are
    // read and one is selected, without a branch.)
    OsmNode* getTarget(const OsmNode* source) const noexcept {
        return util::selectPointer(towardsSecond(source), secondNode, firstNode);
    }
    // The next link of source's chain.
    OsmLink* getNext(const OsmNode* source) const noexcept {
        return util::selectPointer(towardsSecond(source), nextAtFirst, nextAtSecond);
    }
    // Whether travel away from source runs against the link's coded direction.
    bool isReverse(const OsmNode* source) const noexcept { return (firstNode != source) & (firstNode != nullptr); }
    // Released at both ends.
    bool isLinkUnused() const noexcept { return (firstNode == nullptr) & (secondNode == nullptr); }

    // The head of the holders for travel away from node.
    // Inline, like addLinkHolder: the search asks at every link it follows.
    OsmLinkHolder* getFirstLinkHolder(const OsmNode* node) const {
        const bool fromFirst = towardsSecond(node);
        if ((!fromFirst) & ((firstNode == nullptr) | (firstNode == node))) [[unlikely]] {
            throwUnknownSource("internal error: getFirstLinkHolder: unknown source");
        }
        return util::selectPointer(fromFirst, holdersFromFirst, holdersFromSecond);
    }
    // Puts holder at the head of the holders for travel away from node.
    void addLinkHolder(OsmLinkHolder* holder, const OsmNode* node);

private:
    bool towardsSecond(const OsmNode* source) const noexcept {
        return (secondNode != nullptr) & (secondNode != source);
    }
    [[noreturn]] static void throwUnknownSource(const char* message);
};

} // namespace ferrow::mapaccess
