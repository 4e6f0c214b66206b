#include "jcompat/Utf8.h"

namespace ferrow::jcompat {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

} // namespace

std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length;
    char32_t value;
    unsigned char secondMin = 0x80;
    unsigned char secondMax = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) secondMin = 0xA0; // overlong
        if (lead == 0xED) secondMax = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) secondMin = 0x90; // overlong
        if (lead == 0xF4) secondMax = 0x8F; // beyond U+10FFFF
    } else {
        codePoint = kReplacementCharacter;
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (pos + i >= text.size()) {
            codePoint = kReplacementCharacter;
            return i;
        }
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        const bool fits = i == 1 ? byte >= secondMin && byte <= secondMax : isContinuation(byte);
        if (!fits) {
            codePoint = kReplacementCharacter;
            return i;
        }
        value = (value << 6) | (byte & 0x3F);
    }
    codePoint = value;
    return length;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string sanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t codePoint;
        const std::size_t length = decodeUtf8(bytes, pos, codePoint);
        const bool malformed = codePoint == kReplacementCharacter && bytes.substr(pos, length) != "\xEF\xBF\xBD";
        if (malformed) {
            appendUtf8(out, codePoint);
        } else {
            out.append(bytes.substr(pos, length));
        }
        pos += length;
    }
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t codePoint;
        pos += decodeUtf8(text, pos, codePoint);
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (codePoint >> 10));
            units += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            units += static_cast<char16_t>(codePoint);
        }
    }
    return units;
}

} // namespace ferrow::jcompat
