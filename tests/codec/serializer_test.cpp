#include "codec/standard_codec_serializer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/codec/codec_test_helpers.h"
#include "tests/support/stderr_capture.h"

namespace flutter {
namespace {

using namespace std::string_literals;
using talvor::test::Bytes;
using talvor::test::Decode;
using talvor::test::Encode;
using talvor::test::Identical;
using talvor::test::StderrCapture;

// Encodes `value`, compares the bytes, decodes them back and compares the
// value; no diagnostics either way.
void ExpectWire(const EncodableValue& value, const std::vector<uint8_t>& wire) {
  StderrCapture capture;
  EXPECT_EQ(Encode(value), wire);
  const talvor::test::Decoded decoded = Decode(wire);
  EXPECT_TRUE(Identical(decoded.value, value)) << testing::PrintToString(decoded.value);
  EXPECT_EQ(decoded.bytes_left, 0u);
  EXPECT_EQ(capture.Finish(), "");
}

TEST(StandardCodecSerializerTest, ScalarsAndStrings) {
  ExpectWire(EncodableValue(), Bytes("00"));
  ExpectWire(EncodableValue(true), Bytes("01"));
  ExpectWire(EncodableValue(false), Bytes("02"));
  ExpectWire(EncodableValue(int32_t{-2}), Bytes("03 FE FF FF FF"));
  ExpectWire(EncodableValue(int64_t{-1}), Bytes("04 FF FF FF FF FF FF FF FF"));
  ExpectWire(EncodableValue(int64_t{0x0102030405060708}), Bytes("04 08 07 06 05 04 03 02 01"));
  ExpectWire(EncodableValue(1.5), Bytes("06 00 00 00 00 00 00 00 00 00 00 00 00 00 F8 3F"));
  ExpectWire(EncodableValue("abc"), Bytes("07 03 61 62 63"));
  ExpectWire(EncodableValue(""), Bytes("07 00"));
  ExpectWire(EncodableValue("a\0b"s), Bytes("07 03 61 00 62"));
  ExpectWire(EncodableValue("\xD0\xAF"), Bytes("07 02 D0 AF"));  // UTF-8 passes untouched
  ExpectWire(EncodableValue(std::vector<uint8_t>{1, 255}), Bytes("08 02 01 FF"));
}

TEST(StandardCodecSerializerTest, TypedListsAndNesting) {
  ExpectWire(EncodableValue(std::vector<int32_t>{1}), Bytes("09 01 00 00 01 00 00 00"));
  ExpectWire(EncodableValue(std::vector<int64_t>{-2}), Bytes("0A 01 00 00 00 00 00 00 FE FF FF FF FF FF FF FF"));
  ExpectWire(EncodableValue(std::vector<double>{1.5}), Bytes("0B 01 00 00 00 00 00 00 00 00 00 00 00 00 F8 3F"));
  ExpectWire(EncodableValue(std::vector<float>{1.5f}), Bytes("0E 01 00 00 00 00 C0 3F"));
  ExpectWire(EncodableValue(EncodableList{EncodableValue(1), EncodableValue("a")}),
             Bytes("0C 02 03 01 00 00 00 07 01 61"));
  // Entries go out in key order, whatever the order of insertion.
  EncodableMap map;
  map[EncodableValue("b")] = EncodableValue(1);
  map[EncodableValue("a")] = EncodableValue(true);
  ExpectWire(EncodableValue(map), Bytes("0D 02 07 01 61 01 07 01 62 03 01 00 00 00"));
  // Padding inside a list counts from the start of the message.
  ExpectWire(EncodableValue(EncodableList{EncodableValue(0.0)}), Bytes("0C 01 06 00 00 00 00 00 00 00 00 00 00 00 00 00"));
}

// An empty typed list is padded after its count like any other, since the
// reader aligns there whatever the count; the peer's view of this is in
// peer_reader_test.cpp.
TEST(StandardCodecSerializerTest, EmptyTypedListsArePaddedAfterTheirCount) {
  ExpectWire(EncodableValue(EncodableList{EncodableValue(std::vector<float>{}), EncodableValue(true)}),
             Bytes("0C 02 0E 00 01"));
  ExpectWire(EncodableValue(EncodableList{EncodableValue(std::vector<int64_t>{}), EncodableValue(true)}),
             Bytes("0C 02 0A 00 00 00 00 00 01"));
  ExpectWire(EncodableValue(EncodableList{EncodableValue(true), EncodableValue(std::vector<int32_t>{}),
                                          EncodableValue("abc"), EncodableValue(7)}),
             Bytes("0C 04 01 09 00 00 00 00 07 03 61 62 63 03 07 00 00 00"));
}

TEST(StandardCodecSerializerTest, FloatingPointKeepsItsBits) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const EncodableValue& value :
       {EncodableValue(nan), EncodableValue(-0.0), EncodableValue(std::numeric_limits<double>::infinity()),
        EncodableValue(std::numeric_limits<double>::denorm_min()), EncodableValue(std::vector<double>{nan, -0.0}),
        EncodableValue(std::vector<float>{std::numeric_limits<float>::quiet_NaN(), -0.0f})}) {
    EXPECT_TRUE(Identical(Decode(Encode(value)).value, value)) << value.index();
  }
}

