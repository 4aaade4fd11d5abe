#include "runner/window/win32_window.h"

#include "embedding/engine_api.h"
#include "runner/log/log.h"
#include "runner/main_window_identity.h"
#include "runner/win32_handles.h"
#include "runner/window/dwm_window_attribute.h"

namespace {

constexpr const wchar_t* kWindowClassName = kMainWindowClassName;
constexpr int kAppIconResource = 101;
constexpr DWORD kDwmUseImmersiveDarkMode = 20;
constexpr double kBaseDpi = 96.0;

// Win32Window objects alive; the window class lives as long as any does.
int live_window_count = 0;

// Registers the window class on first use and unregisters it when the last
// window object has gone.
class WindowClassRegistration {
 public:
  static WindowClassRegistration& Instance() {
    static WindowClassRegistration instance;
    return instance;
  }

  void Register(WNDPROC window_procedure) {
    if (class_registered_) return;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = window_procedure;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kAppIconResource));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = nullptr;
    window_class.lpszMenuName = nullptr;
    window_class.lpszClassName = kWindowClassName;
    RegisterClassW(&window_class);
    class_registered_ = true;
  }

  void UnregisterIfUnused() {
    if (live_window_count != 0) return;
    UnregisterClassW(kWindowClassName, nullptr);
    class_registered_ = false;
  }

 private:
  WindowClassRegistration() = default;

  bool class_registered_ = false;
};

int32_t Scale(int32_t value, double scale) { return static_cast<int32_t>(value * scale); }

// The frame that the window style adds around a client area at `dpi`.
FrameMargins FrameMarginsAt(UINT dpi) {
  RECT frame{0, 0, 0, 0};
  if (!AdjustWindowRectExForDpi(&frame, Win32Window::kWindowStyle, FALSE, 0, dpi)) {
    AdjustWindowRectEx(&frame, Win32Window::kWindowStyle, FALSE, 0);
  }
  return FrameMargins{-frame.left, -frame.top, frame.right, frame.bottom};
}

// `suggested` kept within the work area of the monitor that will show most
// of it; unchanged when that area cannot be read.
RECT WithinWorkAreaOf(const RECT& suggested) {
  MONITORINFO monitor_info{};
  monitor_info.cbSize = sizeof(monitor_info);
  const HMONITOR monitor = MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST);
  if (!GetMonitorInfoW(monitor, &monitor_info)) return suggested;
  const RECT& area = monitor_info.rcWork;
  if (area.right <= area.left || area.bottom <= area.top) return suggested;
  return KeepWithinArea(suggested, area);
}

// Casts a procedure found with GetProcAddress to its real type.
template <typename Function>
Function ProcedureAs(FARPROC procedure) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(procedure));
}

}  // namespace

Win32Window::Win32Window() { ++live_window_count; }

Win32Window::~Win32Window() {
  --live_window_count;
  Teardown();
}

