#include "embedding/method_channel.h"

#include <iostream>
#include <utility>
#include <variant>
#include <vector>

#include "embedding/engine_method_result.h"

namespace flutter {

namespace {

using Result = MethodResult<EncodableValue>;

// Passes a decoded reply on to the caller's result and notes whether it got
// there, which tells a decoding failure from a failure of the result itself.
class ReplyForwarder : public Result {
 public:
  explicit ReplyForwarder(Result* target) : target_(target) {}

  bool informed() const { return informed_; }

  void Success(const EncodableValue* result) override {
    informed_ = true;
    target_->Success(result);
  }
  void Error(const std::string& error_code, const std::string& error_message,
             const EncodableValue* error_details) override {
    informed_ = true;
    target_->Error(error_code, error_message, error_details);
  }
  void NotImplemented() override {
    informed_ = true;
    target_->NotImplemented();
  }

 private:
  Result* target_;
  bool informed_ = false;
};

void WriteUndecodableReply(const std::string& channel) {
  std::cerr << "Unable to decode reply to method invocation on channel " << channel << std::endl;
}

// Informs `result` of the application's reply to an invocation.
void HandleInvocationReply(const uint8_t* reply, size_t reply_size, Result& result,
                           const MethodCodec<EncodableValue>& codec, const std::string& channel) {
  if (reply_size == 0) {
    result.NotImplemented();
    return;
  }
  ReplyForwarder forwarder(&result);
  try {
    if (codec.DecodeResponseEnvelope(reply, reply_size, &forwarder)) return;
  } catch (const std::bad_variant_access&) {
    // An error envelope whose code or message is not a string. The result
    // is left uninformed: it cannot be told what the application meant.
    if (forwarder.informed()) throw;
    WriteUndecodableReply(channel);
    return;
  }
  WriteUndecodableReply(channel);
  result.NotImplemented();
}

}  // namespace

MethodCallChannel::MethodCallChannel(BinaryMessenger* messenger, const std::string& name,
                                     const MethodCodec<EncodableValue>* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

MethodCallChannel::~MethodCallChannel() = default;

void MethodCallChannel::SetMethodCallCallback(MethodCallCallback callback) {
  if (!callback) {
    messenger_->SetMessageCallback(name_, nullptr);
    return;
  }
  messenger_->SetMessageCallback(
      name_, [callback = std::move(callback), codec = codec_, channel = name_](
                 const uint8_t* message, size_t message_size, BinaryReplyCallback reply) {
        // Made before decoding, so that every path answers through it.
        auto result = std::make_unique<EngineMethodResult<EncodableValue>>(std::move(reply), codec);
        std::unique_ptr<MethodCall<EncodableValue>> call =
            codec->DecodeMethodCall(message, message_size);
        if (call == nullptr) {
          std::cerr << "Unable to construct method call from message on channel " << channel
                    << std::endl;
          result->NotImplemented();
          return;
        }
        callback(*call, std::move(result));
      });
}

void MethodCallChannel::InvokeMethod(const std::string& method,
                                     std::unique_ptr<EncodableValue> arguments,
                                     std::unique_ptr<MethodResult<EncodableValue>> result) {
  const MethodCall<EncodableValue> call(method, std::move(arguments));
  const std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeMethodCall(call);
  if (result == nullptr) {
    messenger_->Send(name_, message->data(), message->size(), nullptr);
    return;
  }
  // Shared: the messenger keeps its own copy of the reply callback.
  messenger_->Send(name_, message->data(), message->size(),
                   [result = std::shared_ptr<Result>(std::move(result)), codec = codec_,
                    channel = name_](const uint8_t* reply, size_t reply_size) {
                     HandleInvocationReply(reply, reply_size, *result, *codec, channel);
                   });
}

}  // namespace flutter
