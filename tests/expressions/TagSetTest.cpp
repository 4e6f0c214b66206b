#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "expressions/FilteredTagSetCache.h"
#include "testsupport/ProfileFixture.h"

namespace ferrow::expressions {
namespace {

using testing::bytesOf;
using testing::encodeTags;
using testing::kSmallLookups;
using testing::LoadedProfile;
using testing::ProfileFromText;
using testing::TempDir;

// Tag indexes of the small lookup table: 0 reversedirection, 1 highway
// (residential 2, primary 3, track 4, footway 5, cycleway 6, service 7,
// motorway 8, steps 9), 2 oneway (yes 2, -1 3), 3 maxspeed (30 2, 50 3,
// none 4), 4 surface (asphalt 2, gravel 3).
const char* kPlainProfile =
    "---context:global\nassign unused 0\n"
    "---context:way\n"
    "assign costfactor switch highway=residential 1.5 switch highway=primary 1.2 10000\n"
    "assign maxspeed v:maxspeed\n"
    "---context:node\nassign initialcost switch barrier=gate 100 0\n";

std::vector<int> decoded(BExpressionContext& ctx, const util::ByteArray& bytes, bool reverse = false) {
    std::vector<int> lookupData(ctx.lookupTagCount(), -5);
    ctx.decode(lookupData, reverse, bytes.span());
    return lookupData;
}

TEST(TagSetTest, HandCodedBytes) {
    ProfileFromText profile(kPlainProfile);
    BExpressionContextWay& way = profile.way();
    // highway=residential (step 1, code 0) and maxspeed as the number code 1250
    // (step 2, code 1249): bits 010 1 011 0000000000 1 0100011100 1
    const util::ByteArray twoTags = bytesOf({0x6A, 0x00, 0x8A, 0x13});
    EXPECT_EQ(decoded(way, twoTags), (std::vector<int>{0, 2, 0, 1250, 0}));
    EXPECT_EQ(decoded(way, twoTags, true), (std::vector<int>{2, 2, 0, 1250, 0}));
    EXPECT_EQ(way.getKeyValueDescription(false, twoTags.span()), "highway=residential maxspeed=2.5");
    EXPECT_EQ(way.getKeyValueDescription(true, twoTags.span()),
              "reversedirection=yes highway=residential maxspeed=2.5");
    EXPECT_TRUE(encodeTags({{1, 2}, {3, 1250}}).contentEquals(twoTags));

    way.evaluate(false, twoTags);
    EXPECT_EQ(way.getMaxspeed(), 2.5f); // (1250 - 1000) / 100
    EXPECT_EQ(way.getCostfactor(), 1.5f);

    // the empty set is a single step 0
    const util::ByteArray empty = bytesOf({0x01});
    EXPECT_EQ(decoded(way, empty), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(decoded(way, empty, true), (std::vector<int>{2, 0, 0, 0, 0}));
    EXPECT_EQ(way.getKeyValueDescription(false, empty.span()), "");

    // code 7 is "unknown": bits 010 0001000 1
    const util::ByteArray unknown = bytesOf({0x42, 0x04});
    EXPECT_EQ(decoded(way, unknown), (std::vector<int>{0, 1, 0, 0, 0}));
    EXPECT_EQ(way.getKeyValueDescription(false, unknown.span()), "highway=unknown");
}

TEST(TagSetTest, ValueCodes) {
    ProfileFromText profile(kPlainProfile);
    BExpressionContextWay& way = profile.way();
    EXPECT_EQ(decoded(way, encodeTags({{1, 9}})), (std::vector<int>{0, 9, 0, 0, 0})); // code 8
    EXPECT_EQ(way.getKeyValueDescription(false, encodeTags({{1, 9}}).span()), "highway=steps");
    // beyond the registered values but below 1000: unknown
    EXPECT_EQ(decoded(way, encodeTags({{1, 10}, {2, 999}})), (std::vector<int>{0, 1, 1, 0, 0}));
    // tags beyond the table end the set
    EXPECT_EQ(decoded(way, encodeTags({{1, 3}, {5, 2}, {6, 2}})), (std::vector<int>{0, 3, 0, 0, 0}));
    // the description writes numbers as floats
    EXPECT_EQ(way.getKeyValueDescription(false, encodeTags({{3, 950}}).span()), "maxspeed=unknown");
    EXPECT_EQ(way.getKeyValueDescription(false, encodeTags({{3, 1000}}).span()), "maxspeed=0.0");
    EXPECT_EQ(way.getKeyValueDescription(false, encodeTags({{3, 6000}}).span()), "maxspeed=50.0");
}

TEST(TagSetTest, LookupValues) {
    ProfileFromText profile(kPlainProfile);
    BExpressionContextWay& way = profile.way();
    way.evaluate(false, encodeTags({{3, 1001}}));
    EXPECT_EQ(way.getMaxspeed(), 0.01f);
    way.evaluate(false, encodeTags(way, {{"maxspeed", "30"}}));
    EXPECT_EQ(way.getMaxspeed(), 30.0f);
    way.evaluate(false, encodeTags(way, {{"highway", "primary"}}));
    EXPECT_TRUE(std::isnan(way.getMaxspeed()));
    try {
        way.evaluate(false, encodeTags(way, {{"maxspeed", "none"}}));
        FAIL();
    } catch (const jcompat::NumberFormatException& e) {
        EXPECT_EQ(e.getMessage(), "For input string: \"none\"");
    }
    EXPECT_THROW(way.evaluate(false, encodeTags({{3, 1}})), jcompat::NumberFormatException);
}

TEST(TagSetTest, DamagedBytesRaiseExceptions) {
    ProfileFromText profile(kPlainProfile);
    BExpressionContextWay& way = profile.way();
    EXPECT_THROW(decoded(way, util::ByteArray::copyOf({})), jcompat::Throwable);
    EXPECT_THROW(decoded(way, bytesOf({0x00, 0x00, 0x00, 0x00})), jcompat::Throwable);
    EXPECT_THROW(way.evaluate(false, util::ByteArray()), jcompat::IllegalArgumentException);

    // any byte string either decodes or fails cleanly (the sanitizer build
    // checks that nothing is read outside the bytes)
    std::mt19937 random(4711);
    int failures = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<util::Byte> bytes(1 + random() % 6);
        for (util::Byte& b : bytes) {
            b = static_cast<util::Byte>(random());
        }
        const util::ByteArray tags = util::ByteArray::copyOf(bytes);
        try {
            std::vector<int> data = decoded(way, tags);
            for (int valueIdx : data) {
                ASSERT_GE(valueIdx, 0);
            }
            way.getKeyValueDescription(random() % 2 == 0, tags.span());
            way.checkStartWay(tags);
        } catch (const jcompat::Throwable&) {
            ++failures;
        }
    }
    EXPECT_GT(failures, 0);
}

const char* kCachedProfile =
    "---context:global\nassign unused 0\n"
    "---context:way\n"
    "assign costfactor\n"
    "  switch highway=motorway switch reversedirection=yes 50 10000\n"
    "  switch highway=steps 9999\n"
    "  switch highway=footway 10000\n"
    "  switch highway=residential 1.5\n"
    "  switch highway=primary divide 1 switch surface=gravel 0 1\n"
    "  switch oneway=yes switch reversedirection=yes 3 2\n"
    "  1\n"
    "assign turncost switch surface=asphalt 90 0\n"
    "assign priorityclassifier switch highway=track 12 switch maxspeed=50 24 0\n"
    "assign extra add turncost 1\n"
    "---context:node\nassign initialcost 0\n";

TEST(CachedEvaluationTest, BothDirectionsComeFromOneEntry) {
    ProfileFromText profile(kCachedProfile, nullptr, 4);
    BExpressionContextWay& way = profile.way();
    const util::ByteArray oneway = encodeTags(way, {{"oneway", "yes"}});
    way.evaluate(false, oneway);
    EXPECT_EQ(way.getCostfactor(), 2.0f);
    EXPECT_EQ(way.cachedTagSetCount(), 1);
    way.evaluate(true, encodeTags(way, {{"oneway", "yes"}})); // an equal array hits
    EXPECT_EQ(way.getCostfactor(), 3.0f);
    EXPECT_EQ(way.cachedTagSetCount(), 1);
    way.setInverseVars();
    EXPECT_EQ(way.getCostfactor(), 3.0f);
}

TEST(CachedEvaluationTest, EqualOutputVectorsAreShared) {
    ProfileFromText profile(kCachedProfile, nullptr, 8);
    BExpressionContextWay& way = profile.way();
    way.evaluate(false, encodeTags(way, {{"highway", "cycleway"}}));
    way.evaluate(false, encodeTags(way, {{"highway", "service"}}));
    way.evaluate(false, encodeTags(way, {{"highway", "residential"}}));
    EXPECT_EQ(way.cachedTagSetCount(), 3);
    EXPECT_EQ(way.cachedResultVectorCount(), 2);
}

TEST(CachedEvaluationTest, LeastRecentlyEvaluatedTagSetIsRecycled) {
    ProfileFromText profile(kCachedProfile, nullptr, 2);
    BExpressionContextWay& way = profile.way();
    const util::ByteArray a = encodeTags(way, {{"highway", "track"}});
    const util::ByteArray b = encodeTags(way, {{"highway", "cycleway"}});
    const util::ByteArray c = encodeTags(way, {{"highway", "service"}});
    way.evaluate(false, a);
    way.evaluate(false, b);
    way.evaluate(false, a); // a is now the most recent
    way.evaluate(false, c); // b goes
    EXPECT_EQ(way.cachedTagSetCount(), 2);
    EXPECT_TRUE(way.unify(a.span()).isSameAs(a));
    EXPECT_TRUE(way.unify(c.span()).isSameAs(c));
    const util::ByteArray bAgain = way.unify(b.span());
    EXPECT_FALSE(bAgain.isSameAs(b));
    EXPECT_TRUE(bAgain.contentEquals(b));
}

// An array evaluated before is found by its address; an entry recycled for
// another tag set is not found by the array it held, and an equal array of
// its own is found through the bytes, refreshing the same entry.
TEST(CachedEvaluationTest, ArraysFoundByAddressGiveTheirOwnEntry) {
    ProfileFromText profile(kCachedProfile, nullptr, 1);
    BExpressionContextWay& way = profile.way();
    const util::ByteArray track = encodeTags(way, {{"highway", "track"}});
    const util::ByteArray cycleway = encodeTags(way, {{"highway", "cycleway"}});
    way.evaluate(false, track);
    EXPECT_EQ(way.getPriorityClassifier(), 12.0f);
    way.evaluate(false, cycleway); // takes the only entry
    EXPECT_EQ(way.getPriorityClassifier(), 0.0f);
    way.evaluate(false, track); // not the cycleway's outputs
    EXPECT_EQ(way.getPriorityClassifier(), 12.0f);
    way.evaluate(true, track);
    EXPECT_EQ(way.getPriorityClassifier(), 12.0f);
    EXPECT_EQ(way.cachedTagSetCount(), 1);
    EXPECT_TRUE(way.unify(track.span()).isSameAs(track));

    const util::ByteArray equalTrack = encodeTags(way, {{"highway", "track"}});
    way.evaluate(false, cycleway);
    way.evaluate(false, equalTrack);
    way.evaluate(false, track); // the entry holds equalTrack now
    EXPECT_EQ(way.getPriorityClassifier(), 12.0f);
    EXPECT_EQ(way.cachedTagSetCount(), 1);
    EXPECT_TRUE(way.unify(track.span()).isSameAs(equalTrack));
}

// Recency moves the same for an array found by its address and one found
// through its bytes.
TEST(CachedEvaluationTest, ArraysFoundByAddressBecomeTheMostRecent) {
    for (const bool sameArray : {true, false}) {
        ProfileFromText profile(kCachedProfile, nullptr, 2);
        BExpressionContextWay& way = profile.way();
        const util::ByteArray a = encodeTags(way, {{"highway", "track"}});
        const util::ByteArray b = encodeTags(way, {{"highway", "cycleway"}});
        way.evaluate(false, a);
        way.evaluate(false, b);
        way.evaluate(false, a);
        way.evaluate(false, sameArray ? a : encodeTags(way, {{"highway", "track"}}));
        way.evaluate(false, encodeTags(way, {{"highway", "service"}})); // b goes
        EXPECT_TRUE(way.unify(a.span()).isSameAs(a));
        EXPECT_FALSE(way.unify(b.span()).isSameAs(b));
    }
}

// Equal identities mean equal outputs. An identity lasts until a full
// cache recycles an entry (which may free its vector).
TEST(CachedEvaluationTest, OutputsIdentity) {
    ProfileFromText profile(kCachedProfile, nullptr, 2);
    BExpressionContextWay& way = profile.way();
    const util::ByteArray track = encodeTags(way, {{"highway", "track"}});
    const util::ByteArray cycleway = encodeTags(way, {{"highway", "cycleway"}});
    way.evaluate(false, track);
    const BExpressionContext::OutputsIdentity trackOutputs = way.outputsIdentity();
    ASSERT_NE(trackOutputs.outputs, nullptr);
    way.evaluate(false, cycleway);
    const BExpressionContext::OutputsIdentity cyclewayOutputs = way.outputsIdentity();
    EXPECT_NE(cyclewayOutputs, trackOutputs);
    way.evaluate(false, track);
    EXPECT_EQ(way.outputsIdentity(), trackOutputs);
    way.evaluate(true, track);
    EXPECT_NE(way.outputsIdentity(), trackOutputs); // the reverse half

    // the service takes the cycleway's entry and shares its equal outputs
    way.evaluate(false, encodeTags(way, {{"highway", "service"}}));
    const BExpressionContext::OutputsIdentity serviceOutputs = way.outputsIdentity();
    EXPECT_EQ(serviceOutputs.outputs, cyclewayOutputs.outputs);
    EXPECT_NE(serviceOutputs.generation, cyclewayOutputs.generation);
    way.evaluate(false, track);
    EXPECT_EQ(way.outputsIdentity().outputs, trackOutputs.outputs);
    EXPECT_NE(way.outputsIdentity(), trackOutputs);

    // a slot added starts afresh
    way.getOutputVariableIndex("extra", true);
    way.evaluate(false, cycleway);
    EXPECT_NE(way.outputsIdentity().generation, serviceOutputs.generation);

    // other contexts never share an identity; one without cache has none
    ProfileFromText other(kCachedProfile, nullptr, 2);
    other.way().evaluate(false, cycleway);
    EXPECT_NE(other.way().outputsIdentity().generation, way.outputsIdentity().generation);
    ProfileFromText uncached(kCachedProfile, nullptr, 0);
    uncached.way().evaluate(false, cycleway);
    EXPECT_EQ(uncached.way().outputsIdentity().outputs, nullptr);
}

TEST(CachedEvaluationTest, UnifySharesEvaluatedTagSets) {
    ProfileFromText profile(kCachedProfile, nullptr, 16);
    BExpressionContextWay& way = profile.way();
    std::vector<util::Byte> tile = {0x55, 0x77};
    const util::ByteArray tags = encodeTags(way, {{"highway", "residential"}, {"surface", "asphalt"}});
    tile.insert(tile.end(), tags.span().begin(), tags.span().end());
    const std::span<const util::Byte> slice = std::span<const util::Byte>(tile).subspan(2, tags.size());

    const util::ByteArray first = way.unify(slice);
    EXPECT_TRUE(first.contentEquals(tags));
    EXPECT_EQ(way.accessType(first), 2);
    const util::ByteArray second = way.unify(slice);
    EXPECT_TRUE(second.isSameAs(first));
    EXPECT_EQ(way.accessType(second), 2);
    EXPECT_EQ(way.getTurncost(), 90.0f);
    EXPECT_EQ(way.cachedTagSetCount(), 1);
    EXPECT_TRUE(way.unify(std::span<const util::Byte>()).empty());
    EXPECT_THROW(profile.node().unify(slice), jcompat::IllegalStateException);
}

TEST(CachedEvaluationTest, AccessTypes) {
    ProfileFromText profile(kCachedProfile, nullptr, 16);
    BExpressionContextWay& way = profile.way();
    const util::ByteArray motorway = encodeTags(way, {{"highway", "motorway"}});
    const util::ByteArray steps = encodeTags(way, {{"highway", "steps"}});
    const util::ByteArray footway = encodeTags(way, {{"highway", "footway"}});
    EXPECT_EQ(way.accessType(motorway), 2); // usable in reverse
    EXPECT_EQ(way.accessType(steps), 0);
    EXPECT_EQ(way.accessType(footway), 0);
    way.setDecodeForbidden(true);
    EXPECT_EQ(way.accessType(steps), 1);
    EXPECT_EQ(way.accessType(footway), 0);
    EXPECT_EQ(way.accessType(encodeTags(way, {{"highway", "track"}})), 2);

    // the same answers without a cache
    ProfileFromText uncached(kCachedProfile, nullptr, 0);
    EXPECT_EQ(uncached.way().accessType(motorway), 2);
    EXPECT_EQ(uncached.way().accessType(steps), 0);
    EXPECT_THROW(uncached.way().unify(motorway.span()), jcompat::IllegalStateException);
}

TEST(CachedEvaluationTest, FailedEvaluationLeavesNoEntry) {
    ProfileFromText profile(kCachedProfile, nullptr, 2);
    BExpressionContextWay& way = profile.way();
    const util::ByteArray bad = encodeTags(way, {{"highway", "primary"}, {"surface", "gravel"}});
    way.evaluate(false, encodeTags(way, {{"highway", "track"}}));
    way.evaluate(false, encodeTags(way, {{"highway", "cycleway"}}));
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            way.evaluate(false, bad);
            FAIL();
        } catch (const jcompat::IllegalArgumentException& e) {
            EXPECT_EQ(e.getMessage(), "div by zero");
        }
        EXPECT_EQ(way.cachedTagSetCount(), 2);
        EXPECT_FALSE(way.unify(bad.span()).isSameAs(bad));
    }
    // the entries already there are untouched
    EXPECT_TRUE(way.unify(encodeTags(way, {{"highway", "track"}}).span())
                    .contentEquals(encodeTags(way, {{"highway", "track"}})));
    way.evaluate(false, encodeTags(way, {{"highway", "primary"}}));
    EXPECT_EQ(way.getCostfactor(), 1.0f);
}

