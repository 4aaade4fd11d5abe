// Truncated and corrupt input: exact diagnostics, zeros and nulls in place of
// what is missing, and the bounds that keep a corrupt size or deep nesting
// from exhausting memory or the stack. Each case runs on every path it
// applies to (see ReadPath): the standard serializer's own buffer path, a
// derived serializer, and, unless it is about a size held against the
// message, a stream that does not tell its size.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/standard_codec_serializer.h"
#include "tests/codec/codec_test_helpers.h"
#include "tests/support/stderr_capture.h"

namespace flutter {
namespace {

using namespace std::string_literals;
using talvor::test::Bytes;
using talvor::test::Encode;
using talvor::test::ReadPath;
using talvor::test::StderrCapture;
using testing::ElementsAre;
using testing::Each;

const char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader";
const char kTooDeep[] =
    "Nesting too deep in StandardCodecSerializer::ReadValueOfType: more than 256 lists and maps";
constexpr size_t kSlack = StandardCodecSerializer::kSizeSlack;
constexpr size_t kMissing = StandardCodecSerializer::kMissingElementsSlack;

struct Outcome {
  EncodableValue value;
  std::vector<std::string> lines;
};

class ReadPathTest : public testing::TestWithParam<ReadPath> {
 protected:
  Outcome DecodeCapturing(const std::vector<uint8_t>& bytes) const {
    StderrCapture capture;
    Outcome outcome;
    outcome.value = talvor::test::DecodeVia(GetParam(), bytes).value;
    outcome.lines = capture.Lines();
    return outcome;
  }
};

std::string PathName(const testing::TestParamInfo<ReadPath>& info) {
  std::string name;
  for (const char c : std::string(talvor::test::NameOf(info.param))) {
    if (c != ' ') name += c;
  }
  return name;
}

// Cases that hold on every path.
class CorruptInputTest : public ReadPathTest {};
INSTANTIATE_TEST_SUITE_P(EveryPath, CorruptInputTest, testing::ValuesIn(talvor::test::kEveryReadPath), PathName);

// Declared sizes held against the message: only where its size is known.
class DeclaredSizeTest : public ReadPathTest {};
INSTANTIATE_TEST_SUITE_P(SizeKnown, DeclaredSizeTest, testing::ValuesIn(talvor::test::kReadPathsThatKnowTheSize), PathName);

TEST_P(CorruptInputTest, MissingBytesReadAsZerosWithOneLinePerRefusedRead) {
  Outcome outcome = DecodeCapturing({});
  EXPECT_TRUE(outcome.value.IsNull());
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));

  outcome = DecodeCapturing(Bytes("03 01"));
  EXPECT_EQ(outcome.value, EncodableValue(int32_t{0}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));

  outcome = DecodeCapturing(Bytes("07 05 61"));
  EXPECT_EQ(outcome.value, EncodableValue("\0\0\0\0\0"s));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));

  outcome = DecodeCapturing(Bytes("0A 02 00 00 00 00 00 00 01"));
  EXPECT_EQ(outcome.value, EncodableValue(std::vector<int64_t>{0, 0}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));

  // A list keeps its count: its missing elements read as null.
  outcome = DecodeCapturing(Bytes("0C 03 01"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{EncodableValue(true), EncodableValue(), EncodableValue()}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead, kInvalidRead));
}

// The bytes after a size that does not fit belong to that value, so they are
// never read again as further values: here a payload short of bytes, below
// one refused outright for overrunning the message by more than the slack.
TEST_P(CorruptInputTest, NothingIsReadAfterAPayloadThatRunsPastTheEnd) {
  const Outcome outcome = DecodeCapturing(Bytes("0C 02 07 05 61 62"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{EncodableValue("\0\0\0\0\0"s), EncodableValue()}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead, kInvalidRead));
}

TEST_P(DeclaredSizeTest, NothingIsReadAfterAPayloadRefusedForItsSize) {
  // A string of 0x20000 bytes with one byte present.
  Outcome outcome = DecodeCapturing(Bytes("0C 02 07 FF 00 00 02 00 01"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{EncodableValue(""), EncodableValue()}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead, kInvalidRead));
  outcome = DecodeCapturing(Bytes("0C 02 08 FF 00 00 02 00 01"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{EncodableValue(std::vector<uint8_t>{}), EncodableValue()}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead, kInvalidRead));
  outcome = DecodeCapturing(Bytes("0C 02 09 FF 00 00 02 00 00 00 01"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{EncodableValue(std::vector<int32_t>{}), EncodableValue()}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead, kInvalidRead));
  // A list of 255 elements with one byte present.
  outcome = DecodeCapturing(Bytes("0C 02 0C FE FF 00 01"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{EncodableValue(EncodableList{}), EncodableValue()}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead, kInvalidRead));
}

