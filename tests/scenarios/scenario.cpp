#include "tests/scenarios/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>


namespace talvor::test {

namespace {

constexpr wchar_t kMenuClass[] = L"#32768";

void PressKey(HWND menu, UINT key) {
  PostMessageW(menu, WM_KEYDOWN, key, 0);
  PostMessageW(menu, WM_KEYUP, key, 0xC0000000);
}

bool ChooseWith(const ShownProgram& program, HWND menu, UINT key, int presses = 1) {
  for (int press = 0; press < presses; ++press) PressKey(menu, key);
  // The menu acts on the character that Enter produces.
  PostMessageW(menu, WM_CHAR, L'\r', 0);
  if (WaitUntil([&] { return FindVisibleMenu(program.id()) == nullptr; }, std::chrono::seconds(5))) return true;
  PostMessageW(program.window, WM_CANCELMODE, 0, 0);  // never leave a menu open
  return false;
}

}  // namespace

HWND FindVisibleMenu(DWORD process_id) {
  for (HWND menu : TopLevelWindowsOf(process_id, kMenuClass)) {
    if (IsWindowVisible(menu)) return menu;
  }
  return nullptr;
}

std::optional<ShownProgram> StartShown(AppConnection& app, const std::filesystem::path& directory,
                                       const std::vector<std::wstring>& arguments, HANDLE job,
                                       const std::wstring& working_directory) {
  ChildProcess::StartOptions options;
  options.job = job;
  options.working_directory = working_directory;
  return StartShown(app, directory, arguments, options);
}

std::optional<ShownProgram> StartShown(AppConnection& app, const std::filesystem::path& directory,
                                       const std::vector<std::wstring>& arguments,
                                       const ChildProcess::StartOptions& options) {
  const TrayIconWatch tray;
  std::optional<ChildProcess> process = StartProgram(directory, arguments, options);
  if (!process) {
    ADD_FAILURE() << "the program did not start";
    return std::nullopt;
  }
  ShownProgram program(std::move(*process));
  const std::optional<DWORD> connected = app.WaitForNewProcess();
  if (connected != program.id()) {
    ADD_FAILURE() << "the program's engine did not connect; exit code "
                  << program.process.WaitForExit(std::chrono::milliseconds(0)).value_or(STILL_ACTIVE)
                  << ", standard error:\n"
                  << program.process.StandardError() << app.Describe();
    return std::nullopt;
  }
  const std::optional<AppEvent> created = app.WaitForEvent(AppEventKind::kEngineCreated, program.id());
  if (created) program.entrypoint_arguments = created->arguments;
  if (!created || !app.WaitForEvent(AppEventKind::kFirstFrame, program.id())) {
    ADD_FAILURE() << "no first frame\n" << app.Describe();
    return std::nullopt;
  }
  program.window = FindMainWindow(program.id());
  program.tray_icon = tray.WaitForNewIcon();
  if (program.window == nullptr || !IsWindowVisible(program.window) || program.tray_icon == nullptr) {
    ADD_FAILURE() << "window " << program.window << ", tray icon " << program.tray_icon;
    return std::nullopt;
  }
  return program;
}

void ExpectCleanEnd(AppConnection& app, ShownProgram& program, const std::vector<DWORD>& successors) {
  const DWORD id = program.id();
  EXPECT_EQ(program.process.WaitForExit(), 0u);
  EXPECT_TRUE(app.WaitForEvent(AppEventKind::kEngineDestroyed, id)) << app.Describe();
  EXPECT_TRUE(app.WaitForDisconnect(id));
  EXPECT_FALSE(IsWindow(program.window)) << "the main window outlived the process";
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(program.tray_icon); }, std::chrono::seconds(5)))
      << "the tray icon stayed";
  for (const ProcessEntry& left : ProcessesNamed(kProgramFileName)) {
    EXPECT_NE(left.id, id) << "the process is still listed";
    if (std::find(successors.begin(), successors.end(), left.id) != successors.end()) continue;
    EXPECT_NE(left.parent_id, id) << "process " << left.id << " started by it is still running";
  }
  EXPECT_EQ(program.process.StandardError(), "");
}

void ExpectCoreLoadFailure(ChildProcess& program) {
  const std::optional<ShownMessageBox> box = WaitForMessageBox(program.id());
  ASSERT_TRUE(box) << "no message box; exit code " << program.WaitForExit(std::chrono::milliseconds(0)).value_or(0);
  EXPECT_EQ(box->caption, kErrorCaption);
  EXPECT_EQ(box->text, kCoreLoadFailedText);
  EXPECT_EQ(FindMainWindow(program.id()), nullptr);
  ASSERT_TRUE(AnswerMessageBox(box->window));
  EXPECT_EQ(program.WaitForExit(), 1u);
}

HWND OpenTrayMenu(const ShownProgram& program) {
  if (!ClickTrayIcon(program.tray_icon, TrayClick::kRight)) return nullptr;
  HWND menu = nullptr;
  WaitUntil([&] { return (menu = FindVisibleMenu(program.id())) != nullptr; }, std::chrono::seconds(10));
  return menu;
}

bool ChooseFirstMenuItem(const ShownProgram& program, HWND menu) { return ChooseWith(program, menu, VK_DOWN); }

bool ChooseLastMenuItem(const ShownProgram& program, HWND menu) { return ChooseWith(program, menu, VK_UP); }

bool ChooseExitMenuItem(const ShownProgram& program, HWND menu) { return ChooseWith(program, menu, VK_UP, 2); }

ForegroundBystander::ForegroundBystander()
    : window_(CreateWindowExW(0, L"STATIC", L"bystander", WS_OVERLAPPED | WS_VISIBLE, 700, 600, 200, 100, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr)) {
  SetForegroundWindow(window_.get());
}

bool ForegroundBystander::TookForeground() const {
  return window_ && WaitUntil([&] { return GetForegroundWindow() == window_.get(); }, std::chrono::seconds(5));
}

std::string Describe(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  for (const std::string& argument : arguments) out << '[' << argument << ']';
  return out.str();
}

}  // namespace talvor::test
