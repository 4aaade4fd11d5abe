#include "tests/fake_engine/fake_engine.h"

#include "tests/fake_engine/failure_report.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#ifdef _WIN32
#include <shellscalingapi.h>

#include "runner/win32_handles.h"
#endif

// The engine library's opaque handles, as this fake defines them.

struct FlutterDesktopMessageResponseHandle {
  uint64_t id = 0;
  FlutterDesktopMessenger* messenger = nullptr;
};

struct FlutterDesktopMessenger {
  struct Handler {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };

  // The lock of FlutterDesktopMessengerLock; the engine takes it to detach.
  std::mutex lock;
  std::atomic<std::thread::id> locked_by{std::thread::id()};
  // Written under `lock`; null once the engine is gone. Deliberately not
  // atomic, so that ThreadSanitizer sees an unlocked availability test.
  FlutterDesktopEngine* engine = nullptr;
  // The rest under the fake's state mutex.
  int references = 1;  // the engine's own
  std::map<std::string, Handler> handlers;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
  std::string plugin_name;
};

struct FlutterDesktopEngine {
  FlutterDesktopMessenger* messenger = nullptr;
  bool destroyed = false;
  bool owned_by_view_controller = false;
  FlutterDesktopOnNextFrame next_frame = nullptr;
  void* next_frame_user_data = nullptr;
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars;
};

#ifdef _WIN32
struct FlutterDesktopView {
  talvor::UniqueWindow window;  // forgotten when the window is destroyed by its parent
};

struct FlutterDesktopViewController {
  FlutterDesktopEngine* engine = nullptr;
  bool destroyed = false;
  // Parent of the view until the program embeds it in its own window.
  talvor::UniqueWindow host;
  FlutterDesktopView view;
};
#endif

