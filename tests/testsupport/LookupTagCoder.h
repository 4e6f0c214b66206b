#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "testsupport/CodedTagSet.h"

namespace ferrow::expressions {
class BExpressionContext;
class BExpressionContextNode;
class BExpressionContextWay;
class BExpressionMetaData;
} // namespace ferrow::expressions

namespace ferrow::testsupport {

// Codes tag sets written as text ("highway=residential oneway=yes") through a
// lookup table, the way segment files carry them.
class LookupTagCoder {
public:
    // The project's own profiles/lookups.dat, read once.
    static const LookupTagCoder& standard();

    explicit LookupTagCoder(const std::string& lookupsPath);
    ~LookupTagCoder();
    LookupTagCoder(const LookupTagCoder&) = delete;
    LookupTagCoder& operator=(const LookupTagCoder&) = delete;

    // Blank-separated tag=value items. A value is a listed value or alias,
    // "unknown", or a number (coded as a numeric value). Unknown tags or values
    // raise std::invalid_argument naming them.
    CodedTagSet wayTags(std::string_view text) const;
    CodedTagSet nodeTags(std::string_view text) const;

    std::int16_t lookupVersion() const;
    const expressions::BExpressionContext& wayContext() const;
    const expressions::BExpressionContext& nodeContext() const;

private:
    CodedTagSet code(const expressions::BExpressionContext& context, std::string_view text) const;

    std::unique_ptr<expressions::BExpressionMetaData> meta_;
    std::unique_ptr<expressions::BExpressionContextWay> way_;
    std::unique_ptr<expressions::BExpressionContextNode> node_;
};

} // namespace ferrow::testsupport
