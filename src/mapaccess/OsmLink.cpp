#include "mapaccess/OsmLink.h"

#include "jcompat/Exceptions.h"
#include "mapaccess/OsmLinkHolder.h"

namespace ferrow::mapaccess {

OsmLinkHolder* OsmLink::getFirstLinkHolder(const OsmNode* node) const {
    if (secondNode != nullptr && secondNode != node) {
        return holdersFromFirst;
    }
    if (firstNode != nullptr && firstNode != node) {
        return holdersFromSecond;
    }
    throw jcompat::IllegalArgumentException("internal error: getFirstLinkHolder: unknown source");
}

void OsmLink::addLinkHolder(OsmLinkHolder* holder, const OsmNode* node) {
    OsmLinkHolder* head = getFirstLinkHolder(node);
    if (head != nullptr) {
        holder->setNextForLink(head);
    }
    if (secondNode != nullptr && secondNode != node) {
        holdersFromFirst = holder;
    } else if (firstNode != nullptr && firstNode != node) {
        holdersFromSecond = holder;
    } else {
        throw jcompat::IllegalArgumentException("internal error: setFirstLinkHolder: unknown source");
    }
}

} // namespace ferrow::mapaccess
