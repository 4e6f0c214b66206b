#pragma once

#include <utility>

namespace ferrow::util {

// Runs a function when the scope ends, on return and on an exception alike:
// state set up for a call is put back on every way out. The function must
// not throw.
//
//     rc.setWaypoint(point, nullptr, true);
//     const auto unset = util::onScopeExit([&rc] { rc.unsetWaypoint(); });
template <typename Function>
class [[nodiscard]] ScopeExit {
public:
    explicit ScopeExit(Function onExit) : onExit_(std::move(onExit)) {}
    ~ScopeExit() { onExit_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Function onExit_;
};

template <typename Function>
[[nodiscard]] ScopeExit<Function> onScopeExit(Function onExit) {
    return ScopeExit<Function>(std::move(onExit));
}

} // namespace ferrow::util
