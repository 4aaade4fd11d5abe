// The tests' end of the engine stand-in's test connection
// (standins/test_connection.h): a test acts as the application of the
// program's processes, sees what the program sends to the application, and
// hears what happens to each engine.
//
//   AppConnection app;                       // before the program starts
//   ChildProcess program = ...;              // inherits TALVOR_TEST_PIPE
//   DWORD pid = app.WaitForNewProcess().value();
//   ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame));
//   auto reply = app.CallMethod(kRuntimeChannel, "isProcessElevated");
//   auto toggle = app.WaitForOutgoing(kTrayChannel, "toggleConnection");
//
// Every wait is bounded; a timeout gives an empty optional (or false). While
// waiting, the calling thread's window messages are dispatched, so an engine
// running in the test's own process keeps working.
#ifndef TALVOR_TESTS_SUPPORT_APP_CONNECTION_H_
#define TALVOR_TESTS_SUPPORT_APP_CONNECTION_H_

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "codec/encodable_value.h"
#include "runner/win32_handles.h"
#include "standins/method_envelopes.h"
#include "tests/support/system_state.h"
#include "tests/support/wait.h"

namespace talvor::test {

inline constexpr char kTrayChannel[] = "com.talvor.talvorApp/tray";
inline constexpr char kRuntimeChannel[] = "com.talvor.talvorApp/windows_runtime";

enum class AppEventKind {
  kEngineCreated,    // arguments: the entrypoint arguments
  kEngineFailed,     // text: why
  kFirstFrame,
  kOutgoing,         // channel, message, reply_expected: the program sent to the application
  kDeepLink,         // text: the link
  kAppExchange,      // channel, message (the call), reply: a call of the built-in application
  kStrayResponse,    // the program answered a message a second time, or one it never got
  kEngineDestroyed,
  kDisconnected,     // the process's connection closed (it ended or destroyed its engine)
};

const char* ToString(AppEventKind kind);

struct AppEvent {
  DWORD process_id = 0;
  AppEventKind kind = AppEventKind::kFirstFrame;
  std::vector<std::string> arguments;
  std::string text;
  std::string channel;
  std::vector<uint8_t> message;
  std::vector<uint8_t> reply;
  bool reply_expected = false;
  // Filled by WaitForOutgoing and WaitForAppCall: the decoded call.
  std::string method;
  flutter::EncodableValue method_arguments;
};

class AppConnection {
 public:
  // Any process (waits) or the most recently connected process that is still
  // connected (calls).
  static constexpr DWORD kAnyProcess = 0;

  struct Options {
    // The built-in application of every connecting engine: silent unless
    // asked for, so that the test is the only one talking to the program.
    bool application_on = false;
    // A connecting engine is welcomed only by Welcome(): until then its
    // process waits inside the creation of its main window, which exists and
    // is still hidden. (The engine goes on by itself, with the application
    // on, after kWelcomeTimeoutMs of standins/test_connection.h.)
    bool hold_welcome = false;
  };

  // Creates the pipe and sets TALVOR_TEST_PIPE in this process's environment
  // (inherited by the processes it starts); the destructor restores it.
  AppConnection();
  explicit AppConnection(Options options);
  ~AppConnection();
  AppConnection(const AppConnection&) = delete;
  AppConnection& operator=(const AppConnection&) = delete;

  const std::wstring& pipe_name() const { return pipe_name_; }

  // The next process, in the order they connected, that no earlier call has
  // returned.
  std::optional<DWORD> WaitForNewProcess(std::chrono::milliseconds timeout = kDefaultWait);
  // Processes whose connection is open, in the order they connected.
  std::vector<DWORD> ConnectedProcesses() const;
  bool WaitForDisconnect(DWORD process_id, std::chrono::milliseconds timeout = kDefaultWait);

  // The earliest event of that kind (and process) that no earlier wait
  // returned; each event is returned once.
  std::optional<AppEvent> WaitForEvent(AppEventKind kind, DWORD process_id = kAnyProcess,
                                       std::chrono::milliseconds timeout = kDefaultWait);
  // The earliest message not yet returned that the program sent on `channel`
  // as a call of `method`.
  std::optional<AppEvent> WaitForOutgoing(const std::string& channel, const std::string& method,
                                          DWORD process_id = kAnyProcess,
                                          std::chrono::milliseconds timeout = kDefaultWait);
  // The earliest call of `method` on `channel` by a built-in application,
  // with the program's reply, not yet returned.
  std::optional<AppEvent> WaitForAppCall(const std::string& channel, const std::string& method,
                                         DWORD process_id = kAnyProcess,
                                         std::chrono::milliseconds timeout = kDefaultWait);
  // Every event so far, returned ones included, in arrival order.
  std::vector<AppEvent> Events() const;
  // The events as readable lines, for failure messages.
  std::string Describe() const;

  // Sends `message` to the program as the application and returns the reply
  // bytes (empty: the program has no handler on the channel). Nothing when
  // no such process is connected, it disconnects first, or time runs out.
  std::optional<std::vector<uint8_t>> Send(const std::string& channel, const std::vector<uint8_t>& message,
                                           DWORD process_id = kAnyProcess,
                                           std::chrono::milliseconds timeout = kDefaultWait);
  // A method call in the standard method codec; the reply decoded.
  std::optional<standins::MethodReply> CallMethod(const std::string& channel, const std::string& method,
                                                  const flutter::EncodableValue& arguments = flutter::EncodableValue(),
                                                  DWORD process_id = kAnyProcess,
                                                  std::chrono::milliseconds timeout = kDefaultWait);
  // Lets a process's built-in application talk, or silences it.
  bool SetApplicationOn(bool on, DWORD process_id = kAnyProcess);
  // Welcomes a connected process held by Options::hold_welcome, with the
  // application as the options ask.
  bool Welcome(DWORD process_id);

 private:
  struct Peer;
  struct Entry {
    AppEvent event;
    bool returned = false;
  };

  void AcceptLoop(HANDLE first_instance);
  void AddPeer(HANDLE pipe);
  void ReadPeer(Peer* peer);
  void Record(Peer* peer, const std::vector<uint8_t>& body);
  void AddEvent(AppEvent event);
  bool WriteWelcome(Peer* peer);
  Peer* FindPeer(DWORD process_id);
  template <typename Match>
  std::optional<AppEvent> TakeEvent(Match match, std::chrono::milliseconds timeout);
  std::optional<AppEvent> WaitForCall(AppEventKind kind, const std::string& channel, const std::string& method,
                                      DWORD process_id, std::chrono::milliseconds timeout);

  Options options_;
  std::wstring pipe_name_;
  std::optional<ScopedEnvironmentVariable> pipe_variable_;
  UniqueKernelHandle stop_;
  std::thread acceptor_;

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Peer>> peers_;
  std::vector<DWORD> hello_order_;
  size_t processes_returned_ = 0;
  std::vector<Entry> events_;
  std::map<uint32_t, std::optional<std::vector<uint8_t>>> replies_;
  uint32_t next_request_id_ = 1;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_APP_CONNECTION_H_
