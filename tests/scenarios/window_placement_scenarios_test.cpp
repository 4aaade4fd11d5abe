// The main window on a 1920 x 1080 screen at the scales of common laptops
// (125 % and 150 %): inside the work area, centred, its client area 440
// units wide at that scale, the view filling it. (At 100 % the window keeps
// its place: WindowScenario in window_and_tray_scenarios_test.cpp.)
//
// Wine reads the DPI (HKCU\Control Panel\Desktop\LogPixels) when a process
// starts, and sizes a desktop named in the registry when it is first used:
// the program starts on a 1920 x 1080 desktop of its own and is looked at
// there from outside.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

constexpr wchar_t kDesktopName[] = L"talvor-placement";
constexpr RECT kScreen{0, 0, 1920, 1080};

// Starts the bundle's program on the desktop `desktop_name`. Empty, with the
// reason in `failure`, when it cannot.
std::optional<ChildProcess> StartOnDesktop(const std::wstring& desktop_name, std::string* failure) {
  const std::wstring program = (BundleDirectory() / kProgramFileName).wstring();
  std::wstring command_line = QuoteArgument(program);
  std::wstring desktop = desktop_name;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop.data();
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &started)) {
    *failure = "CreateProcessW failed with " + std::to_string(GetLastError()) + " for " + Utf8(program);
    return std::nullopt;
  }
  const UniqueKernelHandle process(started.hProcess);
  const UniqueKernelHandle thread(started.hThread);
  std::optional<ChildProcess> adopted = ChildProcess::Adopt(started.dwProcessId);
  if (!adopted) *failure = "the program ended at once";
  return adopted;
}

struct FoundWindow {
  DWORD process_id;
  HWND window;
};

BOOL CALLBACK TakeMainWindow(HWND window, LPARAM context) {
  auto* found = reinterpret_cast<FoundWindow*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t class_name[64] = {};
  wchar_t title[64] = {};
  GetClassNameW(window, class_name, 64);
  GetWindowTextW(window, title, 64);
  if (owner == found->process_id && std::wstring(class_name) == kMainWindowClass &&
      std::wstring(title) == kMainWindowTitle) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

// The main window of `process_id` on the desktop `desktop_name`.
HWND MainWindowOnDesktop(const std::wstring& desktop_name, DWORD process_id) {
  const HDESK desktop = OpenDesktopW(desktop_name.c_str(), 0, FALSE, DESKTOP_ENUMERATE);
  if (desktop == nullptr) return nullptr;
  FoundWindow found{process_id, nullptr};
  EnumDesktopWindows(desktop, &TakeMainWindow, reinterpret_cast<LPARAM>(&found));
  CloseDesktop(desktop);
  return found.window;
}

struct Scale {
  DWORD dpi;
  LONG client_width;  // 440 units at that DPI
};

class PlacementScenario : public testing::TestWithParam<Scale> {};

TEST_P(PlacementScenario, TheWindowOpensInsideTheWorkAreaCentredAtTheScreensScale) {
  const RegistryValueGuard log_pixels(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels");
  const RegistryValueGuard desktop_size(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops",
                                        kDesktopName);
  ASSERT_TRUE(log_pixels.SetDword(GetParam().dpi));
  ASSERT_TRUE(desktop_size.SetString(L"1920x1080"));

  AppConnection app;
  std::string failure;
  std::optional<ChildProcess> program = StartOnDesktop(kDesktopName, &failure);
  ASSERT_TRUE(program) << failure;
  ASSERT_EQ(app.WaitForNewProcess(), program->id());
  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, program->id())) << app.Describe();
  const HWND window = MainWindowOnDesktop(kDesktopName, program->id());
  ASSERT_NE(window, nullptr);
  // Shown by the program once it hears of the frame. (IsWindowVisible looks
  // at the desktop too, which is not this test's.)
  ASSERT_TRUE(WaitUntil([window] { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }));

  const WindowState state = ReadWindowState(window);
  const RECT& frame = state.frame;
  EXPECT_EQ(state.client.cx, GetParam().client_width);
  // 850 units do not fit 1080 lines at either scale: the window is as high
  // as the work area.
  EXPECT_EQ(frame.top, kScreen.top);
  EXPECT_EQ(frame.bottom, kScreen.bottom);
  EXPECT_GE(frame.left, kScreen.left);
  EXPECT_LE(frame.right, kScreen.right);
  const LONG frame_width = frame.right - frame.left;
  const LONG left_gap = frame.left - kScreen.left;
  const LONG right_gap = kScreen.right - frame.right;
  EXPECT_LE(std::labs(left_gap - right_gap), frame_width - state.client.cx + 1)
      << "centred up to the frame: " << left_gap << " px left, " << right_gap << " px right";

  // The view fills the smaller client area.
  const HWND view = FindWindowExW(window, nullptr, nullptr, nullptr);
  ASSERT_NE(view, nullptr);
  RECT view_client{};
  GetClientRect(view, &view_client);
  EXPECT_EQ(view_client.right, state.client.cx);
  EXPECT_EQ(view_client.bottom, state.client.cy);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(program->WaitForExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(CommonScales, PlacementScenario,
                         testing::Values(Scale{120, 550}, Scale{144, 660}),
                         [](const testing::TestParamInfo<Scale>& info) {
                           return "Dpi" + std::to_string(info.param.dpi);
                         });

}  // namespace
}  // namespace talvor::test
