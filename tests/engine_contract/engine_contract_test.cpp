// What the program relies on from the engine library, shown on each engine it
// runs on in tests: this file is built once with the recording fake and once
// with the stand-in (application_side.h).
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/engine_contract/application_side.h"
#include "tests/support/child_process.h"
#include "tests/support/engine_handles.h"
#include "tests/support/system_state.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kChannel[] = "contract/channel";

// Runs the window messages already queued for this thread, without waiting.
void DispatchQueuedMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A program-side handler's view of the messages it got.
struct Handled {
  int calls = 0;
  DWORD thread = 0;
  std::string channel;
  Bytes message;
  size_t struct_size = 0;
};

// Answers each message with its bytes reversed.
void AnswerReversed(FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void* user_data) {
  auto* handled = static_cast<Handled*>(user_data);
  ++handled->calls;
  handled->thread = GetCurrentThreadId();
  handled->channel = message->channel;
  handled->struct_size = message->struct_size;
  handled->message.assign(message->message, message->message + message->message_size);
  const Bytes reply(handled->message.rbegin(), handled->message.rend());
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, reply.data(), reply.size());
}

struct Replies {
  int calls = 0;
  DWORD thread = 0;
  bool data_was_null = false;
  Bytes bytes;
};

void RecordReply(const uint8_t* data, size_t size, void* user_data) {
  auto* replies = static_cast<Replies*>(user_data);
  ++replies->calls;
  replies->thread = GetCurrentThreadId();
  replies->data_was_null = data == nullptr;
  replies->bytes.assign(data, data + (data != nullptr ? size : 0));
}

class EngineContract : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = ApplicationSide::Create();
    engine_ = app_->CreateEngine();
    ASSERT_NE(engine_, nullptr);
    messenger_ = FlutterDesktopEngineGetMessenger(engine_);
    ASSERT_NE(messenger_, nullptr);
    controller_.reset(FlutterDesktopViewControllerCreate(440, 850, engine_));
    ASSERT_TRUE(controller_);
  }

  void TearDown() override {
    controller_.reset();
    app_.reset();
  }

  HWND View() const { return FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_.get())); }

  std::unique_ptr<ApplicationSide> app_;
  FlutterDesktopEngine* engine_ = nullptr;
  FlutterDesktopMessenger* messenger_ = nullptr;
  UniqueController controller_;
};

TEST_F(EngineContract, TheControllerOwnsTheEngineAndAChildViewOfTheGivenSize) {
  const HWND view = View();
  ASSERT_TRUE(IsWindow(view));
  EXPECT_NE(GetWindowLongPtrW(view, GWL_STYLE) & WS_CHILD, 0);
  RECT client{};
  GetClientRect(view, &client);
  EXPECT_EQ(client.right - client.left, 440);
  EXPECT_EQ(client.bottom - client.top, 850);

  FlutterDesktopMessenger* kept = FlutterDesktopMessengerAddRef(messenger_);
  ASSERT_NE(kept, nullptr);
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(kept));
  controller_.reset();
  EXPECT_FALSE(IsWindow(view));
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept)) << "the engine ended with its controller";
  FlutterDesktopMessengerRelease(kept);
}

TEST_F(EngineContract, TheViewLivesInTheProgramsWindowWhichMayEndFirst) {
  UniqueWindow parent(CreateWindowExW(0, L"STATIC", L"contract parent", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                      nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(parent);
  const HWND view = View();
  SetParent(view, parent.get());
  EXPECT_EQ(GetAncestor(view, GA_ROOT), parent.get());
  parent.reset();
  EXPECT_FALSE(IsWindow(view));
  EXPECT_EQ(View(), nullptr);
}

TEST_F(EngineContract, EachMessageGoesToTheChannelsHandlerOnTheLoopThread) {
  Handled first;
  FlutterDesktopMessengerSetCallback(messenger_, kChannel, &AnswerReversed, &first);
  EXPECT_EQ(app_->Answer(app_->Call(kChannel, {1, 2, 3})), (Bytes{3, 2, 1}));
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(first.thread, GetCurrentThreadId());
  EXPECT_EQ(first.channel, kChannel);
  EXPECT_EQ(first.message, (Bytes{1, 2, 3}));
  EXPECT_EQ(first.struct_size, sizeof(FlutterDesktopMessage));

  // Another handler replaces the first.
  Handled second;
  FlutterDesktopMessengerSetCallback(messenger_, kChannel, &AnswerReversed, &second);
  EXPECT_EQ(app_->Answer(app_->Call(kChannel, {4, 5})), (Bytes{5, 4}));
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(second.calls, 1);

  // Removed: nobody is called.
  FlutterDesktopMessengerSetCallback(messenger_, kChannel, nullptr, nullptr);
  app_->Answer(app_->Call(kChannel, {6}));
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(second.calls, 1);
}

// Answers each message twice.
void AnswerTwice(FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void*) {
  const uint8_t first[] = {1};
  const uint8_t second[] = {2};
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, first, sizeof first);
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle, second, sizeof second);
}

