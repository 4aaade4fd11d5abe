// Any bytes, read as one value: decoding must stay in bounds and terminate;
// a derived serializer, which reads every byte through the virtual
// operations, must read the same value with the same diagnostics and stop at
// the same byte; and the value must encode and read back as itself without a
// diagnostic.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Read {
  flutter::EncodableValue value;
  size_t diagnostics = 0;
  size_t bytes_left = 0;
};

Read ReadWith(const flutter::StandardCodecSerializer& serializer, const uint8_t* data, size_t size) {
  talvor::fuzz::LineCounter& diagnostics = talvor::fuzz::Diagnostics();
  diagnostics.lines = 0;
  flutter::ByteBufferStreamReader reader(data, size);
  Read read;
  read.value = serializer.ReadValue(&reader);
  read.diagnostics = diagnostics.lines;
  read.bytes_left = reader.RemainingBytes();
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace flutter;
  talvor::fuzz::LineCounter& diagnostics = talvor::fuzz::Diagnostics();

  const Read read = ReadWith(StandardCodecSerializer::GetInstance(), data, size);
  static const talvor::test::DerivedSerializer derived;
  const Read derived_read = ReadWith(derived, data, size);
  talvor::fuzz::Check(talvor::test::Identical(derived_read.value, read.value),
                      "a derived serializer read another value");
  talvor::fuzz::Check(derived_read.diagnostics == read.diagnostics, "a derived serializer wrote other diagnostics");
  talvor::fuzz::Check(derived_read.bytes_left == read.bytes_left, "a derived serializer stopped elsewhere");
  const EncodableValue& value = read.value;

  diagnostics.lines = 0;
  const std::vector<uint8_t> encoded = talvor::test::Encode(value);
  talvor::fuzz::Check(diagnostics.lines == 0, "encoding a decoded value wrote a diagnostic");
  const talvor::test::Decoded again = talvor::test::Decode(encoded);
  if (!talvor::fuzz::ReadsBackExactly(value)) return 0;
  talvor::fuzz::Check(diagnostics.lines == 0, "reading an encoded value wrote a diagnostic");
  talvor::fuzz::Check(again.bytes_left == 0, "reading an encoded value left bytes over");
  talvor::fuzz::Check(talvor::test::Identical(again.value, value), "value differs after a round trip");
  talvor::fuzz::Check(talvor::test::Encode(again.value) == encoded, "encoding differs after a round trip");
  return 0;
}
