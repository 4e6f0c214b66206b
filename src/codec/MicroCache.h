#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "util/ByteArray.h"
#include "util/ByteDataWriter.h"
#include "util/IByteArrayUnifier.h"

namespace ferrow::codec {

// One decoded tile: the node records of its nodes in one byte array, indexed
// by ascending tile-local node identifiers. A record is taken once
// (getAndClear opens it as the reader window) and compacted away in bulk.
//
// This base class is also the empty tile and the shared placeholder that
// stands in a tile slot once the tile has been woven into the graph.
class MicroCache : public util::ByteDataWriter {
public:
    MicroCache() = default;
    virtual ~MicroCache() = default;
    MicroCache(const MicroCache&) = delete;
    MicroCache& operator=(const MicroCache&) = delete;

    // A new empty tile: no nodes, no bytes, pristine.
    static std::shared_ptr<MicroCache> emptyCache();
    // The empty, non-pristine placeholder shared by every slot of a woven
    // tile; made once and never changed.
    static const std::shared_ptr<MicroCache>& emptyNonPristineCache();

    std::int32_t getSize() const noexcept { return size_; }
    // Bytes held for node records.
    std::int32_t getDataSize() const noexcept { return static_cast<std::int32_t>(records_.size()); }

    // The tile-local identifiers of the nodes still held, ascending.
    std::span<const std::int32_t> nodeIds() const noexcept {
        return std::span<const std::int32_t>(ids_.data(), static_cast<std::size_t>(size_));
    }

    // Opens the record of the node as the reader window and marks it taken;
    // false when the tile does not hold the node or it was taken already.
    bool getAndClear(std::int64_t id64);

    // Compacts away the taken records when more than threshold of them are
    // taken; returns the bytes freed (0 when nothing was done).
    std::int32_t collect(std::int32_t threshold);

    // The unifier's shared array equal to the next length bytes of the window.
    util::ByteArray readUnified(std::int32_t length, util::IByteArrayUnifier& unifier);
    // A new array holding the next length bytes of the window, none for 0 bytes;
    // IndexOutOfBoundsException when they reach outside the window.
    util::ByteArray readCopy(std::int64_t length);

    // The node identifier ((ilon << 32) | ilat) of a tile-local identifier, and back.
    virtual std::int64_t expandId(std::int32_t id32) const;
    virtual std::int32_t shrinkId(std::int64_t id64) const;

    // The class name used in messages about tiles of an unexpected kind.
    virtual std::string describe() const { return "MicroCache"; }

    bool isPristine() const noexcept { return pristine_; }

protected:
    // Takes over the assembled arrays of a freshly decoded tile.
    void init(std::vector<util::Byte> data, std::vector<std::int32_t> ids, std::vector<std::int32_t> recordEnds);

    // Marks a taken record in its end offset.
    static constexpr std::uint32_t TAKEN = 0x80000000U;

    std::vector<util::Byte> records_;
    std::vector<std::int32_t> ids_;
    std::vector<std::int32_t> recordEnds_;
    std::int32_t size_ = 0;
    std::int32_t takenCount_ = 0;
    std::int32_t takenBytes_ = 0;
    std::int32_t searchStep_ = 0;
    bool pristine_ = true;

private:
    std::int32_t recordStart(std::int32_t index) const noexcept {
        return index == 0 ? 0 : static_cast<std::int32_t>(static_cast<std::uint32_t>(recordEnds_[index - 1]) & ~TAKEN);
    }
    void setSearchStep() noexcept;
};

} // namespace ferrow::codec