TEST_F(EngineContract, AResponseHandleAnswersOnce) {
  FlutterDesktopMessengerSetCallback(messenger_, kChannel, &AnswerTwice, nullptr);
  EXPECT_EQ(app_->Answer(app_->Call(kChannel, {7})), Bytes{1});
  EXPECT_TRUE(app_->TakeRefusedAnswer(kDefaultWait)) << "the second answer went unnoticed";

  // One answer each: nothing refused.
  Handled handled;
  FlutterDesktopMessengerSetCallback(messenger_, kChannel, &AnswerReversed, &handled);
  EXPECT_EQ(app_->Answer(app_->Call(kChannel, {1, 2})), (Bytes{2, 1}));
  EXPECT_FALSE(app_->TakeRefusedAnswer(std::chrono::milliseconds(0)));
}

TEST_F(EngineContract, ASendWithReplyIsAnsweredOnceLaterOnTheLoopThread) {
  const Bytes message = {0x07, 0x03, 'a', 'b', 'c', 0x00};
  Replies first;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, kChannel, message.data(), message.size(),
                                                   &RecordReply, &first));
  EXPECT_EQ(first.calls, 0) << "the reply comes later, not inside the send";
  const std::optional<ApplicationSide::Received> received = app_->TakeReceived();
  ASSERT_TRUE(received);
  EXPECT_EQ(received->channel, kChannel);
  EXPECT_EQ(received->message, message);
  EXPECT_TRUE(received->reply_expected);

  app_->AnswerSends();
  ASSERT_TRUE(WaitUntil([&] { return first.calls == 1; }));
  EXPECT_EQ(first.thread, GetCurrentThreadId());
  EXPECT_TRUE(first.bytes.empty());

  // Once a second send is answered, a repeat of the first would have come too.
  Replies second;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, kChannel, message.data(), message.size(),
                                                   &RecordReply, &second));
  app_->AnswerSends();
  ASSERT_TRUE(WaitUntil([&] { return second.calls == 1; }));
  EXPECT_EQ(first.calls, 1);
}

TEST_F(EngineContract, ASendWithoutReplyReachesTheApplication) {
  const Bytes message = {0x07, 0x01, 'x', 0x00};
  FlutterDesktopMessengerSend(messenger_, kChannel, message.data(), message.size());
  const std::optional<ApplicationSide::Received> received = app_->TakeReceived();
  ASSERT_TRUE(received);
  EXPECT_EQ(received->channel, kChannel);
  EXPECT_EQ(received->message, message);
  EXPECT_FALSE(received->reply_expected);
}

// An accepted reply function is called exactly once, even when the engine
// ends before the application answered.
TEST_F(EngineContract, PendingSendsAreAnsweredEmptyWhenTheEngineEnds) {
  const uint8_t byte = 1;
  Replies replies;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger_, kChannel, &byte, 1, &RecordReply, &replies));
  controller_.reset();
  EXPECT_EQ(replies.calls, 1);
  EXPECT_TRUE(replies.data_was_null);
  EXPECT_TRUE(replies.bytes.empty());
  EXPECT_EQ(replies.thread, GetCurrentThreadId());
  DispatchQueuedMessages();
  EXPECT_EQ(replies.calls, 1);
}