namespace talvor::test {

namespace {

struct PendingSendEntry {
  uint64_t id = 0;
  FlutterDesktopEngine* engine = nullptr;
  std::string channel;
  std::vector<uint8_t> bytes;
  FlutterDesktopBinaryReply reply = nullptr;
  void* user_data = nullptr;
};

struct State {
  std::mutex mutex;
  bool scope_active = false;
  bool recording = true;
  bool fail_engine_create = false;
  bool fail_view_controller_create = false;
  bool refuse_sends = false;
  bool messenger_lock_returns_null = false;
  uint64_t next_id = 1;
  std::vector<EngineCall> calls;
  std::optional<EngineProperties> last_properties;
  std::vector<std::string> violations;
  // Objects live until the scope ends, so that a stale handle is reported
  // instead of touching freed memory.
  std::vector<std::unique_ptr<FlutterDesktopEngine>> engines;
  std::vector<std::unique_ptr<FlutterDesktopMessenger>> messengers;
  std::unordered_map<const FlutterDesktopMessageResponseHandle*,
                     std::unique_ptr<FlutterDesktopMessageResponseHandle>>
      outstanding_responses;
  std::vector<Response> responses;
  std::vector<PendingSendEntry> pending_sends;
#ifdef _WIN32
  std::vector<std::unique_ptr<FlutterDesktopViewController>> view_controllers;
  std::optional<UINT> monitor_dpi;
  FakeEngine::TopLevelWindowProc top_level_window_proc;
#endif
};

State& GetState() {
  static State state;
  return state;
}

using Guard = std::lock_guard<std::mutex>;

// Records a call; `fill` adds its arguments. Costs nothing with recording off.
template <typename Fill>
void Record(State& state, const char* function, const void* handle, Fill&& fill) {
  if (!state.recording) return;
  EngineCall call;
  call.function = function;
  call.handle = handle;
  call.thread = std::this_thread::get_id();
  fill(call);
  state.calls.push_back(std::move(call));
}

void Record(State& state, const char* function, const void* handle) {
  Record(state, function, handle, [](EngineCall&) {});
}

void Violate(State& state, const char* function, const std::string& problem) {
  state.violations.push_back(std::string(function) + ": " + problem);
}

std::vector<uint8_t> CopyBytes(const uint8_t* data, size_t size) {
  return data == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + size);
}

FlutterDesktopEngine* LastEngine(State& state) {
  return state.engines.empty() ? nullptr : state.engines.back().get();
}

bool KnownEngine(State& state, const FlutterDesktopEngine* engine) {
  return std::any_of(state.engines.begin(), state.engines.end(),
                     [engine](const auto& known) { return known.get() == engine; });
}

bool KnownMessenger(State& state, const FlutterDesktopMessenger* messenger) {
  return std::any_of(state.messengers.begin(), state.messengers.end(),
                     [messenger](const auto& known) { return known.get() == messenger; });
}

bool LockedByThisThread(const FlutterDesktopMessenger* messenger) {
  return messenger->locked_by.load() == std::this_thread::get_id();
}

// A live engine: reported otherwise.
bool CheckEngine(State& state, const char* function, const FlutterDesktopEngine* engine) {
  if (engine == nullptr) {
    Violate(state, function, "null engine");
  } else if (!KnownEngine(state, engine)) {
    Violate(state, function, "unknown engine");
  } else if (engine->destroyed) {
    Violate(state, function, "engine already destroyed");
  } else {
    return true;
  }
  return false;
}

// A messenger still referenced by someone: reported otherwise.
bool CheckMessenger(State& state, const char* function, const FlutterDesktopMessenger* messenger) {
  if (messenger == nullptr) {
    Violate(state, function, "null messenger");
  } else if (!KnownMessenger(state, messenger)) {
    Violate(state, function, "unknown messenger");
  } else if (messenger->references <= 0) {
    Violate(state, function, "messenger used after its last release");
  } else {
    return true;
  }
  return false;
}

// A messenger whose engine is alive: what sending and registering need.
bool CheckMessengerOfLiveEngine(State& state, const char* function,
                                const FlutterDesktopMessenger* messenger) {
  if (!CheckMessenger(state, function, messenger)) return false;
  if (messenger->engine == nullptr) {
    Violate(state, function, "the messenger's engine is destroyed");
    return false;
  }
  return true;
}

template <typename Fill>
void RecordMessengerCall(State& state, const char* function, FlutterDesktopMessenger* messenger,
                         Fill&& fill) {
  if (!state.recording) return;
  const bool locked = messenger != nullptr && KnownMessenger(state, messenger) &&
                      LockedByThisThread(messenger);
  Record(state, function, messenger, [&](EngineCall& call) {
    call.locked = locked;
    fill(call);
  });
}

void RecordMessengerCall(State& state, const char* function, FlutterDesktopMessenger* messenger) {
  RecordMessengerCall(state, function, messenger, [](EngineCall&) {});
}

std::optional<EngineProperties> CopyProperties(const FlutterDesktopEngineProperties& source) {
  EngineProperties copy;
  if (source.assets_path != nullptr) copy.assets_path = source.assets_path;
  if (source.icu_data_path != nullptr) copy.icu_data_path = source.icu_data_path;
  if (source.aot_library_path != nullptr) copy.aot_library_path = source.aot_library_path;
  copy.entrypoint_is_null = source.entrypoint == nullptr;
  if (source.entrypoint != nullptr) copy.entrypoint = source.entrypoint;
  copy.entrypoint_argc = source.entrypoint_argc;
  copy.entrypoint_argv_is_null = source.entrypoint_argv == nullptr;
  if (source.entrypoint_argv != nullptr) {
    for (int32_t i = 0; i < source.entrypoint_argc; ++i) {
      const char* argument = source.entrypoint_argv[i];
      copy.entrypoint_argv.push_back(argument != nullptr ? argument : "<null>");
    }
  }
  copy.option_code_1 = source.option_code_1;
  copy.option_code_2 = source.option_code_2;
  return copy;
}

// Ends an engine: detaches its messenger under the messenger's lock, drops
// its registrations and answers its pending sends with an empty reply.
void DestroyEngine(FlutterDesktopEngine* engine) {
  State& state = GetState();
  FlutterDesktopMessenger* messenger = engine->messenger;
  {
    std::lock_guard<std::mutex> detach(messenger->lock);
    messenger->engine = nullptr;
  }
  std::vector<PendingSendEntry> orphaned;
  {
    Guard guard(state.mutex);
    engine->destroyed = true;
    engine->next_frame = nullptr;
    engine->next_frame_user_data = nullptr;
    messenger->handlers.clear();
    --messenger->references;
    for (auto it = state.outstanding_responses.begin(); it != state.outstanding_responses.end();) {
      it = it->second->messenger == messenger ? state.outstanding_responses.erase(it) : ++it;
    }
    auto mine = std::stable_partition(
        state.pending_sends.begin(), state.pending_sends.end(),
        [engine](const PendingSendEntry& entry) { return entry.engine != engine; });
    std::move(mine, state.pending_sends.end(), std::back_inserter(orphaned));
    state.pending_sends.erase(mine, state.pending_sends.end());
  }
  for (const PendingSendEntry& entry : orphaned) entry.reply(nullptr, 0, entry.user_data);
}

#ifdef _WIN32
constexpr wchar_t kViewClass[] = L"TalvorFakeEngineView";
constexpr wchar_t kHostClass[] = L"TalvorFakeEngineViewHost";

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == WM_NCDESTROY) {
    // Destroyed with a parent of the program's: nothing left to destroy.
    auto* view = reinterpret_cast<FlutterDesktopView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view != nullptr && view->window.get() == window) view->window.release();
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void RegisterWindowClasses() {
  static const bool registered = [] {
    WNDCLASSW view_class = {};
    view_class.lpfnWndProc = ViewWindowProc;
    view_class.hInstance = GetModuleHandleW(nullptr);
    view_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    view_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    view_class.lpszClassName = kViewClass;
    RegisterClassW(&view_class);
    WNDCLASSW host_class = {};
    host_class.lpfnWndProc = DefWindowProcW;
    host_class.hInstance = GetModuleHandleW(nullptr);
    host_class.lpszClassName = kHostClass;
    RegisterClassW(&host_class);
    return true;
  }();
  (void)registered;
}

