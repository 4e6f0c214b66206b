#pragma once

#include <cstdint>
#include <vector>

namespace ferrow::codec {

// A fixed number of int lists in one growable int array, used to collect the
// reverse links of a tile while it is decoded. Each element takes two ints:
// the list's previous head, then the value; a head of 0 is an empty list.
class LinkedListContainer {
public:
    // Works in data (grown as needed) with one head per list in heads; both are
    // borrowed so that their storage is reused from tile to tile.
    LinkedListContainer(std::int32_t listCount, std::vector<std::int32_t>& data, std::vector<std::int32_t>& heads);

    void addDataElement(std::int32_t list, std::int32_t value);

    // Starts iterating a list, newest value first; returns its length.
    std::int32_t initList(std::int32_t list);

    // The next value of the list being iterated; IllegalArgumentException
    // "no more element!" past its last one.
    std::int32_t getDataElement();

private:
    std::vector<std::int32_t>* data_;
    std::vector<std::int32_t>* heads_;
    std::int32_t size_ = 0;
    std::int32_t cursor_ = 0;
};

} // namespace ferrow::codec
