#include "codec/standard_method_codec.h"

#include <iostream>
#include <map>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>
#include <variant>

#include "codec/byte_streams.h"

namespace flutter {

namespace {

// Storage for an object that must outlive every static destructor: channels
// torn down at process exit may still hold references to their codec.
template <typename T>
class NeverDestroyed {
 public:
  NeverDestroyed() { ::new (static_cast<void*>(storage_)) T(); }
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;

  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace

const StandardMethodCodec& StandardMethodCodec::GetInstance(const StandardCodecSerializer* serializer) {
  struct Registry {
    std::mutex mutex;
    // Map nodes never move, so the codecs keep their addresses.
    std::map<const StandardCodecSerializer*, StandardMethodCodec> codecs;
  };
  static NeverDestroyed<Registry> registry;

  if (serializer == nullptr) serializer = &StandardCodecSerializer::GetInstance();
  Registry& table = registry.get();
  const std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.codecs.find(serializer);
  if (found == table.codecs.end()) {
    found = table.codecs
                .emplace(std::piecewise_construct, std::forward_as_tuple(serializer),
                         std::forward_as_tuple(PrivateKey(), serializer))
                .first;
  }
  return found->second;
}

StandardMethodCodec::StandardMethodCodec(PrivateKey, const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCall(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader reader(message, message_size);
  const EncodableValue name = serializer_->ReadValue(&reader);
  const std::string* method_name = std::get_if<std::string>(&name);
  if (method_name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string." << std::endl;
    return nullptr;
  }
  // Read whether or not bytes remain: a call that ends after its name has
  // null arguments. Bytes after the arguments are ignored.
  auto arguments = std::make_unique<EncodableValue>(serializer_->ReadValue(&reader));
  return std::make_unique<MethodCall<EncodableValue>>(*method_name, std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCall(
    const MethodCall<EncodableValue>& method_call) const {
  auto message = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(message.get());
  serializer_->WriteValue(EncodableValue(method_call.method_name()), &writer);
  if (method_call.arguments() != nullptr) {
    serializer_->WriteValue(*method_call.arguments(), &writer);
  } else {
    serializer_->WriteValue(EncodableValue(), &writer);
  }
  return message;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelope(
    const EncodableValue* result) const {
  auto message = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(message.get());
  writer.WriteByte(0);
  if (result != nullptr) {
    serializer_->WriteValue(*result, &writer);
  } else {
    serializer_->WriteValue(EncodableValue(), &writer);
  }
  return message;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelope(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto message = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(message.get());
  writer.WriteByte(1);
  serializer_->WriteValue(EncodableValue(error_code), &writer);
  if (error_message.empty()) {
    serializer_->WriteValue(EncodableValue(), &writer);
  } else {
    serializer_->WriteValue(EncodableValue(error_message), &writer);
  }
  if (error_details != nullptr) {
    serializer_->WriteValue(*error_details, &writer);
  } else {
    serializer_->WriteValue(EncodableValue(), &writer);
  }
  return message;
}

bool StandardMethodCodec::DecodeResponseEnvelope(const uint8_t* response, size_t response_size,
                                                 MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader reader(response, response_size);
  switch (reader.ReadByte()) {
    case 0: {
      const EncodableValue value = serializer_->ReadValue(&reader);
      if (result != nullptr) result->Success(value.IsNull() ? nullptr : &value);
      return true;
    }
    case 1: {
      // All three are read before any is inspected.
      const EncodableValue code = serializer_->ReadValue(&reader);
      const EncodableValue message = serializer_->ReadValue(&reader);
      const EncodableValue details = serializer_->ReadValue(&reader);
      // Strict access: a code or message of another type fails the decoding.
      const std::string& code_text = Get<std::string>(code);
      const std::string message_text = message.IsNull() ? std::string() : Get<std::string>(message);
      if (result != nullptr) {
        result->Error(code_text, message_text, details.IsNull() ? nullptr : &details);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace flutter
