#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ferrow::jcompat {

// Splits a text into tokens separated by runs of delimiter characters (each
// character of `delimiters` is one). Empty tokens never occur.
class StringTokenizer {
public:
    StringTokenizer(std::string_view text, std::string_view delimiters);

    bool hasMoreTokens();
    // NoSuchElementException (no message) when no token is left.
    std::string nextToken();
    // The number of tokens still to come; the position is left unchanged.
    int countTokens();

private:
    void skip();
    std::size_t tokenEnd(std::size_t from) const;
    bool isDelimiterAt(std::size_t pos, std::size_t& length) const;

    std::string text_;
    std::u32string delimiters_;
    std::size_t position_ = 0;
};

} // namespace ferrow::jcompat
