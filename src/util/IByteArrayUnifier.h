#pragma once

#include <span>

#include "util/ByteArray.h"

namespace ferrow::util {

// Replaces a freshly decoded byte slice by an equal array that may be shared
// with other callers, so that equal tag sets become one object.
class IByteArrayUnifier {
public:
    virtual ~IByteArrayUnifier() = default;

    // An array equal to slice (never absent; empty for an empty slice). The
    // result is immutable and may be shared. Callers holding (bytes, offset,
    // length) pass checkedSlice(bytes, offset, length).
    virtual ByteArray unify(std::span<const Byte> slice) = 0;

protected:
    IByteArrayUnifier() = default;
    IByteArrayUnifier(const IByteArrayUnifier&) = default;
    IByteArrayUnifier& operator=(const IByteArrayUnifier&) = default;
};

} // namespace ferrow::util
