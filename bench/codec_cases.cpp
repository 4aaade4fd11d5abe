#include "bench/codec_cases.h"

#include <string>
#include <utility>

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

flutter::EncodableValue ListOfSmallMaps() {
  using flutter::EncodableValue;
  flutter::EncodableList list;
  list.reserve(kSmallMaps);
  for (size_t i = 0; i < kSmallMaps; ++i) {
    list.emplace_back(flutter::EncodableMap{{EncodableValue("id"), EncodableValue(static_cast<int32_t>(i))},
                                            {EncodableValue("name"), EncodableValue("server-" + std::to_string(i))},
                                            {EncodableValue("online"), EncodableValue(i % 2 == 0)}});
  }
  return EncodableValue(std::move(list));
}

}  // namespace talvor::bench
