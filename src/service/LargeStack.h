#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

namespace ferrow::service {

// The stack of a request's worker thread: deep recursion in profile parsing
// and the search must not overflow.
inline constexpr std::size_t kWorkerStackSize = 268435456;

// Runs `block` on a new thread with a kWorkerStackSize stack named "ostrand"
// and joins it. A failure escaping `block` is raised again on the calling
// thread; a failure to start the thread raises std::system_error.
void runOnLargeStack(const std::function<void()>& block);

template <typename Block>
auto onLargeStack(Block&& block) {
    std::optional<decltype(block())> result;
    runOnLargeStack([&] { result.emplace(block()); });
    return std::move(*result);
}

} // namespace ferrow::service