// A stream that keeps its size to itself gives nothing to hold a declared
// size against: the string has its 0x20000 bytes, zeros as they are missing.
TEST(StreamOfUnknownSizeTest, DeclaredSizesAreTakenOnTrust) {
  StderrCapture capture;
  const EncodableValue value =
      talvor::test::DecodeVia(ReadPath::kStreamOfUnknownSize, Bytes("0C 02 07 FF 00 00 02 00 01")).value;
  EXPECT_EQ(value, EncodableValue(EncodableList{EncodableValue(std::string(0x20000, '\0')), EncodableValue()}));
  EXPECT_THAT(capture.Lines(), ElementsAre(kInvalidRead, kInvalidRead));
}

// Bytes held by a decoded value: string and list contents, all the way down.
size_t PayloadBytes(const EncodableValue& value) {
  switch (value.index()) {
    case 5: return std::get<std::string>(value).size();
    case 6: return std::get<std::vector<uint8_t>>(value).size();
    case 7: return 4 * std::get<std::vector<int32_t>>(value).size();
    case 8: return 8 * std::get<std::vector<int64_t>>(value).size();
    case 9: return 8 * std::get<std::vector<double>>(value).size();
    case 13: return 4 * std::get<std::vector<float>>(value).size();
    case 10: {
      size_t bytes = 0;
      for (const EncodableValue& element : std::get<EncodableList>(value)) bytes += PayloadBytes(element);
      return bytes;
    }
    case 11: {
      size_t bytes = 0;
      for (const auto& [key, entry] : std::get<EncodableMap>(value)) bytes += PayloadBytes(key) + PayloadBytes(entry);
      return bytes;
    }
    default: return 0;
  }
}

// A list of 2 000 strings, each declaring as many bytes as follow its header
// plus the slack: every one of them overruns the message by exactly as much as
// is tolerated. The slack is granted once for the whole message.
TEST_P(DeclaredSizeTest, ManyOverlongStringsHoldAtMostTheMessageAndTheSlack) {
  constexpr size_t kStrings = 2000;
  constexpr size_t kHeader = 6;  // 07 FF and four bytes of size
  std::vector<uint8_t> bytes = Bytes("0C FE D0 07");
  for (size_t i = 0; i < kStrings; ++i) {
    const size_t after_header = (kStrings - 1 - i) * kHeader;
    const uint32_t declared = static_cast<uint32_t>(after_header + kSlack);
    bytes.insert(bytes.end(), {0x07, 0xFF, static_cast<uint8_t>(declared), static_cast<uint8_t>(declared >> 8),
                               static_cast<uint8_t>(declared >> 16), static_cast<uint8_t>(declared >> 24)});
  }
  ASSERT_EQ(bytes.size(), 4 + kStrings * kHeader);
  const Outcome outcome = DecodeCapturing(bytes);
  EXPECT_LE(PayloadBytes(outcome.value), bytes.size() + kSlack);
  EXPECT_THAT(outcome.lines, Each(kInvalidRead));
}

TEST_P(CorruptInputTest, UnknownTypesReadAsNullAndConsumeOnlyTheirTypeByte) {
  Outcome outcome = DecodeCapturing(Bytes("80"));
  EXPECT_TRUE(outcome.value.IsNull());
  EXPECT_THAT(outcome.lines, ElementsAre("Unknown type in StandardCodecSerializer::ReadValueOfType: 128"));

  outcome = DecodeCapturing(Bytes("0C 02 0F 01"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{EncodableValue(), EncodableValue(true)}));
  EXPECT_THAT(outcome.lines, ElementsAre("Unknown type in StandardCodecSerializer::ReadValueOfType: 15"));
}

TEST_P(CorruptInputTest, TheFirstOccurrenceOfAKeyWins) {
  const Outcome outcome = DecodeCapturing(Bytes("0D 03 07 01 61 03 01 00 00 00 07 01 61 01 04 05 00 00 00 00 00 00 00 02"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(int32_t{1})},
                                                       {EncodableValue(int64_t{5}), EncodableValue(false)}}));
  EXPECT_TRUE(outcome.lines.empty());
}

TEST_P(CorruptInputTest, EveryTruncationOfAMessageDecodesWithDiagnostics) {
  EncodableMap map{{EncodableValue("list"), EncodableValue(EncodableList{EncodableValue(1.5), EncodableValue("abc")})},
                   {EncodableValue("ints"), EncodableValue(std::vector<int64_t>{1, 2})},
                   {EncodableValue("floats"), EncodableValue(std::vector<float>{0.5f})},
                   {EncodableValue(int32_t{7}), EncodableValue(std::vector<uint8_t>{1, 2, 3})}};
  const std::vector<uint8_t> whole = Encode(EncodableValue(map));
  for (size_t length = 0; length < whole.size(); ++length) {
    // A copy of exactly `length` bytes, so that AddressSanitizer sees any
    // read past it.
    const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + length);
    const Outcome outcome = DecodeCapturing(prefix);
    EXPECT_FALSE(outcome.lines.empty()) << length;
    EXPECT_THAT(outcome.lines, Each(kInvalidRead)) << length;
  }
}

