#include "runner/window/win32_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

constexpr wchar_t kClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// Records the hooks as they run, with the native window each one saw.
class ProbeWindow : public Win32Window {
 public:
  struct Event {
    std::string hook;
    HWND window;
    bool window_alive;
  };

  using Win32Window::HandleMessage;

  std::vector<Event> events;
  bool accept_creation = true;
  // The native window as the creation hook saw it, and what it answered to
  // WM_GETTEXT from the destroy hook once the object had let go of it.
  HWND created_window = nullptr;
  std::wstring text_after_release = L"<not asked>";

 protected:
  bool OnWindowCreated() override {
    Record("created");
    created_window = NativeHandle();
    return accept_creation;
  }

  void OnWindowDestroying() override {
    Record("destroying");
    if (NativeHandle() == nullptr && IsWindow(created_window)) {
      wchar_t text[64] = {};
      SendMessageW(created_window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
      text_after_release = text;
    }
  }

 private:
  void Record(const char* hook) {
    events.push_back({hook, NativeHandle(), IsWindow(NativeHandle()) != FALSE});
  }
};

bool ClassIsRegistered() {
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  return GetClassInfoExW(GetModuleHandleW(nullptr), kClassName, &info) != FALSE;
}

bool TakeQuitMessage(WPARAM* exit_code) {
  MSG message;
  if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
  *exit_code = message.wParam;
  return true;
}

std::wstring TitleOf(HWND window) {
  wchar_t title[64] = {};
  GetWindowTextW(window, title, static_cast<int>(std::size(title)));
  return title;
}

TEST(Win32Window, OpensAHiddenCaptionedWindowThatCannotBeResized) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"Talvor VPN", {20, 30}, {300, 200}));
  const HWND handle = window.NativeHandle();
  ASSERT_NE(handle, nullptr);

  const LONG style = GetWindowLongW(handle, GWL_STYLE);
  EXPECT_EQ(style & 0x00CA0000, 0x00CA0000) << "caption, system menu, minimise box";
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_VISIBLE), 0) << std::hex << style;
  EXPECT_EQ(GetWindowLongW(handle, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), 0);
  EXPECT_EQ(GetParent(handle), nullptr);
  EXPECT_EQ(TitleOf(handle), L"Talvor VPN");
  EXPECT_EQ(FindWindowW(kClassName, L"Talvor VPN"), handle) << "found as a running instance";

  ASSERT_FALSE(window.events.empty());
  EXPECT_EQ(window.events.back().hook, "created");
  EXPECT_EQ(window.events.back().window, handle) << "the hook sees its window";

  window.ShowNormal();
  EXPECT_TRUE(IsWindowVisible(handle));
  EXPECT_FALSE(IsIconic(handle));
}

// A window's frame and client area on the screen.
struct Placed {
  RECT frame{};
  SIZE client{};
};

Placed PlacementOf(HWND window) {
  Placed placed;
  GetWindowRect(window, &placed.frame);
  RECT client{};
  GetClientRect(window, &client);
  placed.client = SIZE{client.right, client.bottom};
  return placed;
}

// The primary monitor's work area as this process sees it, set for the
// length of a test. (Wine keeps a work area set with SPI_SETWORKAREA for the
// process that set it.)
class ScopedWorkArea {
 public:
  explicit ScopedWorkArea(RECT area) {
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &previous_, 0));
    EXPECT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, 0));
  }
  ~ScopedWorkArea() { SystemParametersInfoW(SPI_SETWORKAREA, 0, &previous_, 0); }
  ScopedWorkArea(const ScopedWorkArea&) = delete;
  ScopedWorkArea& operator=(const ScopedWorkArea&) = delete;

 private:
  RECT previous_{};
};

// The start-up opens the window in the primary work area it reads.
TEST(Win32Window, OpensCentredInThePrimaryWorkAreaAtTheMonitorsScaleShrunkToFit) {
  FakeEngine engine;
  engine.set_monitor_dpi(144);
  // 1000 x 900 pixels: 660 wide fits, 1275 high does not.
  const ScopedWorkArea work_area(RECT{100, 40, 1100, 940});
  ProbeWindow window;
  ASSERT_TRUE(window.OpenInWorkArea(L"placed", {440, 850}, QueryPrimaryWorkArea()));
  const Placed placed = PlacementOf(window.NativeHandle());
  EXPECT_EQ(placed.client.cx, 660);
  EXPECT_EQ(placed.frame.left, 270) << "the client width centred";
  EXPECT_EQ(placed.frame.top, 40);
  EXPECT_EQ(placed.frame.bottom, 940) << "as high as the area";
  EXPECT_LT(placed.client.cy, 900);
  EXPECT_GT(placed.client.cy, 800);
  EXPECT_FALSE(IsWindowVisible(window.NativeHandle()));
  EXPECT_EQ(window.events.back().hook, "created");
}

