#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "embedding/flutter_engine.h"
#include "embedding/flutter_project.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/stderr_capture.h"

namespace {

using flutter::FlutterEngine;
using flutter::FlutterProject;
using talvor::test::EngineCall;
using talvor::test::FakeEngine;
using talvor::test::StderrCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kNoEngineLine[] =
    "Cannot get plugin registrar on an engine that isn't running; call Run first.";

TEST(FlutterProject, BuildsTheThreePathsFromTheDirectoryAsGiven) {
  const FlutterProject project(L"data");
  EXPECT_EQ(project.assets_path(), L"data\\flutter_assets");
  EXPECT_EQ(project.icu_data_path(), L"data\\icudtl.dat");
  EXPECT_EQ(project.aot_library_path(), L"data\\app.so");
  EXPECT_EQ(project.entrypoint(), "");
  EXPECT_THAT(project.entrypoint_arguments(), IsEmpty());
  EXPECT_EQ(project.option_code_1(), 0);
  EXPECT_EQ(project.option_code_2(), 0);
}

TEST(FlutterEngine, StartsTheEngineFromTheProjectWithoutArguments) {
  FakeEngine fake;
  FlutterEngine engine(FlutterProject(L"C:\\app\\data"));

  EXPECT_THAT(fake.CallNames(),
              ElementsAre("FlutterDesktopEngineCreate", "FlutterDesktopEngineGetMessenger"));
  EXPECT_EQ(fake.CallsTo("FlutterDesktopEngineGetMessenger")[0].handle, fake.engine());
  const auto properties = fake.LastEngineProperties();
  ASSERT_TRUE(properties.has_value());
  EXPECT_EQ(properties->assets_path, L"C:\\app\\data\\flutter_assets");
  EXPECT_EQ(properties->icu_data_path, L"C:\\app\\data\\icudtl.dat");
  EXPECT_EQ(properties->aot_library_path, L"C:\\app\\data\\app.so");
  EXPECT_FALSE(properties->entrypoint_is_null);
  EXPECT_EQ(properties->entrypoint, "");
  EXPECT_EQ(properties->entrypoint_argc, 0);
  EXPECT_TRUE(properties->entrypoint_argv_is_null);
  EXPECT_EQ(properties->option_code_1, 0);
  EXPECT_EQ(properties->option_code_2, 0);
}

TEST(FlutterEngine, PassesEntrypointArgumentsInOrderWithTheirCount) {
  FakeEngine fake;
  FlutterProject project(L"data");
  project.set_entrypoint_arguments({"talvor://connect?id=1", "--verbose", "\xD0\xBF\xD1\x80\xD0\xB8"});
  FlutterEngine engine(project);

  const auto properties = fake.LastEngineProperties();
  ASSERT_TRUE(properties.has_value());
  EXPECT_EQ(properties->entrypoint_argc, 3);
  EXPECT_FALSE(properties->entrypoint_argv_is_null);
  EXPECT_THAT(properties->entrypoint_argv,
              ElementsAre("talvor://connect?id=1", "--verbose", "\xD0\xBF\xD1\x80\xD0\xB8"));
}

// Notes, when destroyed, whether the engine was still alive.
struct EngineStateProbe {
  EngineStateProbe(FakeEngine& fake, std::vector<std::string>& log, std::string name)
      : fake(fake), log(log), name(std::move(name)) {}
  ~EngineStateProbe() {
    log.push_back(name + (fake.engine_alive() ? " before" : " after") + " the engine");
  }
  FakeEngine& fake;
  std::vector<std::string>& log;
  std::string name;
};

// The engine goes first, so that no engine is left to call into the
// callbacks destroyed after it: next-frame callback, then the handlers.
TEST(FlutterEngine, DestroysTheOwnedEngineBeforeItsCallbacksAndHandlers) {
  FakeEngine fake;
  std::vector<std::string> log;
  {
    FlutterEngine engine(FlutterProject(L"data"));
    auto on_handler = std::make_shared<EngineStateProbe>(fake, log, "handler");
    auto on_frame = std::make_shared<EngineStateProbe>(fake, log, "next-frame callback");
    engine.messenger()->SetMessageCallback(
        "channel", [on_handler](const uint8_t*, size_t, flutter::BinaryReplyCallback) {});
    engine.SetNextFrameCallback([on_frame] {});
  }
  EXPECT_THAT(log, ElementsAre("next-frame callback after the engine", "handler after the engine"));
  EXPECT_EQ(fake.CountOf("FlutterDesktopEngineDestroy"), 1u);
}

TEST(FlutterEngine, AfterHandOverKeepsServingRegistrarsButNeverDestroysTheEngine) {
  FakeEngine fake;
  FlutterDesktopEngine* handed_over = nullptr;
  {
    FlutterEngine engine(FlutterProject(L"data"));
    handed_over = engine.HandOverEngine();
    EXPECT_EQ(handed_over, fake.engine());

    FlutterDesktopPluginRegistrar* registrar = engine.RegistrarForPlugin("UrlLauncherWindows");
    EXPECT_NE(registrar, nullptr);
    EXPECT_EQ(registrar, fake.RegistrarFor("UrlLauncherWindows"));
    const auto calls = fake.CallsTo("FlutterDesktopEngineGetPluginRegistrar");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handle, handed_over);
    EXPECT_EQ(calls[0].name, "UrlLauncherWindows");

    engine.ReloadSystemFonts();
    EXPECT_EQ(fake.CallsTo("FlutterDesktopEngineReloadSystemFonts").at(0).handle, handed_over);
  }
  EXPECT_EQ(fake.CountOf("FlutterDesktopEngineDestroy"), 0u);
  // The new owner ends it.
  FlutterDesktopEngineDestroy(handed_over);
}

