#pragma once

#include <cstdint>
#include <string>

#include "mapaccess/OsmLink.h"
#include "mapaccess/OsmPos.h"
#include "util/ByteArray.h"
#include "util/IByteArrayUnifier.h"

namespace ferrow::codec {
class MicroCache;
}

namespace ferrow::mapaccess {

class OsmNodesMap;
struct TurnRestriction;

// What walking the graph reads of a node, placed (as a base of OsmNode) right
// before the node's own link, whose chain fields come first: the two share
// the node's first cache line.
struct OsmNodeWalkFields {
    static constexpr std::int16_t NO_ELEVATION = -32768;

    OsmNodeWalkFields() = default;
    OsmNodeWalkFields(std::int32_t lon, std::int32_t lat) : ilat(lat), ilon(lon) {}

    OsmLink* firstLink = nullptr;
    std::int32_t ilat = 0;
    std::int32_t ilon = 0;
    // Marks of the peninsula cut; 0 at creation.
    std::int32_t visitId = 0;
    // Quarter metres.
    std::int16_t selev = NO_ELEVATION;
};

// A graph node at a grid position. A node is also a link: the one link that
// was created together with it (as the hollow target of a link record) lives
// in the node's own link fields, saving an object per node.
//
// Nodes are identified by position: equals and hashCode look at ilon and
// ilat only. A hollow node (elevation -12345) is known by position only; its
// tile has not been decoded yet.
//
// Nodes start at a cache line, so that what walking reads of one takes one line.
class alignas(64) OsmNode : public OsmPos, public OsmNodeWalkFields, public OsmLink {
public:
    static constexpr std::int16_t HOLLOW = -12345;

    OsmNode() = default;
    OsmNode(std::int32_t lon, std::int32_t lat) : OsmNodeWalkFields(lon, lat) {}
    explicit OsmNode(std::int64_t id)
        : OsmNodeWalkFields(static_cast<std::int32_t>(id >> 32), static_cast<std::int32_t>(id & 0xFFFFFFFF)) {}
    ~OsmNode() override = default;

    // The node's coded tag set, or none.
    util::ByteArray nodeTags;
    // The node's turn restrictions, newest first.
    TurnRestriction* firstRestriction = nullptr;

    std::int32_t getILat() const override { return ilat; }
    std::int32_t getILon() const override { return ilon; }
    std::int16_t getSElev() const override { return selev; }
    double getElev() const override { return selev * 0.25; }
    std::int64_t getIdFromPos() const override { return idFromPos(ilon, ilat); }
    std::int32_t calcDistance(const OsmPos& p) const override {
        return roundedDistance(ilon, ilat, p.getILon(), p.getILat());
    }

    bool isHollow() const noexcept { return selev == HOLLOW; }
    void setHollow() noexcept { selev = HOLLOW; }
    bool hasLinks() const noexcept { return firstLink != nullptr; }

    bool equals(const OsmNode& other) const noexcept { return ilon == other.ilon && ilat == other.ilat; }
    std::int32_t hashCode() const noexcept {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(ilat) + static_cast<std::uint32_t>(ilon));
    }
    // "n_" + longitude + "_" + latitude, in micro-degrees.
    virtual std::string toString() const;

    // Prepends link to the chains of this node and of target; with reverse set
    // the link runs from target to this node. IllegalArgumentException
    // "UUUUPS" when link already heads this node's chain.
    // Inline: weaving calls it for nearly every link of a tile.
    void addLink(OsmLink* link, bool reverse, OsmNode* target) {
        if (link == firstLink) throwLinkHeadsChain();
        if (reverse) {
            link->firstNode = target;
            link->secondNode = this;
            link->nextAtSecond = firstLink;
            link->nextAtFirst = target->firstLink;
        } else {
            link->firstNode = this;
            link->secondNode = target;
            link->nextAtFirst = firstLink;
            link->nextAtSecond = target->firstLink;
        }
        target->firstLink = link;
        firstLink = link;
    }

    // Adds a link record towards the position: reuses a suitable link to a
    // node there, or joins the node registered there, or creates a hollow one
    // (which is then itself the link object). A forward record sets the way
    // tags and geometry; a reverse record leaves them to the other end.
    // The geometry's bytes must live as long as the node map.
    void addLink(std::int32_t linkLon, std::int32_t linkLat, const util::ByteArray& linkTags, LinkGeometry linkGeometry,
                 OsmNodesMap& nodesMap, bool reverse, const LinkShape* linkShape = nullptr);

    // Releases link at this node's end and takes it out of this node's chain.
    void unlinkLink(OsmLink* link);

    // Releases every link to a decoded neighbour at both ends; links to hollow
    // nodes stay. Nothing happens to a hollow node.
    void vanish();

    void addTurnRestriction(TurnRestriction* restriction) noexcept;

    // Fills this node from the record that getAndClear opened in tile: its
    // restrictions, elevation, tags and links (targets joined through
    // nodesMap, tag sets shared through unifier). Then the node leaves the
    // node table unless it is one of the search's two end nodes.
    void parseNodeBody(codec::MicroCache& tile, OsmNodesMap& nodesMap, util::IByteArrayUnifier& unifier);

private:
    [[noreturn]] static void throwLinkHeadsChain();
};

static_assert(sizeof(OsmNode) == 128, "a node takes two cache lines");

} // namespace ferrow::mapaccess
