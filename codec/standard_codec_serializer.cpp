#include "codec/standard_codec_serializer.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <typeinfo>
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

// Reserving is only a speed-up. A reader that cannot tell its size gives no
// bound for it, so such a list reserves at most this much up front.
constexpr size_t kMaxReservedWithoutSize = 256;

// True when `needed` exceeds `available` by more than `slack`.
bool ExceedsWithSlack(uint64_t needed, size_t available, size_t slack) {
  return needed > available && needed - available > slack;
}

// What the lists and maps being read on this thread still have to read: how
// deep they are nested, so that nesting is bounded even through a derived
// serializer's ReadValueOfType, and how many more elements they expect (each
// takes at least one byte), so that a list nested in them reserves room only
// for what the bytes left can hold beside those: the room reserved along the
// nesting never adds up to more elements than the message has bytes.
struct Enclosing {
  int depth = 0;
  size_t promised = 0;
};

thread_local Enclosing enclosing;

// One list or map being read.
class NestingScope {
 public:
  NestingScope() { ++enclosing.depth; }
  ~NestingScope() {
    --enclosing.depth;
    enclosing.promised -= promised_;
  }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;

  bool TooDeep() const { return enclosing.depth > StandardCodecSerializer::kMaxNestingDepth; }

  // Room for up to `count` elements that a list may reserve before this
  // scope promises its own.
  static size_t RoomFor(size_t count, size_t remaining) {
    if (remaining == ByteStreamReader::kUnknownSize) return std::min(count, kMaxReservedWithoutSize);
    return remaining > enclosing.promised ? std::min(count, remaining - enclosing.promised) : 0;
  }

  // Elements this list or map will still read after the one being read;
  // counted once for the whole scope, which only errs on the small side for
  // the room of later nested lists.
  void Promise(size_t elements) {
    promised_ = elements;
    enclosing.promised += elements;
  }

 private:
  size_t promised_ = 0;
};

// --- Where the bytes go ---
//
// One encoder (WriteValueTo) over two sinks: through the writer's virtual
// operations, with nested values through the serializer's virtual WriteValue
// so that a derived serializer takes part at every depth; or, for the
// standard serializer writing to a buffer writer, straight into the buffer.

void ReportCustomValue() {
  std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
            << "Custom types require codec extensions." << std::endl;
}

class StreamSink {
 public:
  StreamSink(const StandardCodecSerializer& serializer, ByteStreamWriter* stream)
      : serializer_(serializer), stream_(stream) {}
  void Byte(uint8_t byte) { stream_->WriteByte(byte); }
  void Bytes(const uint8_t* bytes, size_t length) { stream_->WriteBytes(bytes, length); }
  void Align(uint8_t alignment) { stream_->WriteAlignment(alignment); }
  void Nested(const EncodableValue& value) { serializer_.WriteValue(value, stream_); }
  void CustomValue() { ReportCustomValue(); }

 private:
  const StandardCodecSerializer& serializer_;
  ByteStreamWriter* stream_;
};

// Writes straight into the vector of a buffer writer. The vector is grown
// ahead of the writing, geometrically and zero-filled (so padding is only
// skipped), and cut back to what was written at the end.
class BufferSink {
 public:
  // `expected`: how many bytes the value is thought to take; room for them
  // is made at once.
  BufferSink(std::vector<uint8_t>* buffer, size_t expected)
      : buffer_(buffer), start_(buffer->data()), cursor_(start_ + buffer->size()), end_(cursor_) {
    Room(expected);
  }
  BufferSink(const BufferSink&) = delete;
  BufferSink& operator=(const BufferSink&) = delete;
  ~BufferSink() { buffer_->resize(static_cast<size_t>(cursor_ - start_)); }