void CreateViewWindows(FlutterDesktopViewController* controller, int width, int height) {
  RegisterWindowClasses();
  controller->host.reset(CreateWindowExW(0, kHostClass, L"", WS_POPUP, 0, 0, width, height,
                                         nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  controller->view.window.reset(CreateWindowExW(
      0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width, height,
      controller->host.get(), nullptr, GetModuleHandleW(nullptr), &controller->view));
}

void DestroyViewWindows(FlutterDesktopViewController* controller) {
  controller->view.window.reset();
  controller->host.reset();
}

bool CheckViewController(State& state, const char* function,
                         const FlutterDesktopViewController* controller) {
  const bool known = std::any_of(state.view_controllers.begin(), state.view_controllers.end(),
                                 [controller](const auto& c) { return c.get() == controller; });
  if (controller == nullptr) {
    Violate(state, function, "null view controller");
  } else if (!known) {
    Violate(state, function, "unknown view controller");
  } else if (controller->destroyed) {
    Violate(state, function, "view controller already destroyed");
  } else {
    return true;
  }
  return false;
}

FlutterDesktopViewController* ControllerOfView(State& state, const FlutterDesktopView* view) {
  for (const auto& controller : state.view_controllers) {
    if (&controller->view == view) return controller.get();
  }
  return nullptr;
}
#endif  // _WIN32

// Drops every object of the fake; windows are destroyed, pending sends are
// dropped without being answered.
void ResetState(State& state) {
  std::vector<std::unique_ptr<FlutterDesktopEngine>> engines;
  std::vector<std::unique_ptr<FlutterDesktopMessenger>> messengers;
#ifdef _WIN32
  std::vector<std::unique_ptr<FlutterDesktopViewController>> view_controllers;
#endif
  {
    Guard guard(state.mutex);
    engines.swap(state.engines);
    messengers.swap(state.messengers);
#ifdef _WIN32
    view_controllers.swap(state.view_controllers);
    state.monitor_dpi.reset();
    state.top_level_window_proc = nullptr;
#endif
    state.recording = true;
    state.fail_engine_create = false;
    state.fail_view_controller_create = false;
    state.refuse_sends = false;
    state.messenger_lock_returns_null = false;
    state.calls.clear();
    state.last_properties.reset();
    state.violations.clear();
    state.outstanding_responses.clear();
    state.responses.clear();
    state.pending_sends.clear();
  }
#ifdef _WIN32
  for (const auto& controller : view_controllers) DestroyViewWindows(controller.get());
#endif
}

// What was never cleaned up by the program, as violations.
void ReportLeftovers(State& state) {
  Guard guard(state.mutex);
  for (const auto& engine : state.engines) {
    if (!engine->destroyed) state.violations.push_back("engine never destroyed");
    const int expected = engine->destroyed ? 0 : 1;
    if (engine->messenger->references > expected) {
      state.violations.push_back("messenger references never released: " +
                                 std::to_string(engine->messenger->references - expected));
    }
  }
#ifdef _WIN32
  for (const auto& controller : state.view_controllers) {
    if (!controller->destroyed) state.violations.push_back("view controller never destroyed");
  }
#endif
}

}  // namespace

FakeEngine::FakeEngine() {
  State& state = GetState();
  {
    Guard guard(state.mutex);
    if (state.scope_active) ReportFakeEngineFailure("only one FakeEngine may exist at a time");
    state.scope_active = true;
  }
  ResetState(state);
}

FakeEngine::~FakeEngine() {
  State& state = GetState();
  ReportLeftovers(state);
  for (const std::string& violation : TakeViolations()) {
    ReportFakeEngineFailure("fake engine: " + violation);
  }
  ResetState(state);
  Guard guard(state.mutex);
  state.scope_active = false;
}

void FakeEngine::set_fail_engine_create(bool fail) {
  Guard guard(GetState().mutex);
  GetState().fail_engine_create = fail;
}

void FakeEngine::set_fail_view_controller_create(bool fail) {
  Guard guard(GetState().mutex);
  GetState().fail_view_controller_create = fail;
}

void FakeEngine::set_refuse_sends(bool refuse) {
  Guard guard(GetState().mutex);
  GetState().refuse_sends = refuse;
}

void FakeEngine::set_messenger_lock_returns_null(bool returns_null) {
  Guard guard(GetState().mutex);
  GetState().messenger_lock_returns_null = returns_null;
}

void FakeEngine::set_recording(bool recording) {
  Guard guard(GetState().mutex);
  GetState().recording = recording;
}

std::vector<EngineCall> FakeEngine::Calls() const {
  Guard guard(GetState().mutex);
  return GetState().calls;
}

std::vector<std::string> FakeEngine::CallNames() const {
  std::vector<std::string> names;
  for (const EngineCall& call : Calls()) names.push_back(call.function);
  return names;
}

std::vector<EngineCall> FakeEngine::CallsTo(const std::string& function) const {
  std::vector<EngineCall> calls;
  for (EngineCall& call : Calls()) {
    if (call.function == function) calls.push_back(std::move(call));
  }
  return calls;
}

size_t FakeEngine::CountOf(const std::string& function) const { return CallsTo(function).size(); }

void FakeEngine::ClearCalls() {
  Guard guard(GetState().mutex);
  GetState().calls.clear();
}

std::optional<EngineProperties> FakeEngine::LastEngineProperties() const {
  Guard guard(GetState().mutex);
  return GetState().last_properties;
}

std::vector<std::string> FakeEngine::Violations() const {
  Guard guard(GetState().mutex);
  return GetState().violations;
}

std::vector<std::string> FakeEngine::TakeViolations() {
  Guard guard(GetState().mutex);
  return std::exchange(GetState().violations, {});
}

FlutterDesktopEngine* FakeEngine::engine() const {
  Guard guard(GetState().mutex);
  return LastEngine(GetState());
}

bool FakeEngine::engine_alive() const {
  Guard guard(GetState().mutex);
  const FlutterDesktopEngine* engine = LastEngine(GetState());
  return engine != nullptr && !engine->destroyed;
}

FlutterDesktopMessenger* FakeEngine::messenger() const {
  Guard guard(GetState().mutex);
  const FlutterDesktopEngine* engine = LastEngine(GetState());
  return engine != nullptr ? engine->messenger : nullptr;
}

int FakeEngine::MessengerReferences() const {
  Guard guard(GetState().mutex);
  const FlutterDesktopEngine* engine = LastEngine(GetState());
  return engine != nullptr ? engine->messenger->references : 0;
}

bool FakeEngine::MessengerLocked() const {
  Guard guard(GetState().mutex);
  const FlutterDesktopEngine* engine = LastEngine(GetState());
  return engine != nullptr && engine->messenger->locked_by.load() != std::thread::id();
}

namespace {

// The handler registered on `channel` of the last engine; empty when none.
FlutterDesktopMessenger::Handler LastEnginesHandler(const std::string& channel) {
  Guard guard(GetState().mutex);
  const FlutterDesktopEngine* engine = LastEngine(GetState());
  if (engine == nullptr) return {};
  const auto found = engine->messenger->handlers.find(channel);
  return found != engine->messenger->handlers.end() ? found->second : FlutterDesktopMessenger::Handler{};
}

}  // namespace

FlutterDesktopMessageCallback FakeEngine::HandlerFor(const std::string& channel) const {
  return LastEnginesHandler(channel).callback;
}

void* FakeEngine::HandlerUserDataFor(const std::string& channel) const {
  return LastEnginesHandler(channel).user_data;
}

FlutterDesktopPluginRegistrar* FakeEngine::RegistrarFor(const std::string& plugin_name) const {
  Guard guard(GetState().mutex);
  const FlutterDesktopEngine* engine = LastEngine(GetState());
  if (engine == nullptr) return nullptr;
  const auto found = engine->registrars.find(plugin_name);
  return found != engine->registrars.end() ? found->second.get() : nullptr;
}

Delivery FakeEngine::Deliver(const std::string& channel, const uint8_t* data, size_t size) {
  State& state = GetState();
  Delivery delivery;
  FlutterDesktopMessenger* messenger = nullptr;
  FlutterDesktopMessenger::Handler handler;
  {
    Guard guard(state.mutex);
    FlutterDesktopEngine* engine = LastEngine(state);
    if (engine == nullptr || engine->destroyed) {
      ReportFakeEngineFailure("Deliver: there is no live engine");
      return delivery;
    }
    messenger = engine->messenger;
    const auto found = messenger->handlers.find(channel);
    if (found == messenger->handlers.end()) return delivery;
    handler = found->second;
    auto response_handle = std::make_unique<FlutterDesktopMessageResponseHandle>();
    response_handle->id = state.next_id++;
    response_handle->messenger = messenger;
    delivery.handled = true;
    delivery.id = response_handle->id;
    delivery.response_handle = response_handle.get();
    state.outstanding_responses.emplace(response_handle.get(), std::move(response_handle));
  }
  const FlutterDesktopMessage message = {sizeof(FlutterDesktopMessage), channel.c_str(), data, size,
                                         delivery.response_handle};
  handler.callback(messenger, &message, handler.user_data);
  return delivery;
}

Delivery FakeEngine::Deliver(const std::string& channel, const std::vector<uint8_t>& bytes) {
  return Deliver(channel, bytes.empty() ? nullptr : bytes.data(), bytes.size());
}

std::vector<Response> FakeEngine::Responses() const {
  Guard guard(GetState().mutex);
  return GetState().responses;
}

std::optional<Response> FakeEngine::ResponseTo(uint64_t delivery_id) const {
  for (Response& response : Responses()) {
    if (response.id == delivery_id) return std::move(response);
  }
  return std::nullopt;
}

std::vector<PendingSend> FakeEngine::PendingSends() const {
  Guard guard(GetState().mutex);
  std::vector<PendingSend> sends;
  for (const PendingSendEntry& entry : GetState().pending_sends) {
    sends.push_back(PendingSend{entry.id, entry.channel, entry.bytes});
  }
  return sends;
}

bool FakeEngine::AnswerSend(uint64_t id, const std::vector<uint8_t>& reply) {
  return AnswerSend(id, reply.empty() ? nullptr : reply.data(), reply.size());
}

bool FakeEngine::AnswerSend(uint64_t id, const uint8_t* data, size_t size) {
  State& state = GetState();
  PendingSendEntry entry;
  {
    Guard guard(state.mutex);
    const auto found = std::find_if(state.pending_sends.begin(), state.pending_sends.end(),
                                    [id](const PendingSendEntry& e) { return e.id == id; });
    if (found == state.pending_sends.end()) return false;
    entry = std::move(*found);
    state.pending_sends.erase(found);
  }
  entry.reply(data, size, entry.user_data);
  return true;
}

bool FakeEngine::RenderFrame() {
  State& state = GetState();
  FlutterDesktopOnNextFrame callback = nullptr;
  void* user_data = nullptr;
  {
    Guard guard(state.mutex);
    FlutterDesktopEngine* engine = LastEngine(state);
    if (engine == nullptr || engine->destroyed) return false;
    callback = std::exchange(engine->next_frame, nullptr);
    user_data = std::exchange(engine->next_frame_user_data, nullptr);
  }
  if (callback == nullptr) return false;
  callback(user_data);
  return true;
}

#ifdef _WIN32
FlutterDesktopViewController* FakeEngine::view_controller() const {
  Guard guard(GetState().mutex);
  const auto& controllers = GetState().view_controllers;
  return controllers.empty() ? nullptr : controllers.back().get();
}

HWND FakeEngine::ViewWindow() const {
  Guard guard(GetState().mutex);
  const auto& controllers = GetState().view_controllers;
  return controllers.empty() ? nullptr : controllers.back()->view.window.get();
}

void FakeEngine::set_monitor_dpi(std::optional<UINT> dpi) {
  Guard guard(GetState().mutex);
  GetState().monitor_dpi = dpi;
}

void FakeEngine::set_top_level_window_proc(TopLevelWindowProc proc) {
  Guard guard(GetState().mutex);
  GetState().top_level_window_proc = std::move(proc);
}
#endif

}  // namespace talvor::test

