#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ferrow::jcompat {

// Texts are kept as UTF-8 everywhere. Bytes that come from outside (files,
// standard input, URL escapes) are made valid UTF-8 first, so that every other
// text operation may assume well-formed input.

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// Decodes the code point starting at text[pos] (pos < text.size()). Returns the
// number of bytes it takes; a malformed sequence yields U+FFFD for its longest
// valid-looking prefix (at least one byte).
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& codePoint);

void appendUtf8(std::string& out, char32_t codePoint);

// The bytes decoded as UTF-8 and encoded again: malformed parts become U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

// The UTF-16 code units of a UTF-8 text.
std::u16string toUtf16(std::string_view text);

} // namespace ferrow::jcompat
