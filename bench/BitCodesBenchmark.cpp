// Decoding cost of the bit codes that tile bodies are made of.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "util/BitCoderContext.h"
#include "util/ByteDataReader.h"
#include "util/ByteDataWriter.h"

namespace {

using ferrow::util::BitCoderContext;
using ferrow::util::Byte;

constexpr int kValues = 100000;

// Var-bits values shaped like tile contents: mostly small, now and then large.
std::vector<std::int32_t> tileLikeValues() {
    std::mt19937 random(1);
    std::geometric_distribution<int> width(0.25);
    std::vector<std::int32_t> values(kValues);
    for (std::int32_t& value : values) {
        const int bits = std::min(width(random), 30);
        value = static_cast<std::int32_t>(random() & ((1U << bits) - 1U));
    }
    return values;
}

std::vector<Byte> encoded(const std::vector<std::int32_t>& values) {
    std::vector<Byte> buffer(values.size() * 8 + 8);
    BitCoderContext writer = BitCoderContext::writer(buffer);
    for (const std::int32_t value : values) {
        writer.encodeVarBits(value);
    }
    buffer.resize(static_cast<std::size_t>(writer.flushAndGetLength()));
    return buffer;
}

void BM_DecodeVarBits(benchmark::State& state) {
    const std::vector<Byte> bytes = encoded(tileLikeValues());
    for (auto _ : state) {
        BitCoderContext reader(bytes);
        std::int64_t sum = 0;
        for (int i = 0; i < kValues; ++i) {
            sum += reader.decodeVarBits();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeVarBits);

// The bit-by-bit decoder on the same stream, for comparison with the tables.
void BM_DecodeVarBitsBitByBit(benchmark::State& state) {
    const std::vector<Byte> bytes = encoded(tileLikeValues());
    for (auto _ : state) {
        BitCoderContext reader(bytes);
        std::int64_t sum = 0;
        for (int i = 0; i < kValues; ++i) {
            sum += reader.decodeVarBits2();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_DecodeVarBitsBitByBit);

// Noisy-number shape: fixed low bits after a refill, then a var-bits high part.
void BM_DecodeFixedPlusVarBits(benchmark::State& state) {
    std::mt19937 random(2);
    std::vector<Byte> buffer(kValues * 8 + 8);
    BitCoderContext writer = BitCoderContext::writer(buffer);
    for (int i = 0; i < kValues; ++i) {
        writer.encodeBounded(1023, static_cast<std::int32_t>(random() & 1023U));
        writer.encodeVarBits(static_cast<std::int32_t>(random() % 5));
    }
    buffer.resize(static_cast<std::size_t>(writer.flushAndGetLength()));
    for (auto _ : state) {
        BitCoderContext reader(buffer);
        std::int64_t sum = 0;
        for (int i = 0; i < kValues; ++i) {
            reader.fillBuffer();
            const std::int32_t low = reader.decodeFixedBits(10);
            sum += low | (reader.decodeVarBits() << 10);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_DecodeFixedPlusVarBits);

void BM_DecodeBounded(benchmark::State& state) {
    std::mt19937 random(3);
    std::vector<Byte> buffer(kValues * 4 + 8);
    BitCoderContext writer = BitCoderContext::writer(buffer);
    for (int i = 0; i < kValues; ++i) {
        writer.encodeBounded(1000, static_cast<std::int32_t>(random() % 1001));
    }
    buffer.resize(static_cast<std::size_t>(writer.flushAndGetLength()));
    for (auto _ : state) {
        BitCoderContext reader(buffer);
        std::int64_t sum = 0;
        for (int i = 0; i < kValues; ++i) {
            sum += reader.decodeBounded(1000);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_DecodeBounded);

// Node-record shape: signed variable-length byte numbers.
void BM_ReadSignedVarLength(benchmark::State& state) {
    std::mt19937 random(4);
    std::vector<Byte> buffer(kValues * 5);
    ferrow::util::ByteDataWriter writer(buffer);
    for (int i = 0; i < kValues; ++i) {
        writer.writeSignedVarLength(static_cast<std::int32_t>(random() % 20001) - 10000);
    }
    buffer.resize(static_cast<std::size_t>(writer.getPosition()));
    for (auto _ : state) {
        ferrow::util::ByteDataReader reader(buffer);
        std::int64_t sum = 0;
        for (int i = 0; i < kValues; ++i) {
            sum += reader.readSignedVarLength();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}
BENCHMARK(BM_ReadSignedVarLength);

} // namespace
