#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/LookupTagCoder.h"
#include "testsupport/TestNetwork.h"
#include "testsupport/TileContent.h"
#include "testsupport/TileEncoder.h"
#include "util/ByteArray.h"

namespace ferrow::testsupport {

// How one segment file is written.
struct SegmentFileOptions {
    enum class Trailer {
        None,                 // the file ends with its last sub-square: 80 tiles per degree, no checks
        WithoutElevationType, // 112 bytes
        WithElevationType,    // 113 bytes
    };

    std::int32_t tilesPerDegree = 80; // 80 or 32
    Trailer trailer = Trailer::WithElevationType;
    std::int8_t elevationType = 3;
    // The file's lookup version; the lookup table's when not set.
    std::optional<std::int16_t> lookupVersion;
    std::int64_t creationTime = 0;
    TileEncoder::Footer tileFooter = TileEncoder::Footer::Current;
    // Zero bytes between each tile's body and its footer.
    std::int32_t tilePadding = 0;
    // Nodes may share a position (real files hold such pairs); otherwise two
    // nodes at one position are refused as a mistake of the test.
    bool sharedPositions = false;
};

// Writes a TestNetwork as segment files, exactly as the reader expects them:
// one file per 5 x 5 degree square that holds nodes ("E5_N45.rd5"), the top
// index with the lookup version, a tile index per one-degree square that
// holds nodes (empty squares take no bytes), tiles with checksum footers and
// the chosen trailer. A link between nodes of one tile is written once, at
// its first node; a link that crosses a tile or file edge is written at both
// ends: in full at its first node, as a reverse record at the other.
class SegmentWriter {
public:
    explicit SegmentWriter(const LookupTagCoder& tags = LookupTagCoder::standard());

    // Options for every file without options of its own.
    SegmentWriter& defaults(SegmentFileOptions options);
    // Options for the file with this base name ("E5_N45").
    SegmentWriter& file(const std::string& baseName, SegmentFileOptions options);

    // Writes the files into directory (which must exist); returns their paths.
    std::vector<std::string> write(const TestNetwork& network, const std::string& directory) const;

    // The file contents by base name.
    std::map<std::string, std::vector<util::Byte>> fileContents(const TestNetwork& network) const;

    // The tiles of the network by base name and (lonIdx, latIdx).
    using TileMap = std::map<std::pair<std::int32_t, std::int32_t>, TileContent>;
    std::map<std::string, TileMap> tiles(const TestNetwork& network) const;

    // One file from its tiles (all of one 5 x 5 degree square).
    static std::vector<util::Byte> fileBytes(const TileMap& tiles, const SegmentFileOptions& options,
                                             std::int16_t lookupVersion);

    // "E5_N45" for a grid position.
    static std::string baseNameFor(std::int32_t ilon, std::int32_t ilat);

    const SegmentFileOptions& optionsFor(const std::string& baseName) const;

private:
    const LookupTagCoder* tags_;
    SegmentFileOptions defaults_;
    std::map<std::string, SegmentFileOptions> fileOptions_;
};

} // namespace ferrow::testsupport