TEST(Win32Window, OpensWhereItAlwaysHasAt96DpiWhenTheWindowFits) {
  FakeEngine engine;
  engine.set_monitor_dpi(96);
  ProbeWindow window;
  ASSERT_TRUE(window.OpenInWorkArea(L"placed", {440, 850}, RECT{0, 0, 1280, 1000}));
  const Placed placed = PlacementOf(window.NativeHandle());
  EXPECT_EQ(placed.client.cx, 440);
  EXPECT_EQ(placed.client.cy, 850);
  EXPECT_EQ(placed.frame.left, 420);
  EXPECT_EQ(placed.frame.top, 75);
}

// An empty work area would shrink the window to nothing: it counts as none.
TEST(Win32Window, WithAnEmptyWorkAreaOpensNearTheTopLeftCornerWithinTheScreen) {
  FakeEngine engine;
  engine.set_monitor_dpi(240);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor));
  ASSERT_LT(monitor.rcMonitor.bottom - monitor.rcMonitor.top, 2125)
      << "the test screen is lower than the scaled window";
  const ScopedWorkArea work_area(RECT{0, 0, 0, 0});
  ProbeWindow window;
  ASSERT_TRUE(window.OpenInWorkArea(L"placed", {440, 850}, QueryPrimaryWorkArea()));
  const Placed placed = PlacementOf(window.NativeHandle());
  EXPECT_EQ(placed.client.cx, 1100);
  EXPECT_EQ(placed.frame.left, monitor.rcMonitor.left + 25);
  EXPECT_EQ(placed.frame.top, monitor.rcMonitor.top);
  EXPECT_EQ(placed.frame.bottom, monitor.rcMonitor.bottom);
}

TEST(Win32Window, ClassDrawsWithTheArrowAndRedrawsOnResize) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"class", {0, 0}, {100, 100}));
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), kClassName, &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(info.hbrBackground, nullptr);
  EXPECT_EQ(info.cbClsExtra, 0);
  EXPECT_EQ(info.cbWndExtra, 0);
}

TEST(Win32Window, OpenAgainDestroysTheFirstWindowAfterItsHook) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"first", {0, 0}, {100, 100}));
  const HWND first = window.NativeHandle();
  // A change to the class survives only if the class is not registered anew.
  const HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
  SetClassLongPtrW(first, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cross));

  ASSERT_TRUE(window.Open(L"second", {0, 0}, {100, 100}));
  const HWND second = window.NativeHandle();

  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(IsWindow(second));
  const auto& events = window.events;
  const auto first_destroying = std::find_if(events.begin(), events.end(), [&](const auto& event) {
    return event.hook == "destroying" && event.window == first;
  });
  ASSERT_NE(first_destroying, events.end()) << "the hook ran for the first window";
  EXPECT_TRUE(first_destroying->window_alive) << "before the window went";
  EXPECT_EQ(events.back().hook, "created");
  EXPECT_EQ(events.back().window, second);
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(second, GCLP_HCURSOR)), cross)
      << "the class stayed registered";
}

TEST(Win32Window, ClassLivesAsLongAsAnyWindowObject) {
  {
    ProbeWindow first;
    {
      ProbeWindow second;
      ASSERT_TRUE(first.Open(L"one", {0, 0}, {100, 100}));
      ASSERT_TRUE(second.Open(L"two", {0, 0}, {100, 100}));
      EXPECT_TRUE(ClassIsRegistered());
    }
    EXPECT_TRUE(ClassIsRegistered()) << "one window object is still alive";
    EXPECT_TRUE(IsWindow(first.NativeHandle()));
  }
  EXPECT_FALSE(ClassIsRegistered()) << "the last window object is gone";

  ProbeWindow later;
  EXPECT_TRUE(later.Open(L"again", {0, 0}, {100, 100})) << "registered again when needed";
}

TEST(Win32Window, DestructionDestroysTheNativeWindow) {
  HWND handle = nullptr;
  {
    ProbeWindow window;
    ASSERT_TRUE(window.Open(L"destroyed", {0, 0}, {100, 100}));
    handle = window.NativeHandle();
  }
  EXPECT_FALSE(IsWindow(handle));
}

TEST(Win32Window, RefusedCreationFailsOpen) {
  ProbeWindow window;
  window.accept_creation = false;
  EXPECT_FALSE(window.Open(L"refused", {0, 0}, {100, 100}));
}

