#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/stderr_capture.h"

namespace {

using flutter::FlutterProject;
using flutter::FlutterViewController;
using talvor::test::FakeEngine;
using talvor::test::StderrCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kFailedLine[] = "Failed to create view controller.";

TEST(FlutterViewController, RunsTheEngineInAViewControllerOfTheGivenSize) {
  FakeEngine fake;
  StderrCapture capture;
  FlutterViewController controller(440, 850, FlutterProject(L"data"));

  EXPECT_THAT(capture.Lines(), IsEmpty());
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("FlutterDesktopEngineCreate", "FlutterDesktopEngineGetMessenger",
                          "FlutterDesktopViewControllerCreate",
                          "FlutterDesktopViewControllerGetView"));
  const auto create = fake.CallsTo("FlutterDesktopViewControllerCreate");
  EXPECT_EQ(create[0].handle, fake.engine());
  EXPECT_EQ(create[0].width, 440);
  EXPECT_EQ(create[0].height, 850);
  EXPECT_EQ(fake.CallsTo("FlutterDesktopViewControllerGetView")[0].handle, fake.view_controller());

  ASSERT_NE(controller.view(), nullptr);
  EXPECT_EQ(controller.view()->NativeWindow(), fake.ViewWindow());
  EXPECT_TRUE(IsWindow(controller.view()->NativeWindow()));
  ASSERT_NE(controller.engine(), nullptr);
  EXPECT_NE(controller.engine()->messenger(), nullptr);
}

// The view controller ends the engine; the wrapper never destroys it again,
// and drops its callbacks and handlers only once the engine is gone.
TEST(FlutterViewController, EndsTheViewControllerFirstAndNeverDestroysTheEngineItself) {
  FakeEngine fake;
  std::vector<std::string> log;
  struct Probe {
    Probe(FakeEngine& fake, std::vector<std::string>& log, std::string name)
        : fake(fake), log(log), name(std::move(name)) {}
    ~Probe() {
      log.push_back(name + " destroyed after " +
                    std::to_string(fake.CountOf("FlutterDesktopViewControllerDestroy")) +
                    " view controller destroy calls");
    }
    FakeEngine& fake;
    std::vector<std::string>& log;
    std::string name;
  };
  {
    FlutterViewController controller(100, 100, FlutterProject(L"data"));
    auto on_frame = std::make_shared<Probe>(fake, log, "next-frame callback");
    auto on_handler = std::make_shared<Probe>(fake, log, "handler");
    controller.engine()->SetNextFrameCallback([on_frame] {});
    controller.engine()->messenger()->SetMessageCallback(
        "channel", [on_handler](const uint8_t*, size_t, flutter::BinaryReplyCallback) {});
  }
  EXPECT_THAT(log, ElementsAre("next-frame callback destroyed after 1 view controller destroy calls",
                               "handler destroyed after 1 view controller destroy calls"));
  EXPECT_EQ(fake.CallsTo("FlutterDesktopViewControllerDestroy").size(), 1u);
  EXPECT_EQ(fake.CountOf("FlutterDesktopEngineDestroy"), 0u);
  EXPECT_FALSE(fake.engine_alive());
}

TEST(FlutterViewController, StillServesRegistrarsAfterTheEngineWasHandedOver) {
  FakeEngine fake;
  FlutterViewController controller(100, 100, FlutterProject(L"data"));
  for (const char* plugin :
       {"AppLinksPluginCApi", "FlutterSecureStorageWindowsPlugin", "UrlLauncherWindows"}) {
    FlutterDesktopPluginRegistrar* registrar = controller.engine()->RegistrarForPlugin(plugin);
    EXPECT_NE(registrar, nullptr) << plugin;
    EXPECT_EQ(registrar, fake.RegistrarFor(plugin)) << plugin;
  }
}

TEST(FlutterViewController, FailedCreationLeavesNoViewAndTouchesNothingMore) {
  FakeEngine fake;
  fake.set_fail_view_controller_create(true);
  {
    StderrCapture capture;
    FlutterViewController controller(100, 100, FlutterProject(L"data"));
    EXPECT_THAT(capture.Lines(), ElementsAre(kFailedLine));
    EXPECT_EQ(controller.view(), nullptr);
    ASSERT_NE(controller.engine(), nullptr);
    fake.ClearCalls();
    controller.ForceRedraw();
    EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, WM_SIZE, 0, 0), std::nullopt);
  }
  EXPECT_THAT(fake.CallNames(), IsEmpty());
}

TEST(FlutterViewController, WithoutAnEngineFailsWithoutPassingANullEngineOn) {
  FakeEngine fake;
  fake.set_fail_engine_create(true);
  {
    StderrCapture capture;
    FlutterViewController controller(100, 100, FlutterProject(L"data"));
    EXPECT_EQ(controller.view(), nullptr);
    EXPECT_EQ(controller.engine()->RegistrarForPlugin("AppLinksPluginCApi"), nullptr);
    EXPECT_THAT(capture.Lines(),
                ElementsAre(kFailedLine,
                            "Cannot get plugin registrar on an engine that isn't running; call Run "
                            "first."));
  }
  EXPECT_THAT(fake.CallNames(), ElementsAre("FlutterDesktopEngineCreate"));
}

TEST(FlutterViewController, OffersTopLevelMessagesAndReturnsTheEnginesResultWhenHandled) {
  FakeEngine fake;
  fake.set_top_level_window_proc(
      [](HWND, UINT message, WPARAM wparam, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_FONTCHANGE) return static_cast<LRESULT>(wparam) + 1;
        return std::nullopt;
      });
  FlutterViewController controller(100, 100, FlutterProject(L"data"));
  const HWND window = controller.view()->NativeWindow();

  EXPECT_EQ(controller.HandleTopLevelWindowProc(window, WM_FONTCHANGE, 41, 7), LRESULT{42});
  EXPECT_EQ(controller.HandleTopLevelWindowProc(window, WM_SIZE, 1, 2), std::nullopt);

  const auto calls = fake.CallsTo("FlutterDesktopViewControllerHandleTopLevelWindowProc");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].handle, fake.view_controller());
  EXPECT_EQ(calls[0].window, window);
  EXPECT_EQ(calls[0].message, static_cast<UINT>(WM_FONTCHANGE));
  EXPECT_EQ(calls[0].wparam, WPARAM{41});
  EXPECT_EQ(calls[0].lparam, LPARAM{7});

  controller.ForceRedraw();
  EXPECT_EQ(fake.CallsTo("FlutterDesktopViewControllerForceRedraw").at(0).handle,
            fake.view_controller());
}

}  // namespace
