// The program's one main window: the engine's view fills it, the two method
// channels of the runner live with it, and it owns the tray icon it hides to.
#ifndef TALVOR_RUNNER_FLUTTER_WINDOW_H_
#define TALVOR_RUNNER_FLUTTER_WINDOW_H_

#include <windows.h>

#include <memory>
#include <string>

#include "embedding/flutter_project.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registry.h"
#include "runner/elevation/pending_tun_launch.h"
#include "runner/elevation/runtime_window.h"
#include "runner/elevation/tun_relaunch.h"
#include "runner/main_window_identity.h"
#include "runner/tray/tray_icon.h"
#include "runner/tray/tray_window.h"
#include "runner/window/win32_window.h"

// The tray channel and menu, and the runtime channel, act on it through the
// narrow interfaces TrayWindow and RuntimeWindow.
class FlutterWindow : public Win32Window, public TrayWindow, public RuntimeWindow {
 public:
  // `pending_tun_launch_path` names the file of a TUN launch handed over by
  // the instance that started this one; empty when there is none.
  FlutterWindow(const flutter::FlutterProject& project, std::wstring pending_tun_launch_path);
  // The same window with the tray icon's requests to the notification area
  // and the relaunch's system calls going to the given ones instead, in a
  // process that counts as elevated or not as told (tests).
  FlutterWindow(const flutter::FlutterProject& project, std::wstring pending_tun_launch_path,
                TrayShellNotifier tray_notifier, ElevatedLaunchCalls launch_calls,
                bool process_elevated);
  ~FlutterWindow() override;

  // Shows, restores and brings forward a window hidden to the tray.
  void ActivateMainWindow() override;

  // Writes the payload to a launch file and starts this program again with
  // administrator rights; on success the window closes. On failure the
  // message (UTF-8) and whether the user declined are set when given.
  bool RelaunchElevatedForTun(const std::string& payload, std::string* error_message,
                              bool* cancelled) override;
  // True while a handed-over launch file waits to be consumed.
  bool HasPendingTunLaunch() const override;
  // The handed-over launch file's bytes, once; empty when there is nothing.
  std::string ConsumePendingTunLaunch() override;
  // Whether this process runs with administrator rights; asked once, when
  // the window is made.
  bool IsProcessElevated() const override { return process_elevated_; }

  // Whether a minimise has hidden the window to the tray.
  bool IsHiddenToTray() const { return hidden_to_tray_; }

  TrayIcon& tray_icon() override { return tray_icon_; }
  flutter::MethodCallChannel* tray_channel() override { return tray_channel_.get(); }
  HWND WindowHandle() const override { return NativeHandle(); }
  flutter::FlutterViewController* view_controller() { return view_controller_.get(); }

 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;
  bool OnWindowCreated() override;
  void OnWindowDestroying() override;

 private:
  void OpenChannels(flutter::BinaryMessenger* messenger);
  // Shows the hidden window once the engine has its first frame, then adds
  // the tray icon.
  void ShowFirstFrame();
  // Hides the window to the tray on a minimise; always answered with 0.
  LRESULT HandleMinimize();
  // A window hidden to a tray icon that the shell could not take back after
  // restarting would be out of reach: it goes back to the taskbar, minimised.
  void ReturnToTaskbarIfTrayIconLost();

  flutter::FlutterProject flutter_project_;
  std::unique_ptr<flutter::FlutterViewController> view_controller_;
  TrayIcon tray_icon_;
  std::unique_ptr<flutter::MethodCallChannel> tray_channel_;
  std::unique_ptr<flutter::MethodCallChannel> runtime_channel_;
  bool hidden_to_tray_ = false;
  PendingTunLaunch pending_tun_launch_;
  ElevatedLaunchCalls launch_calls_ = ElevatedLaunchCalls::System();
  bool process_elevated_ = false;
  // Sent by a second start of the program (ActivateMainWindowMessage).
  UINT activate_message_ = ActivateMainWindowMessage();
};

// Registers the plugin libraries with the engine, in their fixed order. An
// elevated process leaves out the URL-opening plugin: a browser, or any
// handler the user's own registry names for a link, would start with
// administrator rights; its channel then answers not-implemented.
void RegisterPluginLibraries(flutter::PluginRegistry* registry, bool process_elevated);

#endif  // TALVOR_RUNNER_FLUTTER_WINDOW_H_
