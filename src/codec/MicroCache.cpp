#include "codec/MicroCache.h"

#include <algorithm>

#include "jcompat/Exceptions.h"
#include "util/Bounds.h"

namespace ferrow::codec {

std::shared_ptr<MicroCache> MicroCache::emptyCache() { return std::make_shared<MicroCache>(); }

const std::shared_ptr<MicroCache>& MicroCache::emptyNonPristineCache() {
    static const std::shared_ptr<MicroCache> placeholder = [] {
        auto cache = std::make_shared<MicroCache>();
        cache->pristine_ = false;
        return cache;
    }();
    return placeholder;
}

void MicroCache::init(std::vector<util::Byte> data, std::vector<std::int32_t> ids,
                      std::vector<std::int32_t> recordEnds) {
    records_ = std::move(data);
    ids_ = std::move(ids);
    recordEnds_ = std::move(recordEnds);
    size_ = static_cast<std::int32_t>(ids_.size());
    takenCount_ = 0;
    takenBytes_ = 0;
    setSearchStep();
    reset(records_, 0);
}

void MicroCache::setSearchStep() noexcept {
    searchStep_ = 0;
    if (size_ > 0) {
        searchStep_ = 1;
        while (searchStep_ <= size_ / 2) {
            searchStep_ *= 2;
        }
    }
}

bool MicroCache::getAndClear(std::int64_t id64) {
    if (size_ == 0) {
        return false;
    }
    const std::int32_t id = shrinkId(id64);
    std::int32_t i = 0;
    for (std::int32_t step = searchStep_; step > 0; step >>= 1) {
        if (i + step < size_ && ids_[static_cast<std::size_t>(i + step)] <= id) {
            i += step;
        }
    }
    const auto end = static_cast<std::uint32_t>(recordEnds_[static_cast<std::size_t>(i)]);
    if (ids_[static_cast<std::size_t>(i)] != id || (end & TAKEN) != 0) {
        return false;
    }
    const std::int32_t start = recordStart(i);
    position_ = start;
    end_ = static_cast<std::int32_t>(end);
    recordEnds_[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(end | TAKEN);
    ++takenCount_;
    takenBytes_ += end_ - start;
    return true;
}

std::int32_t MicroCache::collect(std::int32_t threshold) {
    if (takenCount_ <= threshold) {
        return 0;
    }
    pristine_ = false;
    const std::int32_t freed = takenBytes_;
    const std::int32_t remaining = size_ - takenCount_;
    if (remaining == 0) {
        ids_.clear();
        recordEnds_.clear();
        size_ = 0;
        takenCount_ = 0;
        takenBytes_ = 0;
        setSearchStep();
        return freed;
    }
    std::vector<util::Byte> data(records_.size() - static_cast<std::size_t>(takenBytes_));
    std::vector<std::int32_t> ids;
    std::vector<std::int32_t> ends;
    ids.reserve(static_cast<std::size_t>(remaining));
    ends.reserve(static_cast<std::size_t>(remaining));
    std::int32_t out = 0;
    for (std::int32_t i = 0; i < size_; ++i) {
        const auto end = static_cast<std::uint32_t>(recordEnds_[static_cast<std::size_t>(i)]);
        if ((end & TAKEN) != 0) {
            continue;
        }
        const std::int32_t start = recordStart(i);
        const auto length = static_cast<std::int32_t>(end) - start;
        std::copy_n(records_.begin() + start, length, data.begin() + out);
        out += length;
        ids.push_back(ids_[static_cast<std::size_t>(i)]);
        ends.push_back(out);
    }
    init(std::move(data), std::move(ids), std::move(ends));
    return freed;
}

util::ByteArray MicroCache::readUnified(std::int32_t length, util::IByteArrayUnifier& unifier) {
    util::ByteArray array = unifier.unify(util::checkedSlice(std::span<const util::Byte>(records_), position_, length));
    position_ += length;
    return array;
}

util::ByteArray MicroCache::readCopy(std::int64_t length) {
    if (length < 0 || length > end_ - position_) {
        util::throwIndexOutOfBounds(position_ + length, end_);
    }
    if (length == 0) {
        return util::ByteArray();
    }
    util::ByteArray array = util::ByteArray::copyOf(
        util::checkedSlice(std::span<const util::Byte>(records_), position_, static_cast<std::int32_t>(length)));
    position_ += static_cast<std::int32_t>(length);
    return array;
}

std::int64_t MicroCache::expandId(std::int32_t) const {
    throw jcompat::IllegalArgumentException("expandId for empty cache");
}

std::int32_t MicroCache::shrinkId(std::int64_t) const {
    throw jcompat::IllegalArgumentException("shrinkId for empty cache");
}

} // namespace ferrow::codec
