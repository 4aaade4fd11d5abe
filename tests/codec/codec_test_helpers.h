#pragma once

// Helpers shared by the codec tests and the fuzz targets: hex byte strings,
// encoding at an offset, the ways a message gets read, bit-exact value
// comparison, random nested values.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"

namespace flutter {

// Readable failure messages in GoogleTest.
inline void PrintTo(const EncodableValue& value, std::ostream* out) {
  switch (value.index()) {
    case 0: *out << "null"; return;
    case 1: *out << (std::get<bool>(value) ? "true" : "false"); return;
    case 2: *out << std::get<int32_t>(value); return;
    case 3: *out << std::get<int64_t>(value) << "L"; return;
    case 4: *out << std::get<double>(value); return;
    case 5: *out << '"' << std::get<std::string>(value) << '"'; return;
    case 10: {
      *out << '[';
      for (const EncodableValue& element : std::get<EncodableList>(value)) {
        PrintTo(element, out);
        *out << ", ";
      }
      *out << ']';
      return;
    }
    case 11: {
      *out << '{';
      for (const auto& [key, entry] : std::get<EncodableMap>(value)) {
        PrintTo(key, out);
        *out << ": ";
        PrintTo(entry, out);
        *out << ", ";
      }
      *out << '}';
      return;
    }
    default: *out << "<alternative " << value.index() << '>'; return;
  }
}

}  // namespace flutter

namespace talvor::test {

// "07 03 61" -> {0x07, 0x03, 0x61}; spaces are ignored.
inline std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::string digits;
  for (char c : hex) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoi(digits, nullptr, 16)));
      digits.clear();
    }
  }
  return bytes;
}

// The encoding of `value` after `offset` filler bytes, which count for
// alignment as an envelope byte does.
inline std::vector<uint8_t> Encode(const flutter::EncodableValue& value, size_t offset = 0) {
  std::vector<uint8_t> bytes(offset, 0xAA);
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

struct Decoded {
  flutter::EncodableValue value;
  size_t bytes_left = 0;
};

// Reads one value that starts `offset` bytes into `bytes`.
inline Decoded Decode(const std::vector<uint8_t>& bytes, size_t offset = 0) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  std::vector<uint8_t> skipped(offset);
  reader.ReadBytes(skipped.data(), offset);
  Decoded decoded;
  decoded.value = flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
  decoded.bytes_left = reader.RemainingBytes();
  return decoded;
}

// Reads a byte vector through the virtual operations only, as a stream of
// the application's own would. Like the buffer reader it refuses a read past
// its end (one line) and reads nothing more after a refusal; unlike it, it can
// keep its size to itself, as a stream from a pipe does.
class VectorStreamReader : public flutter::ByteStreamReader {
 public:
  VectorStreamReader(const std::vector<uint8_t>& bytes, bool tells_size) : bytes_(bytes), tells_size_(tells_size) {}

  uint8_t ReadByte() override {
    if (position_ >= bytes_.size()) {
      RefuseRead();
      return 0;
    }
    return bytes_[position_++];
  }
  void ReadBytes(uint8_t* buffer, size_t length) override {
    if (position_ > bytes_.size() || length > bytes_.size() - position_) {
      RefuseRead();
      return;
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), length, buffer);
    position_ += length;
  }
  void ReadAlignment(uint8_t alignment) override {
    while (alignment != 0 && position_ % alignment != 0) ++position_;
  }
  size_t RemainingBytes() const override { return tells_size_ ? Left() : kUnknownSize; }
  void RefuseRead() override {
    ByteStreamReader::RefuseRead();
    position_ = std::max(position_, bytes_.size());
  }

  // What is left to read, whether or not the reader tells.
  size_t Left() const { return position_ < bytes_.size() ? bytes_.size() - position_ : 0; }

 private:
  const std::vector<uint8_t>& bytes_;
  bool tells_size_;
  size_t position_ = 0;
};

// A serializer that adds nothing, but is derived all the same: it reads and
// writes every value, at every depth, through the virtual operations, as an
// extended codec does.
class DerivedSerializer : public flutter::StandardCodecSerializer {};

// The ways a message gets read, which must agree: the standard serializer on
// a buffer reader (its path without virtual calls), a derived serializer on a
// buffer reader (every byte through the virtual operations, the size known),
// and the standard serializer on a stream that keeps its size to itself
// (the virtual operations, and declared sizes taken on trust).
enum class ReadPath { kBuffer, kDerivedSerializer, kStreamOfUnknownSize };

inline constexpr ReadPath kEveryReadPath[] = {ReadPath::kBuffer, ReadPath::kDerivedSerializer,
                                             ReadPath::kStreamOfUnknownSize};

// The paths on which the serializer can hold declared sizes against the
// message.
inline constexpr ReadPath kReadPathsThatKnowTheSize[] = {ReadPath::kBuffer, ReadPath::kDerivedSerializer};

inline const char* NameOf(ReadPath path) {
  switch (path) {
    case ReadPath::kBuffer: return "buffer reader";
    case ReadPath::kDerivedSerializer: return "derived serializer";
    case ReadPath::kStreamOfUnknownSize: return "stream of unknown size";
  }
  return "?";
}

