// What the program relies on from the engine library, shown on the engine
// stand-in running in this process.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "standins/method_envelopes.h"
#include "standins/plugin_registrar_api.h"
#include "tests/standins/engine_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

using flutter::EncodableValue;
using standins::MethodReply;

std::filesystem::path FreshTemporaryDirectory() {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, base);
  std::filesystem::path directory = std::filesystem::path(base) /
                                    (L"talvor-engine-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(GetTickCount64()));
  std::filesystem::create_directories(directory);
  return directory;
}

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
  const std::filesystem::path elsewhere = FreshTemporaryDirectory();
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
  std::filesystem::remove_all(elsewhere);
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

TEST(ViewController, MakesTheViewAtTheGivenSizeAndOwnsTheEngine) {
  const int messengers_before = TalvorStandinLiveMessengerCount();
  FlutterDesktopEngine* engine = CreateEngine();
  ASSERT_NE(engine, nullptr);
  UniqueController controller(FlutterDesktopViewControllerCreate(300, 200, engine));
  ASSERT_TRUE(controller);
  EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)) << "a running engine belongs to its view controller";

  HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller.get()));
  ASSERT_TRUE(IsWindow(view));
  RECT client{};
  GetClientRect(view, &client);
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 200);
  EXPECT_NE(GetWindowLongPtrW(view, GWL_STYLE) & WS_CHILD, 0);

  FlutterDesktopMessenger* messenger = FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  controller.reset();
  EXPECT_FALSE(IsWindow(view));
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  EXPECT_EQ(TalvorStandinLiveMessengerCount(), messengers_before + 1);
  FlutterDesktopMessengerRelease(messenger);
  EXPECT_EQ(TalvorStandinLiveMessengerCount(), messengers_before);
}

TEST(ViewController, ViewEmbedsInATopLevelWindow) {
  UniqueWindow parent(CreateWindowExW(0, L"STATIC", L"engine test parent", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(parent);
  UniqueController controller(FlutterDesktopViewControllerCreate(200, 100, CreateEngine()));
  ASSERT_TRUE(controller);
  HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller.get()));
  SetParent(view, parent.get());
  EXPECT_EQ(GetAncestor(view, GA_ROOT), parent.get());
  // The program may destroy its window before the engine.
  parent.reset();
  EXPECT_FALSE(IsWindow(view));
  EXPECT_EQ(FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller.get())), nullptr);
}

TEST(Dpi, IsTheMonitorsEffectiveDpiAnd96WithoutMonitor) {
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), 96u);
  EXPECT_GE(FlutterDesktopGetDpiForMonitor(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)), 96u);
  FlutterDesktopResyncOutputStreams();  // harmless
}

struct Delivery {
  DWORD thread = 0;
  std::string channel;
  std::vector<uint8_t> message;
  int calls = 0;
};

// Answers with the message reversed.
void ReverseEcho(FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void* user_data) {
  auto* delivery = static_cast<Delivery*>(user_data);
  ++delivery->calls;
  delivery->thread = GetCurrentThreadId();
  delivery->channel = message->channel;
  delivery->message.assign(message->message, message->message + message->message_size);
  EXPECT_EQ(message->struct_size, sizeof(FlutterDesktopMessage));
  std::vector<uint8_t> reply(delivery->message.rbegin(), delivery->message.rend());
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reply.data(), reply.size());
}

using MessengerTest = ConnectedEngineTest;

TEST_F(MessengerTest, MessagesFromTheApplicationArriveOnTheWindowThread) {
  Delivery delivery;
  FlutterDesktopMessengerSetCallback(messenger_, "test/echo", &ReverseEcho, &delivery);
  const std::optional<std::vector<uint8_t>> reply = connection_->Send("test/echo", {1, 2, 3});
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, (std::vector<uint8_t>{3, 2, 1}));
  EXPECT_EQ(delivery.thread, GetCurrentThreadId());
  EXPECT_EQ(delivery.channel, "test/echo");

  // Another handler replaces the first; removing it leaves the empty reply.
  Delivery replacement;
  FlutterDesktopMessengerSetCallback(messenger_, "test/echo", &ReverseEcho, &replacement);
  EXPECT_EQ(connection_->Send("test/echo", {4, 5}), (std::vector<uint8_t>{5, 4}));
  EXPECT_EQ(delivery.calls, 1);
  EXPECT_EQ(replacement.calls, 1);
  FlutterDesktopMessengerSetCallback(messenger_, "test/echo", nullptr, nullptr);
  EXPECT_EQ(connection_->Send("test/echo", {6}), std::vector<uint8_t>());
}

// Answers each message twice: the second answer must not reach the
// application, and the test connection must hear of it.
void AnswerTwice(FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void*) {
  const uint8_t first[] = {1};
  const uint8_t second[] = {2};
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, first, sizeof first);
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, second, sizeof second);
}

