#include "runner/elevation/tun_relaunch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "runner/elevation/pending_tun_launch.h"
#include "runner/elevation/windows_error.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"
#include "tests/runner/process_probe.h"
#include "tests/support/child_process.h"
#include "tests/support/message_box.h"
#include "tests/support/system_state.h"
#include "tests/support/wait.h"

namespace {

using talvor::test::FileExists;
using talvor::test::ReadFileBytes;
using talvor::test::ScopedEnvironmentVariable;
using talvor::test::ScratchDirectory;

const std::wstring kPrefix = L"--talvor-pending-tun-launch=";
const std::string kPayload = "{\"server\": \"Франкфурт 2\", \"mode\": \"tun\"}";

// What one ShellExecuteExW call was given.
struct ShellCall {
  DWORD size = 0;
  ULONG mask = 0;
  HWND window = nullptr;
  std::wstring verb, file, parameters, directory;
  int show = 0;
  std::wstring launch_file;  // the path inside the parameters
  std::optional<std::string> launch_file_bytes;
};

ShellCall Record(const SHELLEXECUTEINFOW& info) {
  ShellCall call;
  call.size = info.cbSize;
  call.mask = info.fMask;
  call.window = info.hwnd;
  call.verb = info.lpVerb ? info.lpVerb : L"";
  call.file = info.lpFile ? info.lpFile : L"";
  call.parameters = info.lpParameters ? info.lpParameters : L"";
  call.directory = info.lpDirectory ? info.lpDirectory : L"";
  call.show = info.nShow;
  // --talvor-pending-tun-launch="<path>"
  if (call.parameters.size() > kPrefix.size() + 2) {
    call.launch_file = call.parameters.substr(kPrefix.size() + 1,
                                              call.parameters.size() - kPrefix.size() - 2);
  }
  call.launch_file_bytes = ReadFileBytes(call.launch_file);
  return call;
}

// The window whose closing ends a successful relaunch.
class MainWindowStandIn {
 public:
  MainWindowStandIn()
      : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr)) {}
  HWND get() const { return window_.get(); }
  bool ReceivedClose() {
    MSG message;
    return PeekMessageW(&message, window_.get(), WM_CLOSE, WM_CLOSE, PM_REMOVE) != FALSE;
  }

 private:
  talvor::UniqueWindow window_;
};

// Each test gets a temporary directory of its own (with blanks in its path),
// so that every file a relaunch leaves behind can be seen.
class RelaunchTest : public testing::Test {
 protected:
  std::vector<std::wstring> LaunchFiles() const {
    std::vector<std::wstring> files;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(temporary_.path()), error)) {
      files.push_back(entry.path().wstring());
    }
    return files;
  }

  ScratchDirectory temporary_{L"temp with blanks"};
  ScopedEnvironmentVariable tmp_{L"TMP", temporary_.path() + L"\\"};
  ScopedEnvironmentVariable temp_{L"TEMP", temporary_.path() + L"\\"};

  // System calls that place the executable at `executable`, installed where
  // standard users cannot change it (its folder taken for Program Files), and answer the shell call with
  // `shell_result` (failing with `error`).
  ElevatedLaunchCalls Calls(const std::wstring& executable, bool shell_result, DWORD error = 0) {
    ElevatedLaunchCalls calls;
    calls.gather_installation_facts = [executable] {
      return InstallationFacts{executable, ERROR_SUCCESS, ParentDirectory(executable), true, true};
    };
    calls.shell_execute = [this, shell_result, error](SHELLEXECUTEINFOW* info) {
      call_ = Record(*info);
      ++shell_calls_;
      if (!shell_result) SetLastError(error);
      return shell_result;
    };
    return calls;
  }

  MainWindowStandIn window_;
  ShellCall call_;
  int shell_calls_ = 0;
  std::string message_ = "stale";
  bool cancelled_ = true;
};