using talvor::test::CheckEngine;
using talvor::test::CheckMessenger;
using talvor::test::CheckMessengerOfLiveEngine;
using talvor::test::EngineCall;
using talvor::test::GetState;
using talvor::test::Guard;
using talvor::test::LockedByThisThread;
using talvor::test::Record;
using talvor::test::RecordMessengerCall;
using talvor::test::State;
using talvor::test::Violate;

extern "C" {

FlutterDesktopEngine* FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties) {
  static constexpr char kFunction[] = "FlutterDesktopEngineCreate";
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, kFunction, nullptr);
  if (properties == nullptr) {
    Violate(state, kFunction, "null properties");
    return nullptr;
  }
  if (state.recording) state.last_properties = talvor::test::CopyProperties(*properties);
  if (properties->entrypoint == nullptr) Violate(state, kFunction, "null entrypoint");
  if (properties->entrypoint_argc > 0 && properties->entrypoint_argv == nullptr) {
    Violate(state, kFunction, "arguments counted but no argument vector");
  }
  if (state.fail_engine_create) return nullptr;
  auto messenger = std::make_unique<FlutterDesktopMessenger>();
  auto engine = std::make_unique<FlutterDesktopEngine>();
  engine->messenger = messenger.get();
  messenger->engine = engine.get();
  state.messengers.push_back(std::move(messenger));
  state.engines.push_back(std::move(engine));
  return state.engines.back().get();
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngine* engine) {
  static constexpr char kFunction[] = "FlutterDesktopEngineDestroy";
  State& state = GetState();
  {
    Guard guard(state.mutex);
    Record(state, kFunction, engine);
    if (!CheckEngine(state, kFunction, engine)) return false;
    if (engine->owned_by_view_controller) {
      Violate(state, kFunction, "the engine belongs to a view controller");
      return false;
    }
  }
  talvor::test::DestroyEngine(engine);
  return true;
}

