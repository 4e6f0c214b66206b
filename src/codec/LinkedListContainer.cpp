#include "codec/LinkedListContainer.h"

#include "jcompat/Exceptions.h"

namespace ferrow::codec {

LinkedListContainer::LinkedListContainer(std::int32_t listCount, std::vector<std::int32_t>& data,
                                         std::vector<std::int32_t>& heads)
    : data_(&data), heads_(&heads) {
    // Heads left over from an earlier tile would chain into stale elements.
    heads_->assign(static_cast<std::size_t>(listCount > 0 ? listCount : 0), 0);
    if (data_->size() < 2) {
        data_->resize(2);
    }
}

void LinkedListContainer::addDataElement(std::int32_t list, std::int32_t value) {
    std::vector<std::int32_t>& data = *data_;
    if (static_cast<std::size_t>(size_) + 2 > data.size()) {
        data.resize(data.size() * 2);
    }
    std::int32_t& head = heads_->at(static_cast<std::size_t>(list));
    data[static_cast<std::size_t>(size_)] = head;
    data[static_cast<std::size_t>(size_) + 1] = value;
    head = size_ + 1;
    size_ += 2;
}

std::int32_t LinkedListContainer::initList(std::int32_t list) {
    cursor_ = heads_->at(static_cast<std::size_t>(list));
    std::int32_t count = 0;
    for (std::int32_t at = cursor_; at != 0; at = (*data_)[static_cast<std::size_t>(at) - 1]) {
        ++count;
    }
    return count;
}

std::int32_t LinkedListContainer::getDataElement() {
    if (cursor_ == 0) {
        throw jcompat::IllegalArgumentException("no more element!");
    }
    const std::int32_t value = (*data_)[static_cast<std::size_t>(cursor_)];
    cursor_ = (*data_)[static_cast<std::size_t>(cursor_) - 1];
    return value;
}

} // namespace ferrow::codec
