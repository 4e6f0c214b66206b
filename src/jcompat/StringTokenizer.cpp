#include "jcompat/StringTokenizer.h"

#include "jcompat/Exceptions.h"
#include "jcompat/Utf8.h"

namespace ferrow::jcompat {

StringTokenizer::StringTokenizer(std::string_view text, std::string_view delimiters) : text_(text) {
    std::size_t pos = 0;
    while (pos < delimiters.size()) {
        char32_t c;
        pos += decodeUtf8(delimiters, pos, c);
        delimiters_ += c;
    }
}

bool StringTokenizer::isDelimiterAt(std::size_t pos, std::size_t& length) const {
    char32_t c;
    length = decodeUtf8(text_, pos, c);
    return delimiters_.find(c) != std::u32string::npos;
}

void StringTokenizer::skip() {
    std::size_t length;
    while (position_ < text_.size() && isDelimiterAt(position_, length)) position_ += length;
}

std::size_t StringTokenizer::tokenEnd(std::size_t from) const {
    std::size_t length;
    while (from < text_.size() && !isDelimiterAt(from, length)) from += length;
    return from;
}

bool StringTokenizer::hasMoreTokens() {
    skip();
    return position_ < text_.size();
}

std::string StringTokenizer::nextToken() {
    skip();
    if (position_ >= text_.size()) throw NoSuchElementException();
    const std::size_t start = position_;
    position_ = tokenEnd(start);
    return text_.substr(start, position_ - start);
}

int StringTokenizer::countTokens() {
    const std::size_t saved = position_;
    int count = 0;
    while (hasMoreTokens()) {
        position_ = tokenEnd(position_);
        ++count;
    }
    position_ = saved;
    return count;
}

} // namespace ferrow::jcompat