// Any single corrupted byte: decoding completes, says only what the decoder
// can say, and holds no more than the message and the slack.
TEST_P(DeclaredSizeTest, CorruptedBytesDecodeWithinTheBoundAndKnownDiagnostics) {
  const EncodableValue value(EncodableList{
      EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(std::vector<double>{1, 2})}}),
      EncodableValue(std::vector<int32_t>{1, 2, 3}), EncodableValue("text"), EncodableValue(int64_t{-1})});
  const std::vector<uint8_t> whole = Encode(value);
  const testing::Matcher<std::string> known_line =
      testing::AnyOf(kInvalidRead, testing::StartsWith("Unknown type in StandardCodecSerializer::ReadValueOfType: "));
  size_t decodes_with_diagnostics = 0;
  for (size_t position = 0; position < whole.size(); ++position) {
    for (uint8_t replacement : {0x00, 0x05, 0x0C, 0x0D, 0x7F, 0xFE, 0xFF}) {
      std::vector<uint8_t> corrupt = whole;
      corrupt[position] = replacement;
      const Outcome outcome = DecodeCapturing(corrupt);
      EXPECT_LE(PayloadBytes(outcome.value), corrupt.size() + kSlack) << position << " " << int{replacement};
      EXPECT_THAT(outcome.lines, Each(known_line)) << position << " " << int{replacement};
      if (!outcome.lines.empty()) ++decodes_with_diagnostics;
    }
  }
  EXPECT_GT(decodes_with_diagnostics, whole.size()) << "the corruptions should mostly be noticed";
}

// A string value declaring `declared` bytes of which `present` follow.
std::vector<uint8_t> StringDeclaring(uint32_t declared, size_t present) {
  std::vector<uint8_t> bytes = Bytes("07 FF");
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(declared >> shift));
  bytes.resize(bytes.size() + present, 'z');
  return bytes;
}

TEST_P(DeclaredSizeTest, PayloadsMayOverrunTheMessageOnlyBySlack) {
  // At the limit the declared length stands, filled with zeros.
  Outcome outcome = DecodeCapturing(StringDeclaring(10 + kSlack, 10));
  EXPECT_EQ(outcome.value, EncodableValue(std::string(10 + kSlack, '\0')));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
  // One byte past it the value is empty, and nothing of that size is made.
  outcome = DecodeCapturing(StringDeclaring(11 + kSlack, 10));
  EXPECT_EQ(outcome.value, EncodableValue(""));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
  outcome = DecodeCapturing(Bytes("07 FF FF FF FF FF"));
  EXPECT_EQ(outcome.value, EncodableValue(""));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
  outcome = DecodeCapturing(Bytes("08 FF FF FF FF FF"));
  EXPECT_EQ(outcome.value, EncodableValue(std::vector<uint8_t>{}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));

  // Typed lists count their payload in bytes, after the alignment:
  // 0A FF nn nn nn nn, two padding bytes, then 8 bytes present.
  auto int64_list = [](uint32_t count) {
    std::vector<uint8_t> bytes = Bytes("0A FF");
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(count >> shift));
    bytes.resize(16, 0);
    return bytes;
  };
  outcome = DecodeCapturing(int64_list(1 + kSlack / 8));
  EXPECT_EQ(outcome.value, EncodableValue(std::vector<int64_t>(1 + kSlack / 8, 0)));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
  outcome = DecodeCapturing(int64_list(2 + kSlack / 8));
  EXPECT_EQ(outcome.value, EncodableValue(std::vector<int64_t>{}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
  outcome = DecodeCapturing(Bytes("0E FF FF FF FF FF"));
  EXPECT_EQ(outcome.value, EncodableValue(std::vector<float>{}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
}

// A list or map header declaring `count` elements, followed by `present`
// one-byte elements (true).
std::vector<uint8_t> CollectionDeclaring(uint8_t type, uint16_t count, size_t present) {
  std::vector<uint8_t> bytes = {type, 0xFE, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)};
  bytes.resize(bytes.size() + present, 0x01);
  return bytes;
}

TEST_P(DeclaredSizeTest, ListsAndMapsMayMissOnlyAFewElements) {
  Outcome outcome = DecodeCapturing(CollectionDeclaring(0x0C, 3 + kMissing, 3));
  EncodableList expected(3, EncodableValue(true));
  expected.resize(3 + kMissing);
  EXPECT_EQ(outcome.value, EncodableValue(expected));
  EXPECT_EQ(outcome.lines, std::vector<std::string>(kMissing, kInvalidRead));

  outcome = DecodeCapturing(CollectionDeclaring(0x0C, 4 + kMissing, 3));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));

  // A map entry takes two bytes: the one present entry (true -> true), then
  // missing entries of null -> null, which collapse into one.
  outcome = DecodeCapturing(CollectionDeclaring(0x0D, 1 + kMissing, 2));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableMap{{EncodableValue(), EncodableValue()},
                                                       {EncodableValue(true), EncodableValue(true)}}));
  EXPECT_EQ(outcome.lines, std::vector<std::string>(2 * kMissing, kInvalidRead));
  outcome = DecodeCapturing(CollectionDeclaring(0x0D, 2 + kMissing, 2));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableMap{{EncodableValue(true), EncodableValue(true)}}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
  outcome = DecodeCapturing(CollectionDeclaring(0x0D, 3 + kMissing, 2));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableMap{}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));

  outcome = DecodeCapturing(Bytes("0C FF FF FF FF FF"));
  EXPECT_EQ(outcome.value, EncodableValue(EncodableList{}));
  EXPECT_THAT(outcome.lines, ElementsAre(kInvalidRead));
}

