#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/standard_method_codec.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_channel.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/method_result_recorder.h"
#include "tests/support/stderr_capture.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodCallChannel;
using flutter::MethodResult;
using flutter::StandardMethodCodec;
using talvor::test::EngineCall;
using talvor::test::FakeEngine;
using talvor::test::MethodResultRecorder;
using talvor::test::StderrCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Bytes = std::vector<uint8_t>;
using Result = std::unique_ptr<MethodResult<EncodableValue>>;

constexpr char kChannel[] = "com.talvor.talvorApp/tray";
constexpr char kUndecodableReply[] =
    "Unable to decode reply to method invocation on channel com.talvor.talvorApp/tray";
constexpr char kLeakWarning[] = "Warning: Failed to respond to a message. This is a memory leak.";
constexpr char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
    "exactly once. Ignoring duplicate result.";

std::string Describe(const EncodableValue* value) {
  if (value == nullptr) return "none";
  if (value->IsNull()) return "null";
  if (const auto* number = std::get_if<int32_t>(value)) return std::to_string(*number);
  if (const auto* text = std::get_if<std::string>(value)) return "'" + *text + "'";
  return "index " + std::to_string(value->index());
}

class MethodChannelTest : public ::testing::Test {
 protected:
  MethodChannelTest() { fake_.ClearCalls(); }

  const StandardMethodCodec& codec() const { return StandardMethodCodec::GetInstance(); }

  Bytes EncodeCall(const std::string& method, std::unique_ptr<EncodableValue> arguments) const {
    return *codec().EncodeMethodCall(MethodCall<EncodableValue>(method, std::move(arguments)));
  }

  // Delivers a call to the program and returns the response, if any.
  std::optional<talvor::test::Response> Call(const Bytes& message) {
    const auto delivery = fake_.Deliver(kChannel, message);
    EXPECT_TRUE(delivery.handled);
    return fake_.ResponseTo(delivery.id);
  }

  Result NewResult() { return std::make_unique<MethodResultRecorder>(&invocation_log_); }

  // Invokes "probe" with a result and answers the send with `reply`.
  void InvokeAndAnswer(const Bytes& reply) {
    channel_->InvokeMethod("probe", nullptr, NewResult());
    const auto pending = fake_.PendingSends();
    ASSERT_EQ(pending.size(), 1u);
    fake_.AnswerSend(pending[0].id, reply);
  }

  FakeEngine fake_;
  std::unique_ptr<flutter::FlutterEngine> engine_ =
      std::make_unique<flutter::FlutterEngine>(flutter::FlutterProject(L"data"));
  std::unique_ptr<MethodCallChannel> channel_ =
      std::make_unique<MethodCallChannel>(engine_->messenger(), kChannel, &codec());
  std::vector<std::string> invocation_log_;
};

TEST_F(MethodChannelTest, HandlerGetsTheDecodedCallAndEachOutcomeIsEncodedOnce) {
  std::vector<std::string> calls;
  channel_->SetMethodCallCallback([&](const MethodCall<EncodableValue>& call, Result result) {
    calls.push_back(call.method_name() + " " + Describe(call.arguments()));
    const std::string& method = call.method_name();
    if (method == "updateStatus") {
      result->Success(nullptr);
    } else if (method == "seven") {
      const EncodableValue seven(int32_t{7});
      result->Success(&seven);
    } else if (method == "fails") {
      result->Error("E", "", nullptr);
    } else if (method == "failsWithMessage") {
      result->Error("E", "m", nullptr);
    } else {
      result->NotImplemented();
    }
  });

  EncodableMap status;
  status[EncodableValue(std::string("connected"))] = EncodableValue(true);
  const auto updated =
      Call(EncodeCall("updateStatus", std::make_unique<EncodableValue>(std::move(status))));
  const auto seven = Call(EncodeCall("seven", std::make_unique<EncodableValue>(std::string("x"))));
  const auto fails = Call(EncodeCall("fails", nullptr));
  const auto fails_with_message = Call(EncodeCall("failsWithMessage", nullptr));
  const auto unknown = Call(EncodeCall("unknown", nullptr));

  EXPECT_THAT(calls, ElementsAre("updateStatus index 11", "seven 'x'", "fails null",
                                 "failsWithMessage null", "unknown null"));
  ASSERT_TRUE(updated && seven && fails && fails_with_message && unknown);
  EXPECT_EQ(updated->bytes, (Bytes{0x00, 0x00}));
  EXPECT_EQ(seven->bytes, (Bytes{0x00, 0x03, 0x07, 0x00, 0x00, 0x00}));
  EXPECT_EQ(fails->bytes, (Bytes{0x01, 0x07, 0x01, 0x45, 0x00, 0x00}));
  EXPECT_EQ(fails_with_message->bytes, (Bytes{0x01, 0x07, 0x01, 0x45, 0x07, 0x01, 0x6D, 0x00}));
  EXPECT_TRUE(unknown->data_is_null);
  EXPECT_EQ(unknown->size, 0u);
  EXPECT_EQ(fake_.Responses().size(), 5u);
}

