#ifndef TALVOR_EMBEDDING_ENGINE_METHOD_RESULT_H_
#define TALVOR_EMBEDDING_ENGINE_METHOD_RESULT_H_

#include <string>
#include <utility>

#include "codec/encodable_value.h"
#include "codec/method_codec.h"
#include "codec/method_result.h"
#include "embedding/binary_messenger.h"
#include "embedding/one_shot_reply.h"

namespace flutter {

// The result handed to the handler of an incoming method call: encodes the
// outcome with the channel's codec and answers the message through a
// once-only reply. Dropping it unanswered sends nothing and writes a warning.
template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  EngineMethodResult(BinaryReplyCallback reply, const MethodCodec<T>* codec)
      : reply_(std::move(reply)), codec_(codec) {}
  ~EngineMethodResult() override = default;
  EngineMethodResult(const EngineMethodResult&) = delete;
  EngineMethodResult& operator=(const EngineMethodResult&) = delete;

  void Success(const T* result) override {
    const auto envelope = codec_->EncodeSuccessEnvelope(result);
    reply_.Deliver(envelope.get());
  }

  void Error(const std::string& error_code, const std::string& error_message,
             const T* error_details) override {
    const auto envelope = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    reply_.Deliver(envelope.get());
  }

  // The empty reply is the protocol's "not implemented".
  void NotImplemented() override { reply_.Deliver(nullptr); }

 private:
  OneShotReply reply_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_ENGINE_METHOD_RESULT_H_
