#include "codec/standard_method_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/codec/codec_test_helpers.h"
#include "tests/support/method_result_recorder.h"
#include "tests/support/stderr_capture.h"

namespace flutter {
namespace {

using talvor::test::Bytes;
using talvor::test::MethodResultRecorder;
using talvor::test::StderrCapture;
using testing::ElementsAre;

const char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader";
const char kNotACall[] = "Invalid method call; method name is not a string.";

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

struct Reply {
  bool decoded = false;
  MethodResultRecorder result;
  std::vector<std::string> lines;
};

std::unique_ptr<Reply> DecodeReply(const std::vector<uint8_t>& bytes) {
  auto reply = std::make_unique<Reply>();
  StderrCapture capture;
  reply->decoded = Codec().DecodeResponseEnvelope(bytes.data(), bytes.size(), &reply->result);
  reply->lines = capture.Lines();
  return reply;
}

TEST(StandardMethodCodecTest, EncodesCallsAndEnvelopes) {
  EXPECT_EQ(*Codec().EncodeMethodCall(MethodCall<>("abc", nullptr)), Bytes("07 03 61 62 63 00"));
  EXPECT_EQ(*Codec().EncodeMethodCall(MethodCall<>("x", std::make_unique<EncodableValue>(true))), Bytes("07 01 78 01"));

  const EncodableValue null_value;
  const EncodableValue seven(int32_t{7});
  EXPECT_EQ(*Codec().EncodeSuccessEnvelope(nullptr), Bytes("00 00"));
  EXPECT_EQ(*Codec().EncodeSuccessEnvelope(&null_value), Bytes("00 00"));
  EXPECT_EQ(*Codec().EncodeSuccessEnvelope(&seven), Bytes("00 03 07 00 00 00"));
  // The envelope byte counts for alignment.
  const EncodableValue one_and_a_half(1.5);
  EXPECT_EQ(*Codec().EncodeSuccessEnvelope(&one_and_a_half), Bytes("00 06 00 00 00 00 00 00 00 00 00 00 00 00 F8 3F"));
  const EncodableValue empty_list(std::vector<int32_t>{});
  EXPECT_EQ(*Codec().EncodeSuccessEnvelope(&empty_list), Bytes("00 09 00 00"));

  EXPECT_EQ(*Codec().EncodeErrorEnvelope("E", "", nullptr), Bytes("01 07 01 45 00 00"));
  EXPECT_EQ(*Codec().EncodeErrorEnvelope("E", "m", nullptr), Bytes("01 07 01 45 07 01 6D 00"));
  EXPECT_EQ(*Codec().EncodeErrorEnvelope("", "", &seven), Bytes("01 07 00 00 03 07 00 00 00"));
}

TEST(StandardMethodCodecTest, DecodesCalls) {
  struct Case {
    std::vector<uint8_t> bytes;
    std::string name;
    EncodableValue arguments;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {Bytes("07 03 61 62 63 00"), "abc", EncodableValue(), {}},
      {Bytes("07 03 61 62 63"), "abc", EncodableValue(), {kInvalidRead}},
      {Bytes("07 01 78 01 FF FF"), "x", EncodableValue(true), {}},
      {Bytes("05 01 78 07 01 79"), "x", EncodableValue("y"), {}},
  };
  for (const Case& c : cases) {
    StderrCapture capture;
    const std::unique_ptr<MethodCall<>> call = Codec().DecodeMethodCall(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(capture.Lines(), c.lines) << c.name;
    ASSERT_NE(call, nullptr) << c.name;
    EXPECT_EQ(call->method_name(), c.name);
    ASSERT_NE(call->arguments(), nullptr) << "decoded calls always have arguments";
    EXPECT_EQ(*call->arguments(), c.arguments);
  }
}

TEST(StandardMethodCodecTest, RejectsMessagesThatAreNotCalls) {
  const std::vector<uint8_t> integer = Bytes("03 01 00 00 00");
  StderrCapture capture;
  EXPECT_EQ(Codec().DecodeMethodCall(integer.data(), integer.size()), nullptr);
  EXPECT_THAT(capture.Lines(), ElementsAre(kNotACall));

  StderrCapture empty_capture;
  EXPECT_EQ(Codec().DecodeMethodCall(nullptr, 0), nullptr);
  EXPECT_THAT(empty_capture.Lines(), ElementsAre(kInvalidRead, kNotACall));
}

TEST(StandardMethodCodecTest, DecodesSuccessReplies) {
  auto reply = DecodeReply(Bytes("00 00"));
  EXPECT_TRUE(reply->decoded);
  EXPECT_EQ(reply->result.outcome, MethodResultRecorder::Outcome::kSuccess);
  EXPECT_FALSE(reply->result.value.has_value()) << "a null result is success without a value";
  EXPECT_TRUE(reply->lines.empty());

  reply = DecodeReply(Bytes("00"));
  EXPECT_EQ(reply->result.outcome, MethodResultRecorder::Outcome::kSuccess);
  EXPECT_FALSE(reply->result.value.has_value());
  EXPECT_THAT(reply->lines, ElementsAre(kInvalidRead));

  reply = DecodeReply(Bytes("00 03 07 00 00 00"));
  EXPECT_EQ(reply->result.value, EncodableValue(int32_t{7}));

  // An empty 32-bit list aligns past the end; its zero-length read is refused.
  reply = DecodeReply(Bytes("00 09 00"));
  EXPECT_EQ(reply->result.value, EncodableValue(std::vector<int32_t>{}));
  EXPECT_THAT(reply->lines, ElementsAre(kInvalidRead));
}

TEST(StandardMethodCodecTest, DecodesErrorReplies) {
  auto reply = DecodeReply(Bytes("01 07 01 45 00 00"));
  EXPECT_TRUE(reply->decoded);
  EXPECT_EQ(reply->result.outcome, MethodResultRecorder::Outcome::kError);
  EXPECT_EQ(reply->result.code, "E");
  EXPECT_EQ(reply->result.message, "");
  EXPECT_FALSE(reply->result.value.has_value());
  EXPECT_TRUE(reply->lines.empty());

  const EncodableValue details(3.0);
  reply = DecodeReply(*Codec().EncodeErrorEnvelope("invalid_arguments", "Нет данных", &details));
  EXPECT_EQ(reply->result.code, "invalid_arguments");
  EXPECT_EQ(reply->result.message, "Нет данных");
  EXPECT_EQ(reply->result.value, EncodableValue(3.0));
  EXPECT_EQ(reply->result.calls, 1);
}

TEST(StandardMethodCodecTest, MalformedRepliesInformNobody) {
  auto reply = DecodeReply(Bytes("02"));
  EXPECT_FALSE(reply->decoded);
  EXPECT_EQ(reply->result.calls, 0);
  reply = DecodeReply({});
  EXPECT_TRUE(reply->decoded) << "an empty reply reads its envelope byte as 0";

  for (const std::vector<uint8_t>& bytes : {Bytes("01 03 01 00 00 00 00 00"), Bytes("01 07 01 45 01 00")}) {
    MethodResultRecorder result;
    try {
      Codec().DecodeResponseEnvelope(bytes.data(), bytes.size(), &result);
      ADD_FAILURE() << "no exception";
    } catch (const std::bad_variant_access& error) {
      EXPECT_STREQ(error.what(), "bad variant access");
    }
    EXPECT_EQ(result.calls, 0);
  }
}

TEST(StandardMethodCodecTest, GetInstanceKeepsOneCodecPerSerializer) {
  const StandardMethodCodec* first = &StandardMethodCodec::GetInstance();
  EXPECT_EQ(first, &StandardMethodCodec::GetInstance());
  EXPECT_EQ(first, &StandardMethodCodec::GetInstance(&StandardCodecSerializer::GetInstance()));

  class OtherSerializer : public StandardCodecSerializer {};
  static const OtherSerializer other{};
  const StandardMethodCodec* from_threads[4] = {};
  std::vector<std::thread> threads;
  for (auto& slot : from_threads) threads.emplace_back([&slot] { slot = &StandardMethodCodec::GetInstance(&other); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_NE(from_threads[0], first);
  for (const StandardMethodCodec* codec : from_threads) EXPECT_EQ(codec, from_threads[0]);
}

}  // namespace
}  // namespace flutter
