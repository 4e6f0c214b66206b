#include "mapaccess/OsmNodesMap.h"

#include <algorithm>

namespace ferrow::mapaccess {

OsmNodesMap::OsmNodesMap() = default;

OsmNodesMap::~OsmNodesMap() {
    if (!parsedGeometry_.empty()) LinkGeometry::noteStorageFreed();
}

util::ByteArrayUnifier& OsmNodesMap::byteArrayUnifier() {
    if (unifier_ == nullptr) unifier_ = std::make_unique<util::ByteArrayUnifier>(UNIFIER_SLOTS);
    return *unifier_;
}

OsmNode* OsmNodesMap::get(std::int32_t ilon, std::int32_t ilat) const {
    return nodeTable_.find(OsmPos::idFromPos(ilon, ilat));
}

OsmNode* OsmNodesMap::put(OsmNode* node) { return nodeTable_.put(node->getIdFromPos(), node); }

void OsmNodesMap::remove(const OsmNode* node) { nodeTable_.erase(node->getIdFromPos()); }

bool OsmNodesMap::isEndNode(const OsmNode* node) const noexcept {
    return (endNode1 != nullptr && endNode1->equals(*node)) || (endNode2 != nullptr && endNode2->equals(*node));
}

void OsmNodesMap::removeUnlessEndNode(const OsmNode* node) {
    if (!isEndNode(node)) {
        remove(node);
    }
}

OsmNode* OsmNodesMap::createNode(std::int32_t ilon, std::int32_t ilat) {
    ++createdSinceReclaim_;
    return nodes_.create(ilon, ilat);
}

std::size_t OsmNodesMap::reclaim(std::vector<const void*>& pinned) {
    // A link released at one end only still refers to the node there, which
    // no longer has the link in its chain: that node stays.
    const auto pinLoneEnd = [&pinned](const OsmLink& link) {
        if ((link.firstNode == nullptr) != (link.secondNode == nullptr)) {
            pinned.push_back(link.firstNode != nullptr ? link.firstNode : link.secondNode);
        }
    };
    links_.forEachGivenOut([&](const OsmLink* link) { pinLoneEnd(*link); });
    nodes_.forEachGivenOut([&](const OsmNode* node) { pinLoneEnd(*node); });
    std::sort(pinned.begin(), pinned.end());
    const auto isPinned = [&pinned](const void* object) {
        return std::binary_search(pinned.begin(), pinned.end(), object);
    };

    std::size_t reclaimed = 0;
    std::size_t live = 0;
    nodes_.forEachGivenOut([&](OsmNode* node) {
        if (node->visitId == RECLAIMED_VISIT_ID) return;
        if (node->firstLink != nullptr || !node->isLinkUnused() || isPinned(node) ||
            isPinned(static_cast<const OsmLink*>(node)) || get(node->ilon, node->ilat) == node) {
            ++live;
            return;
        }
        for (TurnRestriction* restriction = node->firstRestriction; restriction != nullptr;) {
            TurnRestriction* next = restriction->next;
            restrictions_.release(restriction);
            restriction = next;
        }
        node->visitId = RECLAIMED_VISIT_ID;
        nodes_.release(node);
        ++reclaimed;
    });
    links_.forEachGivenOut([&](OsmLink* link) {
        if (isReclaimed(*link) || !link->isLinkUnused() || isPinned(link)) return;
        link->nextAtFirst = link;
        links_.release(link);
    });
    createdSinceReclaim_ = 0;
    reclaimAfter_ = std::max(firstReclaimAfter_, live);
    reclaimedNodes_ += reclaimed;
    return reclaimed;
}

bool OsmNodesMap::growMemoryAllowance(std::int64_t need) noexcept {
    if (need + 2000000 > memoryAllowance) {
        memoryAllowance = std::min(need + 2000000, maxMemory);
    }
    return memoryAllowance >= need + 100000;
}

OsmNodesMap::CutFrame OsmNodesMap::enterCut(OsmNode* source, OsmNode* node) {
    const std::int32_t result = node->visitId == 1 ? baseId : lastVisitId++;
    node->visitId = result;
    ++nodeCount;
    return CutFrame{source, node, node->firstLink, nullptr, nullptr, 0, result};
}

std::int32_t OsmNodesMap::minVisitIdInSubtree(OsmNode* source, OsmNode* node) {
    // The node being walked is in frame; the ones it was reached from wait on
    // the stack, each with the link down to its child.
    cutStack_.clear();
    CutFrame frame = enterCut(source, node);
    for (;;) {
        bool descended = false;
        while (frame.next != nullptr) {
            OsmLink* link = frame.next;
            frame.next = link->getNext(frame.node);
            OsmNode* target = link->getTarget(frame.node);
            if (target == nullptr || target == frame.source || target->isHollow()) {
                continue;
            }
            const std::int32_t visitId = target->visitId;
            if (visitId == 0) {
                frame.descendedLink = link;
                frame.child = target;
                frame.savedNodeCount = nodeCount;
                cutStack_.push_back(frame);
                frame = enterCut(frame.node, target);
                descended = true;
                break;
            }
            if (visitId == 1) {
                frame.result = std::min(frame.result, baseId);
            } else if (visitId >= baseId) {
                frame.result = std::min(frame.result, cleanupMode == 2 ? baseId : visitId);
            }
        }
        if (descended) continue;
        const std::int32_t returned = frame.result;
        if (cutStack_.empty()) return returned;
        frame = cutStack_.back();
        cutStack_.pop_back();
        if (returned > frame.node->visitId) {
            // Nothing behind this link reaches back: cut it off.
            nodeCount = frame.savedNodeCount;
            if (cutLog != nullptr) cutLog->push_back(frame.descendedLink);
            frame.node->unlinkLink(frame.descendedLink);
            frame.child->unlinkLink(frame.descendedLink);
        }
        frame.result = std::min(frame.result, returned);
        frame.descendedLink = nullptr;
    }
}

} // namespace ferrow::mapaccess
