#include "jcompat/JString.h"

#include <limits>

#include "jcompat/Exceptions.h"
#include "jcompat/Platform.h"
#include "jcompat/Utf8.h"

namespace ferrow::jcompat {

namespace {

[[noreturn]] void failNumber(std::string_view text) {
    std::string message = "For input string: \"";
    message.append(text);
    message += '"';
    throw NumberFormatException(std::move(message));
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::size_t skipDigits(std::string_view s, std::size_t i, bool hex) {
    while (i < s.size() && (hex ? isHexDigit(s[i]) : isDigit(s[i]))) ++i;
    return i;
}

// Checks the floating-point grammar (without the words NaN and Infinity):
// [sign] digits [. digits] [e [sign] digits], or [sign] 0x hexdigits [. hexdigits] p [sign] digits.
bool isFloatingPointText(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const bool hex = s.size() - i >= 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X');
    if (hex) i += 2;
    const std::size_t intStart = i;
    i = skipDigits(s, i, hex);
    std::size_t mantissaDigits = i - intStart;
    if (i < s.size() && s[i] == '.') {
        const std::size_t fractionStart = ++i;
        i = skipDigits(s, i, hex);
        mantissaDigits += i - fractionStart;
    }
    if (mantissaDigits == 0) return false;
    const bool hasExponent = i < s.size() && (hex ? (s[i] == 'p' || s[i] == 'P') : (s[i] == 'e' || s[i] == 'E'));
    if (hex && !hasExponent) return false;
    if (hasExponent) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t exponentStart = i;
        i = skipDigits(s, i, false);
        if (i == exponentStart) return false;
    }
    return i == s.size();
}

// The literal alternatives of a split pattern.
std::vector<std::string> parseSplitPattern(std::string_view pattern) {
    static constexpr std::string_view kMetacharacters = ".^$*+?()[]{}\\|";
    std::vector<std::string> alternatives(1);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            if (i + 1 >= pattern.size() || kMetacharacters.find(pattern[i + 1]) == std::string_view::npos) {
                throw IllegalArgumentException("unsupported split pattern: " + std::string(pattern));
            }
            alternatives.back() += pattern[++i];
        } else if (c == '|') {
            alternatives.emplace_back();
        } else if (kMetacharacters.find(c) != std::string_view::npos) {
            throw IllegalArgumentException("unsupported split pattern: " + std::string(pattern));
        } else {
            alternatives.back() += c;
        }
    }
    for (const std::string& alternative : alternatives) {
        if (alternative.empty()) throw IllegalArgumentException("unsupported split pattern: " + std::string(pattern));
    }
    return alternatives;
}

// Lower-case mapping table: Latin (Basic, Latin-1, Extended-A/B, Extended Additional,
// Extended-C/D), IPA-adjacent capitals, Greek and Greek Extended (capitals without
// iota subscript folding), Cyrillic with its supplement and extensions, Armenian,
// Georgian, Glagolitic, Coptic, letterlike symbols, Roman numerals, circled
// letters, fullwidth Latin and Deseret. Scripts outside these ranges stay unchanged.
struct CaseRange {
    char32_t first;
    char32_t last;
    char32_t lowerOfFirst;
    unsigned char stride; // 1: every code point maps; 2: capitals at even offsets from first
};

