#include <gtest/gtest.h>

#include "router/costing/OsmPathElement.h"
#include "util/ObjectPool.h"

namespace ferrow::router {
namespace {

// A chain start <- middle <- end, and a branch from middle: a point goes back
// to the pool with the last reference to it, and takes its origin along when
// that was the origin's last reference.
TEST(PathElementReferences, PointsNothingRefersToGoBackToThePool) {
    util::ObjectPool<OsmPathElement> pool;
    OsmPathElement* start = OsmPathElement::retain(OsmPathElement::create(1, 1, 0, nullptr, pool));
    OsmPathElement* middle = OsmPathElement::retain(OsmPathElement::create(2, 2, 0, start, pool));
    OsmPathElement::letGo(start, pool); // still the middle's origin
    EXPECT_EQ(pool.liveCount(), 2u);
    EXPECT_EQ(start->references, 1);

    OsmPathElement* end = OsmPathElement::retain(OsmPathElement::create(3, 3, 0, middle, pool));
    OsmPathElement* branch = OsmPathElement::retain(OsmPathElement::create(4, 4, 0, middle, pool));
    OsmPathElement::letGo(middle, pool);
    EXPECT_EQ(middle->references, 2);

    OsmPathElement::letGo(end, pool);
    EXPECT_EQ(pool.liveCount(), 3u); // the branch holds middle and start
    OsmPathElement::letGo(branch, pool);
    EXPECT_EQ(pool.liveCount(), 0u);

    // The pool gives the released points out again, renewed.
    OsmPathElement* again = OsmPathElement::create(5, 5, 0, nullptr, pool);
    EXPECT_EQ(again->references, 0);
    EXPECT_EQ(again->origin, nullptr);
    EXPECT_EQ(pool.liveCount(), 1u);
}

} // namespace
} // namespace ferrow::router
