#pragma once

#include <cstdint>

namespace ferrow::util {

// a when choose holds, else b, without a branch: by masking, since compilers
// turn a plain conditional back into a branch, and where the choice is as
// good as random a mispredicted branch costs more than reading both.
template <typename T>
T* selectPointer(bool choose, T* a, T* b) noexcept {
    const std::uintptr_t mask = std::uintptr_t{0} - static_cast<std::uintptr_t>(choose);
    return reinterpret_cast<T*>((reinterpret_cast<std::uintptr_t>(a) & mask) |
                                (reinterpret_cast<std::uintptr_t>(b) & ~mask));
}

} // namespace ferrow::util
