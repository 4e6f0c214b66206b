#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferrow::jcompat {

// Text operations with the exact results the parsers and writers rely on.
// Texts are UTF-8; where results depend on UTF-16 code units (the hash), the
// units of the decoded text are used.
struct JString {
    // Splits around every match of `pattern`, keeping empty pieces before and
    // between matches and dropping empty pieces at the end. Supported pattern
    // language: literal characters, escaped metacharacters such as "\|", and
    // alternation with "|" (so ";|\|" splits at ';' and '|'). Any other
    // metacharacter is refused with IllegalArgumentException.
    static std::vector<std::string> split(std::string_view text, std::string_view pattern);

    // Removes every character with code 32 or less from both ends.
    static std::string trim(std::string_view text);

    // Trims, drops one trailing d/D/f/F, then reads a double: decimal with
    // optional exponent, "NaN", "Infinity" (both optionally signed) or hex
    // floating-point text. NumberFormatException `For input string: "<text>"`.
    static double parseDouble(std::string_view text);

    // Optional sign and one or more ASCII digits, in 32-bit range, nothing else.
    static std::int32_t parseInt(std::string_view text);

    // 31-based hash over the UTF-16 code units, wrapping at 32 bits.
    static std::int32_t hashCode(std::string_view utf8);

    // Locale-free lower-case mapping (see JString.cpp for the covered scripts).
    static std::string toLowerCase(std::string_view text);

    // Equal texts, or texts equal character by character after lower-casing.
    static bool equalsIgnoreCase(std::string_view a, std::string_view b);
};

} // namespace ferrow::jcompat