TEST(StandardCodecSerializerTest, SizeBoundaries) {
  struct Boundary {
    size_t size;
    std::vector<uint8_t> header;
  };
  const std::vector<Boundary> boundaries = {{253, Bytes("FD")},
                                            {254, Bytes("FE FE 00")},
                                            {65535, Bytes("FE FF FF")},
                                            {65536, Bytes("FF 00 00 01 00")}};
  for (const Boundary& boundary : boundaries) {
    SCOPED_TRACE(boundary.size);
    auto expect_header = [&](const EncodableValue& value, uint8_t type) {
      const std::vector<uint8_t> bytes = Encode(value);
      ASSERT_GT(bytes.size(), boundary.header.size());
      EXPECT_EQ(bytes[0], type);
      EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1, bytes.begin() + 1 + boundary.header.size()), boundary.header);
      const talvor::test::Decoded decoded = Decode(bytes);
      EXPECT_TRUE(Identical(decoded.value, value));
      EXPECT_EQ(decoded.bytes_left, 0u);
    };
    std::string string(boundary.size, 'x');
    string.back() = 'y';
    expect_header(EncodableValue(string), 7);
    EXPECT_EQ(Encode(EncodableValue(string)).size(), 1 + boundary.header.size() + boundary.size);
    expect_header(EncodableValue(std::vector<uint8_t>(boundary.size, 7)), 8);
    expect_header(EncodableValue(std::vector<int32_t>(boundary.size, -3)), 9);
    expect_header(EncodableValue(std::vector<int64_t>(boundary.size, -3)), 10);
    expect_header(EncodableValue(std::vector<double>(boundary.size, 0.5)), 11);
    expect_header(EncodableValue(std::vector<float>(boundary.size, 0.5f)), 14);
    expect_header(EncodableValue(EncodableList(boundary.size, EncodableValue(true))), 12);
    EncodableMap map;
    for (size_t i = 0; i < boundary.size; ++i) map[EncodableValue(static_cast<int32_t>(i))] = EncodableValue();
    expect_header(EncodableValue(map), 13);
  }
}

TEST(StandardCodecSerializerTest, LongSizeFormsHoldingSmallNumbersAreAccepted) {
  EXPECT_EQ(Decode(Bytes("07 FE 01 00 61")).value, EncodableValue("a"));
  EXPECT_EQ(Decode(Bytes("07 FF 01 00 00 00 61")).value, EncodableValue("a"));
  EXPECT_EQ(Decode(Bytes("05 03 31 32 33")).value, EncodableValue("123"));
}

