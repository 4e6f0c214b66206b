#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

namespace ferrow::jcompat {

// Number text: the shortest decimal digits that read back to the same value,
// plain from 0.001 up to below 10000000 (always with a fraction digit), in
// exponent form ("1.0E7", "1.25E-4") otherwise; "NaN", "Infinity", "-0.0".
std::string doubleToString(double value);
std::string floatToString(float value);

// Floating-point to integer conversion: truncates toward zero, NaN gives 0,
// values beyond the range (and infinities) saturate at its limits. Inline:
// the cost models convert several times per search step.
template <std::integral Integer, std::floating_point Float>
Integer saturatingCast(Float value) noexcept {
    // The limits of Integer are powers of two and so exact in Float.
    constexpr Float lower = static_cast<Float>(std::numeric_limits<Integer>::min());
    constexpr Float upper = -lower;
    if (value > lower && value < upper) [[likely]]
        return static_cast<Integer>(value);
    if (value != value) return 0; // NaN
    return value > 0 ? std::numeric_limits<Integer>::max() : std::numeric_limits<Integer>::min();
}
inline std::int32_t toInt(double value) noexcept { return saturatingCast<std::int32_t>(value); }
inline std::int32_t toInt(float value) noexcept { return saturatingCast<std::int32_t>(value); }
inline std::int64_t toLong(double value) noexcept { return saturatingCast<std::int64_t>(value); }
inline std::int64_t toLong(float value) noexcept { return saturatingCast<std::int64_t>(value); }

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