TEST_F(RelaunchTest, StartsThisProgramAsAdministratorWithTheQuotedLaunchFile) {
  const std::wstring executable = L"C:\\Program Files\\Talvor VPN\\talvor_app.exe";
  EXPECT_TRUE(RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, &cancelled_,
                                          Calls(executable, true)));
  EXPECT_EQ(message_, "");
  EXPECT_FALSE(cancelled_);

  EXPECT_EQ(call_.size, sizeof(SHELLEXECUTEINFOW));
  EXPECT_EQ(call_.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
  EXPECT_EQ(call_.window, window_.get());
  EXPECT_EQ(call_.verb, L"runas");
  EXPECT_EQ(call_.file, executable);
  EXPECT_EQ(call_.parameters, kPrefix + L"\"" + call_.launch_file + L"\"");
  EXPECT_EQ(call_.directory, L"C:\\Program Files\\Talvor VPN");
  EXPECT_EQ(call_.show, SW_SHOWNORMAL);
  EXPECT_TRUE(IsPendingTunLaunchFilePath(call_.launch_file));
  EXPECT_EQ(call_.launch_file_bytes, kPayload);

  // The file now belongs to the new instance; this one closes.
  EXPECT_EQ(LaunchFiles(), std::vector<std::wstring>{call_.launch_file});
  EXPECT_TRUE(window_.ReceivedClose());
}

TEST_F(RelaunchTest, ADeclinedPromptIsACancellationWithTheSystemsText) {
  EXPECT_FALSE(RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, &cancelled_,
                                           Calls(L"C:\\T\\talvor_app.exe", false,
                                                 ERROR_CANCELLED)));
  EXPECT_TRUE(cancelled_);
  EXPECT_EQ(message_, NarrowUtf8(FormatWindowsError(ERROR_CANCELLED)));
  EXPECT_EQ(call_.launch_file_bytes, kPayload);
  EXPECT_TRUE(LaunchFiles().empty());
  EXPECT_FALSE(window_.ReceivedClose());
}

TEST_F(RelaunchTest, OtherShellFailuresAreNoCancellation) {
  EXPECT_FALSE(RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, &cancelled_,
                                           Calls(L"C:\\T\\talvor_app.exe", false,
                                                 ERROR_ACCESS_DENIED)));
  EXPECT_FALSE(cancelled_);
  EXPECT_EQ(message_, NarrowUtf8(FormatWindowsError(ERROR_ACCESS_DENIED)));
  EXPECT_TRUE(LaunchFiles().empty());
  EXPECT_FALSE(window_.ReceivedClose());
}

// The shell can fail without an error code: "the operation completed
// successfully" must not become the reason shown for a failure.
TEST_F(RelaunchTest, AFailureWithoutAnErrorCodeLeavesTheMessageToTheCaller) {
  EXPECT_FALSE(RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, &cancelled_,
                                           Calls(L"C:\\T\\talvor_app.exe", false, ERROR_SUCCESS)));
  EXPECT_EQ(message_, "");
  EXPECT_FALSE(cancelled_);
  EXPECT_TRUE(LaunchFiles().empty());
}

// A copy that standard users can change may not be started with
// administrator rights: whatever lies beside it would run with them.
TEST_F(RelaunchTest, OnlyACopyInstalledWhereUsersCannotChangeItIsStarted) {
  const std::wstring downloads = L"C:\\Users\\u\\Downloads\\Talvor VPN\\talvor_app.exe";
  struct Case {
    const char* what;
    InstallationFacts installation;
    std::string message;
  } cases[] = {
      {"a user's folder", {downloads, ERROR_SUCCESS, L"C:\\Program Files", true, true},
       "Для режима TUN Talvor VPN должен быть установлен для всех пользователей. "
       "Установите программу установщиком и запустите её из меню «Пуск»."},
      {"a reparse point on the way",
       {L"C:\\Program Files\\T\\talvor_app.exe", ERROR_SUCCESS, L"C:\\Program Files", true, false},
       "Для режима TUN Talvor VPN должен быть установлен для всех пользователей. "
       "Установите программу установщиком и запустите её из меню «Пуск»."},
      {"no path to be had", {L"", ERROR_INSUFFICIENT_BUFFER, L"C:\\Program Files", false, false},
       NarrowUtf8(FormatWindowsError(ERROR_INSUFFICIENT_BUFFER))},
  };
  for (const Case& c : cases) {
    ElevatedLaunchCalls calls = Calls(L"unused", true);
    calls.gather_installation_facts = [&c] { return c.installation; };
    EXPECT_FALSE(RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, &cancelled_, calls))
        << c.what;
    EXPECT_EQ(message_, c.message) << c.what;
    EXPECT_FALSE(cancelled_);
    EXPECT_EQ(shell_calls_, 0) << c.what;
    EXPECT_TRUE(LaunchFiles().empty()) << c.what << ": no launch file is written";
    EXPECT_FALSE(window_.ReceivedClose());
  }
}