constexpr CaseRange kLowerCaseRanges[] = {
    {0x0041, 0x005A, 0x0061, 1}, {0x00C0, 0x00D6, 0x00E0, 1}, {0x00D8, 0x00DE, 0x00F8, 1},
    {0x0100, 0x012F, 0x0101, 2}, {0x0132, 0x0137, 0x0133, 2}, {0x0139, 0x0148, 0x013A, 2},
    {0x014A, 0x0177, 0x014B, 2}, {0x0178, 0x0178, 0x00FF, 1}, {0x0179, 0x017E, 0x017A, 2},
    {0x0181, 0x0181, 0x0253, 1}, {0x0182, 0x0185, 0x0183, 2}, {0x0186, 0x0186, 0x0254, 1},
    {0x0187, 0x0187, 0x0188, 1}, {0x0189, 0x018A, 0x0256, 1}, {0x018B, 0x018B, 0x018C, 1},
    {0x018E, 0x018E, 0x01DD, 1}, {0x018F, 0x018F, 0x0259, 1}, {0x0190, 0x0190, 0x025B, 1},
    {0x0191, 0x0191, 0x0192, 1}, {0x0193, 0x0193, 0x0260, 1}, {0x0194, 0x0194, 0x0263, 1},
    {0x0196, 0x0196, 0x0269, 1}, {0x0197, 0x0197, 0x0268, 1}, {0x0198, 0x0198, 0x0199, 1},
    {0x019C, 0x019C, 0x026F, 1}, {0x019D, 0x019D, 0x0272, 1}, {0x019F, 0x019F, 0x0275, 1},
    {0x01A0, 0x01A5, 0x01A1, 2}, {0x01A6, 0x01A6, 0x0280, 1}, {0x01A7, 0x01A7, 0x01A8, 1},
    {0x01A9, 0x01A9, 0x0283, 1}, {0x01AC, 0x01AC, 0x01AD, 1}, {0x01AE, 0x01AE, 0x0288, 1},
    {0x01AF, 0x01AF, 0x01B0, 1}, {0x01B1, 0x01B2, 0x028A, 1}, {0x01B3, 0x01B5, 0x01B4, 2},
    {0x01B7, 0x01B7, 0x0292, 1}, {0x01B8, 0x01B8, 0x01B9, 1}, {0x01BC, 0x01BC, 0x01BD, 1},
    {0x01C4, 0x01C4, 0x01C6, 1}, {0x01C5, 0x01C5, 0x01C6, 1}, {0x01C7, 0x01C7, 0x01C9, 1},
    {0x01C8, 0x01C8, 0x01C9, 1}, {0x01CA, 0x01CA, 0x01CC, 1}, {0x01CB, 0x01CB, 0x01CC, 1},
    {0x01CD, 0x01DC, 0x01CE, 2}, {0x01DE, 0x01EF, 0x01DF, 2}, {0x01F1, 0x01F1, 0x01F3, 1},
    {0x01F2, 0x01F2, 0x01F3, 1}, {0x01F4, 0x01F4, 0x01F5, 1}, {0x01F6, 0x01F6, 0x0195, 1},
    {0x01F7, 0x01F7, 0x01BF, 1}, {0x01F8, 0x021F, 0x01F9, 2}, {0x0220, 0x0220, 0x019E, 1},
    {0x0222, 0x0233, 0x0223, 2}, {0x023A, 0x023A, 0x2C65, 1}, {0x023B, 0x023B, 0x023C, 1},
    {0x023D, 0x023D, 0x019A, 1}, {0x023E, 0x023E, 0x2C66, 1}, {0x0241, 0x0241, 0x0242, 1},
    {0x0243, 0x0243, 0x0180, 1}, {0x0244, 0x0244, 0x0289, 1}, {0x0245, 0x0245, 0x028C, 1},
    {0x0246, 0x024F, 0x0247, 2}, {0x0370, 0x0373, 0x0371, 2}, {0x0376, 0x0376, 0x0377, 1},
    {0x037F, 0x037F, 0x03F3, 1}, {0x0386, 0x0386, 0x03AC, 1}, {0x0388, 0x038A, 0x03AD, 1},
    {0x038C, 0x038C, 0x03CC, 1}, {0x038E, 0x038F, 0x03CD, 1}, {0x0391, 0x03A1, 0x03B1, 1},
    {0x03A3, 0x03AB, 0x03C3, 1}, {0x03CF, 0x03CF, 0x03D7, 1}, {0x03D8, 0x03EF, 0x03D9, 2},
    {0x03F4, 0x03F4, 0x03B8, 1}, {0x03F7, 0x03F7, 0x03F8, 1}, {0x03F9, 0x03F9, 0x03F2, 1},
    {0x03FA, 0x03FA, 0x03FB, 1}, {0x03FD, 0x03FF, 0x037B, 1}, {0x0400, 0x040F, 0x0450, 1},
    {0x0410, 0x042F, 0x0430, 1}, {0x0460, 0x0481, 0x0461, 2}, {0x048A, 0x04BF, 0x048B, 2},
    {0x04C0, 0x04C0, 0x04CF, 1}, {0x04C1, 0x04CE, 0x04C2, 2}, {0x04D0, 0x052F, 0x04D1, 2},
    {0x0531, 0x0556, 0x0561, 1}, {0x10A0, 0x10C5, 0x2D00, 1}, {0x10C7, 0x10C7, 0x2D27, 1},
    {0x10CD, 0x10CD, 0x2D2D, 1}, {0x1C90, 0x1CBA, 0x10D0, 1}, {0x1CBD, 0x1CBF, 0x10FD, 1},
    {0x1E00, 0x1E95, 0x1E01, 2}, {0x1E9E, 0x1E9E, 0x00DF, 1}, {0x1EA0, 0x1EFF, 0x1EA1, 2},
    {0x1F08, 0x1F0F, 0x1F00, 1}, {0x1F18, 0x1F1D, 0x1F10, 1}, {0x1F28, 0x1F2F, 0x1F20, 1},
    {0x1F38, 0x1F3F, 0x1F30, 1}, {0x1F48, 0x1F4D, 0x1F40, 1}, {0x1F59, 0x1F5F, 0x1F51, 2},
    {0x1F68, 0x1F6F, 0x1F60, 1}, {0x1F88, 0x1F8F, 0x1F80, 1}, {0x1F98, 0x1F9F, 0x1F90, 1},
    {0x1FA8, 0x1FAF, 0x1FA0, 1}, {0x1FB8, 0x1FB9, 0x1FB0, 1}, {0x1FBA, 0x1FBB, 0x1F70, 1},
    {0x1FBC, 0x1FBC, 0x1FB3, 1}, {0x1FC8, 0x1FCB, 0x1F72, 1}, {0x1FCC, 0x1FCC, 0x1FC3, 1},
    {0x1FD8, 0x1FD9, 0x1FD0, 1}, {0x1FDA, 0x1FDB, 0x1F76, 1}, {0x1FE8, 0x1FE9, 0x1FE0, 1},
    {0x1FEA, 0x1FEB, 0x1F7A, 1}, {0x1FEC, 0x1FEC, 0x1FE5, 1}, {0x1FF8, 0x1FF9, 0x1F78, 1},
    {0x1FFA, 0x1FFB, 0x1F7C, 1}, {0x1FFC, 0x1FFC, 0x1FF3, 1}, {0x2126, 0x2126, 0x03C9, 1},
    {0x212A, 0x212A, 0x006B, 1}, {0x212B, 0x212B, 0x00E5, 1}, {0x2132, 0x2132, 0x214E, 1},
    {0x2160, 0x216F, 0x2170, 1}, {0x2183, 0x2183, 0x2184, 1}, {0x24B6, 0x24CF, 0x24D0, 1},
    {0x2C00, 0x2C2F, 0x2C30, 1}, {0x2C60, 0x2C60, 0x2C61, 1}, {0x2C62, 0x2C62, 0x026B, 1},
    {0x2C63, 0x2C63, 0x1D7D, 1}, {0x2C64, 0x2C64, 0x027D, 1}, {0x2C67, 0x2C6C, 0x2C68, 2},
    {0x2C6D, 0x2C6D, 0x0251, 1}, {0x2C6E, 0x2C6E, 0x0271, 1}, {0x2C6F, 0x2C6F, 0x0250, 1},
    {0x2C70, 0x2C70, 0x0252, 1}, {0x2C72, 0x2C72, 0x2C73, 1}, {0x2C75, 0x2C75, 0x2C76, 1},
    {0x2C7E, 0x2C7F, 0x023F, 1}, {0x2C80, 0x2CE3, 0x2C81, 2}, {0xA640, 0xA66D, 0xA641, 2},
    {0xA680, 0xA69B, 0xA681, 2}, {0xA722, 0xA72F, 0xA723, 2}, {0xA732, 0xA76F, 0xA733, 2},
    {0xA779, 0xA77C, 0xA77A, 2}, {0xA77D, 0xA77D, 0x1D79, 1}, {0xA77E, 0xA787, 0xA77F, 2},
    {0xA78B, 0xA78B, 0xA78C, 1}, {0xA78D, 0xA78D, 0x0265, 1}, {0xA790, 0xA793, 0xA791, 2},
    {0xA796, 0xA7A9, 0xA797, 2}, {0xFF21, 0xFF3A, 0xFF41, 1}, {0x10400, 0x10427, 0x10428, 1},
};