bool Win32Window::Open(const std::wstring& title, const LogicalPoint& origin,
                       const LogicalSize& size) {
  const HMONITOR monitor = MonitorFromPoint(POINT{origin.x, origin.y}, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale = dpi / kBaseDpi;
  const SIZE client = ScaleToDpi(size, dpi);
  const FrameMargins margins = FrameMarginsAt(dpi);
  const LONG left = Scale(origin.x, scale);
  const LONG top = Scale(origin.y, scale);
  return Create(title, RECT{left, top, left + margins.left + client.cx + margins.right,
                            top + margins.top + client.cy + margins.bottom});
}

bool Win32Window::OpenInWorkArea(const std::wstring& title, const LogicalSize& size,
                                 const std::optional<RECT>& work_area) {
  const HMONITOR monitor = work_area ? MonitorFromRect(&*work_area, MONITOR_DEFAULTTONEAREST)
                                     : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  MONITORINFO monitor_info{};
  monitor_info.cbSize = sizeof(monitor_info);
  if (!GetMonitorInfoW(monitor, &monitor_info)) monitor_info.rcMonitor = RECT{};
  const WindowPlacement placement =
      PlaceWindow(size, dpi, FrameMarginsAt(dpi), work_area, monitor_info.rcMonitor);
  talvor::log::Info("window", "work area " + (work_area ? talvor::log::DescribeRect(*work_area) : "unknown") +
                                  ", DPI " + std::to_string(dpi) + ", window " +
                                  talvor::log::DescribeRect(placement.frame));
  return Create(title, placement.frame);
}

bool Win32Window::Create(const std::wstring& title, const RECT& frame) {
  Teardown();
  WindowClassRegistration::Instance().Register(&Win32Window::WindowProcedure);
  const HWND window = CreateWindowExW(
      0, kWindowClassName, title.c_str(), kWindowStyle, frame.left, frame.top,
      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
      GetModuleHandleW(nullptr), this);
  if (window == nullptr) {
    talvor::log::Error("window", "not created: " + talvor::log::DescribeError(GetLastError()));
    return false;
  }

  ApplySystemTheme(window);
  return OnWindowCreated();
}

void Win32Window::ShowNormal() { ShowWindow(hwnd_, SW_SHOWNORMAL); }

void Win32Window::Teardown() {
  OnWindowDestroying();
  if (hwnd_ != nullptr) {
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  // A child dies with its parent; a later window must not move a stale handle.
  content_hwnd_ = nullptr;
  WindowClassRegistration::Instance().UnregisterIfUnused();
}

RECT Win32Window::ClientBounds() const {
  RECT bounds{};
  GetClientRect(hwnd_, &bounds);
  return bounds;
}

void Win32Window::AttachContent(HWND content) {
  content_hwnd_ = content;
  SetParent(content, hwnd_);
  const RECT bounds = ClientBounds();
  MoveWindow(content, bounds.left, bounds.top, bounds.right - bounds.left,
             bounds.bottom - bounds.top, TRUE);
  SetFocus(content_hwnd_);
}

LRESULT Win32Window::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      hwnd_ = nullptr;
      Teardown();
      if (quit_when_destroyed_) PostQuitMessage(0);
      return 0;

    case WM_DPICHANGED: {
      // The system scales the window for the new monitor; at a higher DPI that
      // can reach past the monitor's work area, out of the user's reach.
      const RECT placed = WithinWorkAreaOf(*reinterpret_cast<const RECT*>(lparam));
      SetWindowPos(window, nullptr, placed.left, placed.top, placed.right - placed.left,
                   placed.bottom - placed.top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_SIZE: {
      const RECT bounds = ClientBounds();
      if (content_hwnd_ != nullptr) {
        MoveWindow(content_hwnd_, bounds.left, bounds.top, bounds.right - bounds.left,
                   bounds.bottom - bounds.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (content_hwnd_ != nullptr) SetFocus(content_hwnd_);
      return 0;

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplySystemTheme(window);
      return 0;
  }
  // `window`, not hwnd_: hwnd_ is already cleared for the messages that follow
  // WM_DESTROY, and those still need the default processing of this window.
  return DefWindowProcW(window, message, wparam, lparam);
}

bool Win32Window::OnWindowCreated() { return true; }

void Win32Window::OnWindowDestroying() {}

LRESULT CALLBACK Win32Window::WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    auto* owner = static_cast<Win32Window*>(creation->lpCreateParams);
    // A window of this class made by anyone but Open has no owner object.
    if (owner == nullptr) return DefWindowProcW(window, message, wparam, lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    EnableNonClientScalingIfPresent(window);
    owner->hwnd_ = window;
    return DefWindowProcW(window, message, wparam, lparam);
  }
  auto* owner = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (owner != nullptr) return owner->HandleMessage(window, message, wparam, lparam);
  return DefWindowProcW(window, message, wparam, lparam);
}

std::optional<bool> ReadDarkTitleBarPreference() {
  DWORD light_theme = 0;
  DWORD size = sizeof(light_theme);
  const LSTATUS status = RegGetValueW(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
      L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &light_theme, &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return light_theme == 0;
}

void ApplySystemTheme(HWND window) {
  ApplySystemTheme(window, [](HWND target, DWORD attribute, const void* value, DWORD size) {
    return SetDwmWindowAttribute(target, attribute, value, size);
  });
}

void ApplySystemTheme(HWND window, const WindowAttributeSetter& set_attribute) {
  const std::optional<bool> dark = ReadDarkTitleBarPreference();
  if (!dark) return;
  const BOOL use_dark_mode = *dark ? TRUE : FALSE;
  set_attribute(window, kDwmUseImmersiveDarkMode, &use_dark_mode, sizeof(use_dark_mode));
}

void EnableNonClientScalingIfPresent(HWND window) {
  const talvor::UniqueModule user32(LoadLibraryA("User32.dll"));
  if (!user32) return;
  using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);
  const auto enable = ProcedureAs<EnableNonClientDpiScalingFunction>(
      GetProcAddress(user32.get(), "EnableNonClientDpiScaling"));
  if (enable != nullptr) enable(window);
}
