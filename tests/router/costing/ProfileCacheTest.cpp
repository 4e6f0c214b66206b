// The profile cache's reuse rule: same file, same last-modified time, really
// the same overrides, unchanged lookup table, and an entry not in use.
#include "router/costing/ProfileCache.h"

#include <unistd.h>
#include <string>

#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"
#include "router/costing/RoutingContext.h"
#include "testsupport/FreshProcessState.h"
#include "testsupport/ProfileFiles.h"
#include "util/ProcessState.h"

using ferrow::router::ProfileCache;
using ferrow::router::RoutingContext;
using ferrow::router::testing::ProfileDir;
using ferrow::router::testing::profileText;
using ferrow::router::testing::setLastModified;

namespace {

struct Request {
    explicit Request(const std::string& profilePath) { rc.profilePath = profilePath; }
    Request& override(const std::string& name, const std::string& value) {
        if (!rc.keyValues) rc.keyValues.emplace();
        rc.keyValues->put(name, value);
        return *this;
    }
    bool load() { return ProfileCache::parseProfile(rc); }
    void release() { ProfileCache::releaseProfile(rc); }
    RoutingContext rc;
};

class ProfileCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        profile = dir.write("test.vpf", profileText("assign speedup 1\nassign turnInstructionMode 1"));
        setLastModified(profile, 1700000000000);
    }
    // No profile parsed yet; the test's own directory keeps its files apart.
    ferrow::testsupport::FreshProcessState fresh;
    ProfileDir dir;
    std::string profile;
};

} // namespace

TEST_F(ProfileCacheTest, SameProfileIsReusedOnceReleased) {
    Request first(profile);
    EXPECT_FALSE(first.load());
    auto* way = first.rc.expctxWay;
    auto* node = first.rc.expctxNode;
    ASSERT_NE(way, nullptr);
    EXPECT_EQ(first.rc.profileTimestamp, -8372220947419103232); // 1700000000000 << 24, wrapping
    first.release();
    EXPECT_EQ(first.rc.expctxWay, nullptr);
    EXPECT_EQ(first.rc.profile, nullptr);

    Request second(profile);
    second.rc.turnInstructionMode = 2;
    EXPECT_TRUE(second.load());
    EXPECT_EQ(second.rc.expctxWay, way);
    EXPECT_EQ(second.rc.expctxNode, node);
    // The global parameters are read into the new context on a hit too.
    EXPECT_EQ(second.rc.turnInstructionMode, 2);
    EXPECT_EQ(second.rc.waypointCatchingRange, 250.0);
    EXPECT_NE(second.rc.pathModel, nullptr);
    second.release();
}

TEST_F(ProfileCacheTest, KeyFoldsTheOverridesHashes) {
    // hash("a") = 97, hash("1") = 49: (1700000000000 + 146) << 24, wrapping
    Request request(profile);
    request.override("a", "1");
    request.load();
    EXPECT_EQ(request.rc.profileTimestamp, -8372220944969629696);
    request.release();
}

TEST_F(ProfileCacheTest, AnEntryInUseIsNotHandedOut) {
    Request first(profile);
    EXPECT_FALSE(first.load());
    Request second(profile);
    EXPECT_FALSE(second.load());
    EXPECT_NE(second.rc.expctxWay, first.rc.expctxWay);
    // The first request's contexts left the cache: releasing them only detaches.
    first.release();
    Request third(profile);
    EXPECT_FALSE(third.load());
    second.release();
    third.release();
    Request fourth(profile);
    EXPECT_TRUE(fourth.load());
    fourth.release();
}

TEST_F(ProfileCacheTest, DifferentOverridesReparse) {
    Request plain(profile);
    plain.load();
    plain.release();
    Request overridden(profile);
    overridden.override("speedup", "2");
    EXPECT_FALSE(overridden.load());
    EXPECT_EQ(overridden.rc.expctxWay->getVariableValue("speedup", 0), 2.0f);
    overridden.release();
    Request plainAgain(profile);
    EXPECT_FALSE(plainAgain.load()); // the stale entry was replaced
    EXPECT_EQ(plainAgain.rc.expctxWay->getVariableValue("speedup", 0), 1.0f);
    plainAgain.release();
    Request overriddenAgain(profile);
    overriddenAgain.override("speedup", "2");
    EXPECT_FALSE(overriddenAgain.load());
    overriddenAgain.release();
    Request sameAgain(profile);
    sameAgain.override("speedup", "2");
    EXPECT_TRUE(sameAgain.load());
    sameAgain.release();
}