FlutterDesktopMessenger* FlutterDesktopEngineGetMessenger(FlutterDesktopEngine* engine) {
  static constexpr char kFunction[] = "FlutterDesktopEngineGetMessenger";
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, kFunction, engine);
  return CheckEngine(state, kFunction, engine) ? engine->messenger : nullptr;
}

FlutterDesktopPluginRegistrar* FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngine* engine,
                                                                      const char* plugin_name) {
  static constexpr char kFunction[] = "FlutterDesktopEngineGetPluginRegistrar";
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, kFunction, engine, [&](EngineCall& call) {
    if (plugin_name != nullptr) call.name = plugin_name;
  });
  if (!CheckEngine(state, kFunction, engine)) return nullptr;
  if (plugin_name == nullptr) {
    Violate(state, kFunction, "null plugin name");
    return nullptr;
  }
  auto& registrar = engine->registrars[plugin_name];
  if (registrar == nullptr) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
    registrar->engine = engine;
    registrar->plugin_name = plugin_name;
  }
  return registrar.get();
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngine* engine) {
  static constexpr char kFunction[] = "FlutterDesktopEngineReloadSystemFonts";
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, kFunction, engine);
  CheckEngine(state, kFunction, engine);
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngine* engine,
                                              FlutterDesktopOnNextFrame callback, void* user_data) {
  static constexpr char kFunction[] = "FlutterDesktopEngineSetNextFrameCallback";
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, kFunction, engine, [&](EngineCall& call) {
    call.next_frame = callback;
    call.user_data = user_data;
  });
  if (!CheckEngine(state, kFunction, engine)) return;
  engine->next_frame = callback;
  engine->next_frame_user_data = user_data;
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessenger* messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerSend";
  State& state = GetState();
  Guard guard(state.mutex);
  RecordMessengerCall(state, kFunction, messenger, [&](EngineCall& call) {
    if (channel != nullptr) call.name = channel;
    call.data = message;
    call.size = message_size;
    call.bytes = talvor::test::CopyBytes(message, message_size);
  });
  if (channel == nullptr) Violate(state, kFunction, "null channel");
  return CheckMessengerOfLiveEngine(state, kFunction, messenger);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessenger* messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerSendWithReply";
  State& state = GetState();
  Guard guard(state.mutex);
  RecordMessengerCall(state, kFunction, messenger, [&](EngineCall& call) {
    if (channel != nullptr) call.name = channel;
    call.data = message;
    call.size = message_size;
    call.bytes = talvor::test::CopyBytes(message, message_size);
    call.reply = reply;
    call.user_data = user_data;
  });
  if (!CheckMessengerOfLiveEngine(state, kFunction, messenger)) return false;
  if (channel == nullptr || reply == nullptr) {
    Violate(state, kFunction, "null channel or reply function");
    return false;
  }
  if (state.refuse_sends) return false;
  talvor::test::PendingSendEntry entry;
  entry.id = state.next_id++;
  entry.engine = messenger->engine;
  entry.channel = channel;
  entry.bytes = talvor::test::CopyBytes(message, message_size);
  entry.reply = reply;
  entry.user_data = user_data;
  state.pending_sends.push_back(std::move(entry));
  return true;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessenger* messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerSetCallback";
  State& state = GetState();
  Guard guard(state.mutex);
  RecordMessengerCall(state, kFunction, messenger, [&](EngineCall& call) {
    if (channel != nullptr) call.name = channel;
    call.message_callback = callback;
    call.user_data = user_data;
  });
  if (!CheckMessengerOfLiveEngine(state, kFunction, messenger)) return;
  if (channel == nullptr) {
    Violate(state, kFunction, "null channel");
    return;
  }
  if (callback == nullptr) {
    messenger->handlers.erase(channel);
  } else {
    messenger->handlers[channel] = FlutterDesktopMessenger::Handler{callback, user_data};
  }
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessenger* messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_size) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerSendResponse";
  State& state = GetState();
  Guard guard(state.mutex);
  RecordMessengerCall(state, kFunction, messenger, [&](EngineCall& call) {
    call.response_handle = handle;
    call.data = data;
    call.size = data_size;
    call.bytes = talvor::test::CopyBytes(data, data_size);
  });
  if (!CheckMessenger(state, kFunction, messenger)) return;
  if (messenger->engine == nullptr) {
    Violate(state, kFunction, "response after the engine was destroyed");
    return;
  }
  const auto found = state.outstanding_responses.find(handle);
  if (found == state.outstanding_responses.end() || found->second->messenger != messenger) {
    Violate(state, kFunction, "unknown or already used response handle");
    return;
  }
  if (state.recording) {
    talvor::test::Response response;
    response.id = found->second->id;
    response.data_is_null = data == nullptr;
    response.size = data_size;
    response.bytes = talvor::test::CopyBytes(data, data_size);
    response.thread = std::this_thread::get_id();
    state.responses.push_back(std::move(response));
  }
  state.outstanding_responses.erase(found);
}

