#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace flutter {

// Source of the bytes of one encoded message.
class ByteStreamReader {
 public:
  // Returned by RemainingBytes when the reader cannot tell.
  static constexpr size_t kUnknownSize = std::numeric_limits<size_t>::max();

  virtual ~ByteStreamReader() = default;
  virtual uint8_t ReadByte() = 0;
  virtual void ReadBytes(uint8_t* buffer, size_t length) = 0;
  // Skips to the next multiple of `alignment`, counted from the first byte of
  // the message.
  virtual void ReadAlignment(uint8_t alignment) = 0;

  // How many bytes are left to read. The serializer compares declared sizes
  // against it so that a corrupt size cannot make it allocate far more than
  // the message holds; a reader that cannot tell answers kUnknownSize and
  // its declared sizes are trusted.
  virtual size_t RemainingBytes() const { return kUnknownSize; }

  // Refuses a read that the message cannot satisfy: one diagnostic line, and
  // a reader that knows its end reads nothing more. The serializer refuses
  // through it too, when a declared size overruns the message too far.
  virtual void RefuseRead();
};

// Sink of the bytes of one encoded message.
class ByteStreamWriter {
 public:
  virtual ~ByteStreamWriter() = default;
  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* bytes, size_t length) = 0;
  // Pads with zero bytes to the next multiple of `alignment`, counted from the
  // first byte of the message.
  virtual void WriteAlignment(uint8_t alignment) = 0;
};

// Reads a caller-owned byte range, which must stay alive while reading.
// A read that would go past the end is refused (see RefuseRead); the
// destination is left untouched, so callers see the zeros they prepared.
// The operations are defined here so that the serializer, which knows this
// type, can call them without a virtual call per byte.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size);
  ~ByteBufferStreamReader() override;

  uint8_t ReadByte() override {
    if (position_ >= size_) {
      RefuseRead();
      return 0;
    }
    return bytes_[position_++];
  }

  void ReadBytes(uint8_t* buffer, size_t length) override {
    if (position_ > size_ || length > size_ - position_) {
      RefuseRead();
      return;
    }
    if (length > 0) {
      std::memcpy(buffer, bytes_ + position_, length);
      position_ += length;
    }
  }

  void ReadAlignment(uint8_t alignment) override {
    if (alignment == 0) return;
    const uint64_t remainder = position_ % alignment;
    if (remainder != 0) position_ += alignment - remainder;
  }

  size_t RemainingBytes() const override {
    return position_ >= size_ ? 0 : static_cast<size_t>(size_ - position_);
  }

  void RefuseRead() override;

  // The next `length` bytes in place, moving past them; null, moving
  // nowhere and reporting nothing, when they are not all there.
  const uint8_t* Take(size_t length) {
    if (position_ > size_ || length > size_ - position_) return nullptr;
    const uint8_t* bytes = bytes_ + position_;
    position_ += length;
    return bytes;
  }

 private:
  const uint8_t* bytes_;
  uint64_t size_;
  // May pass size_ after an alignment near the end; every read checks.
  uint64_t position_ = 0;
};

// Appends to a caller-owned vector.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer);
  ~ByteBufferStreamWriter() override;

  void WriteByte(uint8_t byte) override { buffer_->push_back(byte); }

  void WriteBytes(const uint8_t* bytes, size_t length) override {
    if (length == 0) return;
    buffer_->insert(buffer_->end(), bytes, bytes + length);
  }

  void WriteAlignment(uint8_t alignment) override {
    if (alignment == 0) return;
    const size_t remainder = buffer_->size() % alignment;
    if (remainder == 0) return;
    for (size_t i = remainder; i < alignment; ++i) WriteByte(0);
  }

  // The vector appended to, for the serializer's writing without a virtual
  // call per byte.
  std::vector<uint8_t>* buffer() const { return buffer_; }

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter
