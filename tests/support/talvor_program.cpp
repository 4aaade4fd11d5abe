#include "tests/support/talvor_program.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/support/system_state.h"

namespace talvor::test {

namespace {

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

}  // namespace

std::wstring WindowText(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

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
        if (search->title != nullptr && WindowText(window) != *search->title) return TRUE;
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

void ExpectUrlSchemeRegisteredFor(const std::wstring& executable) {
  const std::wstring base = kUrlSchemeKey;
  const std::vector<std::pair<std::wstring, const wchar_t*>> values = {
      {base, nullptr}, {base, L"URL Protocol"}, {base + L"\\DefaultIcon", nullptr},
      {base + L"\\shell\\open\\command", nullptr}};
  const std::vector<std::wstring> expected = {L"URL:Talvor Protocol", L"", executable + L",0",
                                              L"\"" + executable + L"\" \"%1\""};
  for (size_t index = 0; index < values.size(); ++index) {
    SCOPED_TRACE(testing::Message() << "value " << index + 1);
    const std::optional<RegistryValue> value =
        ReadRegistryValue(HKEY_CURRENT_USER, values[index].first, values[index].second);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->bytes, RegistryStringBytes(expected[index]));
  }
}

}  // namespace talvor::test