TEST_P(DeclaredSizeTest, NestedListsCannotEachClaimTheRestOfTheMessage) {
  // 200 lists, each declaring as many elements as bytes follow its header,
  // around 1000 trues. Once the innermost has read them, every enclosing list
  // stops at once instead of adding a thousand nulls each.
  constexpr int kLevels = 200;
  constexpr size_t kTail = 1000;
  std::vector<uint8_t> bytes;
  for (int level = 0; level < kLevels; ++level) {
    const size_t after_header = 4 * static_cast<size_t>(kLevels - 1 - level) + kTail;
    bytes.insert(bytes.end(), {0x0C, 0xFE, static_cast<uint8_t>(after_header), static_cast<uint8_t>(after_header >> 8)});
  }
  bytes.resize(bytes.size() + kTail, 0x01);
  const Outcome outcome = DecodeCapturing(bytes);
  EXPECT_EQ(outcome.lines, std::vector<std::string>(kLevels - 1, kInvalidRead));
  const EncodableValue* level = &outcome.value;
  size_t reserved = std::get<EncodableList>(*level).capacity();
  for (int depth = 1; depth < kLevels; ++depth) {
    level = &std::get<EncodableList>(*level)[0];
    reserved += std::get<EncodableList>(*level).capacity();
  }
  EXPECT_EQ(std::get<EncodableList>(*level).size(), kTail);
  // Nor can they each reserve room for it: the room reserved along the
  // nesting stays within the elements that the bytes can hold, twice over
  // for the innermost list's own growth.
  EXPECT_LE(reserved, 2 * bytes.size());
}

// `depth` lists (or maps with null keys) nested in each other around `true`.
std::vector<uint8_t> Nested(int depth, bool maps) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < depth; ++i) bytes.insert(bytes.end(), maps ? std::initializer_list<uint8_t>{0x0D, 0x01, 0x00}
                                                                 : std::initializer_list<uint8_t>{0x0C, 0x01});
  bytes.push_back(0x01);
  return bytes;
}

int DepthOf(const EncodableValue& value) {
  if (const auto* list = std::get_if<EncodableList>(&value)) return 1 + DepthOf(list->at(0));
  if (const auto* map = std::get_if<EncodableMap>(&value)) return 1 + DepthOf(map->begin()->second);
  return 0;
}

TEST_P(CorruptInputTest, NestingIsBounded) {
  constexpr int kLimit = StandardCodecSerializer::kMaxNestingDepth;
  for (bool maps : {false, true}) {
    SCOPED_TRACE(maps ? "maps" : "lists");
    Outcome outcome = DecodeCapturing(Nested(kLimit, maps));
    EXPECT_EQ(DepthOf(outcome.value), kLimit);
    EXPECT_TRUE(outcome.lines.empty());

    // One past the limit, the innermost collection is null; the enclosing
    // ones complete with it and the bytes after are left unread.
    outcome = DecodeCapturing(Nested(kLimit + 1, maps));
    EXPECT_EQ(DepthOf(outcome.value), kLimit);
    EXPECT_THAT(outcome.lines, ElementsAre(kTooDeep));

    outcome = DecodeCapturing(Nested(100000, maps));
    EXPECT_EQ(DepthOf(outcome.value), kLimit);
    EXPECT_THAT(outcome.lines, ElementsAre(kTooDeep));
  }
}

}  // namespace
}  // namespace flutter
