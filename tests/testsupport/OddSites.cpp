#include "testsupport/OddSites.h"

namespace ferrow::testsupport::oddsites {

void addParallelWays(TestNetwork& network) {
    const NodeRef west = network.node(8.040, 50.010).elevation(180.0);
    const NodeRef east = network.node(8.045, 50.010).elevation(184.0);
    const std::string tertiary = "highway=tertiary surface=asphalt";
    network.way(tertiary, {west, shape(8.041, 50.0097, 181.0), shape(8.044, 50.0097, 183.0), east});
    network.way(tertiary, {west, shape(8.041, 50.0103, 181.0), shape(8.044, 50.0103, 183.0), east});
    // Streets on from both ends.
    network.way("highway=residential", {network.node(8.036, 50.010).elevation(178.0), west});
    network.way("highway=residential", {east, network.node(8.049, 50.010).elevation(186.0)});
}

void addSharedPosition(TestNetwork& network) {
    const NodeRef a = network.node(8.000, SHARED_POSITION_LAT);
    const NodeRef b = network.node(8.010, SHARED_POSITION_LAT);
    const NodeRef endOfWest = network.node(SHARED_POSITION_LON, SHARED_POSITION_LAT);
    const NodeRef startOfEast = network.node(SHARED_POSITION_LON, SHARED_POSITION_LAT);
    const std::string street = "highway=residential surface=asphalt";
    network.way(street, {a, endOfWest});
    network.way(street, {startOfEast, b});
}

TestNetwork build() {
    TestNetwork network;
    addParallelWays(network);
    addSharedPosition(network);
    return network;
}

SegmentWriter writer() {
    SegmentFileOptions options;
    options.sharedPositions = true;
    SegmentWriter segmentWriter;
    segmentWriter.file("E5_N50", options);
    return segmentWriter;
}

} // namespace ferrow::testsupport::oddsites
