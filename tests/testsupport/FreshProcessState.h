#pragma once

#include <cstddef>

#include "util/ProcessState.h"
#include "util/RetainedMemory.h"

namespace ferrow::testsupport {

// For as long as it lives, a test has what the process keeps between requests
// as a fresh process has it (no decoded tiles, spare chunks or parsed
// profiles; the default bound) and may change the bound. At its end all that
// is let go of again and the bound is as it was before.
class FreshProcessState {
public:
    FreshProcessState() : bound_(util::RetainedMemory::instance().bound()) { util::ProcessState::resetToFresh(); }
    ~FreshProcessState() {
        util::ProcessState::resetToFresh();
        util::RetainedMemory::instance().setBound(bound_);
    }
    FreshProcessState(const FreshProcessState&) = delete;
    FreshProcessState& operator=(const FreshProcessState&) = delete;

private:
    std::size_t bound_;
};

} // namespace ferrow::testsupport
