#include "tests/support/talvor_program.h"

namespace talvor::test {

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageBoxTextControl = 0xFFFF;

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring TextOf(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

}  // namespace

std::optional<ChildProcess> StartProgram(const std::filesystem::path& directory,
                                         const std::vector<std::wstring>& arguments) {
  ChildProcess::StartOptions options;
  options.capture_stderr = true;
  return ChildProcess::Start((directory / kProgramFileName).wstring(), arguments, options);
}

std::vector<HWND> TopLevelWindowsOf(DWORD process_id, const std::wstring& class_name, const std::wstring* title) {
  struct Search {
    DWORD process_id;
    const std::wstring& class_name;
    const std::wstring* title;
    std::vector<HWND> found;
  } search{process_id, class_name, title, {}};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* search = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->process_id || ClassOf(window) != search->class_name) return TRUE;
        if (search->title != nullptr && TextOf(window) != *search->title) return TRUE;
        search->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindMainWindow(DWORD process_id) {
  const std::wstring title = kMainWindowTitle;
  const std::vector<HWND> windows = TopLevelWindowsOf(process_id, kMainWindowClass, &title);
  return windows.empty() ? nullptr : windows.front();
}

HWND WaitForMainWindow(DWORD process_id, std::chrono::milliseconds timeout) {
  HWND window = nullptr;
  WaitUntil([&] { return (window = FindMainWindow(process_id)) != nullptr; }, timeout);
  return window;
}

bool WaitForWindowGone(HWND window, std::chrono::milliseconds timeout) {
  return WaitUntil([&] { return !IsWindow(window); }, timeout);
}

WindowState ReadWindowState(HWND window) {
  WindowState state;
  state.exists = IsWindow(window) != FALSE;
  if (!state.exists) return state;
  state.visible = IsWindowVisible(window) != FALSE;
  state.minimised = IsIconic(window) != FALSE;
  state.maximised = IsZoomed(window) != FALSE;
  state.foreground = GetForegroundWindow() == window;
  state.style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  state.extended_style = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  GetWindowRect(window, &state.frame);
  RECT client{};
  GetClientRect(window, &client);
  state.client = SIZE{client.right - client.left, client.bottom - client.top};
  return state;
}

std::optional<ShownMessageBox> WaitForMessageBox(DWORD process_id, std::chrono::milliseconds timeout) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        for (HWND dialog : TopLevelWindowsOf(process_id, kDialogClass)) {
          if (IsWindowVisible(dialog)) {
            box = dialog;
            return true;
          }
        }
        return false;
      },
      timeout);
  if (box == nullptr) return std::nullopt;
  return ShownMessageBox{box, TextOf(box), TextOf(GetDlgItem(box, kMessageBoxTextControl))};
}

bool AnswerMessageBox(HWND box, std::chrono::milliseconds timeout) {
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return WaitForWindowGone(box, timeout);
}

}  // namespace talvor::test