TEST(CachedEvaluationTest, CachedResultsEqualFreshOnes) {
    // random tag sets through a small cache (so entries are recycled) against a
    // context without cache, both directions, every output slot
    ProfileFromText cached(kCachedProfile, nullptr, 8);
    ProfileFromText fresh(kCachedProfile, nullptr, 0);
    const std::vector<int> valueCounts = {0, 10, 4, 5, 4};
    std::mt19937 random(12345);
    std::vector<util::ByteArray> kept(12);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::pair<int, int>> tags;
        for (int tag = 1; tag < 5; ++tag) {
            if (random() % 2 == 0) {
                tags.emplace_back(tag, 2 + static_cast<int>(random() % (valueCounts[tag] - 2)));
            }
        }
        if (std::find(tags.begin(), tags.end(), std::make_pair(4, 3)) != tags.end() &&
            std::find(tags.begin(), tags.end(), std::make_pair(1, 3)) != tags.end()) {
            continue; // primary on gravel divides by zero
        }
        const util::ByteArray bytes = encodeTags(tags);
        const bool reverse = random() % 2 == 0;
        // arrays kept and evaluated again are found by their address
        const util::ByteArray shared = random() % 2 == 0 ? cached.way().unify(bytes.span()) : bytes;
        if (random() % 2 == 0) {
            kept[random() % kept.size()] = shared;
        }
        cached.way().evaluate(reverse, shared);
        fresh.way().evaluate(reverse, bytes);
        for (int slot = 0; slot < cached.way().getOutputSlotCount(); ++slot) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(cached.way().getOutput(slot)),
                      std::bit_cast<std::uint32_t>(fresh.way().getOutput(slot)))
                << "round " << round << " slot " << slot;
        }
        const util::ByteArray& again = kept[random() % kept.size()];
        if (again) {
            cached.way().evaluate(!reverse, again);
            fresh.way().evaluate(!reverse, again);
            for (int slot = 0; slot < cached.way().getOutputSlotCount(); ++slot) {
                ASSERT_EQ(std::bit_cast<std::uint32_t>(cached.way().getOutput(slot)),
                          std::bit_cast<std::uint32_t>(fresh.way().getOutput(slot)))
                    << "round " << round << " slot " << slot << " again";
            }
        }
    }
    EXPECT_EQ(cached.way().cachedTagSetCount(), 8);
}

