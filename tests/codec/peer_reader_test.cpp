// What the application on the other side of the engine reads from our bytes.
// The reader here is written from the wire format alone, independently of the
// codec's own reader: it stands for the peer, so that a writer and a reader
// that agree on a mistake cannot hide it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "tests/codec/codec_test_helpers.h"
#include "tests/support/stderr_capture.h"

namespace flutter {
namespace {

using talvor::test::Bytes;
using talvor::test::Encode;
using talvor::test::Identical;

// A strict reader of the wire format: anything it does not expect, a read
// past the end included, is a failure.
class PeerReader {
 public:
  // An empty typed list met on the way: its type byte (9, 10, 11 or 14) and
  // the offset of that byte in the message.
  struct EmptyTypedList {
    uint8_t type;
    size_t offset;
  };

  explicit PeerReader(const std::vector<uint8_t>& bytes, size_t start = 0)
      : bytes_(bytes), position_(start) {}

  std::optional<EncodableValue> ReadValue() {
    if (failed_) return std::nullopt;
    const size_t offset = position_;
    const uint8_t type = Byte();
    switch (type) {
      case 0: return EncodableValue();
      case 1: return EncodableValue(true);
      case 2: return EncodableValue(false);
      case 3: return EncodableValue(static_cast<int32_t>(Unsigned(4)));
      case 4: return EncodableValue(static_cast<int64_t>(Unsigned(8)));
      case 6: {
        Align(8);
        return EncodableValue(BitsAs<double>(Unsigned(8)));
      }
      case 5:
      case 7: {
        const size_t size = Size();
        std::string text;
        for (size_t i = 0; i < size; ++i) text.push_back(static_cast<char>(Byte()));
        return EncodableValue(text);
      }
      case 8: {
        const size_t size = Size();
        std::vector<uint8_t> list;
        for (size_t i = 0; i < size; ++i) list.push_back(Byte());
        return EncodableValue(list);
      }
      case 9: return TypedList<int32_t>(type, offset, [this] { return static_cast<int32_t>(Unsigned(4)); });
      case 10: return TypedList<int64_t>(type, offset, [this] { return static_cast<int64_t>(Unsigned(8)); });
      case 11: return TypedList<double>(type, offset, [this] { return BitsAs<double>(Unsigned(8)); });
      case 14: return TypedList<float>(type, offset, [this] { return BitsAs<float>(static_cast<uint32_t>(Unsigned(4))); });
      case 12: {
        const size_t size = Size();
        EncodableList list;
        for (size_t i = 0; i < size && !failed_; ++i) list.push_back(ReadValue().value_or(EncodableValue()));
        return EncodableValue(list);
      }
      case 13: {
        const size_t size = Size();
        EncodableMap map;
        for (size_t i = 0; i < size && !failed_; ++i) {
          EncodableValue key = ReadValue().value_or(EncodableValue());
          EncodableValue value = ReadValue().value_or(EncodableValue());
          if (!map.emplace(key, value).second) Fail("duplicate key");
        }
        return EncodableValue(map);
      }
      default:
        Fail("type byte " + std::to_string(type));
        return std::nullopt;
    }
  }

  bool failed() const { return failed_; }
  const std::string& failure() const { return failure_; }
  bool AtEnd() const { return position_ == bytes_.size(); }
  const std::vector<EmptyTypedList>& empty_typed_lists() const { return empty_typed_lists_; }

 private:
  void Fail(const std::string& why) {
    if (!failed_) failure_ = why + " at " + std::to_string(position_);
    failed_ = true;
  }

  uint8_t Byte() {
    if (position_ >= bytes_.size()) {
      Fail("read past the end");
      return 0;
    }
    return bytes_[position_++];
  }

  // Little-endian, `count` bytes.
  uint64_t Unsigned(int count) {
    uint64_t number = 0;
    for (int i = 0; i < count; ++i) number |= static_cast<uint64_t>(Byte()) << (8 * i);
    return number;
  }

  size_t Size() {
    const uint8_t first = Byte();
    if (first < 254) return first;
    return static_cast<size_t>(Unsigned(first == 254 ? 2 : 4));
  }

  // Padding is zeros, counted from the first byte of the message.
  void Align(size_t alignment) {
    while (position_ % alignment != 0) {
      if (Byte() != 0) Fail("padding that is not zero");
    }
  }

  template <typename T, typename Bits>
  static T BitsAs(Bits bits) {
    static_assert(sizeof(T) == sizeof(Bits), "same width");
    T number;
    std::memcpy(&number, &bits, sizeof number);
    return number;
  }

  template <typename T, typename ReadElement>
  EncodableValue TypedList(uint8_t type, size_t offset, ReadElement read) {
    const size_t size = Size();
    Align(sizeof(T));
    std::vector<T> list;
    for (size_t i = 0; i < size; ++i) list.push_back(read());
    if (size == 0) empty_typed_lists_.push_back({type, offset});
    return EncodableValue(list);
  }

