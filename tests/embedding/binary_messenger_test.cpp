#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "embedding/binary_messenger_impl.h"
#include "embedding/flutter_engine.h"
#include "embedding/one_shot_reply.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/stderr_capture.h"

namespace {

using flutter::BinaryReplyCallback;
using talvor::test::EngineCall;
using talvor::test::FakeEngine;
using talvor::test::StderrCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kChannel[] = "com.example/test";
constexpr char kDuplicateResponse[] =
    "Error: Response can be set only once. Ignoring duplicate response.";

// Records its own destruction and what the engine had been told by then.
struct DestructionProbe {
  DestructionProbe(FakeEngine& fake, std::vector<std::string>& log, std::string name)
      : fake(fake), log(log), name(std::move(name)) {}
  ~DestructionProbe() {
    log.push_back(name + " destroyed after " + std::to_string(fake.Calls().size()) + " calls");
  }
  FakeEngine& fake;
  std::vector<std::string>& log;
  std::string name;
};

class MessengerTest : public ::testing::Test {
 protected:
  MessengerTest() { fake_.ClearCalls(); }

  flutter::BinaryMessenger& messenger() { return *engine_->messenger(); }

  void DestroyEngine() { engine_.reset(); }

  // Installs a handler that keeps the reply callback of every message.
  void KeepReplies() {
    messenger().SetMessageCallback(kChannel,
                                   [this](const uint8_t*, size_t, BinaryReplyCallback reply) {
                                     kept_replies_.push_back(std::move(reply));
                                   });
  }

  size_t LockCount() const { return fake_.CountOf("FlutterDesktopMessengerLock"); }
  size_t UnlockCount() const { return fake_.CountOf("FlutterDesktopMessengerUnlock"); }

  FakeEngine fake_;
  std::unique_ptr<flutter::FlutterEngine> engine_ =
      std::make_unique<flutter::FlutterEngine>(flutter::FlutterProject(L"data"));
  std::vector<BinaryReplyCallback> kept_replies_;
  const std::vector<uint8_t> message_ = {7, 1, 'x', 1};
};

TEST_F(MessengerTest, SendWithoutReplyUsesThePlainSendWithTheCallersBytes) {
  messenger().Send(kChannel, message_.data(), message_.size(), nullptr);

  const std::vector<EngineCall> calls = fake_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].function, "FlutterDesktopMessengerSend");
  EXPECT_EQ(calls[0].handle, fake_.messenger());
  EXPECT_EQ(calls[0].name, kChannel);
  EXPECT_EQ(calls[0].data, message_.data());
  EXPECT_EQ(calls[0].bytes, message_);
  EXPECT_THAT(fake_.PendingSends(), IsEmpty());
}

TEST_F(MessengerTest, SendWithReplyGivesTheEngineAHolderThatRunsTheReplyOnce) {
  std::vector<std::vector<uint8_t>> replies;
  std::vector<bool> null_data;
  const auto reply = [&](const uint8_t* data, size_t size) {
    null_data.push_back(data == nullptr);
    replies.emplace_back(data, data + size);
  };
  messenger().Send(kChannel, message_.data(), message_.size(), reply);
  messenger().Send(kChannel, message_.data(), message_.size(), reply);

  const std::vector<EngineCall> calls = fake_.CallsTo("FlutterDesktopMessengerSendWithReply");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].reply, &flutter::DispatchSendReply);
  EXPECT_EQ(calls[0].data, message_.data());
  EXPECT_EQ(calls[0].name, kChannel);
  EXPECT_NE(calls[0].user_data, calls[1].user_data);
  EXPECT_EQ(fake_.CountOf("FlutterDesktopMessengerSend"), 0u);

  const auto pending = fake_.PendingSends();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].bytes, message_);
  ASSERT_TRUE(fake_.AnswerSend(pending[0].id, std::vector<uint8_t>{0, 0}));
  ASSERT_TRUE(fake_.AnswerSend(pending[1].id, nullptr, 0));
  EXPECT_THAT(replies, ElementsAre(std::vector<uint8_t>{0, 0}, std::vector<uint8_t>{}));
  EXPECT_THAT(null_data, ElementsAre(false, true));
}

