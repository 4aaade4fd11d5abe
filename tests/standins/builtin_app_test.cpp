// The built-in application toward the program: its start-up calls, its
// status reports, the tray's toggle, the TUN button, and silence.
#include <gtest/gtest.h>

#include <map>

#include "standins/method_envelopes.h"
#include "tests/standins/engine_fixture.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// The program's side of both channels, answering as the test sets it up and
// remembering every call.
struct FakeProgram {
  std::vector<std::string> calls;
  std::vector<EncodableMap> statuses;
  std::map<std::string, std::vector<uint8_t>> answers;  // method → reply bytes
  int relaunch_requests = 0;
  std::string relaunch_payload;

  static void Handle(FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void* user_data) {
    auto* program = static_cast<FakeProgram*>(user_data);
    const auto call = standins::DecodeMethodCall(message->message, message->message_size);
    std::vector<uint8_t> reply;
    if (call) {
      program->calls.push_back(call->method);
      if (call->method == "updateStatus") program->statuses.push_back(std::get<EncodableMap>(call->arguments));
      if (call->method == "relaunchElevatedForTun") {
        ++program->relaunch_requests;
        const auto& arguments = std::get<EncodableMap>(call->arguments);
        program->relaunch_payload = std::get<std::string>(arguments.at(EncodableValue(std::string("payloadJson"))));
      }
      const auto answer = program->answers.find(call->method);
      if (answer != program->answers.end()) reply = answer->second;
    }
    FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reply.data(), reply.size());
  }

  void Install(FlutterDesktopMessenger* messenger) {
    FlutterDesktopMessengerSetCallback(messenger, kTrayChannel, &FakeProgram::Handle, this);
    FlutterDesktopMessengerSetCallback(messenger, kRuntimeChannel, &FakeProgram::Handle, this);
  }
};

bool StatusConnected(const EncodableMap& status) {
  return std::get<bool>(status.at(EncodableValue(std::string("connected"))));
}

class BuiltinAppTest : public ConnectedEngineTest {
 protected:
  BuiltinAppTest() : ConnectedEngineTest(/*application_on=*/true) {}

  void BeforeRun() override { program_.Install(messenger_); }

  void SendToggle() {
    const std::vector<uint8_t> toggle = standins::EncodeMethodCall("toggleConnection", EncodableValue());
    ASSERT_TRUE(FlutterDesktopMessengerSend(messenger_, kTrayChannel, toggle.data(), toggle.size()));
  }

  // Clicks the view from the bottom upwards until `happened` holds; every
  // click is followed by a round trip through the engine, after which
  // anything it caused has reached the program.
  bool ClickUpwardsUntil(const std::function<bool()>& happened) {
    HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_.get()));
    RECT client{};
    GetClientRect(view, &client);
    FlutterDesktopMessengerSetCallback(
        messenger_, "test/barrier",
        [](FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void*) {
          FlutterDesktopMessengerSendResponse(messenger, message->response_handle, nullptr, 0);
        },
        nullptr);
    // The application draws its first frame before it can be clicked.
    bool drawn = false;
    FlutterDesktopEngineSetNextFrameCallback(engine_, [](void* flag) { *static_cast<bool*>(flag) = true; }, &drawn);
    FlutterDesktopViewControllerForceRedraw(controller_.get());
    if (!WaitUntil([&] { return drawn; })) return false;
    for (int y = client.bottom - 4; y > 0; y -= 6) {
      SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(client.right / 2, y));
      if (!connection_->Send("test/barrier", {})) return false;
      if (happened()) return true;
    }
    return false;
  }

  FakeProgram program_;
};

TEST_F(BuiltinAppTest, StartsAsTheRealApplicationAndPicksUpAPendingTunLaunch) {
  FakeProgram& program = program_;
  program.answers["isProcessElevated"] = standins::EncodeSuccessReply(EncodableValue(true));
  program.answers["hasPendingTunLaunch"] = standins::EncodeSuccessReply(EncodableValue(true));
  program.answers["consumePendingTunLaunch"] =
      standins::EncodeSuccessReply(EncodableValue(std::string("{\"mode\":\"tun\"}")));
  program.answers["updateStatus"] = standins::EncodeSuccessReply(EncodableValue());

  ASSERT_TRUE(WaitUntil([&] { return !program.statuses.empty(); })) << connection_->Describe();
  EXPECT_EQ(program.calls, (std::vector<std::string>{"isProcessElevated", "hasPendingTunLaunch",
                                                     "consumePendingTunLaunch", "updateStatus"}));
  const EncodableMap& status = program.statuses.front();
  EXPECT_TRUE(StatusConnected(status)) << "a handed-over TUN launch connects";
  EXPECT_TRUE(std::get<bool>(status.at(EncodableValue(std::string("canToggle")))));
  EXPECT_FALSE(std::get<std::string>(status.at(EncodableValue(std::string("serverName")))).empty());

  // Each call is reported with its reply.
  const std::optional<AppEvent> consumed = connection_->WaitForAppCall(kRuntimeChannel, "consumePendingTunLaunch");
  ASSERT_TRUE(consumed) << connection_->Describe();
  EXPECT_EQ(consumed->reply, program.answers["consumePendingTunLaunch"]);
}

