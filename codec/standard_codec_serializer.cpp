#include "codec/standard_codec_serializer.h"

#include <algorithm>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

namespace {

// Type bytes of the wire format.
enum EncodedType : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kStringAlternate = 5,  // never written; read as a string of its bytes
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// Reserving is only a speed-up; capping it keeps lists nested inside each
// other from each reserving room for the whole rest of the message.
constexpr size_t kMaxReservedElements = 256;

// True when `needed` exceeds `available` by more than `slack`.
bool ExceedsWithSlack(uint64_t needed, size_t available, size_t slack) {
  return needed > available && needed - available > slack;
}

// Counts the lists and maps being read on this thread, so that nesting is
// bounded even through a derived serializer's ReadValueOfType.
class NestingScope {
 public:
  NestingScope() { ++depth_; }
  ~NestingScope() { --depth_; }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;

  bool TooDeep() const { return depth_ > StandardCodecSerializer::kMaxNestingDepth; }

 private:
  static thread_local int depth_;
};

thread_local int NestingScope::depth_ = 0;

template <typename T>
void WriteScalar(T number, ByteStreamWriter* stream) {
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number), sizeof(T));
}

// A refused read leaves the zero in place.
template <typename T>
T ReadScalar(ByteStreamReader* stream) {
  T number{};
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(T));
  return number;
}

// Typed lists are written as their elements' memory image, aligned to the
// element size. The padding follows the count even when the list is empty:
// every reader of the format aligns after the count whatever it is, so an
// unpadded empty list would shift everything written after it.
template <typename T>
void WriteTypedList(const std::vector<T>& list, const StandardCodecSerializer& serializer,
                    ByteStreamWriter* stream) {
  serializer.WriteSize(list.size(), stream);
  stream->WriteAlignment(static_cast<uint8_t>(sizeof(T)));
  if (list.empty()) return;
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(T));
}

template <typename T>
EncodableValue ReadTypedList(const StandardCodecSerializer& serializer, ByteStreamReader* stream) {
  const size_t count = serializer.ReadSize(stream);
  stream->ReadAlignment(static_cast<uint8_t>(sizeof(T)));
  const uint64_t byte_count = static_cast<uint64_t>(count) * sizeof(T);
  if (ExceedsWithSlack(byte_count, stream->RemainingBytes(), StandardCodecSerializer::kSizeSlack)) {
    stream->RefuseRead();
    return EncodableValue(std::vector<T>());
  }
  std::vector<T> list(count);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()), static_cast<size_t>(byte_count));
  return EncodableValue(std::move(list));
}

EncodableValue ReadByteList(const StandardCodecSerializer& serializer, ByteStreamReader* stream) {
  const size_t count = serializer.ReadSize(stream);
  if (ExceedsWithSlack(count, stream->RemainingBytes(), StandardCodecSerializer::kSizeSlack)) {
    stream->RefuseRead();
    return EncodableValue(std::vector<uint8_t>());
  }
  std::vector<uint8_t> bytes(count);
  stream->ReadBytes(bytes.data(), count);
  return EncodableValue(std::move(bytes));
}