  const std::vector<uint8_t>& bytes_;
  size_t position_;
  bool failed_ = false;
  std::string failure_;
  std::vector<EmptyTypedList> empty_typed_lists_;
};

// The list [true, Int32List[], "abc", 7]: padded after the empty list's count
// like after any other, so the string and the integer read back.
TEST(PeerReaderTest, AnEmptyTypedListIsPaddedLikeAnyOther) {
  const EncodableValue value(EncodableList{EncodableValue(true), EncodableValue(std::vector<int32_t>{}),
                                           EncodableValue("abc"), EncodableValue(7)});
  const std::vector<uint8_t> wire = Bytes("0C 04 01 09 00 00 00 00 07 03 61 62 63 03 07 00 00 00");
  EXPECT_EQ(Encode(value), wire);
  PeerReader peer(wire);
  const std::optional<EncodableValue> read = peer.ReadValue();
  ASSERT_FALSE(peer.failed()) << peer.failure();
  EXPECT_TRUE(peer.AtEnd());
  EXPECT_EQ(read, value);
  talvor::test::StderrCapture capture;
  EXPECT_EQ(talvor::test::Decode(wire).value, value);
  EXPECT_EQ(capture.Finish(), "");
}

// One empty typed list of `type` (9, 10, 11 or 14).
EncodableValue EmptyTypedList(uint8_t type) {
  switch (type) {
    case 9: return EncodableValue(std::vector<int32_t>{});
    case 10: return EncodableValue(std::vector<int64_t>{});
    case 11: return EncodableValue(std::vector<double>{});
    default: return EncodableValue(std::vector<float>{});
  }
}

constexpr std::array<uint8_t, 4> kTypedListTypes = {9, 10, 11, 14};

// Random nested values, each written `offset` bytes into a message and
// followed by one more value, so that an empty typed list always has bytes
// after it; some are lists that start with an empty typed list so that every
// kind is met at every offset. The peer must read back exactly what was
// written, and so must our own reader.
TEST(PeerReaderTest, RandomValuesWithEmptyTypedListsReadBackEqualAtEveryOffset) {
  talvor::test::RandomValues random(77031);
  const EncodableValue after("after");
  // met[kind][offset % 8]: an empty typed list of that kind started there.
  bool met[4][8] = {};
  talvor::test::StderrCapture capture;
  for (int round = 0; round < 2000; ++round) {
    const size_t offset = static_cast<size_t>(round % 8);
    EncodableValue value = random.Next(4);
    if (round % 3 == 0) {
      value = EncodableValue(EncodableList{EmptyTypedList(kTypedListTypes[static_cast<size_t>(round / 8 % 4)]),
                                           std::move(value), random.Next(2)});
    }
    std::vector<uint8_t> bytes = Encode(value, offset);
    const std::vector<uint8_t> tail = Encode(after, bytes.size());
    bytes.insert(bytes.end(), tail.begin() + static_cast<std::ptrdiff_t>(bytes.size()), tail.end());

    PeerReader peer(bytes, offset);
    const std::optional<EncodableValue> read = peer.ReadValue();
    const std::optional<EncodableValue> read_after = peer.ReadValue();
    ASSERT_FALSE(peer.failed()) << "round " << round << ": " << peer.failure();
    ASSERT_TRUE(peer.AtEnd()) << "round " << round;
    ASSERT_TRUE(Identical(*read, value)) << "round " << round;
    ASSERT_EQ(read_after, after) << "round " << round;
    for (const PeerReader::EmptyTypedList& list : peer.empty_typed_lists()) {
      const auto kind = std::find(kTypedListTypes.begin(), kTypedListTypes.end(), list.type) - kTypedListTypes.begin();
      met[kind][list.offset % 8] = true;
    }

    ByteBufferStreamReader ours(bytes.data(), bytes.size());
    std::vector<uint8_t> skipped(offset);
    ours.ReadBytes(skipped.data(), offset);
    const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
    ASSERT_TRUE(Identical(serializer.ReadValue(&ours), value)) << "round " << round;
    ASSERT_EQ(serializer.ReadValue(&ours), after) << "round " << round;
    ASSERT_EQ(ours.RemainingBytes(), 0u) << "round " << round;
  }
  EXPECT_EQ(capture.Finish(), "");
  for (size_t kind = 0; kind < 4; ++kind) {
    for (size_t offset = 0; offset < 8; ++offset) {
      EXPECT_TRUE(met[kind][offset]) << "type " << int{kTypedListTypes[kind]} << " never met at offset " << offset;
    }
  }
}

}  // namespace
}  // namespace flutter
