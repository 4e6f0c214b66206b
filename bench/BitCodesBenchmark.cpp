// Decoding cost of the bit codes and byte numbers that tiles are made of.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "util/BitCoderContext.h"
#include "util/ByteDataReader.h"
#include "util/ByteDataWriter.h"

namespace {

using ferrow::util::BitCoderContext;
using ferrow::util::Byte;
using ferrow::util::ByteDataReader;
using ferrow::util::ByteDataWriter;

constexpr int kValues = 100000;

// kValues items written by writeOne(writer, random), at most 8 bytes each.
template <typename Writer, typename WriteOne>
std::vector<Byte> stream(WriteOne writeOne) {
    std::mt19937 random(1);
    std::vector<Byte> buffer(kValues * 8 + 8);
    Writer writer = [&] {
        if constexpr (std::is_same_v<Writer, BitCoderContext>) {
            return BitCoderContext::writer(buffer);
        } else {
            return ByteDataWriter(buffer);
        }
    }();
    for (int i = 0; i < kValues; ++i) {
        writeOne(writer, random);
    }
    if constexpr (std::is_same_v<Writer, BitCoderContext>) {
        buffer.resize(static_cast<std::size_t>(writer.flushAndGetLength()));
    } else {
        buffer.resize(static_cast<std::size_t>(writer.getPosition()));
    }
    return buffer;
}

// Times reading all kValues items of the stream with readOne(reader).
template <typename Reader, typename ReadOne>
void readAll(benchmark::State& state, const std::vector<Byte>& bytes, ReadOne readOne) {
    for (auto _ : state) {
        Reader reader(bytes);
        std::int64_t sum = 0;
        for (int i = 0; i < kValues; ++i) {
            sum += readOne(reader);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

// Var-bits values shaped like tile contents: mostly small, now and then large.
const std::vector<Byte>& tileLikeVarBits() {
    static const std::vector<Byte> bytes = stream<BitCoderContext>([](BitCoderContext& w, std::mt19937& random) {
        const int bits = std::min(std::geometric_distribution<int>(0.25)(random), 30);
        w.encodeVarBits(static_cast<std::int32_t>(random() & ((1U << bits) - 1U)));
    });
    return bytes;
}

void BM_DecodeVarBits(benchmark::State& state) {
    readAll<BitCoderContext>(state, tileLikeVarBits(), [](BitCoderContext& r) { return r.decodeVarBits(); });
}
BENCHMARK(BM_DecodeVarBits);

// The bit-by-bit decoder on the same stream, for comparison with the tables.
void BM_DecodeVarBitsBitByBit(benchmark::State& state) {
    readAll<BitCoderContext>(state, tileLikeVarBits(), [](BitCoderContext& r) { return r.decodeVarBits2(); });
}
BENCHMARK(BM_DecodeVarBitsBitByBit);

// Noisy-number shape: fixed low bits after a refill, then a var-bits high part.
void BM_DecodeFixedPlusVarBits(benchmark::State& state) {
    const std::vector<Byte> bytes = stream<BitCoderContext>([](BitCoderContext& w, std::mt19937& random) {
        w.encodeBounded(1023, static_cast<std::int32_t>(random() & 1023U));
        w.encodeVarBits(static_cast<std::int32_t>(random() % 5));
    });
    readAll<BitCoderContext>(state, bytes, [](BitCoderContext& r) {
        r.fillBuffer();
        const std::int32_t low = r.decodeFixedBits(10);
        return low | (r.decodeVarBits() << 10);
    });
}
BENCHMARK(BM_DecodeFixedPlusVarBits);

void BM_DecodeBounded(benchmark::State& state) {
    const std::vector<Byte> bytes = stream<BitCoderContext>([](BitCoderContext& w, std::mt19937& random) {
        w.encodeBounded(1000, static_cast<std::int32_t>(random() % 1001));
    });
    readAll<BitCoderContext>(state, bytes, [](BitCoderContext& r) { return r.decodeBounded(1000); });
}
BENCHMARK(BM_DecodeBounded);

// Node-record shape: signed variable-length byte numbers.
void BM_ReadSignedVarLength(benchmark::State& state) {
    const std::vector<Byte> bytes = stream<ByteDataWriter>([](ByteDataWriter& w, std::mt19937& random) {
        w.writeSignedVarLength(static_cast<std::int32_t>(random() % 20001) - 10000);
    });
    readAll<ByteDataReader>(state, bytes, [](ByteDataReader& r) { return r.readSignedVarLength(); });
}
BENCHMARK(BM_ReadSignedVarLength);

} // namespace
