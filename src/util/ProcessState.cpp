#include "util/ProcessState.h"

#include <mutex>
#include <utility>
#include <vector>

#include "util/RetainedMemory.h"

namespace ferrow::util {

namespace {

struct Keepers {
    std::mutex mutex;
    std::vector<std::function<void()>> letGo;
};

Keepers& keepers() {
    static Keepers all;
    return all;
}

} // namespace

void ProcessState::enrol(std::function<void()> letGo) {
    Keepers& all = keepers();
    const std::lock_guard<std::mutex> lock(all.mutex);
    all.letGo.push_back(std::move(letGo));
}

void ProcessState::resetToFresh() {
    {
        Keepers& all = keepers();
        const std::lock_guard<std::mutex> lock(all.mutex);
        for (const std::function<void()>& letGo : all.letGo) letGo();
    }
    RetainedMemory& memory = RetainedMemory::instance();
    memory.shedChunks();
    memory.setBound(RetainedMemory::DEFAULT_BOUND);
}

} // namespace ferrow::util
