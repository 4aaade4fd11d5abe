// Replies to incoming messages answered from other threads, the one part of
// the embedding layer built to be called from any thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/standard_method_codec.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_channel.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/wait.h"

namespace {

using flutter::BinaryReplyCallback;
using flutter::FlutterEngine;
using flutter::FlutterProject;
using talvor::test::EngineCall;
using talvor::test::FakeEngine;

constexpr char kChannel[] = "com.example/threads";

// Starts an engine whose handler of kChannel keeps every reply callback.
std::unique_ptr<FlutterEngine> EngineKeepingReplies(std::vector<BinaryReplyCallback>& replies) {
  auto engine = std::make_unique<FlutterEngine>(FlutterProject(L"data"));
  engine->messenger()->SetMessageCallback(
      kChannel, [&replies](const uint8_t*, size_t, BinaryReplyCallback reply) {
        replies.push_back(std::move(reply));
      });
  return engine;
}

void ExpectEveryEngineTestUnderTheLock(const FakeEngine& fake) {
  for (const char* function :
       {"FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerSendResponse"}) {
    for (const EngineCall& call : fake.CallsTo(function)) {
      EXPECT_TRUE(call.locked) << function << " outside the messenger lock";
    }
  }
}

TEST(MessengerThreads, ReplyFromAnotherThreadReachesTheLiveEngineAndReleasesThere) {
  FakeEngine fake;
  std::vector<BinaryReplyCallback> replies;
  auto engine = EngineKeepingReplies(replies);
  const auto delivery = fake.Deliver(kChannel, std::vector<uint8_t>{1});
  ASSERT_EQ(replies.size(), 1u);

  std::thread::id answering_thread;
  std::thread answer([&answering_thread, reply = std::move(replies[0])]() mutable {
    answering_thread = std::this_thread::get_id();
    const uint8_t bytes[] = {0, 0};
    reply(bytes, sizeof bytes);
    reply = nullptr;
  });
  answer.join();

  const auto response = fake.ResponseTo(delivery.id);
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->thread, answering_thread);
  EXPECT_EQ(response->bytes, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(fake.MessengerReferences(), 1);
  EXPECT_EQ(fake.CallsTo("FlutterDesktopMessengerRelease").at(0).thread, answering_thread);
  ExpectEveryEngineTestUnderTheLock(fake);
}

// The engine's teardown and a late reply race: the reply is either sent to
// the live engine or dropped, never given to a destroyed one. The fake
// records a reply to a destroyed engine as a violation, which fails the test.
TEST(MessengerThreads, ReplyRacingTheEnginesTeardownNeverReachesADestroyedEngine) {
  FakeEngine fake;
  constexpr int kRounds = 200;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<BinaryReplyCallback> replies;
    auto engine = EngineKeepingReplies(replies);
    fake.Deliver(kChannel, std::vector<uint8_t>{1});
    ASSERT_EQ(replies.size(), 1u);

    std::atomic<bool> ready{false};
    std::atomic<bool> go{false};
    std::thread answer([&ready, &go, reply = std::move(replies[0])]() mutable {
      ready = true;
      while (!go.load()) std::this_thread::yield();
      const uint8_t bytes[] = {0, 0};
      reply(bytes, sizeof bytes);
      reply = nullptr;
    });
    ASSERT_TRUE(talvor::test::WaitUntil([&ready] { return ready.load(); }));
    go = true;
    // Varying head starts for the reply, so that both outcomes occur.
    for (int spin = 0; spin < round % 20 * 50; ++spin) std::this_thread::yield();
    engine.reset();
    answer.join();

    EXPECT_EQ(fake.MessengerReferences(), 0) << "round " << round;
    EXPECT_FALSE(fake.MessengerLocked()) << "round " << round;
  }
  RecordProperty("answered_rounds", static_cast<int>(fake.Responses().size()));
  ExpectEveryEngineTestUnderTheLock(fake);
  EXPECT_EQ(fake.CountOf("FlutterDesktopMessengerLock"),
            fake.CountOf("FlutterDesktopMessengerUnlock"));
}

// A handler may give its result to a worker thread and answer from there.
TEST(MessengerThreads, MethodResultAnsweredFromAWorkerThread) {
  using flutter::EncodableValue;
  FakeEngine fake;
  auto engine = std::make_unique<FlutterEngine>(FlutterProject(L"data"));
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  flutter::MethodCallChannel channel(engine->messenger(), kChannel, &codec);
  std::thread worker;
  channel.SetMethodCallCallback(
      [&worker](const flutter::MethodCall<EncodableValue>&,
                std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
        worker = std::thread([result = std::move(result)] {
          const EncodableValue done(true);
          result->Success(&done);
        });
      });

  const auto delivery = fake.Deliver(
      kChannel, *codec.EncodeMethodCall(flutter::MethodCall<EncodableValue>("work", nullptr)));
  worker.join();

  const auto response = fake.ResponseTo(delivery.id);
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->bytes, (std::vector<uint8_t>{0x00, 0x01}));
  EXPECT_EQ(fake.MessengerReferences(), 1);
  ExpectEveryEngineTestUnderTheLock(fake);
}

}  // namespace
