#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ferrow::jcompat {
class File;
}

namespace ferrow::expressions {

class BExpressionContext;

// The lookup table's version numbers and the expression contexts that receive
// its tag lines, by name in registration order.
class BExpressionMetaData {
public:
    static constexpr std::string_view CONTEXT_TAG = "---context:";
    static constexpr std::string_view VERSION_TAG = "---lookupversion:";
    static constexpr std::string_view MINOR_VERSION_TAG = "---minorversion:";
    static constexpr std::string_view MIN_APP_VERSION_TAG = "---minappversion:";
    static constexpr std::string_view VARLENGTH_TAG = "---readvarlength";

    std::int16_t lookupVersion = -1;
    std::int16_t minorVersion = -1;
    std::int16_t minAppVersion = -1;

    BExpressionMetaData() = default;
    BExpressionMetaData(const BExpressionMetaData&) = delete;
    BExpressionMetaData& operator=(const BExpressionMetaData&) = delete;

    // A decimal number in the signed 16-bit range; NumberFormatException otherwise.
    static std::int16_t parseShort(std::string_view text);

    // Called by each context's constructor; the context must outlive this object's use.
    void registerListener(const std::string& context, BExpressionContext* ctx);
    // The context registered under the exact name, or null.
    BExpressionContext* getContext(std::string_view name) const;

    // Reads a lookup table line by line into the registered contexts, then
    // finishes every context. Failures (missing file, malformed line, a context
    // without tag lines) pass through unchanged; the caller decides how to report.
    void readMetaData(const jcompat::File& lookupsFile);

    // One line of the table (exposed so the line loop can be driven from text).
    void parseLine(std::string_view rawLine);
    void finishMetaParsing();

private:
    std::vector<std::pair<std::string, BExpressionContext*>> listeners_;
    BExpressionContext* selected_ = nullptr;
};

} // namespace ferrow::expressions
