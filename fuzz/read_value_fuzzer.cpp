// Any bytes, read as one value: decoding must stay in bounds and terminate,
// and the value must encode and read back as itself without a diagnostic.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/byte_streams.h"
#include "codec/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace flutter;
  const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
  talvor::fuzz::LineCounter& diagnostics = talvor::fuzz::Diagnostics();

  ByteBufferStreamReader reader(data, size);
  const EncodableValue value = serializer.ReadValue(&reader);

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
