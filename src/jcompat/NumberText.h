#pragma once

#include <cstdint>
#include <string>

namespace ferrow::jcompat {

// Number text: the shortest decimal digits that read back to the same value,
// plain from 0.001 up to below 10000000 (always with a fraction digit), in
// exponent form ("1.0E7", "1.25E-4") otherwise; "NaN", "Infinity", "-0.0".
std::string doubleToString(double value);
std::string floatToString(float value);

// Floating-point to integer conversion: truncates toward zero, NaN gives 0,
// values beyond the range (and infinities) saturate at its limits.
std::int32_t toInt(double value);
std::int32_t toInt(float value);
std::int64_t toLong(double value);
std::int64_t toLong(float value);

// Two's-complement wrap-around arithmetic, for the hashes and counters that
// rely on overflow wrapping instead of being undefined.
inline std::int32_t wrapAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapMul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapNeg(std::int32_t a) { return wrapSub(0, a); }
inline std::int64_t wrapAdd(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
inline std::int64_t wrapSub(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
inline std::int64_t wrapMul(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}
inline std::int64_t wrapNeg(std::int64_t a) { return wrapSub(std::int64_t{0}, a); }

} // namespace ferrow::jcompat
