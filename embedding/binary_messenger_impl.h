#ifndef TALVOR_EMBEDDING_BINARY_MESSENGER_IMPL_H_
#define TALVOR_EMBEDDING_BINARY_MESSENGER_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/engine_api.h"

namespace flutter {

// The messenger over the engine's messenger handle. It owns the handler of
// every channel; the engine is given the address of the channel's entry as
// its callback's user data, so an entry never moves while it exists, and
// replacing a handler assigns into the same entry.
//
// A messenger made without an engine (a null handle) keeps its handler table
// but never calls the engine: sends are refused and their replies never run.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  explicit BinaryMessengerImpl(FlutterDesktopMessenger* messenger);
  // Destroys the handlers without telling the engine: the engine must already
  // be gone.
  ~BinaryMessengerImpl() override;
  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReplyCallback reply) override;
  void SetMessageCallback(const std::string& channel, BinaryMessageCallback callback) override;

 private:
  FlutterDesktopMessenger* messenger_;
  // A node-based map: entries keep their address until erased. Shared, so
  // that a running handler outlives its own replacement or removal.
  std::map<std::string, std::shared_ptr<const BinaryMessageCallback>> handlers_;
};

// The engine's callback for every channel with a handler; `user_data` is the
// address of the channel's entry in the handler table. Nothing is thrown.
void DispatchIncomingMessage(FlutterDesktopMessenger* messenger,
                             const FlutterDesktopMessage* message, void* user_data);

// The engine's callback for the reply to a send; `user_data` is the holder of
// the reply callback made by Send, freed here. Nothing is thrown.
void DispatchSendReply(const uint8_t* data, size_t data_size, void* user_data);

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_BINARY_MESSENGER_IMPL_H_
