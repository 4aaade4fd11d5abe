// What the fake engine adds to the engine contract (tests/engine_contract)
// for tests of other areas: misuse noted as violations, failures on request,
// a DPI of the test's choosing.
#include "tests/fake_engine/fake_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

#ifdef _WIN32
// This desktop has scale 1: 96 DPI, unless a test sets another.
TEST(FakeEngine, MonitorDpiIsTheTestsWhenSet) {
  FakeEngine fake;
  const HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  fake.set_monitor_dpi(144);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), 144u);
  fake.set_monitor_dpi(std::nullopt);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), 96u);
  const std::vector<EngineCall> calls = fake.CallsTo("FlutterDesktopGetDpiForMonitor");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].monitor, monitor);
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
