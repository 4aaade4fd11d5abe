#include "codec/byte_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes, size_t size)
    : bytes_(bytes), size_(size) {}

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

uint8_t ByteBufferStreamReader::ReadByte() {
  if (position_ >= size_) {
    RefuseRead();
    return 0;
  }
  return bytes_[position_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* buffer, size_t length) {
  if (position_ > size_ || length > size_ - position_) {
    RefuseRead();
    return;
  }
  if (length > 0) {
    std::memcpy(buffer, bytes_ + position_, length);
    position_ += length;
  }
}

void ByteBufferStreamReader::ReadAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  const uint64_t remainder = position_ % alignment;
  if (remainder != 0) position_ += alignment - remainder;
}

size_t ByteBufferStreamReader::RemainingBytes() const {
  return position_ >= size_ ? 0 : static_cast<size_t>(size_ - position_);
}

namespace {

void WriteInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

}  // namespace

void ByteStreamReader::RefuseRead() { WriteInvalidRead(); }

// One policy for every refusal, the reader's own and the serializer's: the
// read moves to the end of the message. Whatever follows a payload or a list
// that does not fit is its bytes, not further values. And it is what bounds
// memory: a payload may overrun the message by the serializer's slack once,
// after which every size reads as 0, rather than once per value (a 12 KB
// message of 2 000 over-long strings would otherwise hold some 130 MB).
void ByteBufferStreamReader::RefuseRead() {
  WriteInvalidRead();
  if (position_ < size_) position_ = size_;
}

ByteBufferStreamWriter::ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : buffer_(buffer) {}

ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

void ByteBufferStreamWriter::WriteByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::WriteBytes(const uint8_t* bytes, size_t length) {
  if (length == 0) return;
  buffer_->insert(buffer_->end(), bytes, bytes + length);
}

void ByteBufferStreamWriter::WriteAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  const size_t remainder = buffer_->size() % alignment;
  if (remainder == 0) return;
  for (size_t i = remainder; i < alignment; ++i) WriteByte(0);
}

}  // namespace flutter
