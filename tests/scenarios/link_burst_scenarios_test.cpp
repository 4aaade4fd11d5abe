// Bursts of starts, and starts while the program runs: one instance starts,
// and every other start without arguments or with one link hands over to
// that instance's window once it takes links. One copy a user.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;

constexpr wchar_t kWarningCaption[] = L"Talvor VPN - Warning";

std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

size_t MainWindowsOf(const std::vector<DWORD>& process_ids) {
  size_t count = 0;
  for (DWORD id : process_ids) count += TopLevelWindowsOf(id, kMainWindowClass).size();
  return count;
}

// The first start is held in its start-up by the tunnel driver warning (no
// wintun.dll), before it has a window, while the second start comes: both
// find no window, as two starts at the same moment do.
using LinkBurstScenario = InstallationCopyTest;

TEST_F(LinkBurstScenario, TwoLinkStartsTogetherEndInOneWindowThatGotBothLinks) {
  fs::remove(Installation() / "wintun.dll");
  const std::string first_link = "talvor://connect?server=1";
  const std::string second_link = "talvor://connect?server=2";
  AppConnection app;
  const TrayIconWatch tray;

  std::optional<ChildProcess> first = StartProgram(Installation(), {Ascii(first_link)});
  ASSERT_TRUE(first);
  const std::optional<ShownMessageBox> first_warning = WaitForMessageBox(first->id());
  ASSERT_TRUE(first_warning);
  ASSERT_EQ(first_warning->caption, kWarningCaption);
  ASSERT_EQ(FindMainWindow(first->id()), nullptr);

  std::optional<ChildProcess> second = StartProgram(Installation(), {Ascii(second_link)});
  ASSERT_TRUE(second);
  // The second start waits for the first: no start-up of its own.
  EXPECT_FALSE(WaitForMessageBox(second->id(), std::chrono::milliseconds(1500)))
      << "the second start shows a box of its own";
  ASSERT_TRUE(AnswerMessageBox(first_warning->window));

  // It goes on as soon as the first's window takes links, well before its
  // 10-second bound.
  EXPECT_EQ(second->WaitForExit(std::chrono::seconds(5)), 0u);
  EXPECT_EQ(second->StandardError(), "");
  const std::optional<DWORD> engine_process = app.WaitForNewProcess();
  ASSERT_EQ(engine_process, first->id()) << app.Describe();
  const std::optional<AppEvent> created = app.WaitForEvent(AppEventKind::kEngineCreated, first->id());
  ASSERT_TRUE(created);
  EXPECT_EQ(created->arguments, std::vector<std::string>{first_link}) << Describe(created->arguments);
  const std::optional<AppEvent> handed = app.WaitForEvent(AppEventKind::kDeepLink, first->id());
  ASSERT_TRUE(handed) << app.Describe();
  EXPECT_EQ(handed->text, second_link);

  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, first->id()));
  EXPECT_EQ(MainWindowsOf({first->id(), second->id()}), 1u);
  EXPECT_FALSE(app.WaitForNewProcess(std::chrono::milliseconds(0))) << "a second engine started";

  ShownProgram program(std::move(*first));
  program.window = FindMainWindow(program.id());
  program.tray_icon = tray.WaitForNewIcon();
  PostMessageW(program.window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, program);
}

// The program hides in the tray; the user double-clicks its shortcut, twice
// at once even: both starts end with 0 and the one window comes back.
using SecondStartScenario = InstallationCopyTest;

TEST_F(SecondStartScenario, StartsWithoutArgumentsBringTheWindowBackFromTheTrayAndEnd) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Installation());
  ASSERT_TRUE(program);
  PostMessageW(program->window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(program->window); })) << "not hidden to the tray";
  const ForegroundBystander bystander;
  ASSERT_TRUE(bystander.TookForeground());

  std::optional<ChildProcess> second = StartProgram(Installation());
  std::optional<ChildProcess> third = StartProgram(Installation());
  ASSERT_TRUE(second && third);
  EXPECT_EQ(second->WaitForExit(std::chrono::seconds(10)), 0u);
  EXPECT_EQ(third->WaitForExit(std::chrono::seconds(10)), 0u);

  EXPECT_TRUE(WaitUntil([&] {
    const WindowState state = ReadWindowState(program->window);
    return state.visible && !state.minimised && state.foreground;
  })) << "the window did not come back to the foreground";
  EXPECT_EQ(MainWindowsOf({program->id(), second->id(), third->id()}), 1u);
  EXPECT_FALSE(app.WaitForNewProcess(std::chrono::milliseconds(0))) << "a second engine started";
  EXPECT_EQ(second->StandardError() + third->StandardError(), "");

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

// The first start shows the tunnel driver warning and has no window yet: a
// second start brings that box forward and ends, instead of a second copy
// with a second box behind it.
TEST_F(SecondStartScenario, AStartWhileTheFirstShowsItsWarningBringsTheBoxForwardAndEnds) {
  fs::remove(Installation() / "wintun.dll");
  AppConnection app;
  std::optional<ChildProcess> first = StartProgram(Installation());
  ASSERT_TRUE(first);
  const std::optional<ShownMessageBox> warning = WaitForMessageBox(first->id());
  ASSERT_TRUE(warning);
  ASSERT_EQ(warning->caption, kWarningCaption);
  const ForegroundBystander bystander;
  ASSERT_TRUE(bystander.TookForeground());

  std::optional<ChildProcess> second = StartProgram(Installation());
  ASSERT_TRUE(second);
  EXPECT_EQ(second->WaitForExit(std::chrono::seconds(5)), 0u) << "it waited for the box to be answered";
  EXPECT_TRUE(ReadWindowState(warning->window).foreground) << "the box was not brought forward";

  const TrayIconWatch tray;
  ASSERT_TRUE(AnswerMessageBox(warning->window));
  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, first->id()));
  EXPECT_EQ(MainWindowsOf({first->id(), second->id()}), 1u);
  ShownProgram program(std::move(*first));
  program.window = FindMainWindow(program.id());
  program.tray_icon = tray.WaitForNewIcon();
  PostMessageW(program.window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, program);
}

}  // namespace
}  // namespace talvor::test
