#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "codec/DataBuffers.h"
#include "codec/MicroCache.h"
#include "jcompat/File.h"
#include "mapaccess/OsmFile.h"
#include "mapaccess/PhysicalFile.h"

namespace ferrow::mapaccess::test {

// Opens the segment files of a directory on demand and decodes the tiles at
// grid positions, the way the node cache does, for tests of the reader.
class SegmentFiles {
public:
    SegmentFiles(std::string directory, std::int32_t lookupVersion)
        : directory_(std::move(directory)), lookupVersion_(lookupVersion) {}

    // The one-degree square holding the position (no data when no file exists).
    OsmFile& square(std::int32_t ilon, std::int32_t ilat) {
        const std::pair<std::int32_t, std::int32_t> key{ilon / 1000000, ilat / 1000000};
        auto found = squares_.find(key);
        if (found == squares_.end()) {
            const std::string name = PhysicalFile::baseNameFor(ilon, ilat);
            auto file = files_.find(name);
            if (file == files_.end()) {
                const jcompat::File path(directory_ + "/" + name + ".rd5");
                std::unique_ptr<PhysicalFile> opened;
                if (path.exists()) {
                    opened = std::make_unique<PhysicalFile>(path, buffers, lookupVersion_, 0);
                }
                file = files_.emplace(name, std::move(opened)).first;
            }
            found = squares_.emplace(key, std::make_unique<OsmFile>(file->second.get(), key.first, key.second, buffers))
                        .first;
        }
        return *found->second;
    }

    // Decodes the tile at the position: woven into nodesMap when given.
    std::shared_ptr<codec::MicroCache> tileAt(std::int32_t ilon, std::int32_t ilat,
                                              expressions::TagValueValidator* validator, OsmNodesMap* nodesMap) {
        OsmFile& file = square(ilon, ilat);
        const std::int32_t cell = file.cellSize();
        return file.createMicroCache(ilon / cell, ilat / cell, buffers, validator, nullptr, true, nodesMap);
    }

    codec::DataBuffers buffers;

private:
    std::string directory_;
    std::int32_t lookupVersion_;
    std::map<std::string, std::unique_ptr<PhysicalFile>> files_;
    std::map<std::pair<std::int32_t, std::int32_t>, std::unique_ptr<OsmFile>> squares_;
};

} // namespace ferrow::mapaccess::test
