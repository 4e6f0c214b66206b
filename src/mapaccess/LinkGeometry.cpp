#include "mapaccess/LinkGeometry.h"

#include <atomic>

namespace ferrow::mapaccess {

namespace {

// Process-wide: storage given back on one thread may be taken again by
// another, so a memo on any thread must see that it changed.
std::atomic<std::uint64_t> freedStorage{0};

} // namespace

std::uint64_t LinkGeometry::storageGeneration() noexcept { return freedStorage.load(); }

void LinkGeometry::noteStorageFreed() noexcept { freedStorage.fetch_add(1); }

} // namespace ferrow::mapaccess