  void Byte(uint8_t byte) {
    Room(1);
    *cursor_++ = byte;
  }
  void Bytes(const uint8_t* bytes, size_t length) {
    Room(length);
    if (length <= kShortCopy) {
      // Most strings and every number: cheaper than a call to memcpy.
      for (size_t i = 0; i < length; ++i) cursor_[i] = bytes[i];
    } else {
      std::memcpy(cursor_, bytes, length);
    }
    cursor_ += length;
  }
  void Align(uint8_t alignment) {
    const size_t remainder = static_cast<size_t>(cursor_ - start_) % alignment;
    if (remainder == 0) return;
    Room(alignment - remainder);
    cursor_ += alignment - remainder;
  }
  void Nested(const EncodableValue& value);
  void CustomValue() { ReportCustomValue(); }

 private:
  static constexpr size_t kFirstRoom = 64;
  static constexpr size_t kShortCopy = 16;

  void Room(size_t length) {
    if (length <= static_cast<size_t>(end_ - cursor_)) return;
    const size_t written = static_cast<size_t>(cursor_ - start_);
    buffer_->resize(written + std::max({length, written, kFirstRoom}));
    start_ = buffer_->data();
    cursor_ = start_ + written;
    end_ = start_ + buffer_->size();
  }

  std::vector<uint8_t>* buffer_;
  uint8_t* start_;  // the first byte of the message
  uint8_t* cursor_;
  uint8_t* end_;
};

// Counts the bytes that a value takes (alignment counted from its start).
class SizeSink {
 public:
  void Byte(uint8_t) { ++size_; }
  void Bytes(const uint8_t*, size_t length) { size_ += length; }
  void Align(uint8_t alignment) {
    const size_t remainder = size_ % alignment;
    if (remainder != 0) size_ += alignment - remainder;
  }
  void Nested(const EncodableValue& value);
  void CustomValue() {}

  size_t size() const { return size_; }

 private:
  size_t size_ = 0;
};

template <typename Sink, typename T>
void WriteScalar(Sink& sink, T number) {
  sink.Bytes(reinterpret_cast<const uint8_t*>(&number), sizeof(T));
}

template <typename Sink>
void WriteLongSizeTo(Sink& sink, size_t size) {
  if (size <= 0xFFFF) {
    sink.Byte(254);
    WriteScalar(sink, static_cast<uint16_t>(size));
  } else {
    sink.Byte(255);
    WriteScalar(sink, static_cast<uint32_t>(size));
  }
}

template <typename Sink>
inline void WriteSizeTo(Sink& sink, size_t size) {
  if (size < 254) {
    sink.Byte(static_cast<uint8_t>(size));
  } else {
    WriteLongSizeTo(sink, size);
  }
}

// Typed lists are written as their elements' memory image, aligned to the
// element size. The padding follows the count even when the list is empty:
// every reader of the format aligns after the count whatever it is, so an
// unpadded empty list would shift everything written after it.
template <typename Sink, typename T>
void WriteTypedList(Sink& sink, uint8_t type, const std::vector<T>& list) {
  sink.Byte(type);
  WriteSizeTo(sink, list.size());
  sink.Align(static_cast<uint8_t>(sizeof(T)));
  if (list.empty()) return;
  sink.Bytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(T));
}