// Padding counts from the first byte of the message: each value written after
// 0 to 7 bytes of something else, as its bytes from its type byte on.
TEST(StandardCodecSerializerTest, AlignmentCountsFromTheStartOfTheMessage) {
  struct Case {
    EncodableValue value;
    std::array<const char*, 8> wire_at_offset;
  };
  const std::vector<Case> cases = {
      {EncodableValue(1.5),
       {"06 00 00 00 00 00 00 00 00 00 00 00 00 00 F8 3F",
        "06 00 00 00 00 00 00 00 00 00 00 00 00 F8 3F",
        "06 00 00 00 00 00 00 00 00 00 00 00 F8 3F",
        "06 00 00 00 00 00 00 00 00 00 00 F8 3F",
        "06 00 00 00 00 00 00 00 00 00 F8 3F",
        "06 00 00 00 00 00 00 00 00 F8 3F",
        "06 00 00 00 00 00 00 00 F8 3F",
        "06 00 00 00 00 00 00 F8 3F"}},
      {EncodableValue(std::vector<int32_t>{1, -1}),
       {"09 02 00 00 01 00 00 00 FF FF FF FF",
        "09 02 00 01 00 00 00 FF FF FF FF",
        "09 02 01 00 00 00 FF FF FF FF",
        "09 02 00 00 00 01 00 00 00 FF FF FF FF",
        "09 02 00 00 01 00 00 00 FF FF FF FF",
        "09 02 00 01 00 00 00 FF FF FF FF",
        "09 02 01 00 00 00 FF FF FF FF",
        "09 02 00 00 00 01 00 00 00 FF FF FF FF"}},
      {EncodableValue(std::vector<int64_t>{-2}),
       {"0A 01 00 00 00 00 00 00 FE FF FF FF FF FF FF FF",
        "0A 01 00 00 00 00 00 FE FF FF FF FF FF FF FF",
        "0A 01 00 00 00 00 FE FF FF FF FF FF FF FF",
        "0A 01 00 00 00 FE FF FF FF FF FF FF FF",
        "0A 01 00 00 FE FF FF FF FF FF FF FF",
        "0A 01 00 FE FF FF FF FF FF FF FF",
        "0A 01 FE FF FF FF FF FF FF FF",
        "0A 01 00 00 00 00 00 00 00 FE FF FF FF FF FF FF FF"}},
      {EncodableValue(std::vector<double>{0.5}),
       {"0B 01 00 00 00 00 00 00 00 00 00 00 00 00 E0 3F",
        "0B 01 00 00 00 00 00 00 00 00 00 00 00 E0 3F",
        "0B 01 00 00 00 00 00 00 00 00 00 00 E0 3F",
        "0B 01 00 00 00 00 00 00 00 00 00 E0 3F",
        "0B 01 00 00 00 00 00 00 00 00 E0 3F",
        "0B 01 00 00 00 00 00 00 00 E0 3F",
        "0B 01 00 00 00 00 00 00 E0 3F",
        "0B 01 00 00 00 00 00 00 00 00 00 00 00 00 00 E0 3F"}},
      {EncodableValue(std::vector<float>{1.5f}),
       {"0E 01 00 00 00 00 C0 3F",
        "0E 01 00 00 00 C0 3F",
        "0E 01 00 00 C0 3F",
        "0E 01 00 00 00 00 00 C0 3F",
        "0E 01 00 00 00 00 C0 3F",
        "0E 01 00 00 00 C0 3F",
        "0E 01 00 00 C0 3F",
        "0E 01 00 00 00 00 00 C0 3F"}},
      {EncodableValue(std::vector<int32_t>{}),
       {"09 00 00 00",
        "09 00 00",
        "09 00",
        "09 00 00 00 00",
        "09 00 00 00",
        "09 00 00",
        "09 00",
        "09 00 00 00 00"}},
      {EncodableValue(std::vector<int64_t>{}),
       {"0A 00 00 00 00 00 00 00",
        "0A 00 00 00 00 00 00",
        "0A 00 00 00 00 00",
        "0A 00 00 00 00",
        "0A 00 00 00",
        "0A 00 00",
        "0A 00",
        "0A 00 00 00 00 00 00 00 00"}},
      {EncodableValue(std::vector<double>{}),
       {"0B 00 00 00 00 00 00 00",
        "0B 00 00 00 00 00 00",
        "0B 00 00 00 00 00",
        "0B 00 00 00 00",
        "0B 00 00 00",
        "0B 00 00",
        "0B 00",
        "0B 00 00 00 00 00 00 00 00"}},
      {EncodableValue(std::vector<float>{}),
       {"0E 00 00 00",
        "0E 00 00",
        "0E 00",
        "0E 00 00 00 00",
        "0E 00 00 00",
        "0E 00 00",
        "0E 00",
        "0E 00 00 00 00"}},
  };
  for (const Case& c : cases) {
    for (size_t offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE(testing::Message() << "alternative " << c.value.index() << ", offset " << offset);
      const std::vector<uint8_t> bytes = Encode(c.value, offset);
      EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end()),
                Bytes(c.wire_at_offset[offset]));
      const talvor::test::Decoded decoded = Decode(bytes, offset);
      EXPECT_TRUE(Identical(decoded.value, c.value));
      EXPECT_EQ(decoded.bytes_left, 0u);
    }
  }
}

TEST(StandardCodecSerializerTest, CustomValuesAreWrittenAsNull) {
  const EncodableValue list(EncodableList{EncodableValue(1), EncodableValue(CustomEncodableValue(std::any(2.0))),
                                          EncodableValue(3)});
  StderrCapture capture;
  EXPECT_EQ(Encode(list), Bytes("0C 03 03 01 00 00 00 00 03 03 00 00 00"));
  EXPECT_THAT(capture.Lines(), testing::ElementsAre("Unhandled custom type in StandardCodecSerializer::WriteValue. "
                                                    "Custom types require codec extensions."));
}

