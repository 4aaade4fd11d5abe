#include "standins/method_envelopes.h"

#include <exception>
#include <memory>
#include <sstream>

#include "codec/method_call.h"
#include "codec/method_result.h"
#include "codec/standard_method_codec.h"

namespace talvor::standins {

namespace {

const flutter::StandardMethodCodec& Codec() { return flutter::StandardMethodCodec::GetInstance(); }

// Fills a MethodReply from what the codec finds in an envelope.
class ReplyCollector : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit ReplyCollector(MethodReply* reply) : reply_(reply) {}

  void Success(const flutter::EncodableValue* result) override {
    reply_->kind = MethodReply::Kind::kSuccess;
    reply_->value = result != nullptr ? *result : flutter::EncodableValue();
  }

  void Error(const std::string& code, const std::string& message,
             const flutter::EncodableValue* details) override {
    reply_->kind = MethodReply::Kind::kError;
    reply_->error_code = code;
    reply_->error_message = message;
    reply_->error_details = details != nullptr ? *details : flutter::EncodableValue();
  }

  void NotImplemented() override { reply_->kind = MethodReply::Kind::kNotImplemented; }

 private:
  MethodReply* reply_;
};

template <typename List>
void DescribeList(std::ostringstream& out, const List& list) {
  out << '[';
  for (size_t index = 0; index < list.size(); ++index) {
    if (index != 0) out << ", ";
    out << list[index];
  }
  out << ']';
}

}  // namespace

std::vector<uint8_t> EncodeMethodCall(const std::string& method, const flutter::EncodableValue& arguments) {
  flutter::MethodCall<flutter::EncodableValue> call(method,
                                                    std::make_unique<flutter::EncodableValue>(arguments));
  return *Codec().EncodeMethodCall(call);
}

std::optional<DecodedCall> DecodeMethodCall(const uint8_t* data, size_t size) {
  std::unique_ptr<flutter::MethodCall<flutter::EncodableValue>> call = Codec().DecodeMethodCall(data, size);
  if (!call) return std::nullopt;
  DecodedCall decoded{call->method_name(), flutter::EncodableValue()};
  if (call->arguments() != nullptr) decoded.arguments = *call->arguments();
  return decoded;
}

std::vector<uint8_t> EncodeSuccessReply(const flutter::EncodableValue& value) {
  return *Codec().EncodeSuccessEnvelope(&value);
}

std::vector<uint8_t> EncodeErrorReply(const std::string& code, const std::string& message) {
  return *Codec().EncodeErrorEnvelope(code, message, nullptr);
}

MethodReply DecodeMethodReply(const uint8_t* data, size_t size) {
  MethodReply reply;
  if (size != 0) reply.bytes.assign(data, data + size);
  if (size == 0) {
    reply.kind = MethodReply::Kind::kNotImplemented;
    return reply;
  }
  ReplyCollector collector(&reply);
  try {
    if (!Codec().DecodeResponseEnvelope(data, size, &collector)) reply.kind = MethodReply::Kind::kMalformed;
  } catch (const std::exception&) {
    // An error envelope whose code or message is not text.
    reply.kind = MethodReply::Kind::kMalformed;
  }
  return reply;
}

std::string DescribeValue(const flutter::EncodableValue& value) {
  std::ostringstream out;
  if (value.IsNull()) {
    out << "null";
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    out << (*flag ? "true" : "false");
  } else if (const auto* small = std::get_if<int32_t>(&value)) {
    out << *small;
  } else if (const auto* large = std::get_if<int64_t>(&value)) {
    out << *large;
  } else if (const auto* real = std::get_if<double>(&value)) {
    out << *real;
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    out << '"' << *text << '"';
  } else if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
    out << "bytes(" << bytes->size() << ')';
  } else if (const auto* ints = std::get_if<std::vector<int32_t>>(&value)) {
    DescribeList(out, *ints);
  } else if (const auto* longs = std::get_if<std::vector<int64_t>>(&value)) {
    DescribeList(out, *longs);
  } else if (const auto* doubles = std::get_if<std::vector<double>>(&value)) {
    DescribeList(out, *doubles);
  } else if (const auto* floats = std::get_if<std::vector<float>>(&value)) {
    DescribeList(out, *floats);
  } else if (const auto* list = std::get_if<flutter::EncodableList>(&value)) {
    out << '[';
    for (size_t index = 0; index < list->size(); ++index) {
      if (index != 0) out << ", ";
      out << DescribeValue((*list)[index]);
    }
    out << ']';
  } else if (const auto* map = std::get_if<flutter::EncodableMap>(&value)) {
    out << '{';
    bool first = true;
    for (const auto& [key, entry] : *map) {
      if (!first) out << ", ";
      first = false;
      out << DescribeValue(key) << ": " << DescribeValue(entry);
    }
    out << '}';
  } else {
    out << "custom value";
  }
  return out.str();
}

std::string DescribeReply(const MethodReply& reply) {
  switch (reply.kind) {
    case MethodReply::Kind::kSuccess:
      return "success: " + DescribeValue(reply.value);
    case MethodReply::Kind::kError:
      return "error " + reply.error_code + ": " + reply.error_message;
    case MethodReply::Kind::kNotImplemented:
      return "not implemented";
    case MethodReply::Kind::kMalformed:
      break;
  }
  return "malformed reply of " + std::to_string(reply.bytes.size()) + " bytes";
}

}  // namespace talvor::standins
