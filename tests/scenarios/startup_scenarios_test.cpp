// Start-up of the bundle's program: the installation checks with their
// message boxes and exit codes, the URL scheme written on every normal start,
// and the hand-off of a single deep link to a running instance.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;

constexpr wchar_t kWarningCaption[] = L"Talvor VPN - Warning";
constexpr wchar_t kDriverMissingText[] =
    L"wintun.dll was not found next to talvor_app.exe.\n\n"
    L"TUN mode is unavailable. The app will continue in SOCKS5/HTTP proxy mode.\n"
    L"For TUN support, place wintun.dll beside the executable.";

std::wstring InstalledProgram(const fs::path& installation) { return (installation / kProgramFileName).wstring(); }

using StartupScenario = InstallationCopyTest;

TEST_F(StartupScenario, WithoutTheCoreLibraryShowsTheLoadErrorAndEndsWithOne) {
  fs::remove(Installation() / "talvor.dll");
  std::optional<ChildProcess> program = StartProgram(Installation());
  ASSERT_TRUE(program);

  ExpectCoreLoadFailure(*program);
  if (HasFatalFailure()) return;
  ExpectUrlSchemeRegisteredFor(InstalledProgram(Installation()));
  EXPECT_EQ(program->StandardError(), "");
}

TEST_F(StartupScenario, CoreLibraryLackingExportsNamesTheFirstMissingOneAndEndsWithOne) {
  fs::copy_file(CoreVariant("lacking_bridge_stop_and_version"), Installation() / "talvor.dll",
                fs::copy_options::overwrite_existing);
  std::optional<ChildProcess> program = StartProgram(Installation());
  ASSERT_TRUE(program);

  const std::optional<ShownMessageBox> box = WaitForMessageBox(program->id());
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, kErrorCaption);
  EXPECT_EQ(box->text, L"talvor.dll is loaded but a required export is missing: BridgeStop");
  ASSERT_TRUE(AnswerMessageBox(box->window));
  // Only one box: the second missing export is never reported.
  EXPECT_EQ(program->WaitForExit(), 1u);
  EXPECT_EQ(FindMainWindow(program->id()), nullptr);
  ExpectUrlSchemeRegisteredFor(InstalledProgram(Installation()));
}

// wintun.dll missing. (A directory in its place warns the same: the unit
// tests of the check show it.)
TEST_F(StartupScenario, WithoutTheDriverLibraryWarnsThenOpensTheWindow) {
  ASSERT_TRUE(fs::remove(Installation() / "wintun.dll"));

  AppConnection app;
  std::optional<ChildProcess> started = StartProgram(Installation());
  ASSERT_TRUE(started);
  const std::optional<ShownMessageBox> box = WaitForMessageBox(started->id());
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, kWarningCaption);
  EXPECT_EQ(box->text, kDriverMissingText);
  EXPECT_EQ(FindMainWindow(started->id()), nullptr) << "the window came before the warning";
  EXPECT_TRUE(app.ConnectedProcesses().empty()) << "the engine started before the warning";
  const TrayIconWatch tray;
  ASSERT_TRUE(AnswerMessageBox(box->window));

  // The start-up goes on: the engine, the window and its first frame.
  ShownProgram program(std::move(*started));
  ASSERT_EQ(app.WaitForNewProcess(), program.id());
  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, program.id()));
  program.window = FindMainWindow(program.id());
  program.tray_icon = tray.WaitForNewIcon();
  EXPECT_TRUE(IsWindowVisible(program.window));
  ExpectUrlSchemeRegisteredFor(InstalledProgram(Installation()));

  PostMessageW(program.window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, program);
}

// A window of the main window's class and title stands in for a running
// instance, minimised, while another window is in the foreground.
class HandOffScenario : public StartupScenario {
 protected:
  void SetUp() override {
    StartupScenario::SetUp();
    ASSERT_NE(running_.get(), nullptr);
    ShowWindow(running_.get(), SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(running_.get()));
    ASSERT_TRUE(bystander_.TookForeground());
  }

  RunningInstanceWindow running_;
  ForegroundBystander bystander_;
};

TEST_F(HandOffScenario, OneLinkIsHandedToTheRunningInstanceWhichComesForward) {
  // No connection: the program must end before it would start an engine.
  std::optional<ChildProcess> program = StartProgram(Installation(), {L"talvor://x"});
  ASSERT_TRUE(program);
  // While waiting, this thread answers the hand-off's messages.
  EXPECT_EQ(program->WaitForExit(std::chrono::seconds(10)), 0u);

  EXPECT_EQ(running_.links(), std::vector<std::string>{"talvor://x"});
  const WindowState state = ReadWindowState(running_.get());
  EXPECT_TRUE(state.visible);
  EXPECT_FALSE(state.minimised);
  EXPECT_TRUE(state.foreground);
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kUrlSchemeKey)) << "the hand-off wrote to the registry";
  EXPECT_EQ(program->StandardError(), "");
}

// Any argument but one link is a normal start, even with an instance
// running.
class NoHandOffScenario : public HandOffScenario,
                          public testing::WithParamInterface<std::vector<std::wstring>> {};

TEST_P(NoHandOffScenario, StartsNormallyAndLeavesTheRunningInstanceAlone) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Installation(), GetParam());
  ASSERT_TRUE(program);
  EXPECT_NE(program->window, running_.get());
  std::vector<std::string> expected;
  for (const std::wstring& argument : GetParam()) expected.emplace_back(argument.begin(), argument.end());
  EXPECT_EQ(program->entrypoint_arguments, expected) << Describe(program->entrypoint_arguments);
  EXPECT_TRUE(running_.links().empty());
  EXPECT_TRUE(IsIconic(running_.get()));
  ExpectUrlSchemeRegisteredFor(InstalledProgram(Installation()));

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

INSTANTIATE_TEST_SUITE_P(Arguments, NoHandOffScenario,
                         testing::Values(std::vector<std::wstring>{L"talvor://x", L"talvor://y"},
                                         std::vector<std::wstring>{L"--minimised"}),
                         [](const testing::TestParamInfo<std::vector<std::wstring>>& info) {
                           return info.param.size() == 2 ? "TwoLinks" : "AnOrdinaryArgument";
                         });

}  // namespace
}  // namespace talvor::test