TEST(CachedEvaluationTest, SlotAddedAfterEvaluationsStartsTheCacheAfresh) {
    ProfileFromText profile(kCachedProfile, nullptr, 8);
    BExpressionContextWay& way = profile.way();
    way.evaluate(false, encodeTags(way, {{"highway", "track"}}));
    const int slot = way.getOutputVariableIndex("priorityclassifier", true);
    EXPECT_EQ(slot, BExpressionContextWay::PRIORITYCLASSIFIER);
    EXPECT_EQ(way.cachedTagSetCount(), 1); // an existing slot changes nothing
    way.evaluate(true, encodeTags(way, {{"highway", "track"}}));
    EXPECT_EQ(way.getPriorityClassifier(), 12.0f);

    const int extra = way.getOutputVariableIndex("extra", true);
    EXPECT_EQ(extra, 20);
    EXPECT_EQ(way.cachedTagSetCount(), 0);
    EXPECT_THROW(way.getOutput(extra), jcompat::IllegalStateException); // the old vector is too short
    way.evaluate(false, encodeTags(way, {{"highway", "track"}, {"surface", "asphalt"}}));
    EXPECT_EQ(way.getOutput(extra), 91.0f);
    way.evaluate(true, encodeTags(way, {{"highway", "track"}, {"surface", "asphalt"}}));
    EXPECT_EQ(way.getOutput(extra), 91.0f);

    // a failed evaluation leaves a half-filled scratch vector of the old shape behind
    ProfileFromText failedFirst(kCachedProfile, nullptr, 8);
    EXPECT_THROW(failedFirst.way().evaluate(false, encodeTags(way, {{"highway", "primary"}, {"surface", "gravel"}})),
                 jcompat::IllegalArgumentException);
    EXPECT_EQ(failedFirst.way().getOutputVariableIndex("extra", true), 20);
    failedFirst.way().evaluate(true, encodeTags(way, {{"highway", "track"}, {"surface", "asphalt"}}));
    EXPECT_EQ(failedFirst.way().getOutput(20), 91.0f);

    // the same for a context without cache
    ProfileFromText uncached(kCachedProfile, nullptr, 0);
    uncached.way().evaluate(false, encodeTags(way, {{"highway", "track"}}));
    const int uncachedExtra = uncached.way().getOutputVariableIndex("extra", true);
    EXPECT_THROW(uncached.way().getOutput(uncachedExtra), jcompat::IllegalStateException);
    uncached.way().evaluate(false, encodeTags(way, {{"highway", "track"}}));
    EXPECT_EQ(uncached.way().getOutput(uncachedExtra), 1.0f);
}

