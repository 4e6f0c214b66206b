#include "util/ByteArray.h"
#include "util/ByteArrayUnifier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "jcompat/Exceptions.h"

namespace ferrow::util {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

using Bytes = std::vector<Byte>;

TEST(ByteArrayTest, AbsentEmptyAndSharedArrays) {
    const ByteArray absent;
    EXPECT_TRUE(absent.isNull());
    EXPECT_EQ(absent.size(), 0);
    EXPECT_TRUE(absent.span().empty());

    const ByteArray empty = ByteArray::copyOf({});
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.empty());
    EXPECT_FALSE(empty.isSameAs(absent));
    EXPECT_FALSE(empty.contentEquals(absent));

    const Bytes source{1, 2, 0xFE};
    ByteArray a = ByteArray::copyOf(source);
    EXPECT_EQ(a.size(), 3);
    EXPECT_EQ(a[2], 0xFE);
    EXPECT_TRUE(a.contentEquals(source));
    {
        const ByteArray shared = a;
        EXPECT_TRUE(shared.isSameAs(a));
        EXPECT_EQ(a.useCount(), 2);
    }
    EXPECT_EQ(a.useCount(), 1);
    const ByteArray copy = ByteArray::copyOf(a);
    EXPECT_FALSE(copy.isSameAs(a));
    EXPECT_TRUE(copy.contentEquals(a));

    ByteArray moved = std::move(a);
    EXPECT_EQ(moved.useCount(), 1);
    EXPECT_EQ(moved.size(), 3);
}

TEST(ByteArrayTest, IndexOutsideTheArrayFails) {
    const ByteArray a = ByteArray::copyOf(Bytes{7, 8});
    EXPECT_THAT([&] { (void)a[2]; },
                ThrowsMessage<jcompat::IndexOutOfBoundsException>(StrEq("Index 2 out of bounds for length 2")));
    EXPECT_THROW((void)a[-1], jcompat::IndexOutOfBoundsException);
    EXPECT_THROW((void)ByteArray()[0], jcompat::IndexOutOfBoundsException);
}

TEST(ByteArrayUnifierTest, EqualSlicesShareOneArrayWhileTheirSlotHoldsIt) {
    ByteArrayUnifier unifier(16384);
    const Bytes tile{9, 1, 2, 3, 9, 1, 2, 3};
    const ByteArray first = unifier.unify(std::span(tile).subspan(1, 3));
    const ByteArray second = unifier.unify(std::span(tile).subspan(5, 3));
    EXPECT_TRUE(first.isSameAs(second));
    EXPECT_TRUE(first.contentEquals(Bytes{1, 2, 3}));

    const ByteArray empty = unifier.unify({});
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.empty());
    EXPECT_TRUE(unifier.unify({}).isSameAs(empty));
}

TEST(ByteArrayUnifierTest, ASlotCollisionGivesAFreshEqualCopy) {
    ByteArrayUnifier unifier(1); // every slice falls into the one slot
    const Bytes a{1, 2};
    const Bytes b{3};
    const ByteArray firstA = unifier.unify(a);
    const ByteArray onlyB = unifier.unify(b);
    const ByteArray secondA = unifier.unify(a);
    EXPECT_FALSE(secondA.isSameAs(firstA));
    EXPECT_TRUE(secondA.contentEquals(firstA));
    EXPECT_TRUE(onlyB.contentEquals(b));
    EXPECT_TRUE(unifier.unify(a).isSameAs(secondA));
    // A slice that is a prefix of the cached array is not equal to it.
    EXPECT_EQ(unifier.unify(std::span(a).first(1)).size(), 1);
}

TEST(ByteArrayUnifierTest, NeedsASlot) { EXPECT_THROW(ByteArrayUnifier(0), jcompat::IllegalArgumentException); }

} // namespace
} // namespace ferrow::util