// A serializer that claims a type byte of its own for custom values, to show
// that nested values go through the overridable operations.
class PointSerializer : public StandardCodecSerializer {
 public:
  struct Point {
    int32_t x;
  };
  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const override {
    if (const auto* custom = std::get_if<CustomEncodableValue>(&value)) {
      stream->WriteByte(128);
      WriteValue(EncodableValue(std::any_cast<Point>(custom->value()).x), stream);
      return;
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    if (type != 128) return StandardCodecSerializer::ReadValueOfType(type, stream);
    return EncodableValue(CustomEncodableValue(std::any(Point{std::get<int32_t>(ReadValue(stream))})));
  }
};

TEST(StandardCodecSerializerTest, DerivedSerializersTakePartAtEveryDepth) {
  const PointSerializer serializer;
  EncodableMap map{{EncodableValue("p"), EncodableValue(CustomEncodableValue(std::any(PointSerializer::Point{7})))}};
  const EncodableValue value(EncodableList{EncodableValue(map)});
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(value, &writer);
  EXPECT_EQ(bytes, Bytes("0C 01 0D 01 07 01 70 80 03 07 00 00 00"));
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  const EncodableValue decoded = serializer.ReadValue(&reader);
  const EncodableMap& decoded_map = std::get<EncodableMap>(std::get<EncodableList>(decoded)[0]);
  const auto& point = std::get<CustomEncodableValue>(decoded_map.at(EncodableValue("p")));
  EXPECT_EQ(std::any_cast<PointSerializer::Point>(point.value()).x, 7);
}

// A writer of our own that is not the buffer writer, so that the serializer
// goes through the virtual operations for every byte.
class PlainWriter : public ByteStreamWriter {
 public:
  explicit PlainWriter(std::vector<uint8_t>* bytes) : bytes_(bytes) {}
  void WriteByte(uint8_t byte) override { bytes_->push_back(byte); }
  void WriteBytes(const uint8_t* bytes, size_t length) override { bytes_->insert(bytes_->end(), bytes, bytes + length); }
  void WriteAlignment(uint8_t alignment) override {
    while (bytes_->size() % alignment != 0) bytes_->push_back(0);
  }

 private:
  std::vector<uint8_t>* bytes_;
};

// The buffer streams take a path without virtual calls; any other stream
// goes through the virtual operations, whether or not it tells its size.
// All give the same bytes and values.
TEST(StandardCodecSerializerTest, OtherStreamsGiveTheSameBytesAndValues) {
  const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
  talvor::test::RandomValues random(4711);
  StderrCapture capture;
  for (int round = 0; round < 300; ++round) {
    const EncodableValue value = random.Next(4);
    const size_t offset = static_cast<size_t>(round % 8);
    std::vector<uint8_t> plain(offset, 0xAA);
    PlainWriter writer(&plain);
    serializer.WriteValue(value, &writer);
    ASSERT_EQ(plain, Encode(value, offset)) << "round " << round;

    for (bool tells_size : {true, false}) {
      talvor::test::VectorStreamReader reader(plain, tells_size);
      std::vector<uint8_t> skipped(offset);
      reader.ReadBytes(skipped.data(), offset);
      ASSERT_TRUE(Identical(serializer.ReadValue(&reader), value)) << "round " << round << ", size told " << tells_size;
      ASSERT_EQ(reader.Left(), 0u) << "round " << round << ", size told " << tells_size;
    }
  }
  EXPECT_EQ(capture.Finish(), "");
}

TEST(StandardCodecSerializerTest, RandomNestedValuesRoundTripAtEveryOffset) {
  talvor::test::RandomValues random(20240607);
  StderrCapture capture;
  for (int round = 0; round < 400; ++round) {
    const EncodableValue value = random.Next(4);
    const size_t offset = static_cast<size_t>(round % 8);
    const std::vector<uint8_t> bytes = Encode(value, offset);
    const talvor::test::Decoded decoded = Decode(bytes, offset);
    ASSERT_TRUE(Identical(decoded.value, value)) << "round " << round;
    ASSERT_EQ(decoded.bytes_left, 0u) << "round " << round;
    ASSERT_EQ(Encode(decoded.value, offset), bytes) << "round " << round;
  }
  EXPECT_EQ(capture.Finish(), "");
}

}  // namespace
}  // namespace flutter
