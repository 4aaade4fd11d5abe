#include "embedding/binary_messenger_impl.h"

#include <atomic>
#include <iostream>
#include <memory>
#include <utility>

#include "embedding/unhandled_exception.h"

namespace flutter {

namespace {

// What the reply callback of one incoming message needs: a counted reference
// to the messenger handle, which stays valid after the engine is gone, and
// the response handle, null once the message has been answered. Copies of the
// reply callback share it, so that however the callback is copied, the
// engine is given the response handle at most once.
struct IncomingReplyState {
  IncomingReplyState(FlutterDesktopMessenger* messenger_handle,
                     const FlutterDesktopMessageResponseHandle* handle)
      : messenger(messenger_handle != nullptr ? FlutterDesktopMessengerAddRef(messenger_handle)
                                              : nullptr),
        response_handle(handle) {}
  ~IncomingReplyState() {
    if (messenger != nullptr) FlutterDesktopMessengerRelease(messenger);
  }
  IncomingReplyState(const IncomingReplyState&) = delete;
  IncomingReplyState& operator=(const IncomingReplyState&) = delete;

  FlutterDesktopMessenger* const messenger;
  // Taken by an atomic exchange, so that exactly one caller ever sends it
  // even when copies of the reply race on several threads: the engine's
  // messenger lock may give no lock at all.
  std::atomic<const FlutterDesktopMessageResponseHandle*> response_handle;
};

// Holds the engine's messenger lock for one scope, when the engine gave one.
class MessengerLock {
 public:
  explicit MessengerLock(FlutterDesktopMessenger* messenger)
      : locked_(FlutterDesktopMessengerLock(messenger)) {}
  ~MessengerLock() {
    if (locked_ != nullptr) FlutterDesktopMessengerUnlock(locked_);
  }
  MessengerLock(const MessengerLock&) = delete;
  MessengerLock& operator=(const MessengerLock&) = delete;

 private:
  FlutterDesktopMessenger* locked_;
};

// The reply callback of an incoming message; safe to call from any thread
// and after the engine is gone, in which case the answer is dropped.
class IncomingReply {
 public:
  explicit IncomingReply(std::shared_ptr<IncomingReplyState> state) : state_(std::move(state)) {}

  void operator()(const uint8_t* data, size_t size) const {
    FlutterDesktopMessenger* messenger = state_->messenger;
    if (messenger == nullptr) return;
    // The availability test and the send happen under one lock, so the
    // engine cannot go away between them.
    MessengerLock lock(messenger);
    if (!FlutterDesktopMessengerIsAvailable(messenger)) return;
    const FlutterDesktopMessageResponseHandle* response = state_->response_handle.exchange(nullptr);
    if (response == nullptr) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate response."
                << std::endl;
      return;
    }
    FlutterDesktopMessengerSendResponse(messenger, response, data, size);
  }

 private:
  std::shared_ptr<IncomingReplyState> state_;
};

// After a handler failed with an exception: a message that is still
// unanswered and that nobody holds a reply callback for any more would never
// be answered, so it gets the empty (not-implemented) reply.
void AnswerIfAbandoned(const std::shared_ptr<IncomingReplyState>& state) noexcept {
  if (state == nullptr || state.use_count() != 1 || state->response_handle.load() == nullptr) return;
  try {
    const IncomingReply reply(state);
    reply(nullptr, 0);
  } catch (...) {
    WriteUnhandledException("Unhandled exception in a message handler: ");
  }
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessenger* messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReplyCallback reply) {
  if (messenger_ == nullptr) return;
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  // Owned by the engine from a successful send until DispatchSendReply.
  auto holder = std::make_unique<BinaryReplyCallback>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                           DispatchSendReply, holder.get())) {
    holder.release();
  }
}

void BinaryMessengerImpl::SetMessageCallback(const std::string& channel,
                                             BinaryMessageCallback callback) {
  if (!callback) {
    // Erased first: the engine must never be left pointing at a destroyed handler.
    handlers_.erase(channel);
    if (messenger_ != nullptr) {
      FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    }
    return;
  }
  // Assigned into the existing entry, so the engine keeps the address it has.
  std::shared_ptr<const BinaryMessageCallback>& stored = handlers_[channel];
  stored = std::make_shared<const BinaryMessageCallback>(std::move(callback));
  if (messenger_ != nullptr) {
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), DispatchIncomingMessage,
                                       &stored);
  }
}

void DispatchIncomingMessage(FlutterDesktopMessenger* messenger,
                             const FlutterDesktopMessage* message, void* user_data) {
  std::shared_ptr<IncomingReplyState> state;
  try {
    state = std::make_shared<IncomingReplyState>(messenger, message->response_handle);
    // Held for the call: the handler may replace or remove its own channel's
    // handler, which destroys the stored one.
    const std::shared_ptr<const BinaryMessageCallback> handler =
        *static_cast<const std::shared_ptr<const BinaryMessageCallback>*>(user_data);
    // The bytes are the engine's own, lent for this call: never copied.
    (*handler)(message->message, message->message_size, IncomingReply(state));
  } catch (...) {
    WriteUnhandledException("Unhandled exception in a message handler: ");
    AnswerIfAbandoned(state);
  }
}

void DispatchSendReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReplyCallback> holder(static_cast<BinaryReplyCallback*>(user_data));
  try {
    if (*holder) (*holder)(data, data_size);
  } catch (...) {
    WriteUnhandledException("Unhandled exception in a reply handler: ");
  }
}

}  // namespace flutter