TEST_F(MessengerTest, ASecondAnswerIsDroppedAndReportedAsStray) {
  FlutterDesktopMessengerSetCallback(messenger_, "test/twice", &AnswerTwice, nullptr);
  EXPECT_EQ(connection_->Send("test/twice", {7}), std::vector<uint8_t>{1});
  const std::optional<AppEvent> stray = connection_->WaitForEvent(AppEventKind::kStrayResponse);
  ASSERT_TRUE(stray) << connection_->Describe();
  EXPECT_EQ(stray->process_id, GetCurrentProcessId());
  // One answer each: nothing stray.
  Delivery delivery;
  FlutterDesktopMessengerSetCallback(messenger_, "test/echo", &ReverseEcho, &delivery);
  EXPECT_EQ(connection_->Send("test/echo", {1, 2}), (std::vector<uint8_t>{2, 1}));
  EXPECT_FALSE(connection_->WaitForEvent(AppEventKind::kStrayResponse, AppConnection::kAnyProcess,
                                         std::chrono::milliseconds(0)));
}

struct ReplyRecord {
  int calls = 0;
  DWORD thread = 0;
  std::vector<uint8_t> bytes;
};

void RecordReply(const uint8_t* data, size_t size, void* user_data) {
  auto* record = static_cast<ReplyRecord*>(user_data);
  ++record->calls;
  record->thread = GetCurrentThreadId();
  if (data != nullptr) record->bytes.assign(data, data + size);
}

TEST_F(MessengerTest, SendWithReplyCallsItsReplyOnceOnTheWindowThread) {
  const std::vector<uint8_t> call = standins::EncodeMethodCall("anything", EncodableValue());
  ReplyRecord first;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "test/silent", call.data(), call.size(),
                                                   &RecordReply, &first));
  EXPECT_EQ(first.calls, 0) << "the reply comes later, not inside the send";
  ASSERT_TRUE(WaitUntil([&] { return first.calls == 1; }));
  // Replies come in order: once the second is in, a repeat of the first would be too.
  ReplyRecord second;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, "test/silent", call.data(), call.size(),
                                                   &RecordReply, &second));
  ASSERT_TRUE(WaitUntil([&] { return second.calls == 1; }));
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(first.thread, GetCurrentThreadId());
  EXPECT_TRUE(first.bytes.empty()) << "a silent application answers nothing";

  const std::optional<AppEvent> sent = connection_->WaitForEvent(AppEventKind::kOutgoing);
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->channel, "test/silent");
  EXPECT_EQ(sent->message, call);
  EXPECT_TRUE(sent->reply_expected);
}

TEST_F(MessengerTest, AReplyAfterTheEngineIsGoneIsDroppedAndTheReferenceReleased) {
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
  const int messengers_before = TalvorStandinLiveMessengerCount();

  std::optional<std::vector<uint8_t>> reply{std::vector<uint8_t>{0xEE}};
  std::thread application([&] { reply = connection_->Send("test/later", {1}); });
  ASSERT_TRUE(WaitUntil([&] { return kept.response != nullptr; }));
  controller_.reset();
  application.join();
  EXPECT_FALSE(reply) << "the application never hears an answer";

  FlutterDesktopMessenger* locked = FlutterDesktopMessengerLock(kept.messenger);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept.messenger));
  const uint8_t late = 7;
  FlutterDesktopMessengerSendResponse(kept.messenger, kept.response, &late, 1);  // dropped, harmlessly
  FlutterDesktopMessengerUnlock(locked);
  EXPECT_EQ(TalvorStandinLiveMessengerCount(), messengers_before);
  FlutterDesktopMessengerRelease(kept.messenger);
  EXPECT_EQ(TalvorStandinLiveMessengerCount(), messengers_before - 1);

  EXPECT_TRUE(connection_->WaitForEvent(AppEventKind::kEngineDestroyed));
  EXPECT_TRUE(connection_->WaitForEvent(AppEventKind::kDisconnected));
}

TEST_F(MessengerTest, NextFrameCallbackRunsOnceOnTheWindowThread) {
  struct Frames {
    int count = 0;
    DWORD thread = 0;
  } frames, later;
  const auto on_frame = [](void* user_data) {
    auto* frames = static_cast<Frames*>(user_data);
    ++frames->count;
    frames->thread = GetCurrentThreadId();
  };
  FlutterDesktopEngineSetNextFrameCallback(engine_, on_frame, &frames);
  FlutterDesktopViewControllerForceRedraw(controller_.get());
  EXPECT_EQ(frames.count, 0);
  ASSERT_TRUE(WaitUntil([&] { return frames.count == 1; }));
  EXPECT_EQ(frames.thread, GetCurrentThreadId());

  // Another frame, and a round trip through the engine after it.
  FlutterDesktopViewControllerForceRedraw(controller_.get());
  ASSERT_TRUE(connection_->Send("test/barrier", {}));
  EXPECT_EQ(frames.count, 1);

  // Each registration runs once more.
  FlutterDesktopEngineSetNextFrameCallback(engine_, on_frame, &later);
  ASSERT_TRUE(WaitUntil([&] { return later.count == 1; }));
  EXPECT_EQ(frames.count, 1);
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