TEST(Win32Window, ContentFillsTheClientAreaAndHasTheFocus) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"content", {0, 0}, {300, 200}));
  const HWND content = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(content, nullptr);

  window.AttachContent(content);

  EXPECT_EQ(GetAncestor(content, GA_PARENT), window.NativeHandle());
  RECT content_rect{};
  GetClientRect(content, &content_rect);
  const RECT client = window.ClientBounds();
  EXPECT_EQ(content_rect.right, client.right - client.left);
  EXPECT_EQ(content_rect.bottom, client.bottom - client.top);
  EXPECT_EQ(GetFocus(), content);

  // The window has no sizing border, but a program may still resize it.
  RECT frame{};
  GetWindowRect(window.NativeHandle(), &frame);
  SetWindowPos(window.NativeHandle(), nullptr, 0, 0, frame.right - frame.left + 40,
               frame.bottom - frame.top + 30, SWP_NOMOVE | SWP_NOZORDER);
  const RECT grown = window.ClientBounds();
  GetClientRect(content, &content_rect);
  EXPECT_EQ(content_rect.right, grown.right - grown.left);
  EXPECT_EQ(content_rect.bottom, grown.bottom - grown.top);

  SetFocus(window.NativeHandle());
  EXPECT_EQ(window.HandleMessage(window.NativeHandle(), WM_ACTIVATE, WA_ACTIVE, 0), 0);
  EXPECT_EQ(GetFocus(), content) << "activation gives the content the focus";
}

TEST(Win32Window, SizeAndActivationWithoutContentTouchNothing) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"empty", {0, 0}, {300, 200}));
  const HWND handle = window.NativeHandle();
  SetFocus(handle);
  ASSERT_EQ(GetFocus(), handle);

  EXPECT_EQ(window.HandleMessage(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200)), 0);
  EXPECT_EQ(window.HandleMessage(handle, WM_ACTIVATE, WA_ACTIVE, 0), 0);
  EXPECT_EQ(GetFocus(), handle);
}

TEST(Win32Window, DpiChangeMovesToTheSuggestedRectangle) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"dpi", {0, 0}, {300, 200}));
  RECT suggested{100, 120, 700, 900};

  EXPECT_EQ(window.HandleMessage(window.NativeHandle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                                 reinterpret_cast<LPARAM>(&suggested)),
            0);

  RECT frame{};
  GetWindowRect(window.NativeHandle(), &frame);
  EXPECT_EQ(frame.left, 100);
  EXPECT_EQ(frame.top, 120);
  EXPECT_EQ(frame.right, 700);
  EXPECT_EQ(frame.bottom, 900);
}

// Between WM_DESTROY and the end of the native window, its messages still get
// the default processing of that window.
TEST(Win32Window, MessagesAfterDestructionBeginsReachTheDefaultProcessingOfTheWindow) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"closing", {0, 0}, {100, 100}));
  SendMessageW(window.NativeHandle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(window.text_after_release, L"closing");
}

// A window that was the content of an earlier native window is no business
// of the next one, even when it outlived its parent.
TEST(Win32Window, OpenAgainForgetsTheFormerContent) {
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"first", {0, 0}, {300, 200}));
  const UniqueWindow former(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                            nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(former);
  window.AttachContent(former.get());
  SetParent(former.get(), nullptr);
  SetWindowPos(former.get(), nullptr, 5, 6, 10, 10, SWP_NOZORDER | SWP_NOACTIVATE);

  ASSERT_TRUE(window.Open(L"second", {0, 0}, {300, 200}));
  SendMessageW(window.NativeHandle(), WM_SIZE, SIZE_RESTORED, 0);
  SetFocus(window.NativeHandle());
  SendMessageW(window.NativeHandle(), WM_ACTIVATE, WA_ACTIVE, 0);

  RECT place{};
  GetWindowRect(former.get(), &place);
  EXPECT_EQ(place.left, 5);
  EXPECT_EQ(place.top, 6);
  EXPECT_EQ(place.right - place.left, 10);
  EXPECT_EQ(place.bottom - place.top, 10);
  EXPECT_NE(GetFocus(), former.get());
}

