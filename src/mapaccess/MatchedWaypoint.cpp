#include "mapaccess/MatchedWaypoint.h"

#include <string_view>

#include "jcompat/Exceptions.h"
#include "jcompat/InputStream.h"
#include "jcompat/Utf8.h"

namespace ferrow::mapaccess {

namespace {

std::shared_ptr<OsmNode> readNode(jcompat::DataInputStream& in) {
    const std::int32_t ilat = in.readInt();
    const std::int32_t ilon = in.readInt();
    return std::make_shared<OsmNode>(ilon, ilat);
}

} // namespace

MatchedWaypoint MatchedWaypoint::readFromStream(jcompat::DataInputStream& in) {
    MatchedWaypoint mwp;
    mwp.node1 = readNode(in);
    mwp.node2 = readNode(in);
    mwp.crossPoint = readNode(in);
    mwp.waypoint = readNode(in);
    mwp.radius = in.readDouble();
    mwp.kind = in.readByte();
    const std::int16_t nameLength = in.readShort();
    if (nameLength < 0) {
        throw jcompat::IOException("matched waypoint record with negative name length " + std::to_string(nameLength));
    }
    std::string bytes(static_cast<std::size_t>(nameLength), '\0');
    in.readFully(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
    mwp.name = jcompat::sanitizeUtf8(bytes);
    return mwp;
}

} // namespace ferrow::mapaccess
