#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "testsupport/FreshProcessState.h"
#include "util/ObjectPool.h"
#include "util/ProcessState.h"
#include "util/RetainedMemory.h"

namespace ferrow::util {
namespace {

// Holds a resource, so that a slot that is not made fresh shows.
struct Holder {
    std::shared_ptr<std::string> resource;
    int value = 0;
};

// Pools that end keep their chunks in stores shared by the process.
class ObjectPoolTest : public ::testing::Test {
    testsupport::FreshProcessState fresh_;
};

TEST_F(ObjectPoolTest, EveryObjectGivenOutIsFresh) {
    ObjectPool<Holder, 4> pool;
    Holder* first = pool.create();
    first->resource = std::make_shared<std::string>("kept");
    first->value = 7;
    pool.release(first);
    Holder* again = pool.create();
    EXPECT_EQ(again, first); // recycled
    EXPECT_EQ(again->resource, nullptr);
    EXPECT_EQ(again->value, 0);

    for (int i = 0; i < 9; ++i) pool.create()->value = i + 1;
    EXPECT_EQ(pool.liveCount(), 10u);
    pool.reset();
    EXPECT_EQ(pool.liveCount(), 0u);
    for (int i = 0; i < 10; ++i) {
        const Holder* fresh = pool.create();
        EXPECT_EQ(fresh->value, 0) << i;
        EXPECT_EQ(fresh->resource, nullptr) << i;
    }
}

TEST_F(ObjectPoolTest, ResourcesAreLetGoAtTheSlotsNextUseAtTheLatest) {
    const auto resource = std::make_shared<std::string>("tile");
    ObjectPool<Holder, 4> pool;
    Holder* holder = pool.create();
    holder->resource = resource;
    pool.reset();
    EXPECT_EQ(resource.use_count(), 2);
    pool.create();
    EXPECT_EQ(resource.use_count(), 1);
}

TEST_F(ObjectPoolTest, ALaterPoolTakesTheChunksOfAnEndedOne) {
    struct Tagged {
        int value = 0;
    };
    std::set<const Tagged*> firstObjects;
    {
        ObjectPool<Tagged, 8> pool;
        for (int i = 0; i < 16; ++i) firstObjects.insert(pool.create());
    }
    ObjectPool<Tagged, 8> later;
    int reused = 0;
    for (int i = 0; i < 16; ++i) {
        const Tagged* object = later.create();
        EXPECT_EQ(object->value, 0);
        reused += firstObjects.count(object) != 0 ? 1 : 0;
    }
    EXPECT_EQ(reused, 16);
}

TEST_F(ObjectPoolTest, APoolThatEndsLetsGoOfWhatItsSlotsHeld) {
    const auto resource = std::make_shared<std::string>("message");
    {
        ObjectPool<Holder, 4> pool;
        for (int i = 0; i < 6; ++i) pool.create()->resource = resource;
        pool.reset(); // the slots still hold it until they are used again or the pool ends
        pool.create();
        EXPECT_EQ(resource.use_count(), 6);
    }
    EXPECT_EQ(resource.use_count(), 1);
}

TEST_F(ObjectPoolTest, SpareChunksAreKeptWithinTheRetainedMemoryBound) {
    struct Small {
        int value = 0;
    };
    constexpr std::size_t kChunk = 4 * sizeof(Small);
    RetainedMemory& memory = RetainedMemory::instance();
    ASSERT_EQ(memory.used(), 0u);
    memory.setBound(2 * kChunk);
    std::set<const Small*> firstObjects;
    {
        ObjectPool<Small, 4> pool;
        for (int i = 0; i < 12; ++i) firstObjects.insert(pool.create()); // three chunks
    }
    EXPECT_EQ(memory.used(), 2 * kChunk); // the third chunk was freed
    {
        ObjectPool<Small, 4> later;
        int reused = 0;
        for (int i = 0; i < 8; ++i) reused += firstObjects.count(later.create()) != 0 ? 1 : 0;
        EXPECT_EQ(reused, 8);
        EXPECT_EQ(memory.used(), 0u); // in use by a pool: not counted as kept
    }
    EXPECT_EQ(memory.used(), 2 * kChunk);
    memory.shedChunks();
    EXPECT_EQ(memory.used(), 0u);
}

TEST_F(ObjectPoolTest, AFreshProcessKeepsNothingWithinTheDefaultBound) {
    struct Small {
        int value = 0;
    };
    static int letGoCount = 0;
    static const bool enrolled = [] {
        ProcessState::enrol([] { ++letGoCount; });
        return true;
    }();
    ASSERT_TRUE(enrolled);
    RetainedMemory& memory = RetainedMemory::instance();
    memory.setBound(3 * 4 * sizeof(Small));
    {
        ObjectPool<Small, 4> pool;
        for (int i = 0; i < 8; ++i) pool.create();
    }
    EXPECT_EQ(memory.used(), 2 * 4 * sizeof(Small));
    const int before = letGoCount;
    ProcessState::resetToFresh();
    EXPECT_EQ(memory.used(), 0u);
    EXPECT_EQ(memory.bound(), RetainedMemory::DEFAULT_BOUND);
    EXPECT_EQ(letGoCount, before + 1);
}

TEST(RetainedMemoryTest, KeepsWhatFitsUnderTheBound) {
    RetainedMemory memory(100);
    EXPECT_TRUE(memory.tryKeep(60));
    EXPECT_FALSE(memory.tryKeep(41));
    EXPECT_TRUE(memory.tryKeep(40));
    EXPECT_FALSE(memory.tryKeep(1));
    memory.let(50);
    EXPECT_EQ(memory.used(), 50u);
    EXPECT_FALSE(memory.tryKeep(static_cast<std::size_t>(-1))); // no wrap-around
    memory.setBound(40);
    EXPECT_FALSE(memory.tryKeep(0)); // above a lowered bound nothing more is kept
    memory.let(50);
    EXPECT_TRUE(memory.tryKeep(40));
}

} // namespace
} // namespace ferrow::util
