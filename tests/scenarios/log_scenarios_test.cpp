// The log seen from outside: what the program's processes leave in it, what
// never goes in, and a log that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/log_folder.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableMap;
using flutter::EncodableValue;
using standins::MethodReply;

bool AnyLineHas(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line + "\n";
  return joined;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The relaunch of `first` with `payload`, its clean end, and the second
// instance shown, its launch consumed and closed. The second's id.
DWORD RelaunchConsumeAndClose(AppConnection& app, ShownProgram& first, const std::string& payload) {
  const TrayIconWatch tray;
  const EncodableValue arguments(EncodableMap{{EncodableValue("payloadJson"), EncodableValue(payload)}});
  const std::optional<MethodReply> relaunched =
      app.CallMethod(kRuntimeChannel, "relaunchElevatedForTun", arguments, first.id());
  EXPECT_TRUE(relaunched && relaunched->kind == MethodReply::Kind::kSuccess);
  const std::optional<DWORD> second_id = app.WaitForNewProcess();
  if (!second_id) {
    ADD_FAILURE() << app.Describe();
    return 0;
  }
  std::optional<ChildProcess> adopted = ChildProcess::Adopt(*second_id);
  EXPECT_TRUE(adopted);
  if (!adopted) return 0;
  ShownProgram second(std::move(*adopted));
  ExpectCleanEnd(app, first, {second.id()});
  EXPECT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, second.id()));
  second.window = FindMainWindow(second.id());
  second.tray_icon = tray.WaitForNewIcon();
  const std::optional<MethodReply> consumed =
      app.CallMethod(kRuntimeChannel, "consumePendingTunLaunch", EncodableValue(), second.id());
  EXPECT_TRUE(consumed && consumed->value == EncodableValue(payload));
  PostMessageW(second.window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, second);
  return second.id();
}

class LogScenario : public InstallationCopyTest {
 protected:
  void SetUp() override {
    InstallationCopyTest::SetUp();
    ASSERT_FALSE(local_app_data_.path().empty());
  }

  std::vector<std::string> Lines() const { return ReadLogLines(local_app_data_.LogFolder()); }

  const ScopedLocalAppData local_app_data_;
};

TEST_F(LogScenario, ABrokenInstallationsBoxTextIsInTheLog) {
  fs::remove(Installation() / "talvor.dll");
  std::optional<ChildProcess> program = StartProgram(Installation());
  ASSERT_TRUE(program);
  ExpectCoreLoadFailure(*program);

  const std::vector<std::string> lines = LogLinesOf(Lines(), program->id());
  EXPECT_TRUE(AnyLineHas(lines,
                         " ERROR box: Talvor VPN - Error: Unable to load talvor.dll.\\nMake sure the file is placed "
                         "next to talvor_app.exe.\\n\\nBuild step: make lib-windows"))
      << Joined(lines);
  EXPECT_TRUE(AnyLineHas(lines, " INFO exit: exit code 1")) << Joined(lines);
}

TEST_F(LogScenario, ATunHandOverLeavesLinesOfBothInstances) {
  // The hand-over runs only from a copy under Program Files.
  const std::optional<BundleCopy> installed = InstalledCopy();
  ASSERT_TRUE(installed);
  AppConnection app;
  std::optional<ShownProgram> first = StartShown(app, installed->path());
  ASSERT_TRUE(first);
  const DWORD first_id = first->id();
  const DWORD second_id = RelaunchConsumeAndClose(app, *first, "{\"mode\": \"tun\"}");
  ASSERT_NE(second_id, 0u);

  const std::vector<std::string> all = Lines();
  const std::vector<std::string> firsts = LogLinesOf(all, first_id);
  const std::vector<std::string> seconds = LogLinesOf(all, second_id);
  EXPECT_TRUE(AnyLineHas(firsts, " start: version 1.0.0+14, Windows ")) << Joined(all);
  EXPECT_TRUE(AnyLineHas(firsts, " relaunch: started, process " + std::to_string(second_id))) << Joined(all);
  EXPECT_TRUE(AnyLineHas(firsts, " exit: exit code 0")) << Joined(all);
  EXPECT_TRUE(AnyLineHas(seconds, " start: version 1.0.0+14, Windows ")) << Joined(all);
  EXPECT_TRUE(AnyLineHas(seconds, ", arguments: pending launch")) << Joined(all);
  EXPECT_TRUE(AnyLineHas(seconds, " pending: accepted: %USERPROFILE%\\")) << Joined(all);
  EXPECT_TRUE(AnyLineHas(seconds, " pending: consumed: 15 bytes, file deleted")) << Joined(all);
  EXPECT_TRUE(AnyLineHas(seconds, " exit: exit code 0")) << Joined(all);
  const std::optional<std::wstring> profile = EnvironmentVariable(L"USERPROFILE");
  ASSERT_TRUE(profile);
  EXPECT_EQ(Lower(Joined(all)).find(Lower(Utf8(*profile))), std::string::npos) << Joined(all);
}

