#pragma once

#include <functional>

namespace ferrow::util {

// What the process keeps from one request to the next, only to answer the
// next one faster: decoded tiles and spare pool chunks, both within the
// RetainedMemory bound, and the profile cache with the filtered tag sets of
// its way contexts. No answer may depend on any of it. Each keeper enrols
// here how to let go of what it keeps, so that one call gives the process the
// state of a fresh one (tests start from it and return to it).
class ProcessState {
public:
    // A keeper enrols once, when it is first used.
    static void enrol(std::function<void()> letGo);
    // Every keeper lets go of what it keeps and the bound is
    // RetainedMemory::DEFAULT_BOUND again. Not while a request runs.
    static void resetToFresh();
};

} // namespace ferrow::util
