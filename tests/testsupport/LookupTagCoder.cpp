#include "testsupport/LookupTagCoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "expressions/BExpressionContextNode.h"
#include "expressions/BExpressionContextWay.h"
#include "expressions/BExpressionMetaData.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/JString.h"

namespace ferrow::testsupport {

const LookupTagCoder& LookupTagCoder::standard() {
    static const LookupTagCoder coder(std::string(FERROW_SOURCE_DIR) + "/profiles/lookups.dat");
    return coder;
}

LookupTagCoder::LookupTagCoder(const std::string& lookupsPath)
    : meta_(std::make_unique<expressions::BExpressionMetaData>()),
      way_(std::make_unique<expressions::BExpressionContextWay>(0, *meta_)),
      node_(std::make_unique<expressions::BExpressionContextNode>(0, *meta_)) {
    meta_->readMetaData(jcompat::File(lookupsPath));
}

LookupTagCoder::~LookupTagCoder() = default;

std::int16_t LookupTagCoder::lookupVersion() const { return meta_->lookupVersion; }

const expressions::BExpressionContext& LookupTagCoder::wayContext() const { return *way_; }

const expressions::BExpressionContext& LookupTagCoder::nodeContext() const { return *node_; }

CodedTagSet LookupTagCoder::wayTags(std::string_view text) const { return code(*way_, text); }

CodedTagSet LookupTagCoder::nodeTags(std::string_view text) const { return code(*node_, text); }

CodedTagSet LookupTagCoder::code(const expressions::BExpressionContext& context, std::string_view text) const {
    CodedTagSet tags;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string_view item = text.substr(at, end - at);
        at = end + 1;
        if (item.empty()) {
            continue;
        }
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            throw std::invalid_argument("tag without value: " + std::string(item));
        }
        const std::string_view name = item.substr(0, equals);
        const std::string_view value = item.substr(equals + 1);
        const int nameIdx = context.getLookupNameIdx(name);
        if (nameIdx <= 0) {
            throw std::invalid_argument("no " + context.context() + " tag " + std::string(name) +
                                        " in the lookup table");
        }
        int valueIdx = context.getLookupValueIdx(nameIdx, value);
        if (valueIdx < 0) {
            const auto& values = context.lookupValues(nameIdx);
            const auto alias =
                std::find_if(values.begin(), values.end(), [&](const auto& known) { return known.matches(value); });
            if (alias != values.end()) {
                valueIdx = static_cast<int>(alias - values.begin());
            }
        }
        if (valueIdx < 0) {
            double number = std::numeric_limits<double>::quiet_NaN();
            try {
                number = jcompat::JString::parseDouble(value);
            } catch (const jcompat::NumberFormatException&) {
            }
            if (!std::isfinite(number)) {
                throw std::invalid_argument("no value " + std::string(value) + " of tag " + std::string(name) +
                                            " in the lookup table");
            }
            valueIdx = 1000 + static_cast<int>(std::lround(number * 100));
            if (valueIdx < 1000) {
                throw std::invalid_argument("negative number " + std::string(value) + " of tag " + std::string(name) +
                                            " has no numeric code");
            }
        }
        if (valueIdx == 0) {
            continue;
        }
        tags.pairs.emplace_back(nameIdx, CodedTagSet::codeOfValueIndex(valueIdx));
    }
    std::sort(tags.pairs.begin(), tags.pairs.end());
    for (std::size_t i = 1; i < tags.pairs.size(); ++i) {
        if (tags.pairs[i].first == tags.pairs[i - 1].first) {
            throw std::invalid_argument("tag " + context.lookupName(tags.pairs[i].first) +
                                        " given twice in: " + std::string(text));
        }
    }
    return tags;
}

} // namespace ferrow::testsupport
