#pragma once

namespace ferrow::mapaccess {

// Something chained on a link per direction: the search paths that reached it.
class OsmLinkHolder {
public:
    virtual ~OsmLinkHolder() = default;

    virtual OsmLinkHolder* getNextForLink() const = 0;
    virtual void setNextForLink(OsmLinkHolder* holder) = 0;

protected:
    OsmLinkHolder() = default;
    OsmLinkHolder(const OsmLinkHolder&) = default;
    OsmLinkHolder& operator=(const OsmLinkHolder&) = default;
};

} // namespace ferrow::mapaccess
