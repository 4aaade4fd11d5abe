#include "codec/encodable_value.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "tests/codec/codec_test_helpers.h"

namespace flutter {
namespace {

using namespace std::string_literals;

TEST(EncodableValueTest, ConstructionSelectsTheAlternative) {
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_EQ(EncodableValue().index(), 0u);
  EXPECT_EQ(EncodableValue(true).index(), 1u);
  EXPECT_EQ(EncodableValue(int32_t{1}).index(), 2u);
  EXPECT_EQ(EncodableValue(int64_t{1}).index(), 3u);
  EXPECT_EQ(EncodableValue(1.0).index(), 4u);
  EXPECT_EQ(EncodableValue(std::vector<uint8_t>{}).index(), 6u);
  EXPECT_EQ(EncodableValue(std::vector<int32_t>{}).index(), 7u);
  EXPECT_EQ(EncodableValue(std::vector<int64_t>{}).index(), 8u);
  EXPECT_EQ(EncodableValue(std::vector<double>{}).index(), 9u);
  EXPECT_EQ(EncodableValue(EncodableList{}).index(), 10u);
  EXPECT_EQ(EncodableValue(EncodableMap{}).index(), 11u);
  EXPECT_EQ(EncodableValue(CustomEncodableValue(std::any(5))).index(), 12u);
  EXPECT_EQ(EncodableValue(std::vector<float>{}).index(), 13u);

  // A character string is a string, never a bool, however it is assigned.
  const EncodableValue from_literal("serverName");
  EXPECT_EQ(from_literal.index(), 5u);
  EXPECT_EQ(Get<std::string>(from_literal), "serverName");
  EncodableValue assigned;
  assigned = "abc";
  EXPECT_EQ(assigned.index(), 5u);
  EncodableValue converted = "x";
  EXPECT_EQ(converted.index(), 5u);
}

// Strict access fails with the standard variant-access error and its
// standard text, which is what a handler's error line shows.
TEST(EncodableValueTest, StrictAccessFailsWithTheStandardText) {
  EncodableValue value("text");
  Get<std::string>(value) += "!";
  EXPECT_EQ(Get<std::string>(static_cast<const EncodableValue&>(value)), "text!");

  auto failure_of = [](auto access) -> std::string {
    try {
      access();
    } catch (const std::bad_variant_access& error) {
      return error.what();
    }
    return "no failure";
  };
  EXPECT_EQ(failure_of([&] { Get<bool>(value); }), "bad variant access");
  EXPECT_EQ(failure_of([&] { Get<EncodableMap>(static_cast<const EncodableValue&>(value)); }), "bad variant access");
  EXPECT_EQ(failure_of([] { Get<std::string>(EncodableValue()); }), "bad variant access");
  EXPECT_EQ(failure_of([] { Get<int64_t>(EncodableValue(int32_t{1})); }), "bad variant access");
  EXPECT_EQ(value, EncodableValue("text!")) << "a failed access leaves the value unchanged";
}

// Asserts a < b and not b < a.
void ExpectLess(const EncodableValue& a, const EncodableValue& b) {
  EXPECT_TRUE(a < b) << testing::PrintToString(a) << " < " << testing::PrintToString(b);
  EXPECT_FALSE(b < a) << testing::PrintToString(b) << " < " << testing::PrintToString(a);
}

TEST(EncodableValueTest, AlternativesOrderByIndexWhateverTheirContent) {
  const std::vector<EncodableValue> ascending = {
      EncodableValue(), EncodableValue(true), EncodableValue(int32_t{1000}), EncodableValue(int64_t{1}),
      EncodableValue(-1e300), EncodableValue(""), EncodableValue(std::vector<uint8_t>{}),
      EncodableValue(std::vector<int32_t>{}), EncodableValue(std::vector<int64_t>{}),
      EncodableValue(std::vector<double>{}), EncodableValue(EncodableList{}), EncodableValue(EncodableMap{}),
      EncodableValue(CustomEncodableValue(std::any(0))), EncodableValue(std::vector<float>{})};
  for (size_t i = 0; i + 1 < ascending.size(); ++i) ExpectLess(ascending[i], ascending[i + 1]);
  ExpectLess(EncodableValue(true), EncodableValue(int32_t{-2147483647 - 1}));
  ExpectLess(EncodableValue(int32_t{5}), EncodableValue(int64_t{5}));
  ExpectLess(EncodableValue(int32_t{5}), EncodableValue("5"));
}

TEST(EncodableValueTest, ContentsOrderWithinAnAlternative) {
  EXPECT_FALSE(EncodableValue() < EncodableValue());
  ExpectLess(EncodableValue(false), EncodableValue(true));
  ExpectLess(EncodableValue(int32_t{-1}), EncodableValue(int32_t{1}));
  ExpectLess(EncodableValue(int64_t{-1}), EncodableValue(int64_t{1}));
  ExpectLess(EncodableValue(-0.5), EncodableValue(0.25));

  // Strings: unsigned bytes, compared past NUL, prefix first.
  ExpectLess(EncodableValue("a"), EncodableValue("ab"));
  ExpectLess(EncodableValue("ab"), EncodableValue("b"));
  ExpectLess(EncodableValue("a\0a"s), EncodableValue("a\0b"s));
  ExpectLess(EncodableValue("a"), EncodableValue("a\0"s));
  ExpectLess(EncodableValue("\x7f"s), EncodableValue("\x80"s));

  // Numeric lists: [1, 2] < [1, 2, 0] < [1, 3]; bytes unsigned, integers signed.
  auto lists = [](auto element) {
    using T = decltype(element);
    ExpectLess(EncodableValue(std::vector<T>{1, 2}), EncodableValue(std::vector<T>{1, 2, 0}));
    ExpectLess(EncodableValue(std::vector<T>{1, 2, 0}), EncodableValue(std::vector<T>{1, 3}));
  };
  lists(uint8_t{});
  lists(int32_t{});
  lists(int64_t{});
  lists(double{});
  lists(float{});
  ExpectLess(EncodableValue(std::vector<uint8_t>{1}), EncodableValue(std::vector<uint8_t>{255}));
  ExpectLess(EncodableValue(std::vector<int32_t>{-1}), EncodableValue(std::vector<int32_t>{1}));
  ExpectLess(EncodableValue(std::vector<int64_t>{-1}), EncodableValue(std::vector<int64_t>{1}));

  ExpectLess(EncodableValue(EncodableList{EncodableValue(1)}),
             EncodableValue(EncodableList{EncodableValue(1), EncodableValue()}));
  ExpectLess(EncodableValue(EncodableList{EncodableValue(int32_t{9})}),
             EncodableValue(EncodableList{EncodableValue(int64_t{0})}));

  // Maps: entry by entry, key before value.
  const EncodableMap a1{{EncodableValue("a"), EncodableValue(1)}};
  const EncodableMap a2{{EncodableValue("a"), EncodableValue(2)}};
  const EncodableMap b0{{EncodableValue("b"), EncodableValue(0)}};
  const EncodableMap a1b0{{EncodableValue("a"), EncodableValue(1)}, {EncodableValue("b"), EncodableValue(0)}};
  ExpectLess(EncodableValue(a1), EncodableValue(a2));
  ExpectLess(EncodableValue(a2), EncodableValue(b0));
  ExpectLess(EncodableValue(a1), EncodableValue(a1b0));

  // Custom values only have an identity.
  const EncodableValue custom(CustomEncodableValue(std::any(1)));
  const EncodableValue copy = custom;
  EXPECT_FALSE(custom < custom);
  EXPECT_TRUE(custom < copy || copy < custom);
}

TEST(EncodableValueTest, OrderingTakesOnePassThroughNestedValues) {
  // Equivalent down to the innermost element: deciding each level with two
  // less-than tests would take 2^200 steps.
  EncodableValue list(1), map(1);
  for (int depth = 0; depth < 200; ++depth) {
    list = EncodableValue(EncodableList{list});
    map = EncodableValue(EncodableMap{{map, EncodableValue()}});
  }
  EncodableValue list_copy = list, map_copy = map;
  EXPECT_FALSE(list < list_copy);
  EXPECT_FALSE(map < map_copy);
  EncodableMap keys{{list, EncodableValue(1)}, {map, EncodableValue(2)}};
  EXPECT_EQ(keys.count(list_copy), 1u);
  EXPECT_EQ(keys.count(map_copy), 1u);
}

TEST(EncodableValueTest, MapKeysAreOrderedAndLookedUpByValue) {
  EncodableMap map;
  map[EncodableValue("b")] = EncodableValue(1);
  map[EncodableValue("a")] = EncodableValue(2);
  map[EncodableValue(int64_t{5})] = EncodableValue(3);
  map[EncodableValue(int32_t{5})] = EncodableValue(4);
  ASSERT_EQ(map.size(), 4u);
  std::vector<EncodableValue> keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<EncodableValue>{EncodableValue(int32_t{5}), EncodableValue(int64_t{5}),
                                               EncodableValue("a"), EncodableValue("b")}));
  EXPECT_EQ(map.count(EncodableValue("serverName")), 0u);
  EXPECT_EQ(map.find(EncodableValue("5")), map.end());
  EXPECT_EQ(map.at(EncodableValue(int64_t{5})), EncodableValue(3));
}

}  // namespace
}  // namespace flutter
