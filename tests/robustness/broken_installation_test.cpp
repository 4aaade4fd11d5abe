// Installations with a part missing or wrong. Each ends with a clear outcome,
// and the program writes nothing beyond what its start-up writes before the
// part is needed: the URL scheme, when the program gets to run at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;

// What the loader reports for a process whose imported library is missing.
constexpr DWORD kDllNotFound = 0xC0000135;

// Names, sizes and times of everything below a folder.
std::map<fs::path, std::pair<uintmax_t, fs::file_time_type>> Listing(const fs::path& folder) {
  std::map<fs::path, std::pair<uintmax_t, fs::file_time_type>> listing;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const uintmax_t size = entry.is_regular_file() ? entry.file_size() : 0;
    listing[fs::relative(entry.path(), folder)] = {size, entry.last_write_time()};
  }
  return listing;
}

class BrokenInstallation : public InstallationCopyTest {
 protected:
  // What is there once the installation has been broken, before the start.
  void TakeSnapshot() {
    files_ = Listing(Installation());
    pending_launches_ = TemporaryFiles(L"tlp", L".tmp");
    software_keys_ = RegistrySubkeyNames(HKEY_CURRENT_USER, L"Software");
    class_keys_ = RegistrySubkeyNames(HKEY_CURRENT_USER, L"Software\\Classes");
  }

  void ExpectNothingWrittenBut(bool url_scheme) {
    EXPECT_EQ(Listing(Installation()), files_) << "the installation changed";
    EXPECT_EQ(TemporaryFiles(L"tlp", L".tmp"), pending_launches_);
    EXPECT_EQ(RegistrySubkeyNames(HKEY_CURRENT_USER, L"Software"), software_keys_);
    std::vector<std::wstring> classes = RegistrySubkeyNames(HKEY_CURRENT_USER, L"Software\\Classes");
    EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, kUrlSchemeKey), url_scheme);
    if (url_scheme) classes.erase(std::find(classes.begin(), classes.end(), std::wstring(L"talvor")));
    EXPECT_EQ(classes, class_keys_);
  }

  std::map<fs::path, std::pair<uintmax_t, fs::file_time_type>> files_;
  std::vector<fs::path> pending_launches_;
  std::vector<std::wstring> software_keys_;
  std::vector<std::wstring> class_keys_;
};

TEST_F(BrokenInstallation, WithoutDataTheEngineCannotStartAndTheProgramSaysSoAndEndsWithOne) {
  fs::remove_all(Installation() / "data");
  TakeSnapshot();
  AppConnection app;
  const TrayIconWatch tray;
  std::optional<ChildProcess> program = StartProgram(Installation());
  ASSERT_TRUE(program);

  // Started from Explorer, the program has no standard error: a box says why.
  const std::optional<ShownMessageBox> box = WaitForMessageBox(program->id());
  ASSERT_TRUE(box) << "no error box";
  EXPECT_EQ(box->caption, kErrorCaption);
  EXPECT_EQ(box->text,
            L"The folder \"data\" next to talvor_app.exe is missing, so the application cannot start."
            L"\n\nPlease reinstall Talvor VPN.");
  EXPECT_EQ(FindMainWindow(program->id()), nullptr) << "the window is gone before the box shows";
  ASSERT_TRUE(AnswerMessageBox(box->window));
  EXPECT_EQ(program->WaitForExit(), 1u);
  EXPECT_EQ(program->StandardErrorLines(), std::vector<std::string>{"Failed to create view controller."});
  const std::optional<AppEvent> failed = app.WaitForEvent(AppEventKind::kEngineFailed, program->id());
  ASSERT_TRUE(failed) << app.Describe();
  std::cout << "[ outcome ] no data folder: exit code 1, engine: " << failed->text << std::endl;
  EXPECT_FALSE(app.WaitForEvent(AppEventKind::kFirstFrame, program->id(), std::chrono::milliseconds(0)));
  EXPECT_TRUE(tray.NewIcons().empty()) << "a tray icon was left behind";
  ExpectNothingWrittenBut(/*url_scheme=*/true);
}

// The engine refuses a damaged compiled application, as it refuses any of its
// data files that it cannot use.
TEST_F(BrokenInstallation, ADamagedApplicationIsExplainedAndTheProgramEndsWithOne) {
  ASSERT_TRUE(WriteFileBytes(Installation() / "data" / "app.so", "MZ\x90 cut short by a failed update"));
  TakeSnapshot();
  std::optional<ChildProcess> program = StartProgram(Installation());
  ASSERT_TRUE(program);

  const std::optional<ShownMessageBox> box = WaitForMessageBox(program->id());
  ASSERT_TRUE(box) << "no error box";
  EXPECT_EQ(box->caption, kErrorCaption);
  EXPECT_EQ(box->text,
            L"The application could not be started: its files in the folder \"data\" or the engine library "
            L"flutter_windows.dll next to talvor_app.exe are damaged.\n\nPlease reinstall Talvor VPN.");
  ASSERT_TRUE(AnswerMessageBox(box->window));
  EXPECT_EQ(program->WaitForExit(), 1u);
  EXPECT_EQ(program->StandardErrorLines(), std::vector<std::string>{"Failed to create view controller."});
  ExpectNothingWrittenBut(/*url_scheme=*/true);
}

// A file in place of the core library that is no library. (A directory or an
// empty file in its place fails to load the same way: the unit tests of the
// check show each.)
TEST_F(BrokenInstallation, ADamagedCoreLibraryShowsTheLoadErrorAndEndsWithOne) {
  ASSERT_TRUE(WriteFileBytes(Installation() / "talvor.dll", "this is no library\r\n"));
  TakeSnapshot();
  std::optional<ChildProcess> program = StartProgram(Installation());
  ASSERT_TRUE(program);

  ExpectCoreLoadFailure(*program);
  if (HasFatalFailure()) return;
  EXPECT_EQ(program->StandardError(), "");
  ExpectNothingWrittenBut(/*url_scheme=*/true);
}

// The program imports the plugin libraries, so the system's loader refuses to
// start it before any of its code runs. (Windows also shows its own "system
// error" box; Wine only ends the process.) That it imports each of the three
// is a test of the bundle; this shows the loader's refusal for one.
TEST_F(BrokenInstallation, WithoutAPluginLibraryTheLoaderRefusesToStartTheProgram) {
  const wchar_t kLibrary[] = L"app_links_plugin.dll";
  ASSERT_TRUE(fs::remove(Installation() / kLibrary));
  TakeSnapshot();
  AppConnection app;
  std::optional<ChildProcess> program = StartProgram(Installation());
  ASSERT_TRUE(program);

  const std::optional<DWORD> exit_code = program->WaitForExit();
  ASSERT_TRUE(exit_code);
  EXPECT_EQ(*exit_code, kDllNotFound) << std::hex << *exit_code;
  std::cout << "[ outcome ] without " << Utf8(kLibrary) << ": exit code 0x" << std::hex << *exit_code << std::dec
            << ", no window, no engine" << std::endl;
  EXPECT_FALSE(app.WaitForNewProcess(std::chrono::milliseconds(0)));
  EXPECT_EQ(program->StandardError(), "");
  ExpectNothingWrittenBut(/*url_scheme=*/false);
}

}  // namespace
}  // namespace talvor::test