TEST_F(MethodChannelTest, UndecodableMessageIsAnsweredNotImplementedWithoutCallingTheHandler) {
  bool called = false;
  channel_->SetMethodCallCallback([&](const MethodCall<EncodableValue>&, Result result) {
    called = true;
    result->Success(nullptr);
  });

  StderrCapture capture;
  const auto response = Call(Bytes{0x03, 0x01, 0x00, 0x00, 0x00});

  EXPECT_THAT(capture.Lines(),
              ElementsAre("Invalid method call; method name is not a string.",
                          "Unable to construct method call from message on channel "
                          "com.talvor.talvorApp/tray"));
  EXPECT_FALSE(called);
  ASSERT_TRUE(response.has_value());
  EXPECT_TRUE(response->data_is_null);
  EXPECT_EQ(response->size, 0u);
}

TEST_F(MethodChannelTest, ResultsMayBeKeptAndAnsweredLaterButOnlyOnce) {
  std::vector<Result> kept;
  channel_->SetMethodCallCallback([&](const MethodCall<EncodableValue>&, Result result) {
    kept.push_back(std::move(result));
  });
  const auto answered_later = fake_.Deliver(kChannel, EncodeCall("a", nullptr));
  const auto dropped = fake_.Deliver(kChannel, EncodeCall("b", nullptr));
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_THAT(fake_.Responses(), IsEmpty());

  StderrCapture capture;
  kept[0]->Success(nullptr);
  kept[0]->Error("E", "late", nullptr);
  kept[0]->NotImplemented();
  kept[1].reset();

  EXPECT_THAT(capture.Lines(), ElementsAre(kDuplicateResult, kDuplicateResult, kLeakWarning));
  ASSERT_TRUE(fake_.ResponseTo(answered_later.id).has_value());
  EXPECT_EQ(fake_.ResponseTo(answered_later.id)->bytes, (Bytes{0x00, 0x00}));
  EXPECT_FALSE(fake_.ResponseTo(dropped.id).has_value());
}

// A handler that throws (say, reading arguments of an unexpected type) is
// reported and its caller gets the empty reply instead of waiting forever.
// The message is answered, so there is no leak warning.
TEST_F(MethodChannelTest, HandlerExceptionsAreReportedAndTheCallIsAnsweredNotImplemented) {
  channel_->SetMethodCallCallback([](const MethodCall<EncodableValue>& call, Result result) {
    const EncodableMap& status = flutter::Get<EncodableMap>(*call.arguments());
    result->Success(&status.begin()->second);
  });

  StderrCapture capture;
  const auto response = Call(EncodeCall("updateStatus", std::make_unique<EncodableValue>("not a map")));

  EXPECT_THAT(capture.Lines(), ElementsAre("Unhandled exception in a message handler: bad variant access"));
  ASSERT_TRUE(response.has_value());
  EXPECT_TRUE(response->data_is_null);
  EXPECT_EQ(response->size, 0u);
  EXPECT_EQ(fake_.Responses().size(), 1u);
}

// The result dropped by a failure that the handler then handles itself: the
// message is answered all the same.
TEST_F(MethodChannelTest, AResultDroppedByAnExceptionAnswersEmptyEvenWhenTheHandlerCatchesIt) {
  channel_->SetMethodCallCallback([](const MethodCall<EncodableValue>&, Result result) {
    try {
      const Result owned = std::move(result);
      throw std::runtime_error("handled inside");
    } catch (const std::runtime_error&) {
    }
  });

  StderrCapture capture;
  const auto response = Call(EncodeCall("updateStatus", nullptr));

  EXPECT_THAT(capture.Lines(), IsEmpty());
  ASSERT_TRUE(response.has_value());
  EXPECT_TRUE(response->data_is_null);
}