// Each element takes at least one byte, so elements beyond the remaining
// bytes are missing; a few are tolerated and read as null.
bool TooManyElementsMissing(size_t elements_left, const ByteStreamReader& stream) {
  return ExceedsWithSlack(elements_left, stream.RemainingBytes(),
                          StandardCodecSerializer::kMissingElementsSlack);
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const {
  switch (value.index()) {
    case 0:
      stream->WriteByte(kNull);
      break;
    case 1:
      stream->WriteByte(std::get<bool>(value) ? kTrue : kFalse);
      break;
    case 2:
      stream->WriteByte(kInt32);
      WriteScalar(std::get<int32_t>(value), stream);
      break;
    case 3:
      stream->WriteByte(kInt64);
      WriteScalar(std::get<int64_t>(value), stream);
      break;
    case 4:
      stream->WriteByte(kFloat64);
      stream->WriteAlignment(8);
      WriteScalar(std::get<double>(value), stream);
      break;
    case 5: {
      stream->WriteByte(kString);
      const std::string& string = std::get<std::string>(value);
      WriteSize(string.size(), stream);
      if (!string.empty()) {
        stream->WriteBytes(reinterpret_cast<const uint8_t*>(string.data()), string.size());
      }
      break;
    }
    case 6: {
      stream->WriteByte(kUInt8List);
      const std::vector<uint8_t>& bytes = std::get<std::vector<uint8_t>>(value);
      WriteSize(bytes.size(), stream);
      if (!bytes.empty()) stream->WriteBytes(bytes.data(), bytes.size());
      break;
    }
    case 7:
      stream->WriteByte(kInt32List);
      WriteTypedList(std::get<std::vector<int32_t>>(value), *this, stream);
      break;
    case 8:
      stream->WriteByte(kInt64List);
      WriteTypedList(std::get<std::vector<int64_t>>(value), *this, stream);
      break;
    case 9:
      stream->WriteByte(kFloat64List);
      WriteTypedList(std::get<std::vector<double>>(value), *this, stream);
      break;
    case 10:
      stream->WriteByte(kList);
      WriteList(std::get<EncodableList>(value), stream);
      break;
    case 11:
      stream->WriteByte(kMap);
      WriteMap(std::get<EncodableMap>(value), stream);
      break;
    case 13:
      stream->WriteByte(kFloat32List);
      WriteTypedList(std::get<std::vector<float>>(value), *this, stream);
      break;
    case 12:
      // The peer gets a null in its place; an enclosing list or map keeps
      // its count.
      stream->WriteByte(kNull);
      std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                << "Custom types require codec extensions." << std::endl;
      break;
    default:
      stream->WriteByte(kNull);
      break;
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type, ByteStreamReader* stream) const {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(ReadScalar<int32_t>(stream));
    case kInt64:
      return EncodableValue(ReadScalar<int64_t>(stream));
    case kFloat64:
      stream->ReadAlignment(8);
      return EncodableValue(ReadScalar<double>(stream));
    case kStringAlternate:
    case kString:
      return ReadString(stream);
    case kUInt8List:
      return ReadByteList(*this, stream);
    case kInt32List:
      return ReadTypedList<int32_t>(*this, stream);
    case kInt64List:
      return ReadTypedList<int64_t>(*this, stream);
    case kFloat64List:
      return ReadTypedList<double>(*this, stream);
    case kFloat32List:
      return ReadTypedList<float>(*this, stream);
    case kList:
    case kMap: {
      const NestingScope scope;
      if (scope.TooDeep()) {
        std::cerr << "Nesting too deep in StandardCodecSerializer::ReadValueOfType: more than "
                  << kMaxNestingDepth << " lists and maps" << std::endl;
        return EncodableValue();
      }
      return type == kList ? ReadList(stream) : ReadMap(stream);
    }
    default:
      // Nothing more is consumed: an enclosing list or map reads on from the
      // next byte.
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    WriteScalar(static_cast<uint16_t>(size), stream);
  } else {
    stream->WriteByte(255);
    WriteScalar(static_cast<uint32_t>(size), stream);
  }
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  const uint8_t first = stream->ReadByte();
  if (first < 254) return first;
  if (first == 254) return ReadScalar<uint16_t>(stream);
  return ReadScalar<uint32_t>(stream);
}

EncodableValue StandardCodecSerializer::ReadString(ByteStreamReader* stream) const {
  const size_t length = ReadSize(stream);
  if (ExceedsWithSlack(length, stream->RemainingBytes(), kSizeSlack)) {
    stream->RefuseRead();
    return EncodableValue(std::string());
  }
  std::string string(length, '\0');
  stream->ReadBytes(reinterpret_cast<uint8_t*>(string.data()), length);
  return EncodableValue(std::move(string));
}

EncodableValue StandardCodecSerializer::ReadList(ByteStreamReader* stream) const {
  const size_t count = ReadSize(stream);
  EncodableList list;
  list.reserve(std::min({count, stream->RemainingBytes(), kMaxReservedElements}));
  for (size_t i = 0; i < count; ++i) {
    if (TooManyElementsMissing(count - i, *stream)) {
      stream->RefuseRead();
      break;
    }
    list.push_back(ReadValue(stream));
  }
  return EncodableValue(std::move(list));
}

EncodableValue StandardCodecSerializer::ReadMap(ByteStreamReader* stream) const {
  const size_t count = ReadSize(stream);
  EncodableMap map;
  for (size_t i = 0; i < count; ++i) {
    if (TooManyElementsMissing(count - i, *stream)) {
      stream->RefuseRead();
      break;
    }
    EncodableValue key = ReadValue(stream);
    EncodableValue value = ReadValue(stream);
    // The first occurrence of a key wins.
    map.emplace(std::move(key), std::move(value));
  }
  return EncodableValue(std::move(map));
}

void StandardCodecSerializer::WriteList(const EncodableList& list, ByteStreamWriter* stream) const {
  WriteSize(list.size(), stream);
  for (const EncodableValue& element : list) WriteValue(element, stream);
}

void StandardCodecSerializer::WriteMap(const EncodableMap& map, ByteStreamWriter* stream) const {
  WriteSize(map.size(), stream);
  for (const auto& [key, value] : map) {
    WriteValue(key, stream);
    WriteValue(value, stream);
  }
}

}  // namespace flutter
