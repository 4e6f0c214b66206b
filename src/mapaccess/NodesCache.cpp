#include "mapaccess/NodesCache.h"

#include <new>
#include <string_view>

#include "expressions/BExpressionMetaData.h"
#include "expressions/TagValueValidator.h"
#include "jcompat/BufferedReader.h"
#include "jcompat/Exceptions.h"
#include "jcompat/JString.h"

namespace ferrow::mapaccess {

namespace {

constexpr std::int32_t kGridPerDegree = 1000000;
constexpr std::int64_t kWorldLonEnd = 360LL * kGridPerDegree;
constexpr std::int64_t kWorldLatEnd = 180LL * kGridPerDegree;
constexpr std::string_view kSecondaryDirKey = "secondary_segment_dir=";

// Grid positions that a segment file can cover. Everything else (latitude
// +90 itself, or values beyond the grid) has no data: the file rows end at
// the 180th degree.
bool insideWorld(std::int64_t ilon, std::int64_t ilat) noexcept {
    return ilon >= 0 && ilon < kWorldLonEnd && ilat >= 0 && ilat < kWorldLatEnd;
}

} // namespace

NodesCache::NodesCache(const jcompat::File& segmentDir, expressions::TagValueValidator& wayContext,
                       const expressions::BExpressionMetaData& lookupMeta, bool forceSecondary,
                       std::int64_t memoryBudget, NodesCache* previous, bool detailed)
    : segmentDir_(segmentDir),
      nodesMap_(std::make_unique<OsmNodesMap>()),
      wayContext_(&wayContext),
      lookupVersion_(lookupMeta.lookupVersion),
      lookupMinorVersion_(lookupMeta.minorVersion),
      forceSecondary_(forceSecondary),
      detailed_(detailed) {
    nodesMap_->maxMemory = 2 * memoryBudget / 3;
    wayContext.setDecodeForbidden(detailed);

    if (!segmentDir.isDirectory()) {
        throw jcompat::RuntimeException("segment directory " + segmentDir.getPath() + " does not exist");
    }

    if (previous != nullptr) {
        openFiles_ = std::move(previous->openFiles_);
        previous->openFiles_.clear();
        dataBuffers_ = std::move(previous->dataBuffers_);
        secondarySegmentDir_ = previous->secondarySegmentDir_;
        if (previous->detailed_ == detailed) {
            for (std::size_t row = 0; row < fileRows_.size(); ++row) {
                fileRows_[row] = std::move(previous->fileRows_[row]);
                previous->fileRows_[row].clear();
            }
            // Woven tiles live in the previous cache's node map: weave them anew.
            clean(false);
        }
    } else {
        secondarySegmentDir_ = readSecondarySegmentDir(segmentDir);
    }
    if (dataBuffers_ == nullptr) {
        dataBuffers_ = std::make_unique<codec::DataBuffers>(READ_BUFFER_SIZE);
    }
}

std::optional<jcompat::File> NodesCache::readSecondarySegmentDir(const jcompat::File& segmentDir) {
    const jcompat::File configFile(&segmentDir, "storageconfig.txt");
    try {
        jcompat::BufferedReader reader{jcompat::FileReader(configFile)};
        std::optional<jcompat::File> secondary;
        while (const std::optional<std::string> rawLine = reader.readLine()) {
            const std::string line = jcompat::JString::trim(*rawLine);
            if (line.starts_with("#")) {
                continue;
            }
            if (line.starts_with(kSecondaryDirKey)) {
                const std::string value =
                    jcompat::JString::trim(std::string_view(line).substr(kSecondaryDirKey.size()));
                jcompat::File dir = value.starts_with("/") ? jcompat::File(value) : jcompat::File(&segmentDir, value);
                if (dir.exists()) {
                    secondary = std::move(dir);
                }
                break;
            }
        }
        reader.close();
        return secondary;
    } catch (const jcompat::Throwable&) {
        // A missing or unreadable configuration names no secondary directory.
        return std::nullopt;
    }
}

codec::MicroCache* NodesCache::getSegmentFor(std::int32_t ilon, std::int32_t ilat) {
    try {
        return loadSegmentFor(ilon, ilat);
    } catch (const jcompat::IOException& e) {
        if (e.hasMessage()) {
            throw jcompat::RuntimeException(e.getMessage());
        }
        throw jcompat::RuntimeException();
    } catch (const jcompat::RuntimeException&) {
        throw;
    } catch (const jcompat::Throwable& e) {
        throw jcompat::RuntimeException("error reading datafile " + currentFileName_ + ": " + e.toString());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw jcompat::RuntimeException("error reading datafile " + currentFileName_ + ": " + e.what());
    }
}

codec::MicroCache* NodesCache::loadSegmentFor(std::int32_t ilon, std::int32_t ilat) {
    if (!insideWorld(ilon, ilat)) {
        currentFileName_ = PhysicalFile::baseNameFor(ilon, ilat) + ".rd5";
        noteFirstFile(true);
        return nullptr;
    }
    const std::int32_t lonDegree = ilon / kGridPerDegree;
    const std::int32_t latDegree = ilat / kGridPerDegree;
    OsmFile* osmFile = fileFor(ilon, ilat, lonDegree, latDegree);
    currentFileName_ = osmFile->fileName();
    if (!osmFile->hasData()) {
        return nullptr;
    }
    const std::int32_t lonIdx = ilon / osmFile->cellSize();
    const std::int32_t latIdx = ilat / osmFile->cellSize();
    std::shared_ptr<codec::MicroCache>& slot =
        osmFile->microCaches()[static_cast<std::size_t>(osmFile->tileIndex(lonIdx, latIdx))];
    if (slot == nullptr) {
        slot = osmFile->createMicroCache(lonIdx, latIdx, *dataBuffers_, wayContext_, waypointMatcher_.get(), true,
                                         directWeaving_ ? nodesMap_.get() : nullptr);
    }
    return slot.get();
}

OsmFile* NodesCache::fileFor(std::int32_t ilon, std::int32_t ilat, std::int32_t lonDegree, std::int32_t latDegree) {
    std::vector<std::unique_ptr<OsmFile>>& row = fileRows_[static_cast<std::size_t>(latDegree)];
    for (const std::unique_ptr<OsmFile>& osmFile : row) {
        if (osmFile->lonDegree() == lonDegree) {
            return osmFile.get();
        }
    }

    const std::string baseName = PhysicalFile::baseNameFor(ilon, ilat);
    currentFileName_ = baseName + ".rd5";
    auto known = openFiles_.find(baseName);
    if (known == openFiles_.end()) {
        // A missing file is recorded too, so that it is looked for only once.
        known = openFiles_.emplace(baseName, openSegmentFile(currentFileName_)).first;
    }
    auto osmFile = std::make_unique<OsmFile>(known->second.get(), lonDegree, latDegree, *dataBuffers_);
    noteFirstFile(osmFile->fileName().empty());
    row.push_back(std::move(osmFile));
    return row.back().get();
}

std::unique_ptr<PhysicalFile> NodesCache::openSegmentFile(const std::string& fileName) {
    std::optional<jcompat::File> found;
    if (!forceSecondary_) {
        jcompat::File primary(&segmentDir_, fileName);
        if (primary.exists()) {
            found = std::move(primary);
        }
    }
    if (!found) {
        // Without a secondary directory, the bare name in the working directory.
        jcompat::File fallback =
            secondarySegmentDir_ ? jcompat::File(&*secondarySegmentDir_, fileName) : jcompat::File(fileName);
        if (fallback.exists()) {
            found = std::move(fallback);
        }
    }
    if (!found) {
        return nullptr;
    }
    currentFileName_ = found->getName();
    return std::make_unique<PhysicalFile>(*found, *dataBuffers_, lookupVersion_, lookupMinorVersion_);
}

void NodesCache::noteFirstFile(bool missing) {
    if (loadingOwnSquare_ && !firstFileName_) {
        firstFileName_ = currentFileName_;
        firstFileMissing_ = missing;
    }
}

bool NodesCache::loadHollowNode(OsmNode* node) {
    if (getSegmentFor(node->ilon, node->ilat) == nullptr) {
        return false;
    }
    // Weaving the tile completed the node in place when the tile holds it.
    return !node->isHollow();
}

void NodesCache::expandHollowLinkTargets(OsmNode* node) {
    for (OsmLink* link = node->firstLink; link != nullptr; link = link->getNext(node)) {
        obtainNonHollowNode(link->getTarget(node));
    }
}

OsmNode* NodesCache::getGraphNode(const OsmPos& position) {
    if (OsmNode* existing = nodesMap_->get(position.getILon(), position.getILat())) {
        return existing;
    }
    OsmNode* node = nodesMap_->createNode(position.getILon(), position.getILat());
    node->setHollow();
    nodesMap_->put(node);
    return node;
}

bool NodesCache::matchWaypointsToNodes(std::vector<MatchedWaypoint>& waypoints, double maxDistance,
                                       const OsmNodePairSet* islandPairs) {
    std::vector<MatchedWaypoint*> list;
    list.reserve(waypoints.size());
    for (MatchedWaypoint& mwp : waypoints) {
        list.push_back(&mwp);
    }
    return matchWaypointsToNodes(list, maxDistance, islandPairs);
}

bool NodesCache::matchWaypointsToNodes(const std::vector<std::shared_ptr<MatchedWaypoint>>& waypoints,
                                       double maxDistance, const OsmNodePairSet* islandPairs) {
    std::vector<MatchedWaypoint*> list;
    list.reserve(waypoints.size());
    for (const std::shared_ptr<MatchedWaypoint>& mwp : waypoints) {
        list.push_back(mwp.get());
    }
    return matchWaypointsToNodes(list, maxDistance, islandPairs);
}

bool NodesCache::matchWaypointsToNodes(std::span<MatchedWaypoint* const> waypoints, double maxDistance,
                                       const OsmNodePairSet* islandPairs) {
    waypointMatcher_ = std::make_unique<WaypointMatcherImpl>(waypoints, maxDistance, islandPairs);
    const bool dynamic = maxDistance < 0.0;
    for (MatchedWaypoint* mwp : waypoints) {
        preloadPosition(*mwp->waypoint, 12500, 1, false);
        if (mwp->crossPoint == nullptr || mwp->radius > 250.0) {
            preloadPosition(*mwp->waypoint, 31250, dynamic ? RING_LIMIT : 2, dynamic);
        }
    }
    if (firstFileMissing_) {
        throw jcompat::IllegalArgumentException("datafile " + firstFileName_.value_or("null") + " not found");
    }
    for (std::size_t i = 0; i < waypoints.size(); ++i) {
        MatchedWaypoint& mwp = *waypoints[i];
        if (i > 0 && i == waypoints.size() - 1 && waypoints[i - 1]->kind == 3) {
            // The end of a straight-line leg stays where it was asked for.
            mwp.crossPoint = std::make_shared<OsmNode>(mwp.waypoint->ilon, mwp.waypoint->ilat);
            mwp.kind = 3;
        } else if (mwp.crossPoint == nullptr) {
            return false;
        }
    }
    return true;
}

void NodesCache::preloadPosition(const OsmNode& node, std::int32_t step, std::int32_t levels, bool dynamic) {
    firstFileName_.reset();
    firstFileMissing_ = false;
    loadingOwnSquare_ = true;
    getSegmentFor(node.ilon, node.ilat);
    loadingOwnSquare_ = false;
    if (firstFileMissing_) {
        throw jcompat::IllegalArgumentException("datafile " + firstFileName_.value_or("null") + " not found");
    }
    for (std::int32_t level = 1; level < levels; ++level) {
        for (std::int32_t j = -level; j <= level; ++j) {
            for (std::int32_t i = -level; i <= level; ++i) {
                if (i == 0 && j == 0) {
                    continue;
                }
                // Rings reaching past the poles or the date line load nothing there.
                const std::int64_t ilon = static_cast<std::int64_t>(node.ilon) + static_cast<std::int64_t>(i) * step;
                const std::int64_t ilat = static_cast<std::int64_t>(node.ilat) + static_cast<std::int64_t>(j) * step;
                if (insideWorld(ilon, ilat)) {
                    getSegmentFor(static_cast<std::int32_t>(ilon), static_cast<std::int32_t>(ilat));
                }
            }
        }
        if (dynamic && waypointMatcher_->hasMatch(node.ilon, node.ilat)) {
            break;
        }
    }
}

void NodesCache::clean(bool all) {
    for (std::vector<std::unique_ptr<OsmFile>>& row : fileRows_) {
        for (const std::unique_ptr<OsmFile>& osmFile : row) {
            for (std::shared_ptr<codec::MicroCache>& slot : osmFile->microCaches()) {
                if (slot != nullptr && (all || !slot->isPristine())) {
                    slot.reset();
                }
            }
        }
    }
}

void NodesCache::close() {
    for (auto& [baseName, physicalFile] : openFiles_) {
        if (physicalFile == nullptr) {
            continue;
        }
        try {
            physicalFile->close();
        } catch (...) {
            // Closing is best effort; the run's result does not depend on it.
        }
    }
}

std::span<const std::unique_ptr<OsmFile>> NodesCache::fileRow(std::int32_t latDegree) const {
    if (latDegree < 0 || latDegree >= FILE_ROWS) {
        return {};
    }
    return fileRows_[static_cast<std::size_t>(latDegree)];
}

const OsmFile* NodesCache::fileAt(std::int32_t ilon, std::int32_t ilat) const {
    if (!insideWorld(ilon, ilat)) {
        return nullptr;
    }
    for (const std::unique_ptr<OsmFile>& osmFile : fileRow(ilat / kGridPerDegree)) {
        if (osmFile->lonDegree() == ilon / kGridPerDegree) {
            return osmFile.get();
        }
    }
    return nullptr;
}

std::int32_t NodesCache::loadedTileCount() const {
    std::int32_t count = 0;
    for (const std::vector<std::unique_ptr<OsmFile>>& row : fileRows_) {
        for (const std::unique_ptr<OsmFile>& osmFile : row) {
            for (const std::shared_ptr<codec::MicroCache>& slot : osmFile->microCaches()) {
                count += slot != nullptr ? 1 : 0;
            }
        }
    }
    return count;
}

std::int32_t NodesCache::openFileCount() const {
    std::int32_t count = 0;
    for (const auto& [baseName, physicalFile] : openFiles_) {
        count += physicalFile != nullptr ? 1 : 0;
    }
    return count;
}

} // namespace ferrow::mapaccess
