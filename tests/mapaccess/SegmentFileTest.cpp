#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/MicroCache2.h"
#include "jcompat/Exceptions.h"
#include "mapaccess/OsmFile.h"
#include "mapaccess/OsmNodesMap.h"
#include "mapaccess/PhysicalFile.h"
#include "mapaccess/TileIndexCache.h"
#include "testsupport/SegmentWriter.h"
#include "testsupport/TempDirectory.h"
#include "testsupport/TestTagValidator.h"
#include "util/Crc32.h"
#include "util/RetainedMemory.h"

namespace ferrow::mapaccess {
namespace {

using testsupport::SegmentFileOptions;
using testsupport::SegmentWriter;
using testsupport::TestNetwork;
using Bytes = std::vector<util::Byte>;

// A street of three nodes near 8 E, 50 N (file E5_N50, square 8/50) and one
// near 9.5 E, 51.5 N (another square of the same file).
TestNetwork smallNetwork() {
    TestNetwork net;
    const auto a = net.node(8.0001, 50.0001).elevation(100);
    const auto b = net.node(8.0005, 50.0002);
    const auto c = net.node(8.0150, 50.0003); // the next tile east at 80 per degree
    net.way("highway=residential", {a, b, c});
    const auto d = net.node(9.5001, 51.5001);
    const auto e = net.node(9.5002, 51.5001);
    net.way("highway=track", {d, e});
    return net;
}

class SegmentFileTest : public ::testing::Test {
protected:
    std::string writeFile(const Bytes& bytes, const std::string& name = "E5_N50.rd5") {
        const std::string path = directory.file(name);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    Bytes fileBytes(const SegmentFileOptions& options) {
        SegmentWriter writer;
        writer.defaults(options);
        return writer.fileContents(smallNetwork()).at("E5_N50");
    }

    std::string openError(const std::string& path, std::int32_t lookupVersion = 1) {
        try {
            PhysicalFile file(jcompat::File(path), buffers, lookupVersion, 0);
        } catch (const jcompat::IOException& e) {
            return e.what();
        }
        return "";
    }

    std::int64_t subSquareEndOf(const Bytes& bytes, std::int32_t square) {
        std::int64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = (value << 8) | bytes[static_cast<std::size_t>(8 * square + i)];
        }
        return value & 0xFFFFFFFFFFFFLL;
    }

    testsupport::TempDirectory directory;
    codec::DataBuffers buffers;
    testsupport::TestTagValidator validator;
};

TEST_F(SegmentFileTest, FileNames) {
    EXPECT_EQ(PhysicalFile::baseNameFor(187500000, 137000000), "E5_N45");
    EXPECT_EQ(PhysicalFile::baseNameFor(173000000, 58000000), "W10_S35");
    EXPECT_EQ(PhysicalFile::baseNameFor(182000000, 93000000), "E0_N0");
    EXPECT_EQ(PhysicalFile::baseNameFor(179999999, 89999999), "W5_S5");
    EXPECT_EQ(SegmentWriter::baseNameFor(173000000, 58000000), "W10_S35");
    SegmentWriter writer;
    const auto contents = writer.fileContents(smallNetwork());
    ASSERT_EQ(contents.size(), 1U);
    EXPECT_EQ(contents.begin()->first, "E5_N50");
}

TEST_F(SegmentFileTest, LayoutOfAFileWithTrailer) {
    SegmentFileOptions options;
    options.creationTime = 0x0102030405060708;
    options.elevationType = 1;
    const Bytes bytes = fileBytes(options);
    // Squares 8/50 (index 15) and 9/51 (index 21) hold data; the others are empty.
    EXPECT_EQ(bytes[0] << 8 | bytes[1], 1) << "lookup version in the high bits of entry 0";
    EXPECT_EQ(subSquareEndOf(bytes, 0), 200);
    EXPECT_EQ(subSquareEndOf(bytes, 14), 200);
    EXPECT_GT(subSquareEndOf(bytes, 15), 200 + 4 * 6400);
    EXPECT_EQ(subSquareEndOf(bytes, 16), subSquareEndOf(bytes, 15));
    const std::int64_t end = subSquareEndOf(bytes, 24);
    ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), end + 113);

