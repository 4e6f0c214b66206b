#pragma once

#include <cstdint>
#include <span>

#include "util/ByteArray.h"

namespace ferrow::expressions {

// A way tag set as a tile codes it, before any profile has looked at it: the
// pairs (tag index step, coded value) in stream order, without the closing
// step 0, and a hash of them.
struct RawTagSet {
    std::span<const std::int32_t> pairs;
    std::uint64_t hash = 0;

    static std::uint64_t hashOf(std::span<const std::int32_t> pairs) noexcept;
};

// A way tag set as one profile sees it: the tags the profile uses, as
// tag-value bytes shared with equal sets, and how usable the way is.
struct FilteredTagSet {
    // Absent when the profile uses none of the tags.
    util::ByteArray tags;
    // As TagValueValidator::accessType; 0 (drop the way) when tags are absent.
    std::int32_t accessType = 0;
};

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
    // filter's fast test: one byte per lookup index, bit 0 = used.
    virtual std::span<const std::uint8_t> lookupIdxUsedTable() const = 0;

    // Switches whether accessType may answer 1.
    virtual void setDecodeForbidden(bool decodeForbidden) = 0;

    // An array equal to the slice, shared with other callers; it is never
    // changed afterwards (the IByteArrayUnifier operation).
    virtual util::ByteArray unify(std::span<const util::Byte> slice) = 0;

    // The raw tag set re-coded with only the tags this profile uses (the pairs
    // kept relative to each other), shared through unify and classified by
    // accessType. Re-coding fails with an index error when the kept pairs
    // need more than TAG_BUFFER_SIZE bytes. Validators may keep the results.
    virtual FilteredTagSet filterTagSet(const RawTagSet& raw) { return filterUncached(raw.pairs); }

    // What decides filterTagSet's answer for every raw tag set: a validator
    // with the same identity gives the same answers (the very same shared
    // arrays), so they may be kept. 0 when it cannot tell.
    virtual std::uint64_t filterIdentity() const noexcept { return 0; }

    static constexpr std::int32_t TAG_BUFFER_SIZE = 256;

protected:
    // The kept pairs re-coded and shared through unify; absent when the
    // profile uses none of the tags.
    util::ByteArray keepUsedTags(std::span<const std::int32_t> pairs);
    FilteredTagSet filterUncached(std::span<const std::int32_t> pairs);
};

} // namespace ferrow::expressions
