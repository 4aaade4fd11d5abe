// The engine library's C interface, over the stand-in engine. Nothing thrown
// inside leaves through these functions.
#include <memory>
#include <mutex>
#include <new>

#include "embedding/engine_api.h"
#include "standins/engine/engine.h"
#include "standins/engine/messenger.h"
#include "standins/engine/view.h"
#include "standins/plugin_registrar_api.h"

using talvor::standins::Engine;
using talvor::standins::View;

// A view controller owns the engine it runs, and through it the view.
struct FlutterDesktopViewController {
  std::unique_ptr<Engine> engine;
};

namespace {

Engine* AsEngine(FlutterDesktopEngine* handle) { return reinterpret_cast<Engine*>(handle); }
FlutterDesktopEngine* AsHandle(Engine* engine) { return reinterpret_cast<FlutterDesktopEngine*>(engine); }
View* AsView(FlutterDesktopView* handle) { return reinterpret_cast<View*>(handle); }
FlutterDesktopView* AsHandle(View* view) { return reinterpret_cast<FlutterDesktopView*>(view); }

// The messenger's engine while the caller holds the messenger's lock.
Engine* LockedEngine(FlutterDesktopMessenger* messenger) { return messenger != nullptr ? messenger->engine : nullptr; }

}  // namespace

extern "C" {

FlutterDesktopEngine* FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties) {
  try {
    return AsHandle(Engine::Create(properties).release());
  } catch (...) {
    return nullptr;
  }
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngine* engine) {
  // A running engine belongs to its view controller and ends with it.
  if (engine == nullptr || AsEngine(engine)->running()) return false;
  std::unique_ptr<Engine> ended(AsEngine(engine));
  return true;
}

FlutterDesktopMessenger* FlutterDesktopEngineGetMessenger(FlutterDesktopEngine* engine) {
  return engine != nullptr ? AsEngine(engine)->messenger() : nullptr;
}

FlutterDesktopPluginRegistrar* FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngine* engine,
                                                                      const char* plugin_name) {
  if (engine == nullptr) return nullptr;
  try {
    return AsEngine(engine)->Registrar(plugin_name);
  } catch (...) {
    return nullptr;
  }
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngine* engine) {
  if (engine != nullptr) AsEngine(engine)->ReloadSystemFonts();
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngine* engine, FlutterDesktopOnNextFrame callback,
                                              void* user_data) {
  if (engine == nullptr) return;
  try {
    AsEngine(engine)->SetNextFrameCallback(callback, user_data);
  } catch (...) {
  }
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessenger* messenger, const char* channel, const uint8_t* message,
                                 size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message, message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessenger* messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  if (messenger == nullptr) return false;
  try {
    std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
    Engine* engine = LockedEngine(messenger);
    return engine != nullptr && engine->SendToApplication(channel, message, message_size, reply, user_data);
  } catch (...) {
    return false;
  }
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessenger* messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (messenger == nullptr) return;
  try {
    std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
    if (Engine* engine = LockedEngine(messenger)) engine->SetProgramHandler(channel, callback, user_data);
  } catch (...) {
  }
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessenger* messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_size) {
  if (messenger == nullptr || handle == nullptr) return;
  try {
    std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
    if (Engine* engine = LockedEngine(messenger)) engine->SendResponse(handle, data, data_size);
  } catch (...) {
  }
}

FlutterDesktopMessenger* FlutterDesktopMessengerAddRef(FlutterDesktopMessenger* messenger) {
  if (messenger != nullptr) talvor::standins::AddMessengerReference(messenger);
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessenger* messenger) {
  if (messenger != nullptr) talvor::standins::ReleaseMessenger(messenger);
}

FlutterDesktopMessenger* FlutterDesktopMessengerLock(FlutterDesktopMessenger* messenger) {
  if (messenger == nullptr) return nullptr;
  messenger->mutex.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessenger* messenger) {
  if (messenger != nullptr) messenger->mutex.unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessenger* messenger) {
  if (messenger == nullptr) return false;
  std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
  return messenger->engine != nullptr;
}

// The stand-in writes through the process's shared C runtime streams, which
// follow a new console by themselves: nothing to resynchronise.
void FlutterDesktopResyncOutputStreams(void) {}

FlutterDesktopViewController* FlutterDesktopViewControllerCreate(int width, int height,
                                                                 FlutterDesktopEngine* engine) {
  if (engine == nullptr) return nullptr;
  // The controller owns the engine from here on, also when it fails.
  std::unique_ptr<Engine> owned(AsEngine(engine));
  if (owned->running()) {
    owned.release();  // already run by another controller, which keeps it
    return nullptr;
  }
  try {
    if (!owned->RunInView(width, height)) return nullptr;
    auto controller = std::make_unique<FlutterDesktopViewController>();
    controller->engine = std::move(owned);
    return controller.release();
  } catch (...) {
    return nullptr;
  }
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewController* controller) {
  std::unique_ptr<FlutterDesktopViewController> ended(controller);
}

FlutterDesktopView* FlutterDesktopViewControllerGetView(FlutterDesktopViewController* controller) {
  if (controller == nullptr || !controller->engine) return nullptr;
  return AsHandle(controller->engine->view());
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewController* controller) {
  if (controller == nullptr || !controller->engine) return;
  try {
    controller->engine->ForceRedraw();
  } catch (...) {
  }
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewController* controller, HWND window,
                                                          UINT message, WPARAM wparam, LPARAM lparam,
                                                          LRESULT* result) {
  if (controller == nullptr || !controller->engine) return false;
  try {
    return controller->engine->HandleTopLevelWindowProc(window, message, wparam, lparam, result);
  } catch (...) {
    return false;
  }
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopView* view) { return view != nullptr ? AsView(view)->window() : nullptr; }

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) { return talvor::standins::EffectiveDpiForMonitor(monitor); }

FlutterDesktopMessenger* TalvorStandinRegistrarGetMessenger(FlutterDesktopPluginRegistrar* registrar) {
  return registrar != nullptr ? registrar->engine->messenger() : nullptr;
}

void TalvorStandinRegistrarSetWindowProcDelegate(FlutterDesktopPluginRegistrar* registrar,
                                                 TalvorStandinWindowProcDelegate delegate, void* user_data) {
  if (registrar == nullptr) return;
  registrar->window_proc_delegate = delegate;
  registrar->window_proc_user_data = delegate != nullptr ? user_data : nullptr;
}

void TalvorStandinRegistrarSetDestructionHandler(FlutterDesktopPluginRegistrar* registrar,
                                                 TalvorStandinRegistrarDestroyed handler, void* user_data) {
  if (registrar == nullptr) return;
  registrar->destroyed = handler;
  registrar->destroyed_user_data = handler != nullptr ? user_data : nullptr;
}

int TalvorStandinLiveMessengerCount(void) { return talvor::standins::LiveMessengerCount(); }

}  // extern "C"