template <typename Sink>
void WriteValueTo(Sink& sink, const EncodableValue& value) {
  // Each case holds the alternative of its index.
  switch (value.index()) {
    case 0:
      sink.Byte(kNull);
      break;
    case 1:
      sink.Byte(*std::get_if<bool>(&value) ? kTrue : kFalse);
      break;
    case 2:
      sink.Byte(kInt32);
      WriteScalar(sink, *std::get_if<int32_t>(&value));
      break;
    case 3:
      sink.Byte(kInt64);
      WriteScalar(sink, *std::get_if<int64_t>(&value));
      break;
    case 4:
      sink.Byte(kFloat64);
      sink.Align(8);
      WriteScalar(sink, *std::get_if<double>(&value));
      break;
    case 5: {
      const std::string& string = *std::get_if<std::string>(&value);
      sink.Byte(kString);
      WriteSizeTo(sink, string.size());
      if (!string.empty()) sink.Bytes(reinterpret_cast<const uint8_t*>(string.data()), string.size());
      break;
    }
    case 6: {
      const std::vector<uint8_t>& bytes = *std::get_if<std::vector<uint8_t>>(&value);
      sink.Byte(kUInt8List);
      WriteSizeTo(sink, bytes.size());
      if (!bytes.empty()) sink.Bytes(bytes.data(), bytes.size());
      break;
    }
    case 7:
      WriteTypedList(sink, kInt32List, *std::get_if<std::vector<int32_t>>(&value));
      break;
    case 8:
      WriteTypedList(sink, kInt64List, *std::get_if<std::vector<int64_t>>(&value));
      break;
    case 9:
      WriteTypedList(sink, kFloat64List, *std::get_if<std::vector<double>>(&value));
      break;
    case 10: {
      const EncodableList& list = *std::get_if<EncodableList>(&value);
      sink.Byte(kList);
      WriteSizeTo(sink, list.size());
      for (const EncodableValue& element : list) sink.Nested(element);
      break;
    }
    case 11: {
      const EncodableMap& map = *std::get_if<EncodableMap>(&value);
      sink.Byte(kMap);
      WriteSizeTo(sink, map.size());
      for (const auto& [key, entry] : map) {
        sink.Nested(key);
        sink.Nested(entry);
      }
      break;
    }
    case 13:
      WriteTypedList(sink, kFloat32List, *std::get_if<std::vector<float>>(&value));
      break;
    case 12:
      // The peer gets a null in its place; an enclosing list or map keeps
      // its count.
      sink.Byte(kNull);
      sink.CustomValue();
      break;
    default:
      sink.Byte(kNull);
      break;
  }
}

void BufferSink::Nested(const EncodableValue& value) { WriteValueTo(*this, value); }

void SizeSink::Nested(const EncodableValue& value) { WriteValueTo(*this, value); }

// What `value` will take, to make room for it at once: exact for anything
// but a list or map with elements, which is guessed from its first element
// with a quarter to spare, so as not to walk the whole value twice.
size_t ExpectedSize(const EncodableValue& value) {
  SizeSink first;
  size_t count = 1;
  if (const auto* list = std::get_if<EncodableList>(&value); list != nullptr && !list->empty()) {
    first.Nested(list->front());
    count = list->size();
  } else if (const auto* map = std::get_if<EncodableMap>(&value); map != nullptr && !map->empty()) {
    first.Nested(map->begin()->first);
    first.Nested(map->begin()->second);
    count = map->size();
  } else {
    first.Nested(value);
    return first.size();
  }
  return 8 + count * first.size() / 4 * 5;
}


// --- Where the bytes come from ---
//
// Likewise one decoder (ReadPayload) over two sources: the reader's virtual
// operations with nested values through the serializer's ReadValue, or a
// buffer reader's own operations for the standard serializer.

class StreamSource {
 public:
  StreamSource(const StandardCodecSerializer& serializer, ByteStreamReader* stream)
      : serializer_(serializer), stream_(stream) {}
  // A stream hands out no bytes in place.
  const uint8_t* Take(size_t) { return nullptr; }
  uint8_t Byte() { return stream_->ReadByte(); }
  void Bytes(uint8_t* buffer, size_t length) { stream_->ReadBytes(buffer, length); }
  void Align(uint8_t alignment) { stream_->ReadAlignment(alignment); }
  size_t Remaining() const { return stream_->RemainingBytes(); }
  void Refuse() { stream_->RefuseRead(); }
  EncodableValue Nested() { return serializer_.ReadValue(stream_); }

 private:
  const StandardCodecSerializer& serializer_;
  ByteStreamReader* stream_;
};

