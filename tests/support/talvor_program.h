// The program under test, talvor_app.exe, seen from outside: starting it from
// a bundle (or a copy of one), its main window, its URL scheme in the
// registry. (Its message boxes: message_box.h.)
#ifndef TALVOR_TESTS_SUPPORT_TALVOR_PROGRAM_H_
#define TALVOR_TESTS_SUPPORT_TALVOR_PROGRAM_H_

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/wait.h"

namespace talvor::test {

inline constexpr wchar_t kProgramFileName[] = L"talvor_app.exe";
inline constexpr wchar_t kMainWindowClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
inline constexpr wchar_t kMainWindowTitle[] = L"Talvor VPN";

// Starts `directory`\talvor_app.exe with `arguments`, its standard error
// captured, in `job` when one is given, in `working_directory` (empty: this
// process's). It inherits this process's environment, the test connection's
// pipe name included.
std::optional<ChildProcess> StartProgram(const std::filesystem::path& directory,
                                         const std::vector<std::wstring>& arguments = {},
                                         HANDLE job = nullptr, const std::wstring& working_directory = {});
// The same with any options (its standard error is always captured).
std::optional<ChildProcess> StartProgram(const std::filesystem::path& directory,
                                         const std::vector<std::wstring>& arguments,
                                         ChildProcess::StartOptions options);

// A window's text (a top-level window's title); empty for no window.
std::wstring WindowText(HWND window);

// Visible or not, the top-level windows of `process_id` with that class (and
// title, when given), in z-order.
std::vector<HWND> TopLevelWindowsOf(DWORD process_id, const std::wstring& class_name,
                                    const std::wstring* title = nullptr);

// The main window of `process_id`: the top-level window of class
// "FLUTTER_RUNNER_WIN32_WINDOW" titled "Talvor VPN". Null when there is none.
HWND FindMainWindow(DWORD process_id);
HWND WaitForMainWindow(DWORD process_id, std::chrono::milliseconds timeout = kDefaultWait);

// True once `window` no longer exists.
bool WaitForWindowGone(HWND window, std::chrono::milliseconds timeout = kDefaultWait);

// A window as the desktop shows it.
struct WindowState {
  bool exists = false;
  bool visible = false;
  bool minimised = false;
  bool maximised = false;
  bool foreground = false;
  DWORD style = 0;
  DWORD extended_style = 0;
  RECT frame{};        // screen coordinates
  SIZE client{0, 0};   // size of the client area
};
WindowState ReadWindowState(HWND window);

// The numeric file version in an executable's version block, as
// "1.0.0.14"; empty when the file has none.
std::wstring FileVersionOf(const std::filesystem::path& executable);

// The program's URL scheme: HKEY_CURRENT_USER\Software\Classes\talvor.
inline constexpr wchar_t kUrlSchemeKey[] = L"Software\\Classes\\talvor";

// Checks the four REG_SZ values that register the URL scheme for
// `executable` (a full path): the description, "URL Protocol", the icon and
// the open command.
void ExpectUrlSchemeRegisteredFor(const std::wstring& executable);

// Leaves exactly the registration of `executable` that the program makes: the
// key removed with everything below it, then the four values written. True
// when every step succeeded.
bool StoreUrlSchemeRegistrationFor(const std::wstring& executable);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_TALVOR_PROGRAM_H_
