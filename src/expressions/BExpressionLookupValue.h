#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ferrow::expressions {

// One known value of one tag in the lookup table, with the alternative
// spellings that resolve to it while the table is read.
class BExpressionLookupValue {
public:
    explicit BExpressionLookupValue(std::string value) : value_(std::move(value)) {}

    const std::string& toString() const { return value_; }

    // Equality with a text looks at the value text only, never at aliases.
    bool equals(std::string_view text) const { return value_ == text; }
    bool equals(const BExpressionLookupValue& other) const { return value_ == other.value_; }

    // Used only while registering values: the value text or any alias.
    bool matches(std::string_view text) const;

    void addAlias(std::string alias) { aliases_.push_back(std::move(alias)); }
    const std::vector<std::string>& aliases() const { return aliases_; }

private:
    std::string value_;
    std::vector<std::string> aliases_;
};

} // namespace ferrow::expressions