// ---- way tag sets of tiles, filtered through a profile ----

// Raw pairs as a tile codes them: (tag index step, coded value).
RawTagSet raw(const std::vector<std::int32_t>& pairs) {
    static std::vector<std::vector<std::int32_t>> kept; // the spans must outlive the call
    kept.push_back(pairs);
    return RawTagSet{kept.back(), RawTagSet::hashOf(kept.back())};
}

TEST(FilteredTagSetTest, KeepsTheTagsTheProfileUsesRecodedAndShared) {
    ProfileFromText profile(kPlainProfile); // uses highway and maxspeed
    BExpressionContextWay& way = profile.way();
    // highway=residential, oneway=yes, surface=asphalt
    const FilteredTagSet residential = way.filterTagSet(raw({1, 0, 1, 0, 2, 0}));
    EXPECT_TRUE(residential.tags.contentEquals(encodeTags({{1, 2}})));
    EXPECT_EQ(residential.accessType, 2);
    // highway=track and maxspeed 2.5 (coded 1249): both kept, relative to each other
    const FilteredTagSet track = way.filterTagSet(raw({1, 2, 2, 1249}));
    EXPECT_TRUE(track.tags.contentEquals(encodeTags({{1, 4}, {3, 1250}})));
    EXPECT_EQ(track.accessType, 0); // costfactor 10000
    // oneway only, and a tag beyond the table: nothing the profile uses
    const FilteredTagSet oneway = way.filterTagSet(raw({2, 0, 600, 3}));
    EXPECT_TRUE(oneway.tags.isNull());
    EXPECT_EQ(oneway.accessType, 0);
    // the same raw set again, or another with the same kept tags: the same array
    EXPECT_TRUE(way.filterTagSet(raw({1, 0, 1, 0, 2, 0})).tags.isSameAs(residential.tags));
    EXPECT_TRUE(way.filterTagSet(raw({1, 0, 3, 1})).tags.isSameAs(residential.tags));
    EXPECT_TRUE(way.unify(encodeTags({{1, 2}}).span()).isSameAs(residential.tags));

    // every tag used: the filter keeps them all from then on
    way.setAllTagsUsed();
    EXPECT_TRUE(way.filterTagSet(raw({1, 0, 1, 0, 2, 0})).tags.contentEquals(encodeTags({{1, 2}, {2, 2}, {4, 2}})));
}

