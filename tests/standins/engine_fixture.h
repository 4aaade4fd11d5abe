// An engine stand-in running inside the test process, with the test as its
// application over the test connection.
#ifndef TALVOR_TESTS_STANDINS_ENGINE_FIXTURE_H_
#define TALVOR_TESTS_STANDINS_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "embedding/engine_api.h"
#include "tests/support/app_connection.h"
#include "tests/support/engine_handles.h"

namespace talvor::test {

// Creates an engine on `assets` (relative paths lie beside the test program,
// where the build copies the application's data folder).
inline FlutterDesktopEngine* CreateEngine(const std::vector<std::string>& arguments = {},
                                          const wchar_t* assets = L"data\\flutter_assets") {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = assets;
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  properties.entrypoint = "";
  properties.entrypoint_argc = static_cast<int32_t>(argv.size());
  properties.entrypoint_argv = argv.empty() ? nullptr : argv.data();
  return FlutterDesktopEngineCreate(&properties);
}

class ConnectedEngineTest : public ::testing::Test {
 protected:
  explicit ConnectedEngineTest(bool application_on = false) : application_on_(application_on) {}

  void SetUp() override {
    connection_ = std::make_unique<AppConnection>(AppConnection::Options{application_on_});
    engine_ = CreateEngine({"--first", "talvor://second"});
    ASSERT_NE(engine_, nullptr);
    messenger_ = FlutterDesktopEngineGetMessenger(engine_);
    BeforeRun();
    controller_.reset(FlutterDesktopViewControllerCreate(440, 850, engine_));
    ASSERT_TRUE(controller_);
  }

  // Between the engine's creation and its run, as the program registers its
  // handlers before the application's first call.
  virtual void BeforeRun() {}

  void TearDown() override {
    controller_.reset();
    connection_.reset();
  }

  const bool application_on_;
  std::unique_ptr<AppConnection> connection_;
  FlutterDesktopEngine* engine_ = nullptr;
  FlutterDesktopMessenger* messenger_ = nullptr;
  UniqueController controller_;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_STANDINS_ENGINE_FIXTURE_H_