    const std::string path = writeFile(bytes);
    PhysicalFile file(jcompat::File(path), buffers, 1, 0);
    EXPECT_EQ(file.fileName(), "E5_N50.rd5");
    EXPECT_EQ(file.tilesPerDegree(), 80);
    EXPECT_EQ(file.elevationType(), 1);
    EXPECT_EQ(file.creationTime(), 0x0102030405060708);
    EXPECT_EQ(file.subSquareStart(15), 200);
    EXPECT_TRUE(file.subIndexCheck(15).has_value());

    OsmFile empty(&file, 185, 140, buffers);
    EXPECT_FALSE(empty.hasData());
    EXPECT_EQ(empty.createMicroCache(185 * 80, 140 * 80, buffers, &validator, nullptr, true, nullptr)->getSize(), 0);

    OsmFile square(&file, 188, 140, buffers);
    ASSERT_TRUE(square.hasData());
    EXPECT_EQ(square.cellSize(), 12500);
    EXPECT_EQ(square.elevationType(), 1);
    const auto emptyTile =
        square.createMicroCache(188 * 80 + 40, 140 * 80 + 40, buffers, &validator, nullptr, true, nullptr);
    EXPECT_EQ(emptyTile->getSize(), 0);
    EXPECT_TRUE(emptyTile->isPristine());
    const auto tile =
        square.createMicroCache(188000100 / 12500, 140000100 / 12500, buffers, &validator, nullptr, true, nullptr);
    EXPECT_EQ(tile->getSize(), 2) << "a and b; c lies in the next tile";
    EXPECT_EQ(tile->describe(), "MicroCache2");

    OsmNodesMap map;
    const auto woven =
        square.createMicroCache(188000100 / 12500, 140000100 / 12500, buffers, &validator, nullptr, true, &map);
    EXPECT_EQ(woven, codec::MicroCache::emptyNonPristineCache());
    EXPECT_NE(map.get(188015000, 140000300), nullptr) << "the hollow node of the link into the next tile";
}

TEST_F(SegmentFileTest, ShortTrailerKeepsElevationType3) {
    SegmentFileOptions options;
    options.trailer = SegmentFileOptions::Trailer::WithoutElevationType;
    const Bytes bytes = fileBytes(options);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), subSquareEndOf(bytes, 24) + 112);
    PhysicalFile file(jcompat::File(writeFile(bytes)), buffers, 1, 0);
    EXPECT_EQ(file.elevationType(), 3);
    EXPECT_EQ(file.tilesPerDegree(), 80);
}

TEST_F(SegmentFileTest, NoTrailerMeans80TilesAndNoChecks) {
    SegmentFileOptions options;
    options.trailer = SegmentFileOptions::Trailer::None;
    Bytes bytes = fileBytes(options);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), subSquareEndOf(bytes, 24));
    bytes[200 + 4 * 6400 - 1] ^= 0x01; // the sub-index is not checked: the last tile's end moves by one
    PhysicalFile file(jcompat::File(writeFile(bytes)), buffers, 1, 0);
    EXPECT_EQ(file.tilesPerDegree(), 80);
    EXPECT_EQ(file.elevationType(), 3);
    EXPECT_FALSE(file.subIndexCheck(15).has_value());
    EXPECT_NO_THROW(OsmFile(&file, 188, 140, buffers));
}

