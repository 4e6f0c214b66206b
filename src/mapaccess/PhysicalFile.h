#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/DataBuffers.h"
#include "jcompat/File.h"
#include "jcompat/RandomAccessFile.h"

namespace ferrow::mapaccess {

// One open segment file: a 5 x 5 degree square of 25 one-degree sub-squares,
// checked for its lookup version and its top-level checksums on opening.
class PhysicalFile {
public:
    static constexpr std::int32_t SUB_SQUARES = 25;
    static constexpr std::int32_t TOP_INDEX_BYTES = 8 * SUB_SQUARES;
    static constexpr std::int32_t SHORT_TRAILER_BYTES = 112;
    static constexpr std::int32_t TRAILER_BYTES = 113;
    static constexpr std::int8_t DEFAULT_ELEVATION_TYPE = 3;

    // Opens and checks the file; every failed check is an IOException with its
    // fixed text. lookupVersion -1 accepts any file version; the minor version
    // is not checked.
    PhysicalFile(const jcompat::File& file, codec::DataBuffers& buffers, std::int32_t lookupVersion,
                 std::int32_t lookupMinorVersion);
    PhysicalFile(const PhysicalFile&) = delete;
    PhysicalFile& operator=(const PhysicalFile&) = delete;

    // The base name ("E5_N45") of the file holding a grid position.
    static std::string baseNameFor(std::int32_t ilon, std::int32_t ilat);

    // Closes the file once; later reads fail.
    void close();

    jcompat::RandomAccessFile& randomAccessFile() noexcept { return *file_; }
    const std::string& fileName() const noexcept { return fileName_; }
    // Where sub-square i ends (its start is where i - 1 ends, 200 for i = 0).
    std::int64_t subSquareEnd(std::int32_t i) const { return subSquareEnds_.at(static_cast<std::size_t>(i)); }
    std::int64_t subSquareStart(std::int32_t i) const { return i == 0 ? TOP_INDEX_BYTES : subSquareEnd(i - 1); }
    // The checksum of sub-square i's tile index; none for a file without trailer.
    std::optional<std::int32_t> subIndexCheck(std::int32_t i) const;
    std::int64_t creationTime() const noexcept { return creationTime_; }
    // The file's version when it was opened, if it had settled by then:
    // while the file keeps it, its bytes are those read under it before.
    const std::optional<jcompat::FileVersion>& settledVersion() const noexcept { return settledVersion_; }
    std::int32_t tilesPerDegree() const noexcept { return tilesPerDegree_; }
    std::int8_t elevationType() const noexcept { return elevationType_; }

    // The tile ends of sub-square i (tileCount of them), read and checked
    // against its checksum on first use and kept for the file's life: every
    // node cache of a run asks for them again. Those of a settled file are
    // kept for the process (TileIndexCache). The sub-square's bounds must
    // have been checked. IOException "sub index checksum error".
    const std::vector<std::int32_t>& tileIndex(std::int32_t i, std::int32_t tileCount, codec::DataBuffers& buffers);

private:
    std::unique_ptr<jcompat::RandomAccessFile> file_;
    std::string fileName_;
    std::array<std::int64_t, SUB_SQUARES> subSquareEnds_{};
    std::optional<std::array<std::int32_t, SUB_SQUARES>> subIndexChecks_;
    std::array<std::shared_ptr<const std::vector<std::int32_t>>, SUB_SQUARES> tileIndexes_;
    std::int64_t creationTime_ = 0;
    std::optional<jcompat::FileVersion> settledVersion_;
    std::int32_t tilesPerDegree_ = 80;
    std::int8_t elevationType_ = DEFAULT_ELEVATION_TYPE;
};

} // namespace ferrow::mapaccess