class BufferSource {
 public:
  explicit BufferSource(ByteBufferStreamReader* reader) : reader_(reader) {}
  // The next `length` bytes in place, or null when they are not all there.
  const uint8_t* Take(size_t length) { return reader_->Take(length); }
  uint8_t Byte() { return reader_->ByteBufferStreamReader::ReadByte(); }
  void Bytes(uint8_t* buffer, size_t length) { reader_->ByteBufferStreamReader::ReadBytes(buffer, length); }
  void Align(uint8_t alignment) { reader_->ByteBufferStreamReader::ReadAlignment(alignment); }
  size_t Remaining() const { return reader_->ByteBufferStreamReader::RemainingBytes(); }
  void Refuse() { reader_->ByteBufferStreamReader::RefuseRead(); }
  EncodableValue Nested();

 private:
  ByteBufferStreamReader* reader_;
};

// A refused read leaves the zero in place.
template <typename T, typename Source>
T ReadScalar(Source& source) {
  T number{};
  source.Bytes(reinterpret_cast<uint8_t*>(&number), sizeof(T));
  return number;
}

template <typename Source>
size_t ReadLongSizeFrom(Source& source, uint8_t first) {
  if (first == 254) return ReadScalar<uint16_t>(source);
  return ReadScalar<uint32_t>(source);
}

// The one-byte form, by far the most common, inline.
template <typename Source>
inline size_t ReadSizeFrom(Source& source) {
  const uint8_t first = source.Byte();
  if (first < 254) return first;
  return ReadLongSizeFrom(source, first);
}

// The string is built in the value, straight from the buffer when all its
// bytes are there; missing bytes read as zeros.
template <typename Source>
EncodableValue ReadString(Source& source) {
  const size_t length = ReadSizeFrom(source);
  if (const uint8_t* bytes = source.Take(length)) {
    return EncodableValue(std::in_place_type<std::string>, reinterpret_cast<const char*>(bytes), length);
  }
  if (ExceedsWithSlack(length, source.Remaining(), StandardCodecSerializer::kSizeSlack)) {
    source.Refuse();
    return EncodableValue(std::string());
  }
  EncodableValue value(std::in_place_type<std::string>, length, '\0');
  source.Bytes(reinterpret_cast<uint8_t*>(std::get_if<std::string>(&value)->data()), length);
  return value;
}

template <typename T, typename Source>
EncodableValue ReadTypedList(Source& source) {
  const size_t count = ReadSizeFrom(source);
  source.Align(static_cast<uint8_t>(sizeof(T)));
  const uint64_t byte_count = static_cast<uint64_t>(count) * sizeof(T);
  if (ExceedsWithSlack(byte_count, source.Remaining(), StandardCodecSerializer::kSizeSlack)) {
    source.Refuse();
    return EncodableValue(std::vector<T>());
  }
  std::vector<T> list(count);
  source.Bytes(reinterpret_cast<uint8_t*>(list.data()), static_cast<size_t>(byte_count));
  return EncodableValue(std::move(list));
}

template <typename Source>
EncodableValue ReadByteList(Source& source) {
  const size_t count = ReadSizeFrom(source);
  if (ExceedsWithSlack(count, source.Remaining(), StandardCodecSerializer::kSizeSlack)) {
    source.Refuse();
    return EncodableValue(std::vector<uint8_t>());
  }
  std::vector<uint8_t> bytes(count);
  source.Bytes(bytes.data(), count);
  return EncodableValue(std::move(bytes));
}

// Each element takes at least one byte, so elements beyond the remaining
// bytes are missing; a few are tolerated and read as null. Up to that few
// left, nothing is to be asked of the source.
template <typename Source>
bool TooManyElementsMissing(size_t elements_left, const Source& source) {
  return elements_left > StandardCodecSerializer::kMissingElementsSlack &&
         ExceedsWithSlack(elements_left, source.Remaining(), StandardCodecSerializer::kMissingElementsSlack);
}

// The next value of `source`, read when converted: a list element or a map
// entry is then built in place rather than moved there.
template <typename Source>
struct NextValue {
  Source& source;
  operator EncodableValue() const { return source.Nested(); }
};