TEST_F(SegmentFileTest, ThirtyTwoTilesPerDegree) {
    SegmentFileOptions options;
    options.tilesPerDegree = 32;
    const Bytes bytes = fileBytes(options);
    const std::int64_t end = subSquareEndOf(bytes, 24);
    const std::int32_t crc = util::Crc32::crc(std::span<const util::Byte>(bytes).first(200));
    const std::int32_t check = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(bytes[end + 8]) << 24 | static_cast<std::uint32_t>(bytes[end + 9]) << 16 |
        static_cast<std::uint32_t>(bytes[end + 10]) << 8 | bytes[end + 11]);
    EXPECT_EQ(check, crc ^ 2);
    PhysicalFile file(jcompat::File(writeFile(bytes)), buffers, 1, 0);
    EXPECT_EQ(file.tilesPerDegree(), 32);
    OsmFile square(&file, 188, 140, buffers);
    EXPECT_EQ(square.cellSize(), 31250);
    const auto tile =
        square.createMicroCache(188000100 / 31250, 140000100 / 31250, buffers, &validator, nullptr, true, nullptr);
    EXPECT_EQ(tile->getSize(), 3) << "a, b and c share one larger tile";
}

TEST_F(SegmentFileTest, VersionMismatch) {
    SegmentFileOptions options;
    options.lookupVersion = 7;
    const std::string path = writeFile(fileBytes(options));
    EXPECT_EQ(openError(path, 1), "lookup version mismatch (old rd5?) lookups.dat=1 E5_N50.rd5=7");
    EXPECT_EQ(openError(path, -1), "") << "-1 accepts any version";
    options.lookupVersion = -3;
    EXPECT_EQ(openError(writeFile(fileBytes(options)), 1),
              "lookup version mismatch (old rd5?) lookups.dat=1 E5_N50.rd5=-3");
}

TEST_F(SegmentFileTest, TopIndexChecksumError) {
    Bytes bytes = fileBytes(SegmentFileOptions{});
    bytes[subSquareEndOf(bytes, 24) + 11] ^= 0x04;
    EXPECT_EQ(openError(writeFile(bytes)), "top index checksum error");
}

TEST_F(SegmentFileTest, SubIndexChecksumError) {
    Bytes bytes = fileBytes(SegmentFileOptions{});
    bytes[200 + 7] ^= 0x01; // inside the tile index of square 15
    const std::string path = writeFile(bytes);
    PhysicalFile file(jcompat::File(path), buffers, 1, 0);
    try {
        OsmFile square(&file, 188, 140, buffers);
        FAIL();
    } catch (const jcompat::IOException& e) {
        EXPECT_STREQ(e.what(), "sub index checksum error");
    }
    EXPECT_NO_THROW(OsmFile(&file, 189, 141, buffers));
}

// Every node cache of a run makes its own sub-squares of the open file: the
// tile index is read and checked once, by the first. A failed check is not
// kept: the next sub-square fails again.
TEST_F(SegmentFileTest, ASubSquaresTileIndexIsReadOncePerOpenFile) {
    const std::string path = writeFile(fileBytes(SegmentFileOptions{}));
    PhysicalFile file(jcompat::File(path), buffers, 1, 0);
    const auto tileOf = [&](OsmFile& square) {
        return square.createMicroCache(188000100 / 12500, 140000100 / 12500, buffers, &validator, nullptr, true,
                                       nullptr);
    };
    OsmFile first(&file, 188, 140, buffers);
    EXPECT_EQ(tileOf(first)->getSize(), 2);
    {
        // The index damaged in place, under the open file.
        std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(200 + 7);
        out.put(static_cast<char>(0x55));
    }
    OsmFile second(&file, 188, 140, buffers);
    EXPECT_EQ(tileOf(second)->getSize(), 2);
    EXPECT_EQ(openError(path).find("checksum"), std::string::npos) << "the top index is whole";
    PhysicalFile reopened(jcompat::File(path), buffers, 1, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(OsmFile(&reopened, 188, 140, buffers), jcompat::IOException) << attempt;
    }
}

