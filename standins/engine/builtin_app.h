// The application that runs in the engine stand-in's view: a small VPN user
// interface that talks to the program over the program's two method channels
// as the real user interface does, and shows what it learns.
#ifndef TALVOR_STANDINS_ENGINE_BUILTIN_APP_H_
#define TALVOR_STANDINS_ENGINE_BUILTIN_APP_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "standins/engine/app_painter.h"
#include "standins/method_envelopes.h"

namespace talvor::standins {

inline constexpr char kTrayChannel[] = "com.talvor.talvorApp/tray";
inline constexpr char kRuntimeChannel[] = "com.talvor.talvorApp/windows_runtime";
inline constexpr char kDefaultServerName[] = "Amsterdam 01";

using ReplySink = std::function<void(std::vector<uint8_t> reply)>;

// What the application needs from the engine.
class AppHost {
 public:
  virtual ~AppHost() = default;
  // Sends a message to the program; `on_reply` gets the reply later, on the
  // window thread (empty: the program has no handler).
  virtual void SendToProgram(const std::string& channel, std::vector<uint8_t> message, ReplySink on_reply) = 0;
  virtual void RequestFrame() = 0;
  virtual void ReportExchange(const std::string& channel, const std::vector<uint8_t>& call,
                              const std::vector<uint8_t>& reply) = 0;
  virtual void ReportDeepLink(const std::string& link) = 0;
};

class BuiltinApp {
 public:
  // `on` false starts the application silent.
  BuiltinApp(AppHost& host, bool on);

  // The engine runs in its view: the application starts when it is on.
  void Run();

  // Silences the application or lets it talk; the first switch on after the
  // engine runs starts it.
  void SetOn(bool on);

  // A message from the program. Returns the reply; empty means not
  // implemented (also every reply of a silent application).
  std::vector<uint8_t> HandleMessage(const std::string& channel, const uint8_t* data, size_t size);

  void Paint(HDC dc, const RECT& bounds, UINT dpi);
  void Click(POINT point);
  void ReloadFonts();

 private:
  using Continuation = std::function<void(const MethodReply&)>;

  void Start();
  void CheckPendingTunLaunch();
  void ConsumePendingTunLaunch();
  void Call(const std::string& channel, const std::string& method, const flutter::EncodableValue& arguments,
            Continuation then);
  void ToggleConnection();
  void SendStatus();
  void RelaunchForTun();
  void ShowProblem(const std::string& method, const MethodReply& reply);

  AppHost& host_;
  bool on_;
  bool running_ = false;
  bool started_ = false;
  AppScreen screen_;
  AppPainter painter_;
};

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_ENGINE_BUILTIN_APP_H_
