#include "embedding/flutter_engine.h"

#include <iostream>
#include <utility>
#include <vector>

#include "embedding/unhandled_exception.h"

namespace flutter {

namespace {

FlutterDesktopEngine* CreateEngine(const FlutterProject& project) {
  // The record and everything it points to are read during the call only.
  std::vector<const char*> argv;
  argv.reserve(project.entrypoint_arguments().size());
  for (const std::string& argument : project.entrypoint_arguments()) {
    argv.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  properties.entrypoint = project.entrypoint().c_str();
  properties.entrypoint_argc = static_cast<int32_t>(argv.size());
  properties.entrypoint_argv = argv.empty() ? nullptr : argv.data();
  properties.option_code_1 = project.option_code_1();
  properties.option_code_2 = project.option_code_2();
  return FlutterDesktopEngineCreate(&properties);
}

}  // namespace

FlutterEngine::FlutterEngine(const FlutterProject& project)
    : engine_(CreateEngine(project)),
      messenger_(std::make_unique<BinaryMessengerImpl>(
          engine_ != nullptr ? FlutterDesktopEngineGetMessenger(engine_) : nullptr)) {}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) FlutterDesktopEngineDestroy(engine_);
  engine_ = nullptr;
  next_frame_callback_ = nullptr;
  messenger_.reset();
}

FlutterDesktopEngine* FlutterEngine::HandOverEngine() {
  owns_engine_ = false;
  return engine_;
}

FlutterDesktopPluginRegistrar* FlutterEngine::RegistrarForPlugin(const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't running; call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) FlutterDesktopEngineReloadSystemFonts(engine_);
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  if (engine_ != nullptr) {
    FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::DispatchNextFrame, this);
  }
}

void FlutterEngine::DispatchNextFrame(void* user_data) {
  auto* engine = static_cast<FlutterEngine*>(user_data);
  // Taken out before it runs: it runs once, and may set the next one itself.
  std::function<void()> callback = std::move(engine->next_frame_callback_);
  engine->next_frame_callback_ = nullptr;
  try {
    if (callback) callback();
  } catch (...) {
    WriteUnhandledException("Unhandled exception in the next-frame callback: ");
  }
}

}  // namespace flutter
