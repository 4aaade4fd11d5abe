// The main window opened on the recording fake engine, with its tray requests
// and the plugin libraries' calls recorded, and the application's end of its
// two channels.
#ifndef TALVOR_TESTS_MAIN_WINDOW_MAIN_WINDOW_FIXTURE_H_
#define TALVOR_TESTS_MAIN_WINDOW_MAIN_WINDOW_FIXTURE_H_

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "runner/flutter_window.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/fake_notification_area.h"

namespace talvor::test {

// Told of every call of a plugin library function (plugin_libraries_recorder.cpp).
std::function<void(const std::string& function, FlutterDesktopPluginRegistrar* registrar)>&
PluginCallObserver();

// Notes what the window still holds when its view window goes, that is while
// the view controller is being destroyed.
class ProbeWindow : public FlutterWindow {
 public:
  using FlutterWindow::FlutterWindow;
  bool view_gone = false;
  bool parts_held_when_view_went = false;

 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;
};

class MainWindowTest : public ::testing::Test {
 protected:
  static constexpr char kTrayChannel[] = "com.talvor.talvorApp/tray";
  static constexpr char kRuntimeChannel[] = "com.talvor.talvorApp/windows_runtime";

  MainWindowTest();
  ~MainWindowTest() override;

  // Constructs the window with the recorded tray and `launch_calls_` and opens it.
  bool OpenWindow(std::wstring pending_tun_launch_path = L"");
  // Only constructs it, with the same recorders.
  void MakeWindow(std::wstring pending_tun_launch_path = L"");
  HWND Handle() const { return window_->NativeHandle(); }

  // The application calls `method`; its answer described: "success null",
  // "success true", "success '<text>'", "error <code> '<message>' null",
  // "not implemented", or "no answer" / "answered N times".
  std::string Call(const char* channel, const std::string& method,
                   std::unique_ptr<flutter::EncodableValue> arguments = nullptr);

  // The engine calls of interest, plugin registrations and tray requests, in order.
  std::vector<std::string> Timeline() const;

  // "NIM_ADD <tooltip>", "NIM_MODIFY <tooltip>", "NIM_SETVERSION <version>",
  // "NIM_DELETE".
  std::vector<std::string> TrayRequests() const;

  // Sends the window the tray icon's callback for `event`, as the shell
  // that took the icon does; the window's answer.
  LRESULT SendTrayCallback(UINT event, POINT anchor = {});

  FakeEngine engine_;
  // The shell that answers the tray's requests; while `tray_accepts_` is
  // false it is not running and forgets its icons.
  FakeNotificationArea notification_area_;
  bool tray_accepts_ = true;
  std::vector<std::pair<DWORD, NOTIFYICONDATAW>> tray_calls_;
  std::function<void(DWORD)> on_tray_request_;
  std::vector<FlutterDesktopPluginRegistrar*> plugin_registrars_;
  ElevatedLaunchCalls launch_calls_ = ElevatedLaunchCalls::System();
  // Whether the window's process counts as elevated.
  bool process_elevated_ = false;
  std::unique_ptr<ProbeWindow> window_;

 private:
  struct Event {
    size_t engine_calls_before;
    std::string text;
  };
  std::vector<Event> events_;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_MAIN_WINDOW_MAIN_WINDOW_FIXTURE_H_