FlutterDesktopMessenger* FlutterDesktopMessengerAddRef(FlutterDesktopMessenger* messenger) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerAddRef";
  State& state = GetState();
  Guard guard(state.mutex);
  RecordMessengerCall(state, kFunction, messenger);
  if (!CheckMessenger(state, kFunction, messenger)) return nullptr;
  ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessenger* messenger) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerRelease";
  State& state = GetState();
  Guard guard(state.mutex);
  RecordMessengerCall(state, kFunction, messenger);
  if (CheckMessenger(state, kFunction, messenger)) --messenger->references;
}

FlutterDesktopMessenger* FlutterDesktopMessengerLock(FlutterDesktopMessenger* messenger) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerLock";
  State& state = GetState();
  {
    Guard guard(state.mutex);
    RecordMessengerCall(state, kFunction, messenger);
    if (!CheckMessenger(state, kFunction, messenger)) return nullptr;
    if (LockedByThisThread(messenger)) {
      Violate(state, kFunction, "locked again by the thread that holds the lock");
      return nullptr;
    }
    if (state.messenger_lock_returns_null) return nullptr;
  }
  messenger->lock.lock();
  messenger->locked_by.store(std::this_thread::get_id());
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessenger* messenger) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerUnlock";
  State& state = GetState();
  {
    Guard guard(state.mutex);
    RecordMessengerCall(state, kFunction, messenger);
    if (messenger == nullptr || !talvor::test::KnownMessenger(state, messenger)) {
      Violate(state, kFunction, "not a locked messenger");
      return;
    }
    if (!LockedByThisThread(messenger)) {
      Violate(state, kFunction, "the calling thread does not hold the lock");
      return;
    }
  }
  messenger->locked_by.store(std::thread::id());
  messenger->lock.unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessenger* messenger) {
  static constexpr char kFunction[] = "FlutterDesktopMessengerIsAvailable";
  State& state = GetState();
  Guard guard(state.mutex);
  RecordMessengerCall(state, kFunction, messenger);
  if (!CheckMessenger(state, kFunction, messenger)) return false;
  return messenger->engine != nullptr;
}