TEST_F(MessengerTest, RefusedSendFreesItsHolderAndNeverRunsTheReply) {
  fake_.set_refuse_sends(true);
  auto token = std::make_shared<int>(0);
  bool replied = false;
  messenger().Send(kChannel, message_.data(), message_.size(),
                   [token, &replied](const uint8_t*, size_t) { replied = true; });

  EXPECT_EQ(fake_.CountOf("FlutterDesktopMessengerSendWithReply"), 1u);
  EXPECT_EQ(token.use_count(), 1) << "the holder's copy of the reply is still alive";
  EXPECT_THAT(fake_.PendingSends(), IsEmpty());
  EXPECT_FALSE(replied);
}

TEST_F(MessengerTest, ReplacingAHandlerKeepsTheAddressTheEngineWasGiven) {
  std::vector<std::string> log;
  auto first = std::make_shared<DestructionProbe>(fake_, log, "first");
  std::vector<std::string> handled;
  messenger().SetMessageCallback(kChannel, [first, &handled](const uint8_t*, size_t,
                                                             BinaryReplyCallback) {
    handled.push_back("first");
  });
  first.reset();
  messenger().SetMessageCallback(kChannel, [&handled](const uint8_t*, size_t,
                                                      BinaryReplyCallback) {
    handled.push_back("second");
  });

  const std::vector<EngineCall> calls = fake_.CallsTo("FlutterDesktopMessengerSetCallback");
  ASSERT_EQ(calls.size(), 2u);
  for (const EngineCall& call : calls) {
    EXPECT_EQ(call.name, kChannel);
    EXPECT_EQ(call.message_callback, &flutter::DispatchIncomingMessage);
    EXPECT_NE(call.user_data, nullptr);
  }
  EXPECT_EQ(calls[0].user_data, calls[1].user_data);
  EXPECT_THAT(log, ElementsAre("first destroyed after 1 calls"));

  fake_.Deliver(kChannel, message_);
  EXPECT_THAT(handled, ElementsAre("second"));
}

TEST_F(MessengerTest, RemovingAHandlerDestroysItBeforeUnregisteringWithNulls) {
  std::vector<std::string> log;
  auto probe = std::make_shared<DestructionProbe>(fake_, log, "handler");
  messenger().SetMessageCallback(kChannel, [probe](const uint8_t*, size_t, BinaryReplyCallback) {});
  probe.reset();

  messenger().SetMessageCallback(kChannel, nullptr);
  messenger().SetMessageCallback("com.example/never-set", nullptr);

  // Destroyed while the engine had seen only the installing call.
  EXPECT_THAT(log, ElementsAre("handler destroyed after 1 calls"));
  const std::vector<EngineCall> calls = fake_.CallsTo("FlutterDesktopMessengerSetCallback");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].name, kChannel);
  EXPECT_EQ(calls[2].name, "com.example/never-set");
  for (size_t i = 1; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].message_callback, nullptr);
    EXPECT_EQ(calls[i].user_data, nullptr);
  }
  EXPECT_EQ(fake_.HandlerFor(kChannel), nullptr);
}

// The running handler is kept alive for its call, so it may go on using
// what it captured after replacing or removing itself (AddressSanitizer
// reports the use of a destroyed one).
TEST_F(MessengerTest, HandlerMayReplaceOrRemoveItsOwnChannelsHandlerWhileItRuns) {
  std::vector<std::string> log;
  messenger().SetMessageCallback(kChannel, [this, &log, name = std::string(40, 'a')](
                                               const uint8_t*, size_t, BinaryReplyCallback reply) {
    messenger().SetMessageCallback(kChannel, [this, &log, name = std::string(40, 'b')](
                                                 const uint8_t*, size_t, BinaryReplyCallback reply) {
      messenger().SetMessageCallback(kChannel, nullptr);
      log.push_back(name.substr(0, 1) + " after removing itself");
      reply(nullptr, 0);
    });
    log.push_back(name.substr(0, 1) + " after replacing itself");
    reply(nullptr, 0);
  });

  const auto first = fake_.Deliver(kChannel, message_);
  const auto second = fake_.Deliver(kChannel, message_);
  const auto third = fake_.Deliver(kChannel, message_);

  EXPECT_THAT(log, ElementsAre("a after replacing itself", "b after removing itself"));
  EXPECT_TRUE(first.handled);
  EXPECT_TRUE(second.handled);
  EXPECT_FALSE(third.handled);
  EXPECT_EQ(fake_.Responses().size(), 2u);
  const std::vector<EngineCall> calls = fake_.CallsTo("FlutterDesktopMessengerSetCallback");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].user_data, calls[0].user_data);
  EXPECT_EQ(calls[2].message_callback, nullptr);
}

