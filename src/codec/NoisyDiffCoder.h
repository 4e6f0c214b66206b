#pragma once

#include <cstdint>

#include "codec/StatCoderContext.h"

namespace ferrow::codec {

// One stream of noisy differences of a tile, with the raw width read once
// from the tile header (checked when a difference is read).
class NoisyDiffCoder {
public:
    explicit NoisyDiffCoder(StatCoderContext& coder) : coder_(&coder), noisyBits_(coder.decodeVarBits()) {}

    std::int32_t decodeNext() { return coder_->decodeNoisyDiff(noisyBits_); }

    std::int32_t NOISY_BITS() const noexcept { return noisyBits_; }

private:
    StatCoderContext* coder_;
    std::int32_t noisyBits_;
};

} // namespace ferrow::codec