void FlutterDesktopResyncOutputStreams(void) {
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, "FlutterDesktopResyncOutputStreams", nullptr);
}

#ifdef _WIN32

FlutterDesktopViewController* FlutterDesktopViewControllerCreate(int width, int height,
                                                                 FlutterDesktopEngine* engine) {
  static constexpr char kFunction[] = "FlutterDesktopViewControllerCreate";
  State& state = GetState();
  bool fail = false;
  {
    Guard guard(state.mutex);
    Record(state, kFunction, engine, [&](EngineCall& call) {
      call.width = width;
      call.height = height;
    });
    if (!CheckEngine(state, kFunction, engine)) return nullptr;
    if (engine->owned_by_view_controller) {
      Violate(state, kFunction, "the engine already belongs to a view controller");
      return nullptr;
    }
    // Taken over whatever the outcome.
    engine->owned_by_view_controller = true;
    fail = state.fail_view_controller_create;
  }
  if (fail) {
    talvor::test::DestroyEngine(engine);
    return nullptr;
  }
  auto controller = std::make_unique<FlutterDesktopViewController>();
  controller->engine = engine;
  talvor::test::CreateViewWindows(controller.get(), width, height);
  Guard guard(state.mutex);
  state.view_controllers.push_back(std::move(controller));
  return state.view_controllers.back().get();
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewController* controller) {
  static constexpr char kFunction[] = "FlutterDesktopViewControllerDestroy";
  State& state = GetState();
  {
    Guard guard(state.mutex);
    Record(state, kFunction, controller);
    if (!talvor::test::CheckViewController(state, kFunction, controller)) return;
    controller->destroyed = true;
  }
  talvor::test::DestroyViewWindows(controller);
  talvor::test::DestroyEngine(controller->engine);
}

