#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/encodable_value.h"

namespace talvor::bench {

// `value` as the standard codec writes it, in a new buffer.
std::vector<uint8_t> EncodeWithStandardCodec(const flutter::EncodableValue& value);

// The value the standard codec reads from `bytes`.
flutter::EncodableValue DecodeWithStandardCodec(const std::vector<uint8_t>& bytes);

// The number of maps in ListOfSmallMaps.
inline constexpr size_t kSmallMaps = 10000;

// A list of kSmallMaps maps of "id" (an integer), "name" (a string) and
// "online" (a bool): many small nested values, as a server list is.
flutter::EncodableValue ListOfSmallMaps();

}  // namespace talvor::bench
