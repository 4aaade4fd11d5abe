// The byte-level link to the engine's message channels: send bytes on a named
// channel, with or without a callback for the reply, and install one handler
// per channel for the messages that arrive on it.
#ifndef TALVOR_EMBEDDING_BINARY_MESSENGER_H_
#define TALVOR_EMBEDDING_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Receives a reply: its bytes and their count; the pointer is null when the
// reply is empty. May be empty itself.
using BinaryReplyCallback = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Receives one message: its bytes (borrowed for the duration of the call) and
// the callback that answers it. An empty callable stands for "no handler".
using BinaryMessageCallback =
    std::function<void(const uint8_t* message, size_t message_size, BinaryReplyCallback reply)>;

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends `message` on `channel`. With an empty `reply` nothing is awaited;
  // otherwise `reply` is called once with the answer, or never when the
  // engine refuses the message. The bytes are not used after the call.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReplyCallback reply) = 0;

  // Installs `callback` as the handler of `channel`, replacing any earlier
  // one; an empty `callback` removes the channel's handler. A handler must
  // not replace or remove its own channel's handler while it runs: that
  // would destroy it mid-call.
  virtual void SetMessageCallback(const std::string& channel, BinaryMessageCallback callback) = 0;

 protected:
  BinaryMessenger() = default;
  BinaryMessenger(const BinaryMessenger&) = default;
  BinaryMessenger& operator=(const BinaryMessenger&) = default;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_BINARY_MESSENGER_H_
