#include "mapaccess/OsmLink.h"

#include "jcompat/Exceptions.h"
#include "mapaccess/OsmLinkHolder.h"

namespace ferrow::mapaccess {

void OsmLink::throwUnknownSource(const char* message) { throw jcompat::IllegalArgumentException(message); }

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
        throwUnknownSource("internal error: setFirstLinkHolder: unknown source");
    }
}

} // namespace ferrow::mapaccess
