#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/byte_streams.h"
#include "codec/encodable_value.h"

namespace flutter {

// Encodes values in the standard message format shared with the application
// and decodes them back. Nested values are always written and read through
// the two virtual operations, so a derived serializer that claims type bytes
// above 14 for its custom values takes part at every depth.
//
// Decoding never fails: truncated or corrupt input yields zeros and nulls in
// place of what is missing, with one diagnostic line on standard error per
// problem. It is also bounded, so that a corrupt message cannot exhaust memory
// or the stack:
//  - a string, byte list or typed list whose payload would overrun the
//    message by more than kSizeSlack bytes decodes as an empty value of its
//    kind; smaller overruns keep their declared length, filled with zeros;
//  - a list or map stops once more than kMissingElementsSlack of its elements
//    are missing (more left to read than bytes remain, each element taking at
//    least one byte); when that is already so at its start it decodes empty;
//  - every such refusal, like any read past the end, ends the reading of the
//    message (ByteStreamReader::RefuseRead): what follows reads as zeros and
//    nulls, so the slack is granted once per message, not once per value;
//  - a list or map nested deeper than kMaxNestingDepth decodes as null.
class StandardCodecSerializer {
 public:
  static constexpr size_t kSizeSlack = 64 * 1024;
  static constexpr size_t kMissingElementsSlack = 64;
  static constexpr int kMaxNestingDepth = 256;

  // The process-wide serializer, created on first use.
  static const StandardCodecSerializer& GetInstance();

  virtual ~StandardCodecSerializer();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // Appends the encoding of `value`: its type byte, then its payload.
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Reads the payload of a value whose type byte `type` has been consumed.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // Reads one complete value: its type byte, then ReadValueOfType.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  // Sizes below 254 take one byte; up to 65535, 254 and two bytes; above,
  // 255 and the low four bytes (sizes of 2^32 and more cannot be written).
  void WriteSize(size_t size, ByteStreamWriter* stream) const;
  size_t ReadSize(ByteStreamReader* stream) const;

 protected:
  StandardCodecSerializer();

 private:
  // True for this class itself, not a derived serializer: then values read
  // from or written to our own buffer streams take a path without virtual
  // calls, which produces the same bytes and values.
  bool IsStandard() const;
};

}  // namespace flutter