char32_t lowerCaseOf(char32_t c) {
    if (c < 0x41) return c;
    for (const CaseRange& range : kLowerCaseRanges) {
        if (c < range.first) break;
        if (c > range.last) continue;
        const char32_t offset = c - range.first;
        if (range.stride == 1) return range.lowerOfFirst + offset;
        return offset % 2 == 0 ? c + (range.lowerOfFirst - range.first) : c;
    }
    return c;
}

// Letters of the scripts above, enough to decide whether a capital sigma ends a word.
bool isCasedLetter(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    if (c == 0xD7 || c == 0xF7) return false;
    return (c >= 0x00C0 && c <= 0x024F) || (c >= 0x0370 && c <= 0x03FF && c != 0x037E && c != 0x0387) ||
           (c >= 0x0400 && c <= 0x052F) || (c >= 0x1E00 && c <= 0x1FFF);
}

} // namespace

std::vector<std::string> JString::split(std::string_view text, std::string_view pattern) {
    const std::vector<std::string> alternatives = parseSplitPattern(pattern);
    std::vector<std::string> pieces;
    std::size_t pieceStart = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t matchLength = 0;
        for (const std::string& alternative : alternatives) {
            if (text.substr(pos, alternative.size()) == alternative) {
                matchLength = alternative.size();
                break;
            }
        }
        if (matchLength == 0) {
            ++pos;
            continue;
        }
        pieces.emplace_back(text.substr(pieceStart, pos - pieceStart));
        pos += matchLength;
        pieceStart = pos;
    }
    if (pieces.empty()) return {std::string(text)};
    pieces.emplace_back(text.substr(pieceStart));
    while (!pieces.empty() && pieces.back().empty()) pieces.pop_back();
    return pieces;
}

