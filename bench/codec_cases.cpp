#include "bench/standard_codec_bytes.h"

#include "codec/byte_streams.h"
#include "codec/standard_codec_serializer.h"

namespace talvor::bench {

std::vector<uint8_t> EncodeWithStandardCodec(const flutter::EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

flutter::EncodableValue DecodeWithStandardCodec(const std::vector<uint8_t>& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

}  // namespace talvor::bench