TEST(FilteredTagSetTest, TheFilterIdentityChangesWithWhatTheFilterReads) {
    ProfileFromText profile(kPlainProfile);
    ProfileFromText same(kPlainProfile);
    BExpressionContextWay& way = profile.way();
    const std::uint64_t identity = way.filterIdentity();
    EXPECT_NE(identity, 0u);
    EXPECT_EQ(way.filterIdentity(), identity);
    EXPECT_NE(same.way().filterIdentity(), identity); // the same text, another context
    way.setDecodeForbidden(true);
    const std::uint64_t forbidden = way.filterIdentity();
    EXPECT_NE(forbidden, identity);
    way.setDecodeForbidden(false);
    EXPECT_EQ(way.filterIdentity(), identity);
    way.setAllTagsUsed();
    EXPECT_NE(way.filterIdentity(), identity);
    EXPECT_NE(way.filterIdentity(), forbidden);
}

TEST(FilteredTagSetTest, TheDecodeForbiddenSwitchOfTheMomentCounts) {
    ProfileFromText profile(kCachedProfile, nullptr, 16);
    BExpressionContextWay& way = profile.way();
    const RawTagSet steps = raw({1, 8});   // costfactor 9999
    const RawTagSet footway = raw({1, 3}); // costfactor 10000
    EXPECT_EQ(way.filterTagSet(steps).accessType, 0);
    way.setDecodeForbidden(true);
    EXPECT_EQ(way.filterTagSet(steps).accessType, 1);
    EXPECT_EQ(way.filterTagSet(footway).accessType, 0);
    way.setDecodeForbidden(false);
    EXPECT_EQ(way.filterTagSet(steps).accessType, 0);
    // as accessType answers for the filtered tags
    EXPECT_EQ(way.accessType(way.filterTagSet(steps).tags), 0);
}

