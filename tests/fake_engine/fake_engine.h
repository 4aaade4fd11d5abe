// A recording fake of the engine library for tests: it implements every
// function of embedding/engine_api.h in process, records each call with its
// arguments, and lets a test act as the engine and the application behind it.
//
// What it models:
// - One messenger per engine, counted (the engine holds one reference,
//   FlutterDesktopMessengerAddRef adds one), guarded by a real mutex
//   (FlutterDesktopMessengerLock / Unlock), available until the engine is
//   destroyed. Destroying the engine takes that lock.
// - Incoming messages (Deliver) with response handles that may be used once.
// - Sends with a reply stay pending until the test answers them; when the
//   engine is destroyed first, each pending one is answered with an empty
//   reply, so that every accepted reply function is called exactly once.
// - A view controller owns its engine from creation on, and destroys it when
//   it is destroyed or when its creation fails. Its view is a real child
//   window (Windows).
// - FlutterDesktopGetDpiForMonitor gives the monitor's real effective DPI
//   (96 when the system cannot tell) unless a test sets one.
//
// Misuse of the interface (a null or destroyed handle, a response handle used
// twice, an unlock without a lock, a reference released too often, an engine
// or view controller never destroyed) is recorded as a violation; a FakeEngine
// scope fails the running test for every violation it did not take.
#ifndef TALVOR_TESTS_FAKE_ENGINE_FAKE_ENGINE_H_
#define TALVOR_TESTS_FAKE_ENGINE_FAKE_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "embedding/engine_api.h"

namespace talvor::test {

// One call of an engine function. Fields that the function does not take
// keep their default values.
struct EngineCall {
  std::string function;  // "FlutterDesktopMessengerSend", ...
  // The engine, messenger, view controller or view the call was made on
  // (the argument of FlutterDesktopMessengerUnlock for that call).
  const void* handle = nullptr;
  std::string name;  // channel or plugin name
  const uint8_t* data = nullptr;  // message or response bytes as passed
  size_t size = 0;
  std::vector<uint8_t> bytes;  // a copy of them
  const FlutterDesktopMessageResponseHandle* response_handle = nullptr;
  FlutterDesktopMessageCallback message_callback = nullptr;
  FlutterDesktopBinaryReply reply = nullptr;
  FlutterDesktopOnNextFrame next_frame = nullptr;
  void* user_data = nullptr;
  // Whether the calling thread held the messenger's lock (messenger calls).
  bool locked = false;
  std::thread::id thread;
#ifdef _WIN32
  int width = 0;
  int height = 0;
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  HMONITOR monitor = nullptr;
#endif
};

// A copy of the properties record given to FlutterDesktopEngineCreate.
struct EngineProperties {
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  bool entrypoint_is_null = false;
  std::string entrypoint;
  int32_t entrypoint_argc = 0;
  bool entrypoint_argv_is_null = false;
  std::vector<std::string> entrypoint_argv;  // the first entrypoint_argc entries
  int32_t option_code_1 = 0;
  int32_t option_code_2 = 0;
};

// An incoming message handed to the program.
struct Delivery {
  bool handled = false;  // a handler was registered for the channel
  uint64_t id = 0;       // names the message in Response()
  const FlutterDesktopMessageResponseHandle* response_handle = nullptr;
};

// The program's answer to an incoming message.
struct Response {
  uint64_t id = 0;
  bool data_is_null = false;
  size_t size = 0;
  std::vector<uint8_t> bytes;
  std::thread::id thread;
};

// A message the program sent with a reply expected, not answered yet.
struct PendingSend {
  uint64_t id = 0;
  std::string channel;
  std::vector<uint8_t> bytes;
};

// The fake engine library for the duration of one test. Only one may exist at
// a time; it starts from a clean state and, when it ends, fails the test for
// every violation not taken with TakeViolations.
class FakeEngine {
 public:
  FakeEngine();
  ~FakeEngine();
  FakeEngine(const FakeEngine&) = delete;
  FakeEngine& operator=(const FakeEngine&) = delete;

  // --- Behaviour ---
  void set_fail_engine_create(bool fail);
  void set_fail_view_controller_create(bool fail);
  // FlutterDesktopMessengerSendWithReply returns false.
  void set_refuse_sends(bool refuse);
  // FlutterDesktopMessengerLock takes no lock and returns null, as an engine
  // may; callers then get no mutual exclusion from it.
  void set_messenger_lock_returns_null(bool returns_null);
  // Off: calls, responses and engine properties are no longer recorded
  // (for benchmarks); violations still are.
  void set_recording(bool recording);

  // --- Recorded calls ---
  std::vector<EngineCall> Calls() const;
  std::vector<std::string> CallNames() const;
  std::vector<EngineCall> CallsTo(const std::string& function) const;
  size_t CountOf(const std::string& function) const;
  void ClearCalls();
  std::optional<EngineProperties> LastEngineProperties() const;

  // --- Violations ---
  std::vector<std::string> Violations() const;
  std::vector<std::string> TakeViolations();

  // --- Engine state ---
  // The most recently created engine, alive or not; null before the first.
  FlutterDesktopEngine* engine() const;
  bool engine_alive() const;
  // The messenger of engine().
  FlutterDesktopMessenger* messenger() const;
  // References held on it; 0 once the last is released.
  int MessengerReferences() const;
  // Whether any thread holds its lock.
  bool MessengerLocked() const;
  // The handler registered for `channel` on engine()'s messenger.
  FlutterDesktopMessageCallback HandlerFor(const std::string& channel) const;
  void* HandlerUserDataFor(const std::string& channel) const;
  // The registrar handed out for `plugin_name` by engine(), null if none.
  FlutterDesktopPluginRegistrar* RegistrarFor(const std::string& plugin_name) const;

  // --- Acting as the application ---
  // Sends a message to the program on engine()'s messenger; the program sees
  // exactly these bytes at this address.
  Delivery Deliver(const std::string& channel, const uint8_t* data, size_t size);
  Delivery Deliver(const std::string& channel, const std::vector<uint8_t>& bytes);
  std::vector<Response> Responses() const;
  std::optional<Response> ResponseTo(uint64_t delivery_id) const;

  std::vector<PendingSend> PendingSends() const;
  // Calls the reply function of a pending send with these bytes (a null
  // pointer and 0 when empty); false when no such send is pending.
  bool AnswerSend(uint64_t id, const std::vector<uint8_t>& reply);
  bool AnswerSend(uint64_t id, const uint8_t* data, size_t size);

  // Reports a frame of engine(): runs its pending next-frame callback, if
  // any, once. Returns whether one ran.
  bool RenderFrame();

#ifdef _WIN32
  // The most recently created view controller and its view's child window.
  FlutterDesktopViewController* view_controller() const;
  HWND ViewWindow() const;
  // What FlutterDesktopGetDpiForMonitor returns; none for the monitor's own.
  void set_monitor_dpi(std::optional<UINT> dpi);
  // Decides FlutterDesktopViewControllerHandleTopLevelWindowProc: a value
  // means handled with that result. Unset: nothing is handled.
  using TopLevelWindowProc = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;
  void set_top_level_window_proc(TopLevelWindowProc proc);
#endif
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_FAKE_ENGINE_FAKE_ENGINE_H_
