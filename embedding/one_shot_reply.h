#ifndef TALVOR_EMBEDDING_ONE_SHOT_REPLY_H_
#define TALVOR_EMBEDDING_ONE_SHOT_REPLY_H_

#include <cstdint>
#include <vector>

#include "embedding/binary_messenger.h"

namespace flutter {

// Answers one message at most once. A second answer is refused with a line on
// standard error; so is dropping the holder without ever answering, in which
// case no response is sent at all. A holder dropped unanswered because a
// failure (an exception) is unwinding through its owner, typically a handler
// that threw, answers with the empty reply instead: the message does not go
// unanswered, and no warning is written.
class OneShotReply {
 public:
  explicit OneShotReply(BinaryReplyCallback reply);
  ~OneShotReply();
  OneShotReply(const OneShotReply&) = delete;
  OneShotReply& operator=(const OneShotReply&) = delete;

  // Sends `bytes` as the answer; null and an empty vector both answer with a
  // null pointer and a count of 0 (the empty reply).
  void Deliver(const std::vector<uint8_t>* bytes);

 private:
  BinaryReplyCallback reply_;
  // Exceptions in flight on this thread when the holder was made; more of
  // them at its destruction means a failure is destroying it.
  int exceptions_at_creation_;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_ONE_SHOT_REPLY_H_