TEST(FilteredTagSetCacheTest, FoundByThePairsAndStartedOverWhenFull) {
    FilteredTagSetCache cache;
    const std::vector<std::int32_t> a{1, 0};
    const std::vector<std::int32_t> b{1, 1};
    // one hash for both: told apart by their pairs
    cache.insert(a, 7, bytesOf({0x11}), 2);
    cache.insert(b, 7, bytesOf({0x22}), 1);
    ASSERT_NE(cache.find(a, 7), nullptr);
    EXPECT_TRUE(cache.find(a, 7)->tags.contentEquals(bytesOf({0x11})));
    EXPECT_EQ(cache.find(b, 7)->accessClass, 1);
    EXPECT_EQ(cache.find(a, 8), nullptr);
    EXPECT_EQ(cache.find(std::vector<std::int32_t>{1, 0, 1, 0}, 7), nullptr);

    for (std::int32_t i = 2; i < static_cast<std::int32_t>(FilteredTagSetCache::MAX_ENTRIES); ++i) {
        const std::vector<std::int32_t> pairs{i, 0};
        cache.insert(pairs, RawTagSet::hashOf(pairs), util::ByteArray(), 0);
    }
    EXPECT_EQ(cache.size(), FilteredTagSetCache::MAX_ENTRIES);
    EXPECT_NE(cache.find(b, 7), nullptr);
    cache.insert(std::vector<std::int32_t>{1, 2}, 9, util::ByteArray(), 0);
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.find(a, 7), nullptr);
    EXPECT_NE(cache.find(std::vector<std::int32_t>{1, 2}, 9), nullptr);
}

TEST(NodeEvaluationTest, NodeContextEvaluatesWithoutCache) {
    ProfileFromText profile(kPlainProfile);
    BExpressionContextNode& node = profile.node();
    node.evaluate(false, encodeTags(node, {{"barrier", "gate"}}));
    EXPECT_EQ(node.getInitialcost(), 100.0f);
    EXPECT_EQ(node.cachedTagSetCount(), 0);
    EXPECT_EQ(node.getKeyValueDescription(true, encodeTags(node, {{"barrier", "gate"}}).span()),
              "nodeaccessgranted=yes barrier=gate");
    EXPECT_EQ(node.getLookupMatch(1, std::vector<int>{3, 4}), 0.0f);
    EXPECT_EQ(node.getLookupMatch(0, std::vector<int>{2}), 1.0f);
}

} // namespace
} // namespace ferrow::expressions