// Moved to a monitor of a higher DPI, the system suggests the window scaled
// up, which can reach past that monitor's work area.
TEST(Win32Window, DpiChangeKeepsTheWindowWithinTheWorkArea) {
  RECT work_area{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0));
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"dpi", {0, 0}, {300, 200}));
  const HWND content = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(content, nullptr);
  window.AttachContent(content);

  const LONG height = work_area.bottom - work_area.top;
  RECT taller_than_the_area{work_area.left + 100, work_area.top + 120, work_area.left + 700,
                            work_area.top + 120 + height + 200};
  window.HandleMessage(window.NativeHandle(), WM_DPICHANGED, MAKEWPARAM(192, 192),
                       reinterpret_cast<LPARAM>(&taller_than_the_area));
  RECT frame{};
  GetWindowRect(window.NativeHandle(), &frame);
  EXPECT_EQ(frame.left, work_area.left + 100);
  EXPECT_EQ(frame.right, work_area.left + 700);
  EXPECT_EQ(frame.top, work_area.top);
  EXPECT_EQ(frame.bottom, work_area.bottom);

  RECT past_the_right_edge{work_area.right - 200, work_area.top + 50, work_area.right + 400,
                           work_area.top + 450};
  window.HandleMessage(window.NativeHandle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                       reinterpret_cast<LPARAM>(&past_the_right_edge));
  GetWindowRect(window.NativeHandle(), &frame);
  EXPECT_EQ(frame.left, work_area.right - 600);
  EXPECT_EQ(frame.right, work_area.right);
  EXPECT_EQ(frame.top, work_area.top + 50);
  EXPECT_EQ(frame.bottom, work_area.top + 450);

  RECT client{};
  RECT content_rect{};
  GetClientRect(window.NativeHandle(), &client);
  GetClientRect(content, &content_rect);
  EXPECT_EQ(content_rect.right, client.right) << "the content follows the new size";
  EXPECT_EQ(content_rect.bottom, client.bottom);
}

TEST(Win32Window, ClosingEndsTheMessageLoopOnlyWhenAsked) {
  WPARAM exit_code = 99;
  {
    ProbeWindow window;
    ASSERT_TRUE(window.Open(L"quiet", {0, 0}, {100, 100}));
    SendMessageW(window.NativeHandle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window.NativeHandle(), nullptr) << "the closed window is forgotten";
    EXPECT_EQ(window.events.back().hook, "destroying");
    EXPECT_FALSE(TakeQuitMessage(&exit_code));
  }
  EXPECT_FALSE(TakeQuitMessage(&exit_code)) << "nor when the object goes";

  ProbeWindow window;
  window.SetQuitWhenDestroyed(true);
  ASSERT_TRUE(window.Open(L"main", {0, 0}, {100, 100}));
  SendMessageW(window.NativeHandle(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(TakeQuitMessage(&exit_code));
  EXPECT_EQ(exit_code, 0u);
}

TEST(ApplySystemTheme, FollowsTheAppsThemeSetting) {
  const RegistryValueGuard setting(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
      L"AppsUseLightTheme");

  ASSERT_TRUE(setting.SetDword(0));
  EXPECT_EQ(ReadDarkTitleBarPreference(), std::optional<bool>(true));
  ASSERT_TRUE(setting.SetDword(1));
  EXPECT_EQ(ReadDarkTitleBarPreference(), std::optional<bool>(false));
  ASSERT_TRUE(setting.SetString(L"0"));
  EXPECT_EQ(ReadDarkTitleBarPreference(), std::nullopt) << "not a 32-bit value";
  ASSERT_TRUE(setting.Remove());
  EXPECT_EQ(ReadDarkTitleBarPreference(), std::nullopt);

  // The title bar itself cannot be inspected here: what it is asked for is.
  struct Request {
    HWND window;
    DWORD attribute;
    std::vector<BYTE> value;
  };
  std::vector<Request> requests;
  const WindowAttributeSetter record = [&](HWND target, DWORD attribute, const void* value,
                                           DWORD size) {
    const auto* bytes = static_cast<const BYTE*>(value);
    requests.push_back({target, attribute, std::vector<BYTE>(bytes, bytes + size)});
    return S_OK;
  };
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"theme", {0, 0}, {100, 100}));
  const HWND handle = window.NativeHandle();
  const std::vector<BYTE> kTrue{1, 0, 0, 0};
  const std::vector<BYTE> kFalse{0, 0, 0, 0};
  constexpr DWORD kImmersiveDarkMode = 20;

  ASSERT_TRUE(setting.SetDword(0));
  ApplySystemTheme(handle, record);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].window, handle);
  EXPECT_EQ(requests[0].attribute, kImmersiveDarkMode);
  EXPECT_EQ(requests[0].value, kTrue) << "dark apps: a dark title bar";

  ASSERT_TRUE(setting.SetDword(1));
  ApplySystemTheme(handle, record);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].attribute, kImmersiveDarkMode);
  EXPECT_EQ(requests[1].value, kFalse) << "light apps: asked for a light one all the same";

  ASSERT_TRUE(setting.Remove());
  ApplySystemTheme(handle, record);
  EXPECT_EQ(requests.size(), 2u) << "no setting: the title bar is left alone";

  EXPECT_EQ(window.HandleMessage(handle, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0), 0);
}

}  // namespace
}  // namespace talvor::test
