#include "jcompat/BufferedReader.h"

#include <cstring>

#include "jcompat/Utf8.h"

namespace ferrow::jcompat {

std::optional<std::string> BufferedReader::readLine() {
    std::string bytes;
    bool any = false;
    while (source_->ensure(1)) {
        any = true;
        const auto* begin = reinterpret_cast<const char*>(source_->data());
        const std::size_t available = source_->available();
        const auto* lineFeed = static_cast<const char*>(std::memchr(begin, '\n', available));
        if (lineFeed == nullptr) {
            bytes.append(begin, available);
            source_->consume(available);
            continue;
        }
        bytes.append(begin, static_cast<std::size_t>(lineFeed - begin));
        source_->consume(static_cast<std::size_t>(lineFeed - begin) + 1);
        if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
        return sanitizeUtf8(bytes);
    }
    if (!any) return std::nullopt;
    return sanitizeUtf8(bytes);
}

} // namespace ferrow::jcompat
