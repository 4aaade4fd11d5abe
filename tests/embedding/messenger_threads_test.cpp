// Replies to incoming messages answered from other threads, the one part of
// the embedding layer built to be called from any thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/standard_method_codec.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_channel.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/stderr_capture.h"
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
// the live engine or dropped, never given to a destroyed one (the fake
// records that as a violation, which fails the test). The rounds sweep the
// head start from the teardown's side to the reply's, so that both outcomes
// occur, and the test goes on until each has been seen several times.
TEST(MessengerThreads, ReplyRacingTheEnginesTeardownNeverReachesADestroyedEngine) {
  FakeEngine fake;
  constexpr int kMinimumRounds = 200;
  constexpr int kMaximumRounds = 5000;
  constexpr int kEachOutcomeAtLeast = 10;
  int answered = 0;
  int dropped = 0;
  int round = 0;
  for (; round < kMaximumRounds; ++round) {
    if (round >= kMinimumRounds && answered >= kEachOutcomeAtLeast && dropped >= kEachOutcomeAtLeast) break;
    std::vector<BinaryReplyCallback> replies;
    auto engine = EngineKeepingReplies(replies);
    const auto delivery = fake.Deliver(kChannel, std::vector<uint8_t>{1});
    ASSERT_EQ(replies.size(), 1u);

    // From -1000 (the reply waits) to +950 (the teardown waits), in yields;
    // the sweep widens while an outcome is still missing.
    const int widen = 1 + round / 400;
    const int head_start = (round % 40 - 20) * 50 * widen;
    std::atomic<bool> ready{false};
    std::atomic<bool> go{false};
    std::thread answer([&ready, &go, head_start, reply = std::move(replies[0])]() mutable {
      ready = true;
      while (!go.load()) std::this_thread::yield();
      for (int spin = 0; spin < -head_start; ++spin) std::this_thread::yield();
      const uint8_t bytes[] = {0, 0};
      reply(bytes, sizeof bytes);
      reply = nullptr;
    });
    ASSERT_TRUE(talvor::test::WaitUntil([&ready] { return ready.load(); }));
    go = true;
    for (int spin = 0; spin < head_start; ++spin) std::this_thread::yield();
    engine.reset();
    answer.join();

    if (fake.ResponseTo(delivery.id).has_value()) {
      ++answered;
    } else {
      ++dropped;
    }
    EXPECT_EQ(fake.MessengerReferences(), 0) << "round " << round;
    EXPECT_FALSE(fake.MessengerLocked()) << "round " << round;
  }
  RecordProperty("rounds", round);
  RecordProperty("answered_rounds", answered);
  RecordProperty("dropped_rounds", dropped);
  EXPECT_GE(answered, kEachOutcomeAtLeast) << "in " << round << " rounds";
  EXPECT_GE(dropped, kEachOutcomeAtLeast) << "in " << round << " rounds";
  ExpectEveryEngineTestUnderTheLock(fake);
  EXPECT_EQ(fake.CountOf("FlutterDesktopMessengerLock"),
            fake.CountOf("FlutterDesktopMessengerUnlock"));
}

// An engine may give no lock (FlutterDesktopMessengerLock returns null).
// Copies of one reply callback invoked at once on two threads must still
// send the response handle exactly once; ThreadSanitizer checks that the
// once-only guard itself does not race.
TEST(MessengerThreads, CopiesOfAReplyRacingWithoutTheEnginesLockAnswerOnce) {
  FakeEngine fake;
  fake.set_messenger_lock_returns_null(true);
  constexpr int kRounds = 100;
  std::vector<BinaryReplyCallback> replies;
  auto engine = EngineKeepingReplies(replies);
  talvor::test::StderrCapture capture;
  for (int round = 0; round < kRounds; ++round) {
    replies.clear();
    const auto delivery = fake.Deliver(kChannel, std::vector<uint8_t>{1});
    ASSERT_EQ(replies.size(), 1u);
    BinaryReplyCallback copy = replies[0];

    std::atomic<int> ready{0};
    auto answer = [&ready](BinaryReplyCallback reply, uint8_t byte) {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      reply(&byte, 1);
    };
    std::thread first(answer, std::move(replies[0]), uint8_t{1});
    std::thread second(answer, std::move(copy), uint8_t{2});
    first.join();
    second.join();

    const auto response = fake.ResponseTo(delivery.id);
    ASSERT_TRUE(response.has_value()) << "round " << round;
    EXPECT_EQ(response->size, 1u);
  }
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(kRounds));
  EXPECT_THAT(lines, testing::Each("Error: Response can be set only once. Ignoring duplicate response."));
  EXPECT_EQ(fake.Responses().size(), static_cast<size_t>(kRounds));
  EXPECT_EQ(fake.CountOf("FlutterDesktopMessengerSendResponse"), static_cast<size_t>(kRounds));
  EXPECT_EQ(fake.CountOf("FlutterDesktopMessengerUnlock"), 0u);
  engine.reset();
  EXPECT_EQ(fake.MessengerReferences(), 0);
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
