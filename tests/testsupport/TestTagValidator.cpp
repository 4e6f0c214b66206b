#include "testsupport/TestTagValidator.h"

namespace ferrow::testsupport {

TestTagValidator::TestTagValidator(std::int32_t tagCount) : used_(static_cast<std::size_t>(tagCount), 1) {}

void TestTagValidator::setUsed(std::int32_t index, bool used) {
    used_.at(static_cast<std::size_t>(index)) = used ? 1 : 0;
}

int TestTagValidator::accessType(const util::ByteArray& tagBytes) { return classify ? classify(tagBytes) : 2; }

bool TestTagValidator::checkStartWay(const util::ByteArray& tagBytes) { return startWay ? startWay(tagBytes) : true; }

bool TestTagValidator::isLookupIdxUsed(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < used_.size() &&
           (used_[static_cast<std::size_t>(index)] & 1U) != 0;
}

} // namespace ferrow::testsupport
