// The promises of the fake engine that tests of other areas build on.
#include "tests/fake_engine/fake_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/wait.h"

#ifdef _WIN32
#include <shellscalingapi.h>
#endif

namespace talvor::test {
namespace {

using ::testing::ElementsAre;

FlutterDesktopEngine* CreateEngine() {
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = L"data\\flutter_assets";
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  properties.entrypoint = "";
  return FlutterDesktopEngineCreate(&properties);
}

TEST(FakeEngine, RecordsMisuseAsViolations) {
  FakeEngine fake;
  FlutterDesktopEngineGetMessenger(nullptr);
  FlutterDesktopEngine* engine = CreateEngine();
  FlutterDesktopMessenger* messenger = FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopMessengerUnlock(messenger);
  FlutterDesktopEngineDestroy(engine);
  FlutterDesktopEngineDestroy(engine);
  FlutterDesktopMessengerSend(messenger, "channel", nullptr, 0);

  EXPECT_THAT(fake.TakeViolations(),
              ElementsAre("FlutterDesktopEngineGetMessenger: null engine",
                          "FlutterDesktopMessengerUnlock: the calling thread does not hold the lock",
                          "FlutterDesktopEngineDestroy: engine already destroyed",
                          "FlutterDesktopMessengerSend: messenger used after its last release"));
}

TEST(FakeEngine, MessengerLockExcludesOtherThreadsAndTheEnginesTeardown) {
  FakeEngine fake;
  FlutterDesktopEngine* engine = CreateEngine();
  FlutterDesktopMessenger* messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  ASSERT_EQ(FlutterDesktopMessengerLock(messenger), messenger);

  std::atomic<bool> destroyed{false};
  std::thread teardown([&] {
    FlutterDesktopEngineDestroy(engine);
    destroyed = true;
  });
  EXPECT_FALSE(WaitUntil([&] { return destroyed.load(); }, std::chrono::milliseconds(100)));
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerUnlock(messenger);
  EXPECT_TRUE(WaitUntil([&] { return destroyed.load(); }));
  teardown.join();
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerRelease(messenger);
}

#ifdef _WIN32
TEST(FakeEngine, MonitorDpiIsTheSystemsUnlessATestSetsOne) {
  FakeEngine fake;
  const HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  UINT x = 0;
  UINT y = 0;
  const UINT expected =
      SUCCEEDED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y)) && x != 0 ? x : 96;
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), expected);

  fake.set_monitor_dpi(144);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), 144u);
  EXPECT_EQ(fake.CallsTo("FlutterDesktopGetDpiForMonitor").at(1).monitor, monitor);
}

TEST(FakeEngine, ViewIsARealChildWindowThatEndsWithItsController) {
  FakeEngine fake;
  FlutterDesktopViewController* controller =
      FlutterDesktopViewControllerCreate(440, 850, CreateEngine());
  ASSERT_NE(controller, nullptr);
  const HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller));
  ASSERT_TRUE(IsWindow(view));
  EXPECT_EQ(view, fake.ViewWindow());
  EXPECT_TRUE(GetWindowLongPtrW(view, GWL_STYLE) & WS_CHILD);
  RECT client = {};
  GetClientRect(view, &client);
  EXPECT_EQ(client.right - client.left, 440);
  EXPECT_EQ(client.bottom - client.top, 850);

  FlutterDesktopViewControllerDestroy(controller);
  EXPECT_FALSE(IsWindow(view));
  EXPECT_FALSE(fake.engine_alive()) << "the controller owns the engine";
}

TEST(FakeEngine, FailedViewControllerCreationStillEndsTheEngine) {
  FakeEngine fake;
  fake.set_fail_view_controller_create(true);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(10, 10, CreateEngine()), nullptr);
  EXPECT_FALSE(fake.engine_alive());
}
#endif

}  // namespace
}  // namespace talvor::test
