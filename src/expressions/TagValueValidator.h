#pragma once

#include <cstdint>
#include <span>

#include "util/ByteArray.h"

namespace ferrow::expressions {

// What tile decoding asks the profile about way tag sets: which tags matter,
// how accessible a way is, whether it may start a route, and the shared
// instance of a tag set. Implemented by the profile's way context.
class TagValueValidator {
public:
    virtual ~TagValueValidator() = default;

    // 2: usable; 1: forbidden in both directions but decoded anyway (only when
    // decoding forbidden ways is switched on); 0: drop the way.
    virtual int accessType(const util::ByteArray& tagBytes) = 0;

    // Whether a way with these tags may start or end a route; true for an
    // absent tag set.
    virtual bool checkStartWay(const util::ByteArray& tagBytes) = 0;

    // Whether the profile refers to the tag with this lookup index; indexes
    // beyond the table are unused.
    virtual bool isLookupIdxUsed(int index) const = 0;

    // The same answer as isLookupIdxUsed for every index, as a table for the
    // tree reader's fast test: one byte per lookup index, bit 0 = used.
    virtual std::span<const std::uint8_t> lookupIdxUsedTable() const = 0;

    // Switches whether accessType may answer 1.
    virtual void setDecodeForbidden(bool decodeForbidden) = 0;

    // Equal identities filter, classify and share tag sets alike, so a tile
    // decoded under one may stand for a tile decoded under the other. Any
    // change of the profile's tag use, its access rules or the decode-forbidden
    // switch gives another identity. 0: no decoded tile is to be kept.
    virtual std::uint64_t decodingIdentity() const = 0;

    // An array equal to the slice, shared with other callers; it is never
    // changed afterwards (the IByteArrayUnifier operation).
    virtual util::ByteArray unify(std::span<const util::Byte> slice) = 0;
};

} // namespace ferrow::expressions