FlutterDesktopView* FlutterDesktopViewControllerGetView(FlutterDesktopViewController* controller) {
  static constexpr char kFunction[] = "FlutterDesktopViewControllerGetView";
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, kFunction, controller);
  return talvor::test::CheckViewController(state, kFunction, controller) ? &controller->view
                                                                         : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewController* controller) {
  static constexpr char kFunction[] = "FlutterDesktopViewControllerForceRedraw";
  State& state = GetState();
  HWND view = nullptr;
  {
    Guard guard(state.mutex);
    Record(state, kFunction, controller);
    if (!talvor::test::CheckViewController(state, kFunction, controller)) return;
    view = controller->view.window.get();
  }
  if (view != nullptr) InvalidateRect(view, nullptr, TRUE);
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewController* controller,
                                                          HWND window, UINT message, WPARAM wparam,
                                                          LPARAM lparam, LRESULT* result) {
  static constexpr char kFunction[] = "FlutterDesktopViewControllerHandleTopLevelWindowProc";
  State& state = GetState();
  talvor::test::FakeEngine::TopLevelWindowProc proc;
  {
    Guard guard(state.mutex);
    Record(state, kFunction, controller, [&](EngineCall& call) {
      call.window = window;
      call.message = message;
      call.wparam = wparam;
      call.lparam = lparam;
    });
    if (!talvor::test::CheckViewController(state, kFunction, controller)) return false;
    if (result == nullptr) {
      Violate(state, kFunction, "null result slot");
      return false;
    }
    proc = state.top_level_window_proc;
  }
  if (!proc) return false;
  const std::optional<LRESULT> handled = proc(window, message, wparam, lparam);
  if (!handled) return false;
  *result = *handled;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopView* view) {
  static constexpr char kFunction[] = "FlutterDesktopViewGetHWND";
  State& state = GetState();
  Guard guard(state.mutex);
  Record(state, kFunction, view);
  FlutterDesktopViewController* controller = talvor::test::ControllerOfView(state, view);
  if (controller == nullptr) {
    Violate(state, kFunction, "unknown view");
    return nullptr;
  }
  if (controller->destroyed) {
    Violate(state, kFunction, "the view's controller is destroyed");
    return nullptr;
  }
  return view->window.get();
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  State& state = GetState();
  {
    Guard guard(state.mutex);
    Record(state, "FlutterDesktopGetDpiForMonitor", nullptr,
           [&](EngineCall& call) { call.monitor = monitor; });
    if (state.monitor_dpi) return *state.monitor_dpi;
  }
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (SUCCEEDED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y)) && dpi_x != 0) {
    return dpi_x;
  }
  return 96;
}

#endif  // _WIN32

}  // extern "C"
