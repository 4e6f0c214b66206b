#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <type_traits>

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

// Two's-complement wrap-around arithmetic on 32- and 64-bit integers, for the
// hashes and counters that rely on overflow wrapping instead of being undefined.
template <typename Integer>
concept WrappingInteger = std::same_as<Integer, std::int32_t> || std::same_as<Integer, std::int64_t>;

template <WrappingInteger Integer>
Integer wrapAdd(Integer a, Integer b) {
    using Unsigned = std::make_unsigned_t<Integer>;
    return static_cast<Integer>(static_cast<Unsigned>(a) + static_cast<Unsigned>(b));
}
template <WrappingInteger Integer>
Integer wrapSub(Integer a, Integer b) {
    using Unsigned = std::make_unsigned_t<Integer>;
    return static_cast<Integer>(static_cast<Unsigned>(a) - static_cast<Unsigned>(b));
}
template <WrappingInteger Integer>
Integer wrapMul(Integer a, Integer b) {
    using Unsigned = std::make_unsigned_t<Integer>;
    return static_cast<Integer>(static_cast<Unsigned>(a) * static_cast<Unsigned>(b));
}
template <WrappingInteger Integer>
Integer wrapNeg(Integer a) {
    return wrapSub(Integer{0}, a);
}

} // namespace ferrow::jcompat
