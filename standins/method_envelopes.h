// Method calls and replies in the standard method codec, as the application
// side of a channel builds and reads them. Shared by the built-in application
// of the engine stand-in and by the tests' end of the test connection.
#ifndef TALVOR_STANDINS_METHOD_ENVELOPES_H_
#define TALVOR_STANDINS_METHOD_ENVELOPES_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/encodable_value.h"

namespace talvor::standins {

// A reply to a method call, decoded.
struct MethodReply {
  enum class Kind {
    kSuccess,
    kError,
    kNotImplemented,  // the empty reply
    kMalformed,       // neither a success nor an error envelope
  };
  Kind kind = Kind::kMalformed;
  flutter::EncodableValue value;  // the success value; null when there is none
  std::string error_code;
  std::string error_message;
  flutter::EncodableValue error_details;
  std::vector<uint8_t> bytes;  // the reply as it came
};

// A method call, decoded.
struct DecodedCall {
  std::string method;
  flutter::EncodableValue arguments;
};

std::vector<uint8_t> EncodeMethodCall(const std::string& method, const flutter::EncodableValue& arguments);
std::optional<DecodedCall> DecodeMethodCall(const uint8_t* data, size_t size);

std::vector<uint8_t> EncodeSuccessReply(const flutter::EncodableValue& value);
std::vector<uint8_t> EncodeErrorReply(const std::string& code, const std::string& message);
MethodReply DecodeMethodReply(const uint8_t* data, size_t size);

// Readable form of a reply for people: "success: <value>", "error code: message", ...
std::string DescribeReply(const MethodReply& reply);
std::string DescribeValue(const flutter::EncodableValue& value);

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_METHOD_ENVELOPES_H_