// Once the call is over, the replaced handler goes.
TEST_F(MessengerTest, AHandlerThatReplacedItselfIsDestroyedWhenItsCallEnds) {
  std::vector<std::string> log;
  auto probe = std::make_shared<DestructionProbe>(fake_, log, "first");
  messenger().SetMessageCallback(kChannel, [this, probe](const uint8_t*, size_t, BinaryReplyCallback) {
    messenger().SetMessageCallback(kChannel, [](const uint8_t*, size_t, BinaryReplyCallback) {});
  });
  const std::weak_ptr<DestructionProbe> watch = probe;
  probe.reset();

  fake_.Deliver(kChannel, message_);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(MessengerTest, HandlerSeesTheEnginesOwnBytesNotACopy) {
  const uint8_t* seen = nullptr;
  size_t seen_size = 0;
  messenger().SetMessageCallback(kChannel, [&](const uint8_t* message, size_t size,
                                               BinaryReplyCallback reply) {
    seen = message;
    seen_size = size;
    reply(message, size);
  });

  const auto delivery = fake_.Deliver(kChannel, message_);

  EXPECT_EQ(seen, message_.data());
  EXPECT_EQ(seen_size, message_.size());
  const auto answer = fake_.CallsTo("FlutterDesktopMessengerSendResponse");
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].data, message_.data()) << "reply bytes are passed through";
  EXPECT_EQ(answer[0].response_handle, delivery.response_handle);
}

TEST_F(MessengerTest, ReplyIsSentOnceUnderTheLockAndASecondAnswerIsRefused) {
  KeepReplies();
  const auto delivery = fake_.Deliver(kChannel, message_);
  ASSERT_EQ(kept_replies_.size(), 1u);
  const std::vector<uint8_t> answer = {0, 0};

  StderrCapture capture;
  kept_replies_[0](answer.data(), answer.size());
  kept_replies_[0](answer.data(), answer.size());

  EXPECT_THAT(capture.Lines(), ElementsAre(kDuplicateResponse));
  const auto response = fake_.ResponseTo(delivery.id);
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->bytes, answer);
  EXPECT_EQ(fake_.Responses().size(), 1u);
  for (const char* function :
       {"FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerSendResponse"}) {
    for (const EngineCall& call : fake_.CallsTo(function)) {
      EXPECT_TRUE(call.locked) << function << " outside the messenger lock";
    }
  }
  EXPECT_EQ(LockCount(), 2u);
  EXPECT_EQ(UnlockCount(), 2u);
  EXPECT_FALSE(fake_.MessengerLocked());
}

TEST_F(MessengerTest, CopiesOfAReplyShareTheirOnceOnlyGuard) {
  KeepReplies();
  fake_.Deliver(kChannel, message_);
  const BinaryReplyCallback copy = kept_replies_[0];

  StderrCapture capture;
  kept_replies_[0](nullptr, 0);
  copy(nullptr, 0);

  EXPECT_THAT(capture.Lines(), ElementsAre(kDuplicateResponse));
  EXPECT_EQ(fake_.CountOf("FlutterDesktopMessengerSendResponse"), 1u);
}