TEST_F(SegmentFileTest, ShortTrailer) {
    Bytes bytes = fileBytes(SegmentFileOptions{});
    const std::int64_t end = subSquareEndOf(bytes, 24);
    bytes.resize(static_cast<std::size_t>(end + 50));
    EXPECT_EQ(openError(writeFile(bytes)),
              "file of size " + std::to_string(end + 50) + " too short, should be " + std::to_string(end + 112));
    bytes.resize(static_cast<std::size_t>(end - 10));
    EXPECT_EQ(openError(writeFile(bytes)),
              "file of size " + std::to_string(end - 10) + " too short, should be " + std::to_string(end + 112));
}

TEST_F(SegmentFileTest, FileShorterThanItsIndex) {
    const Bytes bytes(150, 0);
    EXPECT_EQ(openError(writeFile(bytes)), "EOF");
}

TEST_F(SegmentFileTest, OldTileFormatAndChecksumErrors) {
    SegmentFileOptions options;
    options.tileFooter = testsupport::TileEncoder::Footer::Old;
    // A tile that decodes right up to its footer is taken without computing the checksum.
    {
        PhysicalFile file(jcompat::File(writeFile(fileBytes(options))), buffers, 1, 0);
        OsmFile square(&file, 188, 140, buffers);
        EXPECT_EQ(square.createMicroCache(15040, 11200, buffers, &validator, nullptr, true, nullptr)->getSize(), 2);
    }
    options.tilePadding = 3;
    {
        PhysicalFile file(jcompat::File(writeFile(fileBytes(options))), buffers, 1, 0);
        OsmFile square(&file, 188, 140, buffers);
        try {
            square.createMicroCache(15040, 11200, buffers, &validator, nullptr, true, nullptr);
            FAIL();
        } catch (const jcompat::IOException& e) {
            EXPECT_STREQ(e.what(), "old, unsupported data-format");
        }
    }
    options.tileFooter = testsupport::TileEncoder::Footer::Current;
    {
        PhysicalFile file(jcompat::File(writeFile(fileBytes(options))), buffers, 1, 0);
        OsmFile square(&file, 188, 140, buffers);
        EXPECT_EQ(square.createMicroCache(15040, 11200, buffers, &validator, nullptr, true, nullptr)->getSize(), 2)
            << "padding before a good footer is accepted";
    }
    Bytes bytes = fileBytes(options);
    // Break the footer of every tile of square 15 by flipping the last byte of the square.
    bytes[static_cast<std::size_t>(subSquareEndOf(bytes, 15) - 1)] ^= 0x10;
    PhysicalFile file(jcompat::File(writeFile(bytes)), buffers, 1, 0);
    OsmFile square(&file, 188, 140, buffers);
    try {
        square.createMicroCache(15041, 11200, buffers, &validator, nullptr, true, nullptr);
        FAIL();
    } catch (const jcompat::IOException& e) {
        EXPECT_STREQ(e.what(), "checkum error");
    }
}

TEST_F(SegmentFileTest, DamagedIndexesAreRefusedBeforeReading) {
    SegmentFileOptions options;
    options.trailer = SegmentFileOptions::Trailer::None; // no checksums to stop the damage earlier
    const Bytes good = fileBytes(options);

    // A tile that ends before it starts.
    Bytes bytes = good;
    const std::size_t tileEntry = 200; // tile 0 of square 15, the tile of a and b
    bytes[tileEntry] = 0x00;
    bytes[tileEntry + 1] = 0x00;
    bytes[tileEntry + 2] = 0x00;
    bytes[tileEntry + 3] = 0x10;
    {
        PhysicalFile file(jcompat::File(writeFile(bytes)), buffers, 1, 0);
        OsmFile square(&file, 188, 140, buffers);
        EXPECT_THROW(square.createMicroCache(15040, 11200, buffers, &validator, nullptr, true, nullptr),
                     jcompat::IOException);
    }
    // A tile reaching past its sub-square.
    bytes = good;
    bytes[tileEntry] = 0x7F;
    {
        PhysicalFile file(jcompat::File(writeFile(bytes)), buffers, 1, 0);
        OsmFile square(&file, 188, 140, buffers);
        try {
            square.createMicroCache(15040, 11200, buffers, &validator, nullptr, true, nullptr);
            FAIL();
        } catch (const jcompat::IOException& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with("tile index of E5_N50.rd5 out of range: tile 0 from"))
                << e.what();
        }
    }
    // A sub-square whose end lies beyond the file's last one.
    bytes = good;
    bytes[8 * 15 + 2] = 0x7F;
    {
        PhysicalFile file(jcompat::File(writeFile(bytes)), buffers, 1, 0);
        EXPECT_THROW(OsmFile(&file, 188, 140, buffers), jcompat::IOException);
    }
}

