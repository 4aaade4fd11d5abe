#include "runner/win32_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
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

 protected:
  bool OnWindowCreated() override {
    Record("created");
    return accept_creation;
  }

  void OnWindowDestroying() override { Record("destroying"); }

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

  // The title bar itself cannot be inspected; applying must simply be safe.
  ProbeWindow window;
  ASSERT_TRUE(window.Open(L"theme", {0, 0}, {100, 100}));
  ASSERT_TRUE(setting.SetDword(0));
  ApplySystemTheme(window.NativeHandle());
  EXPECT_EQ(window.HandleMessage(window.NativeHandle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0), 0);
}

}  // namespace
}  // namespace talvor::test