TEST_F(MessengerTest, ReplyAfterTheEngineIsGoneSendsAndWritesNothing) {
  KeepReplies();
  fake_.Deliver(kChannel, message_);
  DestroyEngine();
  fake_.ClearCalls();

  StderrCapture capture;
  kept_replies_[0](message_.data(), message_.size());
  kept_replies_[0](message_.data(), message_.size());

  EXPECT_THAT(capture.Lines(), IsEmpty());
  EXPECT_THAT(fake_.CallNames(),
              ElementsAre("FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                          "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerLock",
                          "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerUnlock"));
  EXPECT_FALSE(fake_.MessengerLocked());
  EXPECT_EQ(fake_.MessengerReferences(), 1);
  kept_replies_.clear();
  EXPECT_EQ(fake_.MessengerReferences(), 0);
}

TEST_F(MessengerTest, MessengerReferenceLivesAsLongAsTheLastReplyCallback) {
  messenger().SetMessageCallback(kChannel, [](const uint8_t*, size_t, BinaryReplyCallback) {});
  fake_.Deliver(kChannel, message_);
  EXPECT_EQ(fake_.MessengerReferences(), 1) << "a dropped reply must release its reference";
  // The unanswered message above is the engine's to forget.

  KeepReplies();
  fake_.Deliver(kChannel, message_);
  EXPECT_EQ(fake_.MessengerReferences(), 2);
  BinaryReplyCallback copy = kept_replies_[0];
  kept_replies_.clear();
  EXPECT_EQ(fake_.MessengerReferences(), 2);
  copy(nullptr, 0);
  EXPECT_EQ(fake_.MessengerReferences(), 2) << "answering does not release; destroying does";
  copy = nullptr;
  EXPECT_EQ(fake_.MessengerReferences(), 1);
  EXPECT_EQ(fake_.CountOf("FlutterDesktopMessengerAddRef"),
            fake_.CountOf("FlutterDesktopMessengerRelease"));
}

// A handler that fails must neither take the engine down nor leave the sender
// waiting for an answer that nobody can give any more.
TEST_F(MessengerTest, HandlerExceptionsStayOutOfTheEngineAndAbandonedMessagesGetTheEmptyReply) {
  messenger().SetMessageCallback("throws-unanswered", [](const uint8_t*, size_t,
                                                         BinaryReplyCallback) {
    throw std::runtime_error("boom");
  });
  messenger().SetMessageCallback("throws-answered", [](const uint8_t*, size_t,
                                                       BinaryReplyCallback reply) {
    const uint8_t answer[] = {0, 0};
    reply(answer, sizeof answer);
    throw std::runtime_error("after answering");
  });
  messenger().SetMessageCallback("throws-kept", [this](const uint8_t*, size_t,
                                                       BinaryReplyCallback reply) {
    kept_replies_.push_back(std::move(reply));
    throw 42;
  });

  StderrCapture capture;
  const auto unanswered = fake_.Deliver("throws-unanswered", message_);
  const auto answered = fake_.Deliver("throws-answered", message_);
  const auto kept = fake_.Deliver("throws-kept", message_);
  EXPECT_THAT(capture.Lines(),
              ElementsAre("Unhandled exception in a message handler: boom",
                          "Unhandled exception in a message handler: after answering",
                          "Unhandled exception in a message handler: unknown exception"));

  const auto empty = fake_.ResponseTo(unanswered.id);
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->data_is_null);
  EXPECT_EQ(empty->size, 0u);
  const auto own = fake_.ResponseTo(answered.id);
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(own->bytes, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(fake_.Responses().size(), 2u);
  EXPECT_FALSE(fake_.ResponseTo(kept.id).has_value()) << "its holder may still answer";

  kept_replies_[0](nullptr, 0);
  EXPECT_TRUE(fake_.ResponseTo(kept.id).has_value());
}

TEST_F(MessengerTest, ReplyExceptionsStayOutOfTheEngineAndTheHolderIsFreed) {
  auto token = std::make_shared<int>(0);
  messenger().Send(kChannel, message_.data(), message_.size(),
                   [token](const uint8_t*, size_t) { throw std::runtime_error("bad reply"); });
  const auto pending = fake_.PendingSends();
  ASSERT_EQ(pending.size(), 1u);

  StderrCapture capture;
  fake_.AnswerSend(pending[0].id, nullptr, 0);

  EXPECT_THAT(capture.Lines(), ElementsAre("Unhandled exception in a reply handler: bad reply"));
  EXPECT_EQ(token.use_count(), 1);
}