template <typename Source>
EncodableValue ReadList(Source& source, NestingScope& scope) {
  const size_t count = ReadSizeFrom(source);
  EncodableValue value(std::in_place_type<EncodableList>);
  EncodableList& list = *std::get_if<EncodableList>(&value);
  list.reserve(NestingScope::RoomFor(count, source.Remaining()));
  if (count > 0) scope.Promise(count - 1);
  for (size_t i = 0; i < count; ++i) {
    if (TooManyElementsMissing(count - i, source)) {
      source.Refuse();
      break;
    }
    list.emplace_back(NextValue<Source>{source});
  }
  return value;
}

template <typename Source>
EncodableValue ReadMap(Source& source, NestingScope& scope) {
  const size_t count = ReadSizeFrom(source);
  EncodableValue value(std::in_place_type<EncodableMap>);
  EncodableMap& map = *std::get_if<EncodableMap>(&value);
  if (count > 0) scope.Promise(2 * count - 1);
  for (size_t i = 0; i < count; ++i) {
    if (TooManyElementsMissing(count - i, source)) {
      source.Refuse();
      break;
    }
    // The first occurrence of a key wins. Keys mostly come in order (ours
    // always do), so the end is the place to try first. The key is read
    // before the value: a pair builds its members in order.
    map.emplace_hint(map.end(), std::piecewise_construct, std::forward_as_tuple(NextValue<Source>{source}),
                     std::forward_as_tuple(NextValue<Source>{source}));
  }
  return value;
}

template <typename Source>
EncodableValue ReadCollection(Source& source, uint8_t type) {
  NestingScope scope;
  if (scope.TooDeep()) {
    std::cerr << "Nesting too deep in StandardCodecSerializer::ReadValueOfType: more than "
              << StandardCodecSerializer::kMaxNestingDepth << " lists and maps" << std::endl;
    return EncodableValue();
  }
  return type == kList ? ReadList(source, scope) : ReadMap(source, scope);
}

template <typename Source>
EncodableValue ReadPayload(Source& source, uint8_t type) {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
    case kFalse:
      // One way for both, without a branch on which: a flag that changes
      // from one record of a list to the next would otherwise send the
      // dispatch a different way each time.
      return EncodableValue(type == kTrue);
    case kInt32:
      return EncodableValue(ReadScalar<int32_t>(source));
    case kInt64:
      return EncodableValue(ReadScalar<int64_t>(source));
    case kFloat64:
      source.Align(8);
      return EncodableValue(ReadScalar<double>(source));
    case kStringAlternate:
    case kString:
      return ReadString(source);
    case kUInt8List:
      return ReadByteList(source);
    case kInt32List:
      return ReadTypedList<int32_t>(source);
    case kInt64List:
      return ReadTypedList<int64_t>(source);
    case kFloat64List:
      return ReadTypedList<double>(source);
    case kFloat32List:
      return ReadTypedList<float>(source);
    case kList:
    case kMap:
      return ReadCollection(source, type);
    default:
      // Nothing more is consumed: an enclosing list or map reads on from the
      // next byte.
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }
}

EncodableValue BufferSource::Nested() { return ReadPayload(*this, Byte()); }

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

// The standard serializer itself, not a derived one whose overrides must see
// every nested value.
bool StandardCodecSerializer::IsStandard() const {
  return typeid(*this) == typeid(StandardCodecSerializer);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const {
  if (typeid(*stream) == typeid(ByteBufferStreamWriter) && IsStandard()) {
    BufferSink sink(static_cast<ByteBufferStreamWriter*>(stream)->buffer(), ExpectedSize(value));
    WriteValueTo(sink, value);
    return;
  }
  StreamSink sink(*this, stream);
  WriteValueTo(sink, value);
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  if (typeid(*stream) == typeid(ByteBufferStreamReader) && IsStandard()) {
    BufferSource source(static_cast<ByteBufferStreamReader*>(stream));
    return source.Nested();
  }
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type, ByteStreamReader* stream) const {
  StreamSource source(*this, stream);
  return ReadPayload(source, type);
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  StreamSink sink(*this, stream);
  WriteSizeTo(sink, size);
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  StreamSource source(*this, stream);
  return ReadSizeFrom(source);
}

}  // namespace flutter
