#include "router/RoutingParamCollector.h"

#include "jcompat/Exceptions.h"
#include "jcompat/StringTokenizer.h"
#include "jcompat/Utf8.h"

namespace ferrow::router {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The number of UTF-16 code units of the character starting at text[pos].
std::size_t unitsAt(std::string_view text, std::size_t pos, std::size_t& bytes) {
    char32_t c;
    bytes = jcompat::decodeUtf8(text, pos, c);
    return c >= 0x10000 ? 2 : 1;
}

// Whether at least two code units follow position pos.
bool twoUnitsFollow(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return false;
    std::size_t bytes;
    if (unitsAt(text, pos, bytes) >= 2) return true;
    return pos + bytes < text.size();
}

std::string urlDecode(std::string_view query) {
    std::string decoded;
    decoded.reserve(query.size());
    std::size_t i = 0;
    while (i < query.size()) {
        const char c = query[i];
        if (c == '+') {
            decoded += ' ';
            ++i;
        } else if (c == '%') {
            std::string bytes;
            while (i < query.size() && query[i] == '%') {
                if (!twoUnitsFollow(query, i + 1)) {
                    throw jcompat::IllegalArgumentException("URLDecoder: Incomplete trailing escape (%) pattern");
                }
                const int high = hexValue(query[i + 1]);
                const int low = hexValue(query[i + 2]);
                if (high < 0 || low < 0) {
                    throw jcompat::IllegalArgumentException("URLDecoder: Illegal hex characters in escape (%) pattern");
                }
                bytes += static_cast<char>(high * 16 + low);
                i += 3;
            }
            decoded += jcompat::sanitizeUtf8(bytes);
        } else {
            decoded += c;
            ++i;
        }
    }
    return decoded;
}

} // namespace

RequestParams RoutingParamCollector::getUrlParams(std::string_view query) const {
    RequestParams params;
    jcompat::StringTokenizer pairs(urlDecode(query), "?&");
    while (pairs.hasMoreTokens()) {
        jcompat::StringTokenizer parts(pairs.nextToken(), "=");
        if (!parts.hasMoreTokens()) continue;
        std::string key = parts.nextToken();
        if (!parts.hasMoreTokens()) continue;
        params.put(key, parts.nextToken());
    }
    return params;
}

} // namespace ferrow::router