TEST_F(MethodChannelTest, HandlersAreReplacedInPlaceRemovedAndOutliveTheirChannel) {
  std::vector<std::string> handled;
  channel_->SetMethodCallCallback([&](const MethodCall<EncodableValue>&, Result result) {
    handled.push_back("first");
    result->Success(nullptr);
  });
  channel_->SetMethodCallCallback([&](const MethodCall<EncodableValue>&, Result result) {
    handled.push_back("second");
    result->Success(nullptr);
  });
  channel_.reset();
  Call(EncodeCall("updateStatus", nullptr));
  EXPECT_THAT(handled, ElementsAre("second"));

  MethodCallChannel(engine_->messenger(), kChannel, &codec()).SetMethodCallCallback(nullptr);
  EXPECT_FALSE(fake_.Deliver(kChannel, EncodeCall("updateStatus", nullptr)).handled);

  const auto calls = fake_.CallsTo("FlutterDesktopMessengerSetCallback");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].user_data, calls[1].user_data);
  EXPECT_EQ(calls[2].message_callback, nullptr);
  EXPECT_EQ(calls[2].user_data, nullptr);
}

TEST_F(MethodChannelTest, InvokeWithoutResultSendsOnceAndAwaitsNothing) {
  channel_->InvokeMethod("toggleConnection", nullptr);

  EXPECT_THAT(fake_.CallNames(), ElementsAre("FlutterDesktopMessengerSend"));
  const EngineCall send = fake_.Calls()[0];
  EXPECT_EQ(send.name, kChannel);
  Bytes expected = {0x07, 0x10};
  const std::string name = "toggleConnection";
  expected.insert(expected.end(), name.begin(), name.end());
  expected.push_back(0x00);
  EXPECT_EQ(send.bytes, expected);
}

TEST_F(MethodChannelTest, InvokeWithResultInformsItOfTheDecodedReply) {
  channel_->InvokeMethod("probe", std::make_unique<EncodableValue>(true), NewResult());
  const auto sent = fake_.PendingSends();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x07, 0x05, 'p', 'r', 'o', 'b', 'e', 0x01}));
  fake_.AnswerSend(sent[0].id, Bytes{});

  StderrCapture capture;
  InvokeAndAnswer(Bytes{0x00, 0x03, 0x07, 0x00, 0x00, 0x00});
  InvokeAndAnswer(Bytes{0x01, 0x07, 0x01, 0x45, 0x07, 0x01, 0x6D, 0x00});
  InvokeAndAnswer(Bytes{0x02});

  EXPECT_THAT(capture.Lines(), ElementsAre(kUndecodableReply));
  EXPECT_THAT(invocation_log_,
              ElementsAre("not implemented", "success 7", "error E 'm' null", "not implemented"));
}

// An error envelope whose code is not a string cannot be read. That must not
// escape into the engine; the result learns nothing it could misread.
TEST_F(MethodChannelTest, ReplyWithAMalformedErrorEnvelopeIsReportedAndLeavesTheResultUninformed) {
  StderrCapture capture;
  InvokeAndAnswer(Bytes{0x01, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});

  EXPECT_THAT(capture.Lines(), ElementsAre(kUndecodableReply));
  EXPECT_THAT(invocation_log_, IsEmpty());
}

// The caller's own failures are not passed off as undecodable replies.
TEST_F(MethodChannelTest, ExceptionsOfTheCallersResultAreNotMistakenForDecodingErrors) {
  class ThrowingResult : public MethodResult<EncodableValue> {
   public:
    void Success(const EncodableValue*) override { throw std::bad_variant_access(); }
    void Error(const std::string&, const std::string&, const EncodableValue*) override {}
    void NotImplemented() override {}
  };
  channel_->InvokeMethod("probe", nullptr, std::make_unique<ThrowingResult>());
  const auto pending = fake_.PendingSends();
  ASSERT_EQ(pending.size(), 1u);

  StderrCapture capture;
  fake_.AnswerSend(pending[0].id, Bytes{0x00, 0x00});

  EXPECT_THAT(capture.Lines(), ElementsAre(std::string("Unhandled exception in a reply handler: ") +
                                           std::bad_variant_access().what()));
}

TEST_F(MethodChannelTest, InvocationStillPendingWhenTheEngineGoesIsNotImplemented) {
  channel_->InvokeMethod("probe", nullptr, NewResult());
  channel_.reset();
  engine_.reset();
  EXPECT_THAT(invocation_log_, ElementsAre("not implemented"));
}

}  // namespace