TEST(FlutterEngine, NextFrameCallbackRunsOnceAfterTheNextFrame) {
  FakeEngine fake;
  FlutterEngine engine(FlutterProject(L"data"));
  int replaced = 0;
  int runs = 0;
  engine.SetNextFrameCallback([&] { ++replaced; });
  engine.SetNextFrameCallback([&] { ++runs; });

  const auto calls = fake.CallsTo("FlutterDesktopEngineSetNextFrameCallback");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].handle, fake.engine());
  EXPECT_EQ(calls[1].next_frame, &FlutterEngine::DispatchNextFrame);
  EXPECT_EQ(calls[1].user_data, &engine);

  EXPECT_TRUE(fake.RenderFrame());
  // A stray second delivery of the same registration finds nothing to run.
  FlutterEngine::DispatchNextFrame(&engine);
  EXPECT_FALSE(fake.RenderFrame());
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(replaced, 0);
}

TEST(FlutterEngine, NextFrameCallbackMayRegisterTheFollowingOne) {
  FakeEngine fake;
  FlutterEngine engine(FlutterProject(L"data"));
  std::vector<int> frames;
  engine.SetNextFrameCallback([&] {
    frames.push_back(1);
    engine.SetNextFrameCallback([&] { frames.push_back(2); });
  });

  EXPECT_TRUE(fake.RenderFrame());
  EXPECT_TRUE(fake.RenderFrame());
  EXPECT_FALSE(fake.RenderFrame());
  EXPECT_THAT(frames, ElementsAre(1, 2));
}

TEST(FlutterEngine, NextFrameCallbackExceptionsStayOutOfTheEngine) {
  FakeEngine fake;
  FlutterEngine engine(FlutterProject(L"data"));
  int runs = 0;
  engine.SetNextFrameCallback([&] {
    ++runs;
    throw std::runtime_error("frame failed");
  });

  StderrCapture capture;
  EXPECT_TRUE(fake.RenderFrame());
  FlutterEngine::DispatchNextFrame(&engine);

  EXPECT_THAT(capture.Lines(),
              ElementsAre("Unhandled exception in the next-frame callback: frame failed"));
  EXPECT_EQ(runs, 1);
}

// With no engine, nothing is passed on to the engine library: no null handle
// reaches any of its functions.
TEST(FlutterEngine, WithoutAnEngineCallsNothingButCreateAndRefusesEverything) {
  FakeEngine fake;
  fake.set_fail_engine_create(true);
  bool replied = false;
  bool frame = false;
  {
    FlutterEngine engine(FlutterProject(L"data"));
    StderrCapture capture;
    EXPECT_EQ(engine.RegistrarForPlugin("AppLinksPluginCApi"), nullptr);
    EXPECT_THAT(capture.Lines(), ElementsAre(kNoEngineLine));

    engine.ReloadSystemFonts();
    engine.SetNextFrameCallback([&] { frame = true; });
    ASSERT_NE(engine.messenger(), nullptr);
    const uint8_t message[] = {7, 1, 'x', 0};
    engine.messenger()->Send("channel", message, sizeof message, nullptr);
    engine.messenger()->Send("channel", message, sizeof message,
                             [&](const uint8_t*, size_t) { replied = true; });
    engine.messenger()->SetMessageCallback(
        "channel", [](const uint8_t*, size_t, flutter::BinaryReplyCallback) {});
    engine.messenger()->SetMessageCallback("channel", nullptr);
    EXPECT_EQ(engine.HandOverEngine(), nullptr);
  }
  EXPECT_THAT(fake.CallNames(), ElementsAre("FlutterDesktopEngineCreate"));
  EXPECT_FALSE(replied);
  EXPECT_FALSE(frame);
}

}  // namespace
