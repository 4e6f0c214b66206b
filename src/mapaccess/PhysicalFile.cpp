#include "mapaccess/PhysicalFile.h"

#include <memory>
#include <vector>

#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/TileIndexCache.h"
#include "util/ByteDataReader.h"
#include "util/Crc32.h"

namespace ferrow::mapaccess {

namespace {

// The first length bytes of the input buffer, or of own when it is too small.
std::span<util::Byte> readBuffer(codec::DataBuffers& buffers, std::vector<util::Byte>& own, std::int32_t length) {
    if (static_cast<std::size_t>(length) <= buffers.inputBuffer.size()) {
        return std::span<util::Byte>(buffers.inputBuffer).first(static_cast<std::size_t>(length));
    }
    own.resize(static_cast<std::size_t>(length));
    return own;
}

std::string degreesText(std::int32_t degrees, char positive, char negative) {
    return degrees >= 0 ? positive + std::to_string(degrees) : negative + std::to_string(-degrees);
}

} // namespace

std::string PhysicalFile::baseNameFor(std::int32_t ilon, std::int32_t ilat) {
    const std::int32_t lonDegree = ilon / 1000000;
    const std::int32_t latDegree = ilat / 1000000;
    const std::int32_t lon = lonDegree - lonDegree % 5 - 180;
    const std::int32_t lat = latDegree - latDegree % 5 - 90;
    return degreesText(lon, 'E', 'W') + "_" + degreesText(lat, 'N', 'S');
}

PhysicalFile::PhysicalFile(const jcompat::File& file, codec::DataBuffers& buffers, std::int32_t lookupVersion,
                           std::int32_t /*lookupMinorVersion*/)
    : file_(std::make_unique<jcompat::RandomAccessFile>(file)), fileName_(file.getName()) {
    if (const jcompat::FileVersion version = file_->version(); version.settled(jcompat::currentTimeMillis())) {
        settledVersion_ = version;
    }
    std::vector<util::Byte> own;
    std::span<util::Byte> index = readBuffer(buffers, own, TOP_INDEX_BYTES);
    file_->readFully(index);
    const std::int32_t indexCrc = util::Crc32::crc(index);

    util::ByteDataReader reader(index);
    for (std::int32_t i = 0; i < SUB_SQUARES; ++i) {
        const std::int64_t entry = reader.readLong();
        if (i == 0) {
            const auto fileVersion = static_cast<std::int16_t>(entry >> 48);
            if (lookupVersion != -1 && fileVersion != lookupVersion) {
                throw jcompat::IOException(
                    "lookup version mismatch (old rd5?) lookups.dat=" + std::to_string(lookupVersion) + " " +
                    fileName_ + "=" + std::to_string(fileVersion));
            }
        }
        subSquareEnds_[static_cast<std::size_t>(i)] = entry & 0xFFFFFFFFFFFFLL;
    }

    const std::int64_t end = subSquareEnds_[SUB_SQUARES - 1];
    const std::int64_t fileLength = file_->length();
    if (fileLength == end) {
        return;
    }
    const std::int32_t trailerLength = fileLength - end > SHORT_TRAILER_BYTES ? TRAILER_BYTES : SHORT_TRAILER_BYTES;
    if (fileLength < end + trailerLength) {
        throw jcompat::IOException("file of size " + std::to_string(fileLength) + " too short, should be " +
                                   std::to_string(end + trailerLength));
    }
    std::span<util::Byte> trailer = readBuffer(buffers, own, trailerLength);
    file_->seek(end);
    file_->readFully(trailer);
    util::ByteDataReader trailerReader(trailer);
    creationTime_ = trailerReader.readLong();
    const std::int32_t topCheck = trailerReader.readInt();
    if (topCheck == indexCrc) {
        tilesPerDegree_ = 80;
    } else if (topCheck == (indexCrc ^ 2)) {
        tilesPerDegree_ = 32;
    } else {
        throw jcompat::IOException("top index checksum error");
    }
    std::array<std::int32_t, SUB_SQUARES> checks{};
    for (std::int32_t& check : checks) {
        check = trailerReader.readInt();
    }
    subIndexChecks_ = checks;
    if (trailerLength == TRAILER_BYTES) {
        elevationType_ = static_cast<std::int8_t>(trailer[SHORT_TRAILER_BYTES]);
    }
}

std::optional<std::int32_t> PhysicalFile::subIndexCheck(std::int32_t i) const {
    if (!subIndexChecks_) {
        return std::nullopt;
    }
    return subIndexChecks_->at(static_cast<std::size_t>(i));
}

void PhysicalFile::close() { file_->close(); }

const std::vector<std::int32_t>& PhysicalFile::tileIndex(std::int32_t i, std::int32_t tileCount,
                                                         codec::DataBuffers& buffers) {
    std::shared_ptr<const std::vector<std::int32_t>>& tileEnds = tileIndexes_.at(static_cast<std::size_t>(i));
    if (tileEnds != nullptr) return *tileEnds;
    if (settledVersion_) {
        std::shared_ptr<const std::vector<std::int32_t>> kept = TileIndexCache::instance().find(*settledVersion_, i);
        if (kept != nullptr && kept->size() == static_cast<std::size_t>(tileCount)) {
            tileEnds = std::move(kept);
            return *tileEnds;
        }
    }
    const auto indexSize = static_cast<std::size_t>(4) * static_cast<std::size_t>(tileCount);
    std::vector<util::Byte> own;
    std::span<util::Byte> index(buffers.inputBuffer);
    if (index.size() < indexSize) {
        own.resize(indexSize);
        index = own;
    }
    index = index.first(indexSize);
    file_->seek(subSquareStart(i));
    file_->readFully(index);
    const std::optional<std::int32_t> check = subIndexCheck(i);
    if (check && util::Crc32::crc(index) != *check) {
        throw jcompat::IOException("sub index checksum error");
    }
    auto read = std::make_shared<std::vector<std::int32_t>>(static_cast<std::size_t>(tileCount));
    util::ByteDataReader reader(index);
    for (std::int32_t& tileEnd : *read) {
        tileEnd = reader.readInt();
    }
    tileEnds = std::move(read);
    if (settledVersion_) TileIndexCache::instance().insert(*settledVersion_, i, tileEnds);
    return *tileEnds;
}

} // namespace ferrow::mapaccess
