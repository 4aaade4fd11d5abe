#ifndef TALVOR_EMBEDDING_METHOD_CHANNEL_H_
#define TALVOR_EMBEDDING_METHOD_CHANNEL_H_

#include <functional>
#include <memory>
#include <string>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_codec.h"
#include "codec/method_result.h"
#include "embedding/binary_messenger.h"

namespace flutter {

// Handles one incoming method call. The call is lent for the duration of the
// handler; the result is the handler's, to answer exactly once, at once or
// later.
using MethodCallCallback = std::function<void(const MethodCall<EncodableValue>& call,
                                              std::unique_ptr<MethodResult<EncodableValue>> result)>;

// A named channel of method calls over a messenger, with a method codec.
// Messenger and codec must outlive the channel.
class MethodCallChannel {
 public:
  MethodCallChannel(BinaryMessenger* messenger, const std::string& name,
                    const MethodCodec<EncodableValue>* codec);
  // Leaves an installed handler in the messenger, where it keeps working
  // until it is replaced or removed there, or the messenger goes.
  ~MethodCallChannel();
  MethodCallChannel(const MethodCallChannel&) = delete;
  MethodCallChannel& operator=(const MethodCallChannel&) = delete;

  // Installs the handler of incoming calls, replacing an earlier one; an
  // empty callback removes it.
  void SetMethodCallCallback(MethodCallCallback callback);

  // Calls `method` on the application. Without a result nothing is awaited;
  // otherwise the result receives the decoded reply (an empty reply is
  // NotImplemented).
  void InvokeMethod(const std::string& method, std::unique_ptr<EncodableValue> arguments,
                    std::unique_ptr<MethodResult<EncodableValue>> result = nullptr);

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<EncodableValue>* codec_;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_METHOD_CHANNEL_H_
