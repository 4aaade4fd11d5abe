// The engine stand-in running in this process: what it does beyond the
// contract that the fake engine shares (tests/engine_contract): where it finds
// the application's files, its test connection, its plugin registrars, and
// how it guards itself against misuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "standins/method_envelopes.h"
#include "standins/plugin_registrar_api.h"
#include "tests/standins/engine_fixture.h"
#include "tests/support/system_state.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

using flutter::EncodableValue;
using standins::MethodReply;

// Restores the working directory when it goes.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~WorkingDirectory() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

TEST(EngineCreation, ResolvesRelativePathsBesideTheExecutableNeverTheWorkingDirectory) {
  const ScratchDirectory scratch(L"engine");
  const std::filesystem::path elsewhere(scratch.path());
  std::filesystem::create_directories(elsewhere / "only_here" / "flutter_assets");
  {
    WorkingDirectory inside(elsewhere);
    EXPECT_EQ(CreateEngine({}, L"only_here\\flutter_assets"), nullptr);
    FlutterDesktopEngine* engine = CreateEngine({}, L"data\\flutter_assets");
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  }
  const std::wstring absolute = (elsewhere / "only_here" / "flutter_assets").wstring();
  FlutterDesktopEngine* engine = CreateEngine({}, absolute.c_str());
  ASSERT_NE(engine, nullptr);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
}

TEST(EngineCreation, FailsWithoutTheAssetsAndSaysWhyOnTheTestConnection) {
  AppConnection connection;
  EXPECT_EQ(CreateEngine({}, L"missing\\flutter_assets"), nullptr);
  const std::optional<AppEvent> failed = connection.WaitForEvent(AppEventKind::kEngineFailed);
  ASSERT_TRUE(failed) << connection.Describe();
  EXPECT_NE(failed->text.find("missing"), std::string::npos) << failed->text;
  EXPECT_EQ(failed->process_id, GetCurrentProcessId());

  EXPECT_EQ(FlutterDesktopEngineCreate(nullptr), nullptr);
  EXPECT_FALSE(FlutterDesktopEngineDestroy(nullptr));
  EXPECT_EQ(FlutterDesktopViewControllerCreate(100, 100, nullptr), nullptr);
}

TEST(EngineCreation, AnEngineWithoutViewSendsNothing) {
  FlutterDesktopEngine* engine = CreateEngine();
  ASSERT_NE(engine, nullptr);
  int replies = 0;
  const uint8_t byte = 1;
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(
      FlutterDesktopEngineGetMessenger(engine), "any", &byte, 1,
      [](const uint8_t*, size_t, void* count) { ++*static_cast<int*>(count); }, &replies));
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(replies, 0);
}

TEST(ViewController, ARunningEngineIsItsControllersAndTheMessengerGoesWithItsLastReference) {
  const int messengers_before = TalvorStandinLiveMessengerCount();
  FlutterDesktopEngine* engine = CreateEngine();
  ASSERT_NE(engine, nullptr);
  UniqueController controller(FlutterDesktopViewControllerCreate(300, 200, engine));
  ASSERT_TRUE(controller);
  EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)) << "a running engine belongs to its view controller";

  FlutterDesktopMessenger* messenger = FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  controller.reset();
  EXPECT_EQ(TalvorStandinLiveMessengerCount(), messengers_before + 1);
  FlutterDesktopMessengerRelease(messenger);
  EXPECT_EQ(TalvorStandinLiveMessengerCount(), messengers_before);
}

using MessengerTest = ConnectedEngineTest;

// The program never answers once its engine is gone (it asks the kept
// messenger first); an answer that comes anyway is dropped.
TEST_F(MessengerTest, AnAnswerToAnEndedEngineIsDroppedHarmlessly) {
  struct Kept {
    FlutterDesktopMessenger* messenger = nullptr;
    const FlutterDesktopMessageResponseHandle* response = nullptr;
  } kept;
  FlutterDesktopMessengerSetCallback(
      messenger_, "test/later",
      [](FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void* user_data) {
        auto* kept = static_cast<Kept*>(user_data);
        kept->messenger = FlutterDesktopMessengerAddRef(messenger);
        kept->response = message->response_handle;
      },
      &kept);
  std::optional<std::vector<uint8_t>> reply{std::vector<uint8_t>{0xEE}};
  std::thread application([&] { reply = connection_->Send("test/later", {1}); });
  ASSERT_TRUE(WaitUntil([&] { return kept.response != nullptr; }));
  controller_.reset();
  application.join();

  const uint8_t late = 7;
  FlutterDesktopMessengerSendResponse(kept.messenger, kept.response, &late, 1);
  FlutterDesktopMessengerRelease(kept.messenger);
  EXPECT_FALSE(reply) << "the application heard an answer";
  EXPECT_TRUE(connection_->WaitForEvent(AppEventKind::kEngineDestroyed));
  EXPECT_TRUE(connection_->WaitForEvent(AppEventKind::kDisconnected));
}

