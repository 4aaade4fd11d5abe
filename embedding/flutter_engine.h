#ifndef TALVOR_EMBEDDING_FLUTTER_ENGINE_H_
#define TALVOR_EMBEDDING_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/binary_messenger_impl.h"
#include "embedding/engine_api.h"
#include "embedding/flutter_project.h"
#include "embedding/plugin_registry.h"

namespace flutter {

// Owns one engine created from a project, its messenger and the pending
// next-frame callback. The engine itself is owned here until HandOverEngine
// gives it to a view controller.
//
// When the engine library cannot create the engine, the wrapper holds no
// engine and calls none of the engine's functions: its messenger refuses every
// send, no registrar is found, and the next-frame callback never runs.
class FlutterEngine : public PluginRegistry {
 public:
  explicit FlutterEngine(const FlutterProject& project);
  // Destroys the engine first (when still owned), so that no engine is left
  // to call into the handlers destroyed with the messenger.
  ~FlutterEngine() override;
  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // The engine's messenger; the engine keeps ownership.
  BinaryMessenger* messenger() { return messenger_.get(); }

  // Gives up ownership of the engine: the handle stays stored and usable here,
  // but the wrapper no longer destroys the engine.
  FlutterDesktopEngine* HandOverEngine();

  FlutterDesktopPluginRegistrar* RegistrarForPlugin(const std::string& plugin_name) override;

  void ReloadSystemFonts();

  // Runs `callback` once after the engine's next frame, replacing a callback
  // still pending.
  void SetNextFrameCallback(std::function<void()> callback);

  // The engine's next-frame callback; `user_data` is the FlutterEngine.
  // Nothing is thrown.
  static void DispatchNextFrame(void* user_data);

 private:
  FlutterDesktopEngine* engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_FLUTTER_ENGINE_H_