TEST_F(MessengerTest, PendingRepliesAreAnsweredEmptyWhenTheEngineGoesFirst) {
  int replies = 0;
  messenger().Send(kChannel, message_.data(), message_.size(), [&](const uint8_t* data,
                                                                   size_t size) {
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    ++replies;
  });
  DestroyEngine();
  EXPECT_EQ(replies, 1);
}

// --- OneShotReply ---

struct ReplyLog {
  BinaryReplyCallback Callback() {
    return [this](const uint8_t* data, size_t size) {
      pointers.push_back(data);
      sizes.push_back(size);
    };
  }
  std::vector<const uint8_t*> pointers;
  std::vector<size_t> sizes;
};

TEST(OneShotReply, NullAndEmptyVectorsBothAnswerWithANullPointerAndZero) {
  ReplyLog log;
  const std::vector<uint8_t> empty;
  {
    flutter::OneShotReply from_null(log.Callback());
    flutter::OneShotReply from_empty(log.Callback());
    StderrCapture capture;
    from_null.Deliver(nullptr);
    from_empty.Deliver(&empty);
    EXPECT_THAT(capture.Lines(), IsEmpty()) << "delivered holders go quietly";
  }
  EXPECT_THAT(log.pointers, ElementsAre(nullptr, nullptr));
  EXPECT_THAT(log.sizes, ElementsAre(0u, 0u));
}

TEST(OneShotReply, DeliversTheVectorsOwnBytesOnceAndRefusesASecondDelivery) {
  ReplyLog log;
  const std::vector<uint8_t> bytes = {0, 3, 7, 0, 0, 0};
  flutter::OneShotReply reply(log.Callback());

  StderrCapture capture;
  reply.Deliver(&bytes);
  reply.Deliver(&bytes);
  reply.Deliver(nullptr);

  const std::string duplicate =
      "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
      "exactly once. Ignoring duplicate result.";
  EXPECT_THAT(capture.Lines(), ElementsAre(duplicate, duplicate));
  EXPECT_THAT(log.pointers, ElementsAre(bytes.data()));
  EXPECT_THAT(log.sizes, ElementsAre(bytes.size()));
}

TEST(OneShotReply, DroppedWithoutDeliveryWarnsAndSendsNothing) {
  ReplyLog log;
  StderrCapture capture;
  { flutter::OneShotReply reply(log.Callback()); }
  EXPECT_THAT(capture.Lines(),
              ElementsAre("Warning: Failed to respond to a message. This is a memory leak."));
  EXPECT_THAT(log.pointers, IsEmpty());
}

// Dropped by an exception, it answers with the empty reply instead; but an
// exception that was already in flight when it was made says nothing about it.
TEST(OneShotReply, DroppedByAnExceptionAnswersEmptyWithoutAWarning) {
  ReplyLog log;
  StderrCapture capture;
  try {
    flutter::OneShotReply reply(log.Callback());
    throw 1;
  } catch (int) {
  }
  EXPECT_THAT(capture.Lines(), IsEmpty());
  EXPECT_THAT(log.pointers, ElementsAre(nullptr));
  EXPECT_THAT(log.sizes, ElementsAre(0u));

  struct MadeDuringUnwinding {
    ~MadeDuringUnwinding() { flutter::OneShotReply reply(log->Callback()); }
    ReplyLog* log;
  };
  ReplyLog unwinding_log;
  StderrCapture unwinding_capture;
  try {
    MadeDuringUnwinding made{&unwinding_log};
    throw 2;
  } catch (int) {
  }
  EXPECT_THAT(unwinding_capture.Lines(),
              ElementsAre("Warning: Failed to respond to a message. This is a memory leak."));
  EXPECT_THAT(unwinding_log.pointers, IsEmpty());
}

}  // namespace