TEST_F(LogScenario, ALinkAndALaunchPayloadLeaveTheirTokenNowhereInTheLogFolder) {
  const std::string token = "tok" + std::to_string(GetTickCount64()) + "x" + std::to_string(GetCurrentProcessId());
  // The hand-over runs only from a copy under Program Files.
  const std::optional<BundleCopy> installed = InstalledCopy();
  ASSERT_TRUE(installed);
  AppConnection app;
  std::optional<ShownProgram> first = StartShown(app, installed->path());
  ASSERT_TRUE(first);

  const std::string link = "talvor://connect?token=" + token;
  std::optional<ChildProcess> handing = StartProgram(installed->path(), {std::wstring(link.begin(), link.end())});
  ASSERT_TRUE(handing);
  EXPECT_EQ(handing->WaitForExit(), 0u);
  const std::optional<AppEvent> delivered = app.WaitForEvent(AppEventKind::kDeepLink, first->id());
  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->text, link);

  ASSERT_NE(RelaunchConsumeAndClose(app, *first, "{\"token\": \"" + token + "\"}"), 0u);

  const std::vector<std::string> handing_lines = LogLinesOf(Lines(), handing->id());
  EXPECT_TRUE(AnyLineHas(handing_lines, " handoff: process " + std::to_string(first->id()) + " asked to come forward"))
      << Joined(handing_lines);
  EXPECT_TRUE(AnyLineHas(handing_lines, "arguments: link talvor: of " + std::to_string(link.size()) + " bytes"))
      << Joined(handing_lines);
  EXPECT_EQ(AllBytesBelow(local_app_data_.path()).find(token), std::string::npos);
}

TEST_F(LogScenario, ALogFolderThatIsAFileChangesNothingTheUserSees) {
  const fs::path logs = fs::path(local_app_data_.path()) / L"Talvor VPN" / L"logs";
  fs::create_directories(logs.parent_path());
  ASSERT_TRUE(WriteFileBytes(logs, "not a folder"));

  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Installation());
  ASSERT_TRUE(program);
  const std::optional<MethodReply> reply = app.CallMethod(kRuntimeChannel, "isProcessElevated");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->kind, MethodReply::Kind::kSuccess);
  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
  EXPECT_EQ(ReadFileBytes(logs), "not a folder");
}

// The tray menu's last item shows the log folder in the system's Explorer,
// started by the program itself.
TEST_F(LogScenario, TheTrayMenusLastItemShowsTheLogFolderInExplorer) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Installation());
  ASSERT_TRUE(program);
  HWND menu = OpenTrayMenu(*program);
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(ChooseLastMenuItem(*program, menu));

  DWORD explorer = 0;
  EXPECT_TRUE(WaitUntil([&] {
    for (const ProcessEntry& entry : ProcessesNamed(L"explorer.exe")) {
      if (entry.parent_id == program->id()) explorer = entry.id;
    }
    return explorer != 0;
  }));
  if (explorer != 0) {
    const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, explorer));
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ASSERT_TRUE(process && QueryFullProcessImageNameW(process.get(), 0, image, &length));
    // Wine runs C:\windows\explorer.exe as its copy in system32.
    const std::string started = Lower(Utf8(std::wstring(image, length)));
    EXPECT_TRUE(started == "c:\\windows\\explorer.exe" || started == "c:\\windows\\system32\\explorer.exe")
        << started;
    EXPECT_TRUE(EndProcessById(explorer, std::chrono::milliseconds(0)));
  }
  EXPECT_TRUE(AnyLineHas(LogLinesOf(Lines(), program->id()),
                         " INFO tray: log folder shown by explorer.exe, process " + std::to_string(explorer)));
  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

}  // namespace
}  // namespace talvor::test