TEST_F(RelaunchTest, AFileThatCannotBeWrittenIsReportedBeforeAnythingStarts) {
  ScratchDirectory scratch(L"notemp");
  const std::wstring missing = scratch.File(L"missing") + L"\\";
  ScopedEnvironmentVariable tmp(L"TMP", missing);
  ScopedEnvironmentVariable temp(L"TEMP", missing);
  EXPECT_FALSE(RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, &cancelled_,
                                           Calls(L"C:\\T\\talvor_app.exe", true)));
  EXPECT_FALSE(message_.empty());
  EXPECT_NE(message_, "stale");
  EXPECT_FALSE(cancelled_);
  EXPECT_EQ(shell_calls_, 0);
}

TEST_F(RelaunchTest, AMissingExecutableFailsTheRealShellCallAndWithdrawsTheFile) {
  ElevatedLaunchCalls calls = Calls(temporary_.File(L"no such folder\\talvor_app.exe"), true);
  calls.shell_execute = [this](SHELLEXECUTEINFOW* info) {
    call_ = Record(*info);
    return ShellExecuteExW(info) != FALSE;
  };
  // The shell tells the user itself, in a box of its own.
  bool relaunched = true;
  const auto box = talvor::test::RunAnsweringMessageBox([&] {
    relaunched = RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, nullptr, calls);
  });
  EXPECT_TRUE(box.has_value());
  EXPECT_FALSE(relaunched);
  EXPECT_EQ(call_.launch_file_bytes, kPayload);
  EXPECT_TRUE(LaunchFiles().empty());
  // Windows leaves the error code behind; Wine's shell leaves none, and then
  // the caller's own text is used.
  EXPECT_TRUE(message_.empty() ||
              message_ == NarrowUtf8(FormatWindowsError(ERROR_FILE_NOT_FOUND)) ||
              message_ == NarrowUtf8(FormatWindowsError(ERROR_PATH_NOT_FOUND)))
      << message_;
  EXPECT_FALSE(window_.ReceivedClose());
}

// Under Wine "runas" starts the program without a prompt: the new instance
// sees the launch file as one argument, even in a folder with blanks.
TEST_F(RelaunchTest, TheNewInstanceGetsTheLaunchFileAsOneArgument) {
  ScratchDirectory reports(L"reports");
  const std::wstring report_path = reports.File(L"report.txt");
  talvor::test::DirectProbeReportsTo(report_path);

  const std::wstring probe = talvor::test::ProbeProgramPath();
  ElevatedLaunchCalls calls = Calls(probe, true);
  calls.shell_execute = [this](SHELLEXECUTEINFOW* info) {
    call_ = Record(*info);
    return ShellExecuteExW(info) != FALSE;
  };
  ASSERT_TRUE(
      RelaunchElevatedWithPayload(window_.get(), kPayload, &message_, &cancelled_, calls));
  EXPECT_TRUE(window_.ReceivedClose());

  std::optional<talvor::test::ProbeReport> report;
  ASSERT_TRUE(talvor::test::WaitUntil(
      [&] { return (report = talvor::test::ReadProbeReport(report_path)).has_value(); }));
  talvor::test::EndProcessById(report->process_id);

  std::vector<std::string> arguments = report->arguments;
  ASSERT_EQ(arguments.size(), 1u);
  const std::wstring handed_over = ExtractPendingTunLaunchPath(&arguments, true);
  EXPECT_EQ(handed_over, call_.launch_file);
  EXPECT_NE(handed_over.find(L"temp with blanks"), std::wstring::npos);
  EXPECT_TRUE(arguments.empty());
  EXPECT_EQ(report->executable_directory, NarrowUtf8(ParentDirectory(probe)));
  EXPECT_EQ(ReadFileBytes(handed_over), kPayload);
}

}  // namespace