TEST_F(ProfileCacheTest, OverridesWithEqualHashSumsAreNotConfused) {
    // "Aa" and "BB" hash alike, so both requests get the same key; reusing the
    // profile parsed for the other would apply the wrong override.
    Request first(profile);
    first.override("Aa", "5");
    first.load();
    first.release();
    Request second(profile);
    second.override("BB", "5");
    EXPECT_FALSE(second.load());
    EXPECT_EQ(second.rc.profileTimestamp, first.rc.profileTimestamp);
    EXPECT_EQ(second.rc.expctxWay->getVariableValue("BB", 0), 5.0f);
    EXPECT_EQ(second.rc.expctxWay->getVariableValue("Aa", -1), -1.0f);
    second.release();

    // Swapped values give an equal sum as well.
    Request third(profile);
    third.override("speedup", "3").override("x", "4");
    third.load();
    third.release();
    Request fourth(profile);
    fourth.override("speedup", "4").override("x", "3");
    EXPECT_FALSE(fourth.load());
    EXPECT_EQ(fourth.rc.profileTimestamp, third.rc.profileTimestamp);
    EXPECT_EQ(fourth.rc.expctxWay->getVariableValue("speedup", 0), 4.0f);
    fourth.release();
    // The same overrides in another order are the same profile.
    Request fifth(profile);
    fifth.override("x", "3").override("speedup", "4");
    EXPECT_TRUE(fifth.load());
    fifth.release();
}

TEST_F(ProfileCacheTest, TouchedProfileOrLookupTableReparses) {
    Request first(profile);
    first.load();
    first.release();
    setLastModified(profile, 1700000001000);
    Request touched(profile);
    EXPECT_FALSE(touched.load());
    touched.release();
    Request again(profile);
    EXPECT_TRUE(again.load());
    again.release();

    setLastModified(dir.lookups(), 1600000000000);
    Request afterLookups(profile);
    EXPECT_FALSE(afterLookups.load());
    afterLookups.release();
}

TEST_F(ProfileCacheTest, AFreshProcessParsesAgain) {
    Request first(profile);
    EXPECT_FALSE(first.load());
    first.release();
    ferrow::util::ProcessState::resetToFresh();
    Request again(profile);
    EXPECT_FALSE(again.load());
    again.release();
}

TEST_F(ProfileCacheTest, UnusedTagsFlagMarksEveryTagUsed) {
    Request request(dir.write("all.vpf", profileText("assign processUnusedTags 1")));
    request.load();
    const auto* way = request.rc.expctxWay;
    for (int i = 0; i < way->lookupTagCount(); ++i) EXPECT_TRUE(way->isLookupIdxUsed(i)) << way->lookupName(i);
    request.release();
}

TEST_F(ProfileCacheTest, MissingLookupTableIsARuntimeErrorNamingItsCause) {
    ferrow::expressions::testing::TempDir empty;
    const std::string path = empty.write("alone.vpf", profileText(""));
    Request request(path);
    try {
        request.load();
        FAIL();
    } catch (const ferrow::jcompat::RuntimeException& e) {
        EXPECT_STREQ(e.typeName(), "RuntimeException");
        EXPECT_EQ(e.getMessage().rfind("FileNotFoundException: " + empty.path() + "/lookups.dat", 0), 0u)
            << e.getMessage();
    }
    // Profile parse errors pass through unchanged.
    Request missing(dir.path() + "/absent.vpf");
    try {
        missing.load();
        FAIL();
    } catch (const ferrow::jcompat::IllegalArgumentException& e) {
        EXPECT_EQ(e.getMessage(), "profile absent.vpf does not exist");
    }
}

TEST_F(ProfileCacheTest, BareFileNameReadsTheLookupTableOfTheWorkingDirectory) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    Request request("test.vpf");
    EXPECT_FALSE(request.load());
    request.release();
    Request again("test.vpf");
    EXPECT_TRUE(again.load());
    again.release();
    ASSERT_EQ(chdir(previous), 0);
}