TEST_F(BuiltinAppTest, WithoutPendingLaunchReportsItsStateAndTogglesForTheTray) {
  FakeProgram& program = program_;
  program.answers["isProcessElevated"] = standins::EncodeSuccessReply(EncodableValue(false));
  program.answers["hasPendingTunLaunch"] = standins::EncodeSuccessReply(EncodableValue(false));
  program.answers["updateStatus"] = standins::EncodeSuccessReply(EncodableValue());
  ASSERT_TRUE(WaitUntil([&] { return program.statuses.size() == 1; }));
  EXPECT_EQ(program.calls, (std::vector<std::string>{"isProcessElevated", "hasPendingTunLaunch", "updateStatus"}));
  EXPECT_FALSE(StatusConnected(program.statuses[0]));

  SendToggle();
  ASSERT_TRUE(WaitUntil([&] { return program.statuses.size() == 2; }));
  EXPECT_TRUE(StatusConnected(program.statuses[1]));

  // Silenced, it neither toggles nor reports.
  ASSERT_TRUE(connection_->SetApplicationOn(false));
  ASSERT_TRUE(connection_->Send("test/none", {}));  // the switch has been applied once this returns
  SendToggle();
  ASSERT_TRUE(connection_->Send("test/none", {}));
  EXPECT_EQ(program.statuses.size(), 2u);
}

TEST_F(BuiltinAppTest, EveryReplyReachesTheApplicationOnce) {
  // A careless program answers the first call twice.
  FlutterDesktopMessengerSetCallback(
      messenger_, kRuntimeChannel,
      [](FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void*) {
        const std::vector<uint8_t> reply = standins::EncodeSuccessReply(EncodableValue(false));
        FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reply.data(), reply.size());
        FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reply.data(), reply.size());
      },
      nullptr);
  // The application moves on after the first answer; a second delivery of it
  // would be reported before the next call.
  ASSERT_TRUE(connection_->WaitForAppCall(kRuntimeChannel, "isProcessElevated"));
  ASSERT_TRUE(connection_->WaitForAppCall(kRuntimeChannel, "hasPendingTunLaunch")) << connection_->Describe();
  EXPECT_FALSE(connection_->WaitForAppCall(kRuntimeChannel, "isProcessElevated", AppConnection::kAnyProcess,
                                           std::chrono::milliseconds(0)));
}

TEST_F(BuiltinAppTest, TunButtonAsksForTheElevatedRelaunchAndShowsAnErrorReply) {
  FakeProgram& program = program_;
  program.answers["isProcessElevated"] = standins::EncodeSuccessReply(EncodableValue(false));
  program.answers["hasPendingTunLaunch"] = standins::EncodeSuccessReply(EncodableValue(false));
  program.answers["updateStatus"] = standins::EncodeSuccessReply(EncodableValue());
  program.answers["relaunchElevatedForTun"] = standins::EncodeErrorReply("elevation_cancelled", "cancelled");
  ASSERT_TRUE(WaitUntil([&] { return program.statuses.size() == 1; }));

  ASSERT_TRUE(ClickUpwardsUntil([&] { return program.relaunch_requests > 0; }));
  EXPECT_EQ(program.relaunch_requests, 1);
  EXPECT_NE(program.relaunch_payload.find("\"mode\":\"tun\""), std::string::npos) << program.relaunch_payload;
  EXPECT_EQ(program.statuses.size(), 1u) << "the TUN button lies below the connect button";
  const std::optional<AppEvent> relaunch = connection_->WaitForAppCall(kRuntimeChannel, "relaunchElevatedForTun");
  ASSERT_TRUE(relaunch);
  EXPECT_EQ(relaunch->reply, program.answers["relaunchElevatedForTun"]);
}

}  // namespace
}  // namespace talvor::test
