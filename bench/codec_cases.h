#pragma once

#include <cstdint>
#include <vector>

#include "codec/encodable_value.h"

namespace talvor::bench {

// `value` as the standard codec writes it, in a new buffer.
std::vector<uint8_t> EncodeWithStandardCodec(const flutter::EncodableValue& value);

// The value the standard codec reads from `bytes`.
flutter::EncodableValue DecodeWithStandardCodec(const std::vector<uint8_t>& bytes);

}  // namespace talvor::bench
