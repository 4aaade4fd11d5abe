#include "tests/support/talvor_program.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "runner/win32_handles.h"
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
                                         const std::vector<std::wstring>& arguments, HANDLE job,
                                         const std::wstring& working_directory) {
  ChildProcess::StartOptions options;
  options.job = job;
  options.working_directory = working_directory;
  return StartProgram(directory, arguments, options);
}

std::optional<ChildProcess> StartProgram(const std::filesystem::path& directory,
                                         const std::vector<std::wstring>& arguments,
                                         ChildProcess::StartOptions options) {
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

std::wstring FileVersionOf(const std::filesystem::path& executable) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(executable.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<BYTE> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(executable.c_str(), 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof(*fixed)) {
    return {};
  }
  return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
         L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
         std::to_wstring(LOWORD(fixed->dwFileVersionLS));
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

namespace {

// A value of the scheme's registration: key, value name (null: the default
// value) and text.
struct SchemeValue {
  std::wstring key;
  const wchar_t* name;
  std::wstring text;
};

std::vector<SchemeValue> SchemeValuesFor(const std::wstring& executable) {
  const std::wstring base = kUrlSchemeKey;
  return {{base, nullptr, L"URL:Talvor Protocol"},
          {base, L"URL Protocol", L""},
          {base + L"\\DefaultIcon", nullptr, executable + L",0"},
          {base + L"\\shell\\open\\command", nullptr, L"\"" + executable + L"\" \"%1\""}};
}

}  // namespace

void ExpectUrlSchemeRegisteredFor(const std::wstring& executable) {
  const std::vector<SchemeValue> expected = SchemeValuesFor(executable);
  for (size_t index = 0; index < expected.size(); ++index) {
    SCOPED_TRACE(testing::Message() << "value " << index + 1);
    const std::optional<RegistryValue> value =
        ReadRegistryValue(HKEY_CURRENT_USER, expected[index].key, expected[index].name);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->bytes, RegistryStringBytes(expected[index].text));
  }
}

bool StoreUrlSchemeRegistrationFor(const std::wstring& executable) {
  if (!DeleteRegistryTree(HKEY_CURRENT_USER, kUrlSchemeKey)) return false;
  for (const SchemeValue& value : SchemeValuesFor(executable)) {
    UniqueRegistryKey key;
    const std::vector<uint8_t> bytes = RegistryStringBytes(value.text);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS ||
        RegSetValueExW(key.get(), value.name, 0, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size())) !=
            ERROR_SUCCESS) {
      return false;
    }
  }
  return true;
}

}  // namespace talvor::test
