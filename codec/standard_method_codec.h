#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_codec.h"
#include "codec/standard_codec_serializer.h"

namespace flutter {

// The method codec of the standard message format. A call is its name as a
// string value followed by its arguments (null when none); a success reply is
// 0 and the result; an error reply is 1, the code, the message (null when
// empty) and the details. Alignment counts from the first byte of a message.
class StandardMethodCodec : public MethodCodec<EncodableValue> {
  struct PrivateKey {
    explicit PrivateKey() = default;
  };

 public:
  // The codec bound to `serializer` (the process-wide standard serializer
  // when null): one per serializer, created on first request and never
  // destroyed, so references to it stay valid for the life of the process.
  static const StandardMethodCodec& GetInstance(const StandardCodecSerializer* serializer = nullptr);

  // Only GetInstance can make one.
  StandardMethodCodec(PrivateKey, const StandardCodecSerializer* serializer);
  ~StandardMethodCodec() override;

  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCall(const uint8_t* message,
                                                               size_t message_size) const override;

  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(
      const MethodCall<EncodableValue>& method_call) const override;

  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result) const override;

  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;

  // A reply whose error code is not a string, or whose message is neither
  // null nor a string, throws std::bad_variant_access ("bad variant access")
  // and informs nobody.
  bool DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                              MethodResult<EncodableValue>* result) const override;

 private:
  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter
