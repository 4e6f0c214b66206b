#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "util/ByteArray.h"

namespace ferrow::testsupport {

class StatEncoder;

// A tag set as the tile stream carries it: (tag index, coded value) pairs in
// ascending tag order. Coded values: 0..6 for value indexes 2..8, 7 for
// "unknown" (1), and value index - 1 from value index 9 on (numbers included).
struct CodedTagSet {
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;

    // The coded value of a value index (which must be at least 1).
    static std::int32_t codeOfValueIndex(std::int32_t valueIndex);

    bool empty() const noexcept { return pairs.empty(); }

    // The tag-value bytes: var-bits (index step, value) pairs and a final 0,
    // as the decoder re-writes a leaf whose tags are all used.
    util::ByteArray toBytes() const;
    // The same pairs into a tile stream.
    void writeTo(StatEncoder& encoder) const;

    bool operator==(const CodedTagSet&) const = default;
    // Spelled out: not every standard library orders vectors with <=>.
    bool operator<(const CodedTagSet& other) const { return pairs < other.pairs; }
};

} // namespace ferrow::testsupport
