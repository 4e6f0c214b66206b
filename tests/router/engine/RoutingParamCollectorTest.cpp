#include "router/engine/RoutingParamCollector.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "jcompat/Exceptions.h"

using ferrow::jcompat::IllegalArgumentException;
using ferrow::router::RoutingParamCollector;
using testing::ElementsAre;
using testing::Pair;

namespace {

std::string decodeFailure(std::string_view query) {
    try {
        RoutingParamCollector().getUrlParams(query);
    } catch (const IllegalArgumentException& e) {
        return e.getMessage();
    }
    return "<no failure>";
}

} // namespace

TEST(GetUrlParams, SplitsAtQuestionMarkAndAmpersandInQueryOrder) {
    const auto params =
        RoutingParamCollector().getUrlParams("?profile=car.vpf&&lonlats=8.1,49.2|8.3,49.4&engineMode=0&");
    EXPECT_THAT(params,
                ElementsAre(Pair("profile", "car.vpf"), Pair("lonlats", "8.1,49.2|8.3,49.4"), Pair("engineMode", "0")));
}

TEST(GetUrlParams, RepeatedKeyKeepsFirstPlaceAndLastValue) {
    const auto params = RoutingParamCollector().getUrlParams("a=1&b=2&a=3");
    EXPECT_THAT(params, ElementsAre(Pair("a", "3"), Pair("b", "2")));
}

TEST(GetUrlParams, PairsWithoutValueAreDropped) {
    EXPECT_THAT(RoutingParamCollector().getUrlParams("a&b=&=c&==&d==e=f&g=h"),
                ElementsAre(Pair("d", "e"), Pair("g", "h")));
    EXPECT_EQ(RoutingParamCollector().getUrlParams("").size(), 0u);
}

TEST(GetUrlParams, DecodesBeforeSplitting) {
    // An encoded ampersand splits the value; "+" is a space; %C3%A4 is one character.
    EXPECT_THAT(RoutingParamCollector().getUrlParams("name=a%26b=c&x=1+2&u=%C3%A4%c3%b6"),
                ElementsAre(Pair("name", "a"), Pair("b", "c"), Pair("x", "1 2"), Pair("u", "äö")));
    EXPECT_THAT(RoutingParamCollector().getUrlParams("k%3Dv=w"), ElementsAre(Pair("k", "v")));
    EXPECT_THAT(RoutingParamCollector().getUrlParams("profile:maxspeed=50"),
                ElementsAre(Pair("profile:maxspeed", "50")));
}

TEST(GetUrlParams, MalformedEscapeBytesBecomeReplacementCharacters) {
    EXPECT_THAT(RoutingParamCollector().getUrlParams("n=%FFx"), ElementsAre(Pair("n", "\uFFFDx")));
    EXPECT_THAT(RoutingParamCollector().getUrlParams("n=%C3"), ElementsAre(Pair("n", "\uFFFD")));
}

TEST(GetUrlParams, EscapeFailures) {
    const std::string incomplete = "URLDecoder: Incomplete trailing escape (%) pattern";
    const std::string illegal = "URLDecoder: Illegal hex characters in escape (%) pattern";
    EXPECT_EQ(decodeFailure("a=%4"), incomplete);
    EXPECT_EQ(decodeFailure("a=%"), incomplete);
    EXPECT_EQ(decodeFailure("a=%41%"), incomplete);
    EXPECT_EQ(decodeFailure("a=%ä"), incomplete); // one character (two bytes) after "%"
    EXPECT_EQ(decodeFailure("a=%G1"), illegal);
    EXPECT_EQ(decodeFailure("a=%+1&b=c"), illegal);
    EXPECT_EQ(decodeFailure("a=%äb"), illegal);
    EXPECT_EQ(decodeFailure("a=%\U0001F600"), illegal); // a surrogate pair is two units
}
