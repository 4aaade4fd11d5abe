#include "embedding/one_shot_reply.h"

#include <iostream>
#include <utility>

namespace flutter {

OneShotReply::OneShotReply(BinaryReplyCallback reply) : reply_(std::move(reply)) {}

OneShotReply::~OneShotReply() {
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory leak." << std::endl;
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