// Reads one value from the start of `bytes` along `path`.
inline Decoded DecodeVia(ReadPath path, const std::vector<uint8_t>& bytes) {
  Decoded decoded;
  if (path == ReadPath::kStreamOfUnknownSize) {
    VectorStreamReader reader(bytes, /*tells_size=*/false);
    decoded.value = flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
    decoded.bytes_left = reader.Left();
    return decoded;
  }
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  static const DerivedSerializer derived;
  const flutter::StandardCodecSerializer& serializer =
      path == ReadPath::kBuffer ? flutter::StandardCodecSerializer::GetInstance() : derived;
  decoded.value = serializer.ReadValue(&reader);
  decoded.bytes_left = reader.RemainingBytes();
  return decoded;
}

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Equal alternatives and contents, floating-point numbers compared bit for
// bit so that NaN payloads and the sign of zero count.
inline bool Identical(const flutter::EncodableValue& a, const flutter::EncodableValue& b) {
  using flutter::EncodableList;
  using flutter::EncodableMap;
  if (a.index() != b.index()) return false;
  switch (a.index()) {
    case 4: {
      const double x = std::get<double>(a), y = std::get<double>(b);
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case 9: return SameBits(std::get<std::vector<double>>(a), std::get<std::vector<double>>(b));
    case 13: return SameBits(std::get<std::vector<float>>(a), std::get<std::vector<float>>(b));
    case 10: {
      const EncodableList& x = std::get<EncodableList>(a);
      const EncodableList& y = std::get<EncodableList>(b);
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!Identical(x[i], y[i])) return false;
      }
      return true;
    }
    case 11: {
      const EncodableMap& x = std::get<EncodableMap>(a);
      const EncodableMap& y = std::get<EncodableMap>(b);
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (!Identical(i->first, j->first) || !Identical(i->second, j->second)) return false;
      }
      return true;
    }
    default: return a == b;
  }
}

// Random values over every alternative the standard codec can carry (all but
// the custom one), nested up to a given depth. NaN is left out: map keys need
// a consistent order, which NaN does not have.
class RandomValues {
 public:
  explicit RandomValues(uint64_t seed) : engine_(seed) {}

  flutter::EncodableValue Next(int depth) {
    static const int kAlternatives[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13};
    int pick = kAlternatives[Uniform(0, 12)];
    if ((pick == 10 || pick == 11) && depth <= 0) pick = kAlternatives[Uniform(0, 9)];
    switch (pick) {
      case 0: return flutter::EncodableValue();
      case 1: return flutter::EncodableValue(Uniform(0, 1) == 1);
      case 2: return flutter::EncodableValue(static_cast<int32_t>(engine_()));
      case 3: return flutter::EncodableValue(static_cast<int64_t>(engine_()));
      case 4: return flutter::EncodableValue(Double());
      case 5: return flutter::EncodableValue(String());
      case 6: return flutter::EncodableValue(Numbers<uint8_t>([this] { return static_cast<uint8_t>(engine_()); }));
      case 7: return flutter::EncodableValue(Numbers<int32_t>([this] { return static_cast<int32_t>(engine_()); }));
      case 8: return flutter::EncodableValue(Numbers<int64_t>([this] { return static_cast<int64_t>(engine_()); }));
      case 9: return flutter::EncodableValue(Numbers<double>([this] { return Double(); }));
      case 13: return flutter::EncodableValue(Numbers<float>([this] { return Float(); }));
      case 10: {
        flutter::EncodableList list;
        for (int i = Uniform(0, 6); i > 0; --i) list.push_back(Next(depth - 1));
        return flutter::EncodableValue(std::move(list));
      }
      default: {
        flutter::EncodableMap map;
        for (int i = Uniform(0, 6); i > 0; --i) map.emplace(Next(depth - 1), Next(depth - 1));
        return flutter::EncodableValue(std::move(map));
      }
    }
  }

  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }

 private:
  // Short lengths mostly, sometimes across the one-byte size limit.
  size_t Length() { return Uniform(0, 9) == 0 ? static_cast<size_t>(Uniform(240, 300)) : static_cast<size_t>(Uniform(0, 12)); }

  std::string String() {
    std::string string(Length(), '\0');
    for (char& c : string) c = static_cast<char>(engine_());
    return string;
  }

  template <typename T, typename Make>
  std::vector<T> Numbers(Make make) {
    std::vector<T> numbers(Length());
    for (T& number : numbers) number = make();
    return numbers;
  }

  double Double() {
    double number;
    do {
      const uint64_t bits = engine_();
      std::memcpy(&number, &bits, sizeof number);
    } while (std::isnan(number));
    return number;
  }

  float Float() {
    float number;
    do {
      const uint32_t bits = static_cast<uint32_t>(engine_());
      std::memcpy(&number, &bits, sizeof number);
    } while (std::isnan(number));
    return number;
  }

  std::mt19937_64 engine_;
};

}  // namespace talvor::test
