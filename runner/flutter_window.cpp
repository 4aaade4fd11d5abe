#include "runner/flutter_window.h"

#include <utility>

#include "codec/standard_method_codec.h"
#include "runner/elevation/pending_tun_launch.h"
#include "runner/elevation/process_elevation.h"
#include "runner/elevation/runtime_channel.h"
#include "runner/elevation/tun_relaunch.h"
#include "runner/log/log.h"
#include "runner/plugin_libraries.h"
#include "runner/resources/resource.h"
#include "runner/tray/tray_channel.h"

namespace {

HICON LoadTrayBaseIcon() {
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON));
  return icon != nullptr ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

}  // namespace

void RegisterPluginLibraries(flutter::PluginRegistry* registry, bool process_elevated) {
  AppLinksPluginCApiRegisterWithRegistrar(registry->RegistrarForPlugin("AppLinksPluginCApi"));
  FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
      registry->RegistrarForPlugin("FlutterSecureStorageWindowsPlugin"));
  if (process_elevated) return;
  UrlLauncherWindowsRegisterWithRegistrar(registry->RegistrarForPlugin("UrlLauncherWindows"));
}

FlutterWindow::FlutterWindow(const flutter::FlutterProject& project,
                             std::wstring pending_tun_launch_path)
    : flutter_project_(project),
      pending_tun_launch_(std::move(pending_tun_launch_path)),
      process_elevated_(::IsProcessElevated()) {}

FlutterWindow::FlutterWindow(const flutter::FlutterProject& project,
                             std::wstring pending_tun_launch_path,
                             TrayShellNotifier tray_notifier, ElevatedLaunchCalls launch_calls,
                             bool process_elevated)
    : flutter_project_(project),
      tray_icon_(std::move(tray_notifier)),
      pending_tun_launch_(std::move(pending_tun_launch_path)),
      launch_calls_(std::move(launch_calls)),
      process_elevated_(process_elevated) {}

// The native window goes first, while the view, channels and tray icon that
// its messages reach still exist; left to the base destructor, it would get
// messages routed to parts already destroyed.
FlutterWindow::~FlutterWindow() { Teardown(); }

bool FlutterWindow::OnWindowCreated() {
  if (!Win32Window::OnWindowCreated()) return false;
  // A second start of a non-elevated process may ask an elevated window to
  // come forward: the system would drop its message otherwise.
  ChangeWindowMessageFilterEx(NativeHandle(), activate_message_, MSGFLT_ALLOW, nullptr);

  const RECT frame = ClientBounds();
  view_controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, flutter_project_);
  if (view_controller_->engine() == nullptr || view_controller_->view() == nullptr) {
    talvor::log::Error("engine", "not started: no engine or no view");
    return false;
  }
  talvor::log::Info("engine", "started");

  flutter::FlutterEngine* engine = view_controller_->engine();
  RegisterPluginLibraries(engine, process_elevated_);
  AttachContent(view_controller_->view()->NativeWindow());

  OpenChannels(engine->messenger());

  engine->SetNextFrameCallback([this] { ShowFirstFrame(); });
  view_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OpenChannels(flutter::BinaryMessenger* messenger) {
  const flutter::StandardMethodCodec* codec = &flutter::StandardMethodCodec::GetInstance();

  tray_channel_ = std::make_unique<flutter::MethodCallChannel>(messenger, kTrayChannelName, codec);
  tray_channel_->SetMethodCallCallback(
      [this](const flutter::MethodCall<flutter::EncodableValue>& call,
             std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
        HandleTrayMethodCall(*this, call, std::move(result));
      });

  tray_icon_.SetCommandHandler([this](unsigned int command_id) { OnTrayCommand(*this, command_id); });

  runtime_channel_ =
      std::make_unique<flutter::MethodCallChannel>(messenger, kRuntimeChannelName, codec);
  runtime_channel_->SetMethodCallCallback(
      [this](const flutter::MethodCall<flutter::EncodableValue>& call,
             std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result) {
        HandleRuntimeMethodCall(*this, call, std::move(result));
      });
}

// The tray icon comes only once the first frame is on screen: adding it waits
// on the shell's tray window, which would hold the frame back. Until then a
// minimise leaves the window on the taskbar, and a reported status is kept
// for the icon.
void FlutterWindow::ShowFirstFrame() {
  ShowNormal();
  RedrawWindow(NativeHandle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  tray_icon_.Create(NativeHandle(), LoadTrayBaseIcon());
}

void FlutterWindow::OnWindowDestroying() {
  tray_icon_.Remove();
  tray_channel_.reset();
  runtime_channel_.reset();
  // Cleared before the controller goes, so that nothing reaches a controller
  // that is being destroyed.
  std::unique_ptr<flutter::FlutterViewController> controller = std::move(view_controller_);
  controller.reset();
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (view_controller_) {
    std::optional<LRESULT> result =
        view_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) return *result;
  }

  if (message == activate_message_) {
    ActivateMainWindow();
    return 0;
  }
  switch (message) {
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED && tray_icon_.IsInNotificationArea()) return HandleMinimize();
      break;
    case WM_FONTCHANGE:
      if (view_controller_) view_controller_->engine()->ReloadSystemFonts();
      break;
    case WM_ENDSESSION:
      // An installer (through the Restart Manager) needs the program's files:
      // it ends as the tray's exit ends it. A plain log-off is left to Windows.
      if (wparam != FALSE && (lparam & ENDSESSION_CLOSEAPP) != 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
      }
      break;
    case WM_COMMAND:
      if (tray_icon_.HandleCommand(LOWORD(wparam))) return 0;
      break;
    case kTrayCallbackMessage:
      if (tray_icon_.HandleCallbackMessage(window, wparam, lparam)) return 0;
      break;
    default:
      if (tray_icon_.HandleTaskbarCreated(message)) {
        ReturnToTaskbarIfTrayIconLost();
        return 0;
      }
      break;
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}

LRESULT FlutterWindow::HandleMinimize() {
  HWND window = NativeHandle();
  if (window != nullptr && !hidden_to_tray_) {
    hidden_to_tray_ = true;
    ShowWindow(window, SW_HIDE);
  }
  return 0;
}

void FlutterWindow::ReturnToTaskbarIfTrayIconLost() {
  HWND window = NativeHandle();
  if (window == nullptr || !hidden_to_tray_ || tray_icon_.IsInNotificationArea() ||
      IsWindowVisible(window)) {
    return;
  }
  hidden_to_tray_ = false;
  talvor::log::Warning("tray", "icon lost with the taskbar: window back on the taskbar, minimised");
  ShowWindow(window, SW_SHOWMINNOACTIVE);
}

void FlutterWindow::ActivateMainWindow() {
  HWND window = NativeHandle();
  if (window == nullptr) return;
  hidden_to_tray_ = false;
  ShowWindow(window, SW_SHOW);
  ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

bool FlutterWindow::RelaunchElevatedForTun(const std::string& payload, std::string* error_message,
                                           bool* cancelled) {
  return RelaunchElevatedWithPayload(NativeHandle(), payload, error_message, cancelled,
                                     launch_calls_);
}

bool FlutterWindow::HasPendingTunLaunch() const {
  return pending_tun_launch_.IsPresent();
}

std::string FlutterWindow::ConsumePendingTunLaunch() {
  return pending_tun_launch_.Take();
}