// What the program does with an answer it gives late: it keeps its own
// reference to the messenger and finds the engine gone.
TEST_F(EngineContract, AKeptMessengerOutlivesTheEngineAndReportsItGone) {
  struct Kept {
    FlutterDesktopMessenger* messenger = nullptr;
    const FlutterDesktopMessageResponseHandle* response = nullptr;
  } kept;
  FlutterDesktopMessengerSetCallback(
      messenger_, kChannel,
      [](FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void* user_data) {
        auto* kept = static_cast<Kept*>(user_data);
        kept->messenger = FlutterDesktopMessengerAddRef(messenger);
        kept->response = message->response_handle;
      },
      &kept);
  const ApplicationSide::CallId call = app_->Call(kChannel, {1});
  ASSERT_TRUE(WaitUntil([&] { return kept.response != nullptr; }));
  controller_.reset();
  EXPECT_FALSE(app_->Answer(call)) << "the application heard an answer";

  FlutterDesktopMessenger* lock = FlutterDesktopMessengerLock(kept.messenger);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept.messenger));
  FlutterDesktopMessengerUnlock(lock);
  FlutterDesktopMessengerRelease(kept.messenger);
}

TEST_F(EngineContract, TheMessengerLockHoldsOffTheEnginesEnd) {
  FlutterDesktopMessenger* kept = FlutterDesktopMessengerAddRef(messenger_);
  std::atomic<bool> locked{false};
  std::atomic<bool> ending{false};
  bool available_while_locked = false;
  std::thread holder([&] {
    FlutterDesktopMessenger* lock = FlutterDesktopMessengerLock(kept);
    locked = true;
    WaitUntil([&] { return ending.load(); });
    // The loop thread is ending the engine meanwhile: it must wait.
    available_while_locked = !WaitUntil([&] { return !FlutterDesktopMessengerIsAvailable(kept); },
                                        std::chrono::milliseconds(300));
    FlutterDesktopMessengerUnlock(lock);
  });
  ASSERT_TRUE(WaitUntil([&] { return locked.load(); }));
  ending = true;
  controller_.reset();
  holder.join();
  EXPECT_TRUE(available_while_locked) << "the engine ended while the lock was held";
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept));
  FlutterDesktopMessengerRelease(kept);
}

struct Frames {
  int count = 0;
  DWORD thread = 0;
};

void CountFrame(void* user_data) {
  auto* frames = static_cast<Frames*>(user_data);
  ++frames->count;
  frames->thread = GetCurrentThreadId();
}

TEST_F(EngineContract, TheNextFrameCallbackRunsOnceAfterTheNextFrame) {
  Frames frames;
  FlutterDesktopEngineSetNextFrameCallback(engine_, &CountFrame, &frames);
  EXPECT_EQ(frames.count, 0) << "called inside the registration";
  app_->DrawFrame(controller_.get());
  EXPECT_EQ(frames.count, 1);
  EXPECT_EQ(frames.thread, GetCurrentThreadId());

  app_->DrawFrame(controller_.get());
  EXPECT_EQ(frames.count, 1);

  Frames later;
  FlutterDesktopEngineSetNextFrameCallback(engine_, &CountFrame, &later);
  app_->DrawFrame(controller_.get());
  EXPECT_EQ(later.count, 1);
  EXPECT_EQ(frames.count, 1);
}

HMONITOR PrimaryMonitor() { return MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY); }

// Run by the child process of the next test only.
TEST(EngineDpiChild, DISABLED_ReportsThePrimaryMonitorsDpi) {
  std::fprintf(stderr, "dpi %u\n", FlutterDesktopGetDpiForMonitor(PrimaryMonitor()));
  std::fflush(stderr);
}

// Wine reads the display's DPI (LogPixels) when a process starts, so the
// changed DPI is measured by a child process of this test program.
TEST(EngineDpi, IsTheMonitorsEffectiveDpi) {
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(PrimaryMonitor()), 96u) << "this desktop has scale 1";
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), 96u);

  const RegistryValueGuard log_pixels(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels");
  ASSERT_TRUE(log_pixels.SetDword(144));
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  ChildProcess::StartOptions options;
  options.capture_stderr = true;
  std::optional<ChildProcess> child = ChildProcess::Start(
      program, {L"--gtest_also_run_disabled_tests", L"--gtest_filter=EngineDpiChild.*"}, options);
  ASSERT_TRUE(child);
  EXPECT_EQ(child->WaitForExit(), 0u);
  EXPECT_THAT(child->StandardErrorLines(), testing::Contains("dpi 144")) << child->StandardError();
}

}  // namespace
}  // namespace talvor::test