TEST_F(SegmentFileTest, MissingFileGivesAnEmptySquare) {
    OsmFile none(nullptr, 188, 140, buffers);
    EXPECT_FALSE(none.hasData());
    EXPECT_EQ(none.fileName(), "");
    EXPECT_EQ(none.elevationType(), 3);
    EXPECT_EQ(none.getDataInputForSubIdx(0, buffers.inputBuffer), 0);
}

TEST_F(SegmentFileTest, ClosedFileCannotBeRead) {
    PhysicalFile file(jcompat::File(writeFile(fileBytes(SegmentFileOptions{}))), buffers, 1, 0);
    OsmFile square(&file, 188, 140, buffers);
    file.close();
    file.close();
    EXPECT_THROW(square.createMicroCache(15040, 11200, buffers, &validator, nullptr, true, nullptr),
                 jcompat::IllegalStateException);
}

TEST_F(SegmentFileTest, TileOutsideTheSquareIsACallerError) {
    PhysicalFile file(jcompat::File(writeFile(fileBytes(SegmentFileOptions{}))), buffers, 1, 0);
    OsmFile square(&file, 188, 140, buffers);
    EXPECT_THROW(square.tileIndex(189 * 80, 140 * 80), jcompat::IllegalArgumentException);
    EXPECT_EQ(square.tileIndex(188 * 80 + 3, 140 * 80 + 2), 3 + 2 * 80);
}

TEST(TileIndexCache, KeepsTheIndexesOfFileVersionsWithinTheBound) {
    const std::size_t oneIndex = [] {
        util::RetainedMemory unbounded;
        TileIndexCache measure(unbounded);
        measure.insert(jcompat::FileVersion{}, 0, std::make_shared<const std::vector<std::int32_t>>(4));
        return measure.byteCount();
    }();
    util::RetainedMemory memory(2 * oneIndex);
    TileIndexCache cache(memory);
    const jcompat::FileVersion version{1, 2, 3000, 4000, 5000};
    const auto ends = std::make_shared<const std::vector<std::int32_t>>(std::vector<std::int32_t>{4, 8, 8, 12});
    cache.insert(version, 7, ends);
    EXPECT_EQ(cache.find(version, 7), ends);
    EXPECT_EQ(cache.find(version, 8), nullptr);
    jcompat::FileVersion written = version;
    written.changedNanos += 1;
    EXPECT_EQ(cache.find(written, 7), nullptr);

    // Square 7 is used again; the third index pushes out square 8.
    cache.insert(version, 8, std::make_shared<const std::vector<std::int32_t>>(4));
    EXPECT_NE(cache.find(version, 7), nullptr);
    cache.insert(version, 9, std::make_shared<const std::vector<std::int32_t>>(4));
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.find(version, 8), nullptr);
    EXPECT_EQ(memory.used(), 2 * oneIndex);
    // One larger than the whole bound is not kept and displaces nothing.
    cache.insert(version, 10, std::make_shared<const std::vector<std::int32_t>>(2 * oneIndex));
    EXPECT_EQ(cache.size(), 2u);
    cache.clear();
    EXPECT_EQ(memory.used(), 0u);
}

} // namespace
} // namespace ferrow::mapaccess
