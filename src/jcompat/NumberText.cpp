#include "jcompat/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <type_traits>

#include "jcompat/Platform.h"

namespace ferrow::jcompat {

namespace {

// Significant digits (no point) and decimal exponent of d1.d2d3... x 10^exponent.
struct DecimalDigits {
    std::string digits;
    int exponent = 0;
};

// Parses the mantissa and exponent of std::to_chars' scientific text "d.ddde+XX".
DecimalDigits fromScientificText(std::string_view text) {
    DecimalDigits result;
    const std::size_t e = text.find('e');
    for (const char c : text.substr(0, e)) {
        if (c != '.') result.digits += c;
    }
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(), result.exponent);
    while (result.digits.size() > 1 && result.digits.back() == '0') result.digits.pop_back();
    return result;
}

template <typename Float>
Float readBack(const char* text) {
    if constexpr (std::is_same_v<Float, float>) {
        return platform::strtofC(text);
    } else {
        return platform::strtodC(text);
    }
}

template <typename Float>
DecimalDigits shortestDigits(Float value) {
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    DecimalDigits shortest = fromScientificText(std::string_view(buffer, end - buffer));
    if (shortest.digits.size() == 1) {
        // When one digit suffices, the closest two-digit text that still reads
        // back is preferred; this only differs for the tiniest subnormals
        // (4.9E-324 rather than 5.0E-324).
        end = std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::scientific, 1).ptr;
        *end = '\0';
        if (readBack<Float>(buffer) == value) return fromScientificText(std::string_view(buffer, end - buffer));
    }
    return shortest;
}

template <typename Float>
std::string floatingToString(Float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
    std::string text = value < 0 ? "-" : "";
    const DecimalDigits decimal = shortestDigits(std::fabs(value));
    const std::string& digits = decimal.digits;
    const int exponent = decimal.exponent;
    if (exponent >= -3 && exponent < 7) {
        if (exponent >= 0) {
            const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= integerDigits) {
                text += digits;
                text.append(integerDigits - digits.size(), '0');
                text += ".0";
            } else {
                text.append(digits, 0, integerDigits);
                text += '.';
                text.append(digits, integerDigits);
            }
        } else {
            text += "0.";
            text.append(static_cast<std::size_t>(-exponent - 1), '0');
            text += digits;
        }
    } else {
        text += digits[0];
        text += '.';
        text += digits.size() > 1 ? digits.substr(1) : "0";
        text += 'E';
        text += std::to_string(exponent);
    }
    return text;
}

} // namespace

std::string doubleToString(double value) { return floatingToString(value); }
std::string floatToString(float value) { return floatingToString(value); }

} // namespace ferrow::jcompat
