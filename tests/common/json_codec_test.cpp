#include "common/json_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisel::common {
namespace {

enum class Colour { red, darkBlue };

constexpr std::array<EnumRawValue<Colour>, 2> kColourRawValues{
    {{Colour::red, "RED"}, {Colour::darkBlue, "dark blue"}}};
constexpr const auto& enumRawValues(std::type_identity<Colour>) {
    return kColourRawValues;
}

struct Inner {
    Colour colour = Colour::red;
    std::optional<double> weight;
    friend bool operator==(const Inner&, const Inner&) = default;
};
constexpr auto jsonFields(std::type_identity<Inner>) {
    return std::tuple{jsonField("colour", &Inner::colour), jsonField("weight", &Inner::weight)};
}

struct Outer {
    std::string name;
    std::int64_t count = 0;
    std::vector<Inner> inners;
    std::optional<std::string> note;
    friend bool operator==(const Outer&, const Outer&) = default;
};
constexpr auto jsonFields(std::type_identity<Outer>) {
    return std::tuple{jsonField("name", &Outer::name), jsonField("count", &Outer::count),
                      jsonField("inners", &Outer::inners), jsonField("note", &Outer::note)};
}

template <class T>
std::optional<T> decoded(std::string_view text) {
    auto result = decodeJsonText<T>(text);
    if (!result) {
        return std::nullopt;
    }
    return *result;
}

TEST(JsonCodecTest, IntegersAcceptOnlyValuesInsideTheirRange) {
    EXPECT_EQ(decoded<std::int64_t>("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(decoded<std::int64_t>("-9223372036854775808"), INT64_MIN);
    EXPECT_FALSE(decoded<std::int64_t>("9223372036854775808"));
    EXPECT_FALSE(decoded<std::int64_t>("-9223372036854775809"));
    EXPECT_EQ(decoded<std::uint64_t>("18446744073709551615"), UINT64_MAX);
    EXPECT_FALSE(decoded<std::uint64_t>("18446744073709551616"));
    EXPECT_FALSE(decoded<std::uint64_t>("-1"));
    EXPECT_EQ(decoded<std::uint16_t>("65535"), 65535);
    EXPECT_FALSE(decoded<std::uint16_t>("65536"));
    EXPECT_EQ(decoded<std::int32_t>("-2147483648"), INT32_MIN);
    EXPECT_FALSE(decoded<std::int32_t>("2147483648"));
}

TEST(JsonCodecTest, IntegersTakeWholeFloatsUpToTwoToTheFiftyThird) {
    EXPECT_EQ(decoded<std::int64_t>("5.0"), 5);
    EXPECT_EQ(decoded<std::int64_t>("5e0"), 5);
    EXPECT_EQ(decoded<std::int64_t>("-9007199254740992.0"), -9007199254740992);
    EXPECT_FALSE(decoded<std::int64_t>("9007199254740994.0"));
    EXPECT_FALSE(decoded<std::int64_t>("1.5"));
    EXPECT_FALSE(decoded<std::int64_t>("1e400"));
    EXPECT_FALSE(decoded<std::int64_t>("-1e400"));
    EXPECT_FALSE(decoded<std::uint8_t>("255.5"));
    EXPECT_FALSE(decoded<std::int64_t>("\"5\""));
    EXPECT_FALSE(decoded<std::int64_t>("true"));
    EXPECT_FALSE(decoded<std::int64_t>("null"));
}

TEST(JsonCodecTest, BytesAreZeroToTwoHundredFiftyFive) {
    EXPECT_EQ(decoded<std::vector<std::uint8_t>>("[0,255,1]"), (std::vector<std::uint8_t>{0, 255, 1}));
    EXPECT_EQ(decoded<std::vector<std::uint8_t>>("[]"), std::vector<std::uint8_t>{});
    EXPECT_FALSE(decoded<std::vector<std::uint8_t>>("[256]"));
    EXPECT_FALSE(decoded<std::vector<std::uint8_t>>("[-1]"));
    EXPECT_FALSE(decoded<std::vector<std::uint8_t>>("[\"1\"]"));
    EXPECT_FALSE(decoded<std::vector<std::uint8_t>>("[null]"));
    EXPECT_FALSE(decoded<std::vector<std::uint8_t>>("null"));
}

TEST(JsonCodecTest, RealNumbersMustBeFiniteAndFitTheirWidth) {
    EXPECT_EQ(decoded<double>("100"), 100.0);
    EXPECT_EQ(decoded<double>("-0.25"), -0.25);
    EXPECT_FALSE(decoded<double>("1e400"));
    EXPECT_FALSE(decoded<double>("\"1\""));
    EXPECT_EQ(decoded<float>("3.4028234e38"), 3.4028234e38F);
    EXPECT_EQ(decoded<float>("3.4028235e38"), std::numeric_limits<float>::max());
    EXPECT_FALSE(decoded<float>("3.4028236e38"));
    EXPECT_FALSE(decoded<float>("3.5e38"));
    EXPECT_FALSE(decoded<float>("-3.5e38"));
}

TEST(JsonCodecTest, BooleansAndTextsTakeOnlyTheirOwnForm) {
    EXPECT_EQ(decoded<bool>("false"), false);
    EXPECT_FALSE(decoded<bool>("0"));
    EXPECT_FALSE(decoded<bool>("\"true\""));
    EXPECT_EQ(decoded<std::string>("\"a\\u00e9\""), "a\xc3\xa9");
    EXPECT_FALSE(decoded<std::string>("12"));
}

TEST(JsonCodecTest, EnumerationsMatchTheirRawValueExactly) {
    EXPECT_EQ(decoded<Colour>("\"dark blue\""), Colour::darkBlue);
    EXPECT_FALSE(decoded<Colour>("\"DARK BLUE\""));
    EXPECT_FALSE(decoded<Colour>("\"red\""));
    EXPECT_FALSE(decoded<Colour>("0"));
    EXPECT_EQ(encodeJsonText(Colour::darkBlue).value(), "\"dark blue\"");
}

TEST(JsonCodecTest, RecordsFailAtTheirFirstBadKeyWithItsPath) {
    auto missing = decodeJsonText<Outer>(R"({"count":1,"inners":[]})");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().path, "name");

    auto deep =
        decodeJsonText<Outer>(R"({"name":"n","count":1,"inners":[{"colour":"RED"},{"colour":"red"}]})");
    ASSERT_FALSE(deep);
    EXPECT_EQ(deep.error().path, "inners[1].colour");
    EXPECT_EQ(deep.error().describe(), "inners[1].colour: not one of the accepted texts");

    auto nulled = decodeJsonText<Outer>(R"({"name":null,"count":"x","inners":[]})");
    ASSERT_FALSE(nulled);
    EXPECT_EQ(nulled.error().describe(), "name: required key is null");

    EXPECT_FALSE(decodeJsonText<Outer>(R"({"Name":"n","count":1,"inners":[]})"));
    EXPECT_FALSE(decodeJsonText<Outer>(R"([{"name":"n","count":1,"inners":[]}])"));
}

TEST(JsonCodecTest, OptionalKeysMayBeMissingOrNullAndUnknownKeysAreIgnored) {
    auto record = decodeJsonText<Outer>(
        R"({"extra":[1,{}],"name":"n","count":2,"inners":[{"colour":"RED","weight":null}],"note":null})");
    ASSERT_TRUE(record) << record.error().describe();
    EXPECT_EQ(*record, (Outer{"n", 2, {Inner{Colour::red, std::nullopt}}, std::nullopt}));
    EXPECT_FALSE(decodeJsonText<Outer>(R"({"name":"n","count":2,"inners":[],"note":3})"));
}

// The quick look may pass a value that then fails to decode, but never refuses one that decodes.
TEST(JsonCodecTest, TheRequiredKeysLookRefusesOnlyValuesThatCannotDecode) {
    struct Row {
        const char* text;
        bool holdsKeys;
        bool decodes;
    };
    const Row rows[] = {
        {R"({"name":"n","count":1,"inners":[]})", true, true},
        {R"({"inners":[],"count":1,"name":"n","note":null,"extra":0})", true, true},
        {R"({"name":"n","count":"x","inners":[]})", true, false},
        {R"({"count":1,"inners":[]})", false, false},
        {R"({"name":null,"count":1,"inners":[]})", false, false},
        {R"({"Name":"n","count":1,"inners":[]})", false, false},
        {R"([{"name":"n","count":1,"inners":[]}])", false, false},
        {R"("name")", false, false},
    };
    for (const Row& row : rows) {
        const auto json = parseJson(row.text);
        ASSERT_TRUE(json) << row.text;
        EXPECT_EQ(holdsRequiredKeys<Outer>(*json), row.holdsKeys) << row.text;
        EXPECT_EQ(decodeJson<Outer>(*json).has_value(), row.decodes) << row.text;
    }
    EXPECT_TRUE(holdsRequiredKeys<Inner>(*parseJson(R"({"colour":"RED"})")));
}

TEST(JsonCodecTest, EncodingFollowsTheTableAndLeavesAbsentOptionalsOut) {
    const Outer record{"n", -3, {Inner{Colour::darkBlue, 0.5}, Inner{}}, std::nullopt};
    EXPECT_EQ(encodeJsonText(record).value(),
              R"({"name":"n","count":-3,"inners":[{"colour":"dark blue","weight":0.5},{"colour":"RED"}]})");
}

TEST(JsonCodecTest, FloatsAreWrittenInTheirShortestForm) {
    EXPECT_EQ(encodeJsonText(std::vector<float>{0.1F, 1.0F, -2.5F, 3.4028235e38F}).value(),
              "[0.1,1.0,-2.5,3.4028235e+38]");
    auto back = decodeJsonText<std::vector<float>>("[0.1,3.4028235e+38]");
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)[0], 0.1F);
    EXPECT_EQ((*back)[1], 3.4028235e38F);
}

