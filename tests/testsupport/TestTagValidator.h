#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "expressions/TagValueValidator.h"
#include "util/ByteArrayUnifier.h"

namespace ferrow::testsupport {

// A tag validator for decoding tests that need no profile: every tag is used
// unless marked otherwise, every way is usable unless a classifier says
// otherwise, and equal tag sets are shared through a small unifier.
class TestTagValidator final : public expressions::TagValueValidator {
public:
    explicit TestTagValidator(std::int32_t tagCount = 512);

    // Access type of a tag set (default: 2 for every set).
    std::function<int(const util::ByteArray&)> classify;
    // Start-way answer for a tag set (default: true).
    std::function<bool(const util::ByteArray&)> startWay;
    // What filterIdentity answers (default: 0, nothing may be kept).
    std::uint64_t identity = 0;
    // The tag sets filtered so far.
    std::int32_t filterCalls = 0;

    void setUsed(std::int32_t index, bool used);

    int accessType(const util::ByteArray& tagBytes) override;
    bool checkStartWay(const util::ByteArray& tagBytes) override;
    bool isLookupIdxUsed(int index) const override;
    std::span<const std::uint8_t> lookupIdxUsedTable() const override { return used_; }
    void setDecodeForbidden(bool decodeForbidden) override { decodeForbidden_ = decodeForbidden; }
    util::ByteArray unify(std::span<const util::Byte> slice) override { return unifier_.unify(slice); }
    expressions::FilteredTagSet filterTagSet(const expressions::RawTagSet& raw) override {
        ++filterCalls;
        return TagValueValidator::filterTagSet(raw);
    }
    std::uint64_t filterIdentity() const noexcept override { return identity; }

    bool decodeForbidden() const noexcept { return decodeForbidden_; }

private:
    std::vector<std::uint8_t> used_;
    util::ByteArrayUnifier unifier_{1024};
    bool decodeForbidden_ = false;
};

} // namespace ferrow::testsupport