std::string JString::trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return std::string(text.substr(begin, end - begin));
}

double JString::parseDouble(std::string_view text) {
    std::string s = trim(text);
    if (!s.empty()) {
        const char last = s.back();
        if (last == 'd' || last == 'D' || last == 'f' || last == 'F') s.pop_back();
    }
    std::string_view body = s;
    bool negative = false;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (body == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (body == "Infinity") {
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    if (!isFloatingPointText(s)) failNumber(text);
    return platform::strtodC(s.c_str());
}

std::int32_t JString::parseInt(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) failNumber(text);
    // Accumulate negatively: the magnitude of the smallest value exceeds the largest.
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i])) failNumber(text);
        value = value * 10 - (text[i] - '0');
        if (value < std::numeric_limits<std::int32_t>::min()) failNumber(text);
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<std::int32_t>::max()) failNumber(text);
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t JString::hashCode(std::string_view utf8) {
    std::uint32_t hash = 0;
    for (const char16_t unit : toUtf16(utf8)) hash = 31 * hash + unit;
    return static_cast<std::int32_t>(hash);
}

std::string JString::toLowerCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char32_t previous = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t c;
        const std::size_t length = decodeUtf8(text, pos, c);
        pos += length;
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        } else if (c == 0x0130) {
            // Capital I with dot above keeps its dot as a combining mark.
            out += 'i';
            appendUtf8(out, 0x0307);
        } else if (c == 0x03A3) {
            char32_t next = 0;
            if (pos < text.size()) decodeUtf8(text, pos, next);
            const bool endsWord = isCasedLetter(previous) && !isCasedLetter(next);
            appendUtf8(out, endsWord ? 0x03C2 : 0x03C3);
        } else {
            appendUtf8(out, lowerCaseOf(c));
        }
        previous = c;
    }
    return out;
}

bool JString::equalsIgnoreCase(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca;
        char32_t cb;
        i += decodeUtf8(a, i, ca);
        j += decodeUtf8(b, j, cb);
        if (ca != cb && lowerCaseOf(ca) != lowerCaseOf(cb)) return false;
    }
    return i == a.size() && j == b.size();
}

} // namespace ferrow::jcompat
