#include "codec/byte_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes, size_t size)
    : bytes_(bytes), size_(size) {}

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

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

}  // namespace flutter
