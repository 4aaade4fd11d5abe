#include "embedding/one_shot_reply.h"

#include <exception>
#include <iostream>
#include <utility>

#include "embedding/unhandled_exception.h"

namespace flutter {

OneShotReply::OneShotReply(BinaryReplyCallback reply)
    : reply_(std::move(reply)), exceptions_at_creation_(std::uncaught_exceptions()) {}

OneShotReply::~OneShotReply() {
  if (!reply_) return;
  if (std::uncaught_exceptions() <= exceptions_at_creation_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory leak." << std::endl;
    return;
  }
  // The empty reply is the protocol's "not implemented"; nothing may escape a
  // destructor that runs during unwinding.
  try {
    reply_(nullptr, 0);
  } catch (...) {
    WriteUnhandledException("Unhandled exception in a message handler: ");
  }
}

void OneShotReply::Deliver(const std::vector<uint8_t>* bytes) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be called,"
              << " and it can be called exactly once. Ignoring duplicate result." << std::endl;
    return;
  }
  const uint8_t* data = bytes != nullptr && !bytes->empty() ? bytes->data() : nullptr;
  const size_t size = bytes != nullptr ? bytes->size() : 0;
  // Emptied before the call, so that an answer given from inside the reply
  // itself counts as a second one.
  BinaryReplyCallback reply = std::move(reply_);
  reply_ = nullptr;
  reply(data, size);
}

}  // namespace flutter
