#pragma once

#include <array>
#include <cstdint>

#include "testsupport/TileContent.h"
#include "util/ByteArray.h"

// Two tile bodies worked out bit by bit on paper from the tile format, not by
// the writer: they pin the exact codes, so that a misreading shared by writer
// and reader shows up. Bits are listed in stream order (packed into bytes
// lowest bit first); var-bits codes are written as their bit strings.
namespace ferrow::testsupport::hand_tiles {

// Tile 15040/11200 at 80 tiles per degree: origin (188000000, 140000000).
inline constexpr std::int32_t LON_IDX = 15040;
inline constexpr std::int32_t LAT_IDX = 11200;
inline constexpr std::int32_t ORIGIN_LON = 188000000;
inline constexpr std::int32_t ORIGIN_LAT = 140000000;

// One node at offsets (1, 2) (tile-local id 9), elevation 0, no tags, no links.
//   way tree: a lone empty leaf                 0 1
//   node tree: a lone empty leaf                0 1
//   five widths, all 0                          1 1 1 1 1
//   node count 1: low 5 bits, high 0            1 0 0 0 0  1
//   id 9 in 30 bits, highest first              0 x 26, 1 0 0 1
//   record size 4: low 10 bits, high 0          0 0 1 0 0 0 0 0 0 0  1
//   node: no features, elevation step 0         1  1
//         (node tags: the lone leaf, no bits); link count 0: 0  1
inline constexpr std::array<util::Byte, 8> TRIVIAL_BODY = {0xFA, 0x43, 0x00, 0x00, 0x00, 0x92, 0x80, 0x0B};

inline TileContent trivialContent() {
    TileContent tile;
    tile.lonIdx = LON_IDX;
    tile.latIdx = LAT_IDX;
    TileContent::Node node;
    node.ilon = ORIGIN_LON + 1;
    node.ilat = ORIGIN_LAT + 2;
    node.elevation = 0;
    tile.nodes.push_back(node);
    return tile;
}

// Way tag set W = (tag 1, value code 0); bytes 010 1 1 -> 0x1A.
// Node tag set N = (tag 2, value code 3); bytes 011 00100 1 -> 0x26 0x01.
inline constexpr std::int32_t EXTERNAL_DLON = 12500;
inline constexpr std::int32_t EXTERNAL_DLAT = -4;

// Node A at offsets (0, 1) (id 2, index 0), elevation 8, no tags: an internal
// link to B with W and one point at (+1, 0) with elevation step -2.
// Node B at offsets (3, 0) (id 5, index 1), elevation 20, tags N: a turn
// restriction (not positive, bicycles excepted) from A to E, and an external
// forward link to E = B + (12500, -4) with W and no points.
//
//   way tree: W is the only set: a leaf          0  010 1 1
//   node tree: branch, leaf "" (code 0),         1  0 1  0 011 00100 1
//              leaf N (code 1)
//   widths: node index steps {1, 0}: 0           1
//           node elevation steps {8, 12}: 5      00101
//           external lon {12500}: 15             000010000
//           external lat {-4}: 3                 00100
//           point elevation steps {-2}: 2        011
//   node count 2                                 01000 1
//   ids {2, 5}: bits 29..3 hold both (27 x
//     bounded(2) = 2), bit 2 splits them (1),
//     then 2 and 5 in two bits each              01 x 27, 1, 10, 01
//   record size 45 (A 12, B 33)                  1011010000 1
//   node A: no features                          1
//     elevation step 8, 5 raw bits of 24, high 0 00011 1
//     node tags "" (code 0)                      0
//     link count 1                               1 1
//     node step +1 (width 0): 1, sign +          010 0
//     (way tags: lone leaf, no bits)
//     one point                                  010
//     dlon 1 around 3/2 = 1 (width 0): 0         1
//     dlat 0 around -1/2 = 0 (width 0): 0        1
//     elevation step -2 (width 2): raw 0, high 0 00 1
//   node B: exceptions feature 2, 10 bits        011 01010 1 1000000000
//     restriction feature 1, 52 bits             010 00101 010
//     not positive                               0
//     from dlon -3: raw 509, high 0              1011111110 1
//     from dlat +1: raw 513, high 0              1000000001 1
//     to dlon 12500: raw 724, high 12, sign +    0010101101 0001101 0
//     to dlat -4: raw 508, high 0                0011111110 1
//     no more features                           1
//     elevation step 12: raw 28, high 0          00111 1
//     node tags N (code 1)                       1
//     link count 1                               1 1
//     external: node step 0                      1
//     forward                                    0
//     dlon 12500 (width 15): raw 28884, high 0   001010110000111 1
//     dlat -4 (width 3): raw 0, high 0           000 1
//     no points                                  1
inline constexpr std::array<util::Byte, 32> LINKED_BODY = {
    0x74, 0x99, 0x4C, 0x21, 0x10, 0x8B, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xEA, 0x6C, 0x61, 0xDC,
    0xA2, 0x69, 0x35, 0x00, 0x51, 0xE9, 0x6F, 0x80, 0xA9, 0xC5, 0xE2, 0x6F, 0xFE, 0x51, 0xC3, 0x63};

inline CodedTagSet wayTagsW() { return CodedTagSet{{{1, 0}}}; }

inline CodedTagSet nodeTagsN() { return CodedTagSet{{{2, 3}}}; }

inline TileContent linkedContent() {
    TileContent tile;
    tile.lonIdx = LON_IDX;
    tile.latIdx = LAT_IDX;
    TileContent::Node a;
    a.ilon = ORIGIN_LON;
    a.ilat = ORIGIN_LAT + 1;
    a.elevation = 8;
    TileContent::Node b;
    b.ilon = ORIGIN_LON + 3;
    b.ilat = ORIGIN_LAT;
    b.elevation = 20;
    b.nodeTags = nodeTagsN();
    TileContent::Link ab;
    ab.target = 1;
    ab.wayTags = wayTagsW();
    ab.points.push_back(TileContent::Point{1, 0, -2});
    a.links.push_back(ab);
    TileContent::Restriction r;
    r.exceptions = 1;
    r.positive = false;
    r.fromLon = a.ilon;
    r.fromLat = a.ilat;
    r.toLon = b.ilon + EXTERNAL_DLON;
    r.toLat = b.ilat + EXTERNAL_DLAT;
    b.restrictions.push_back(r);
    TileContent::Link be;
    be.dlon = EXTERNAL_DLON;
    be.dlat = EXTERNAL_DLAT;
    be.wayTags = wayTagsW();
    b.links.push_back(be);
    tile.nodes.push_back(a);
    tile.nodes.push_back(b);
    return tile;
}

} // namespace ferrow::testsupport::hand_tiles