TEST_F(MessengerTest, TestConnectionRoundTripsACallAndReportsOutgoingMessages) {
  const std::optional<AppEvent> created = connection_->WaitForEvent(AppEventKind::kEngineCreated);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->arguments, (std::vector<std::string>{"--first", "talvor://second"}));
  EXPECT_EQ(created->process_id, GetCurrentProcessId());

  // A program-side handler that answers every call with its method name.
  FlutterDesktopMessengerSetCallback(
      messenger_, kRuntimeChannel,
      [](FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void*) {
        const auto call = standins::DecodeMethodCall(message->message, message->message_size);
        const std::vector<uint8_t> reply =
            call ? standins::EncodeSuccessReply(EncodableValue(call->method)) : std::vector<uint8_t>();
        FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reply.data(), reply.size());
      },
      nullptr);
  const std::optional<MethodReply> reply = connection_->CallMethod(kRuntimeChannel, "isProcessElevated");
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->kind, MethodReply::Kind::kSuccess) << standins::DescribeReply(*reply);
  EXPECT_EQ(std::get<std::string>(reply->value), "isProcessElevated");

  const std::optional<MethodReply> unhandled = connection_->CallMethod(kTrayChannel, "updateStatus");
  ASSERT_TRUE(unhandled);
  EXPECT_EQ(unhandled->kind, MethodReply::Kind::kNotImplemented);

  const std::vector<uint8_t> toggle = standins::EncodeMethodCall("toggleConnection", EncodableValue());
  EXPECT_TRUE(FlutterDesktopMessengerSend(messenger_, kTrayChannel, toggle.data(), toggle.size()));
  const std::optional<AppEvent> outgoing = connection_->WaitForOutgoing(kTrayChannel, "toggleConnection");
  ASSERT_TRUE(outgoing) << connection_->Describe();
  EXPECT_FALSE(outgoing->reply_expected);
  EXPECT_TRUE(outgoing->method_arguments.IsNull());
  EXPECT_EQ(outgoing->message, toggle);

  controller_.reset();
  EXPECT_TRUE(connection_->WaitForEvent(AppEventKind::kEngineDestroyed));
  EXPECT_TRUE(connection_->WaitForDisconnect(GetCurrentProcessId()));
}

TEST_F(MessengerTest, PluginDelegatesSeeTopLevelMessagesFirst) {
  FlutterDesktopPluginRegistrar* registrar = FlutterDesktopEngineGetPluginRegistrar(engine_, "TestPlugin");
  ASSERT_NE(registrar, nullptr);
  EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine_, "TestPlugin"), registrar);
  EXPECT_EQ(TalvorStandinRegistrarGetMessenger(registrar), messenger_);

  constexpr UINT kTaken = WM_APP + 7;
  TalvorStandinRegistrarSetWindowProcDelegate(
      registrar,
      [](HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void*) {
        if (message != kTaken) return false;
        *result = 42;
        return true;
      },
      nullptr);
  int destroyed = 0;
  TalvorStandinRegistrarSetDestructionHandler(
      registrar, [](void* count) { ++*static_cast<int*>(count); }, &destroyed);

  LRESULT result = 0;
  EXPECT_TRUE(FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_.get(), nullptr, kTaken, 0, 0, &result));
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_.get(), nullptr, kTaken + 1, 0, 0,
                                                                    &result));
  TalvorStandinRegistrarSetWindowProcDelegate(registrar, nullptr, nullptr);
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_.get(), nullptr, kTaken, 0, 0, &result));

  controller_.reset();
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace talvor::test
