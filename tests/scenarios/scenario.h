// What the scenario tests share: the program started and shown with the test
// connection as its application, its clean end, its tray menu, and a window
// that takes the foreground.
#ifndef TALVOR_TESTS_SCENARIOS_SCENARIO_H_
#define TALVOR_TESTS_SCENARIOS_SCENARIO_H_

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/app_connection.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/child_process.h"
#include "tests/support/message_box.h"
#include "tests/support/running_instance_window.h"
#include "tests/support/talvor_program.h"
#include "tests/support/system_state.h"
#include "tests/support/text.h"
#include "tests/support/wine_tray.h"

namespace talvor::test {

// How the tray talks to the main window.
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;
inline constexpr WPARAM kTrayIconId = 1;
inline constexpr WPARAM kTrayToggleCommand = 40001;
inline constexpr WPARAM kTrayOpenCommand = 40002;
inline constexpr WPARAM kTrayExitCommand = 40003;

inline constexpr char kPendingLaunchPrefix[] = "--talvor-pending-tun-launch=";

inline constexpr wchar_t kErrorCaption[] = L"Talvor VPN - Error";
inline constexpr wchar_t kCoreLoadFailedText[] =
    L"Unable to load talvor.dll.\nMake sure the file is placed next to talvor_app.exe.\n\n"
    L"Build step: make lib-windows";

// Checks that a started program shows the box "Talvor VPN - Error" with the
// load error of talvor.dll and no main window, answers it, and checks that
// the program then ends with 1.
void ExpectCoreLoadFailure(ChildProcess& program);

#ifdef TALVOR_TEST_BUNDLE_FROM_TEST
// Each test gets its own copy of the bundle to change or break, and the URL
// scheme removed, so that whatever earlier starts wrote, this start must
// write anew.
class InstallationCopyTest : public testing::Test {
 protected:
  void SetUp() override {
    std::optional<BundleCopy> copy = BundleCopy::Make(BundleDirectory());
    ASSERT_TRUE(copy);
    copy_.emplace(std::move(*copy));
    ASSERT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, kUrlSchemeKey));
  }

  const std::filesystem::path& Installation() const { return copy_->path(); }

 private:
  std::optional<BundleCopy> copy_;
};

// A copy of the bundle under Program Files, where standard users cannot
// change it: the only copy that relaunches itself with administrator rights
// or accepts a handed-over launch.
inline std::optional<BundleCopy> InstalledCopy() { return BundleCopy::Make(BundleDirectory(), kProgramFilesFolder); }
#endif

// A program that a scenario started and that is on screen.
struct ShownProgram {
  explicit ShownProgram(ChildProcess started) : process(std::move(started)) {}

  ChildProcess process;
  HWND window = nullptr;
  HWND tray_icon = nullptr;  // its icon in the notification area
  std::vector<std::string> entrypoint_arguments;

  DWORD id() const { return process.id(); }
};

// Starts `directory`\talvor_app.exe with `arguments` (in `job` when one is
// given, in `working_directory` when one is given) and waits until its engine
// has connected to `app`, its main window shows the first frame and its icon
// is in the notification area. Reports what went wrong to the test and
// returns nothing when one of them does not happen.
std::optional<ShownProgram> StartShown(AppConnection& app, const std::filesystem::path& directory,
                                       const std::vector<std::wstring>& arguments = {}, HANDLE job = nullptr,
                                       const std::wstring& working_directory = {});
// The same with any start options (a token, say).
std::optional<ShownProgram> StartShown(AppConnection& app, const std::filesystem::path& directory,
                                       const std::vector<std::wstring>& arguments,
                                       const ChildProcess::StartOptions& options);

// Checks the end of a program that was asked to close: exit code 0, engine
// destroyed, window and tray icon gone, no process of it left (but the
// `successors` it started on purpose), nothing on standard error.
void ExpectCleanEnd(AppConnection& app, ShownProgram& program, const std::vector<DWORD>& successors = {});

// The menu that the process shows now; null when none.
HWND FindVisibleMenu(DWORD process_id);
// The program's tray menu, opened by a right click on its icon in Wine's
// notification area. Returns the menu's window, or null when it did not open.
HWND OpenTrayMenu(const ShownProgram& program);
// Chooses in an open menu, with the keyboard, the first item (down arrow
// once), the last (up arrow once: the log folder's) or "Выход", the last but
// one (up arrow twice, over the separator), and waits for the menu to close.
bool ChooseFirstMenuItem(const ShownProgram& program, HWND menu);
bool ChooseLastMenuItem(const ShownProgram& program, HWND menu);
bool ChooseExitMenuItem(const ShownProgram& program, HWND menu);

// A visible window of the test that takes the foreground, so that a window
// brought forward afterwards is seen to take it back.
class ForegroundBystander {
 public:
  ForegroundBystander();
  // True once it is the foreground window.
  bool TookForeground() const;

 private:
  UniqueWindow window_;
};

// The entrypoint arguments as readable text, for failure messages.
std::string Describe(const std::vector<std::string>& arguments);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SCENARIOS_SCENARIO_H_