TEST(JsonCodecTest, NonFiniteNumbersAndInvalidTextGiveNoText) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    auto withNan = encodeJsonText(Inner{Colour::red, nan});
    ASSERT_FALSE(withNan);
    EXPECT_EQ(withNan.error().path, "weight");
    EXPECT_FALSE(encodeJsonText(std::map<std::string, std::vector<float>>{{"a", {1.0F, infinity}}}));
    EXPECT_FALSE(encodeJsonText(std::string("ab\xff")));
    EXPECT_FALSE(encodeJsonText(std::map<std::string, int>{{"\xc0\xaf", 1}}));
    EXPECT_FALSE(encodeJsonText(std::string("\xed\xa0\x80")));      // a surrogate
    EXPECT_FALSE(encodeJsonText(std::string("\xf4\x90\x80\x80")));  // above U+10FFFF
    EXPECT_FALSE(encodeJsonText(std::string("\xe2\x82")));          // cut short
    EXPECT_EQ(encodeJsonText(std::string("\xf0\x9f\x98\x80\xe2\x82\xac")).value(),
              "\"\xf0\x9f\x98\x80\xe2\x82\xac\"");
}

TEST(JsonCodecTest, ParsingNeverThrows) {
    EXPECT_FALSE(parseJson(""));
    EXPECT_FALSE(parseJson("{"));
    EXPECT_FALSE(parseJson("{\"a\":\"\xff\"}"));
    EXPECT_FALSE(parseJson("{} {}"));
    EXPECT_FALSE(parseJson("[1,]"));
    EXPECT_TRUE(parseJson(" {\"a\" : [1, 2.5, null]} "));
    const auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    EXPECT_TRUE(parseJson(nested(kMaxJsonDepth)));
    EXPECT_FALSE(parseJson(nested(kMaxJsonDepth + 1)));
    EXPECT_TRUE(parseJson("[\"" + std::string(1000, '[') + "\"]"));
}

TEST(JsonCodecTest, AnyEncodableEncodesInPlace) {
    std::map<std::string, AnyEncodable> mixed{{"a", AnyEncodable(std::int64_t{3})},
                                              {"b", AnyEncodable(std::string("x"))},
                                              {"c", AnyEncodable(std::vector<float>{0.1F})}};
    EXPECT_EQ(encodeJsonText(mixed).value(), R"({"a":3,"b":"x","c":[0.1]})");
    EXPECT_FALSE(encodeJsonText(AnyEncodable(std::numeric_limits<double>::infinity())));
}

}  // namespace
}  // namespace brisel::common
