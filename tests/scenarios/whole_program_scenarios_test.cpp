// The whole program as a user meets it: arguments reaching the application,
// both channels answering it, the tray menu's toggle round trip, a link
// handed to an instance hidden in the tray, and the ways to stop. (The TUN
// launch across two processes is in tun_launch_scenarios_test.cpp.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using standins::MethodReply;

constexpr wchar_t kInitialTooltip[] = L"Talvor VPN";
constexpr wchar_t kDisconnectedTooltip[] = L"Talvor VPN \u2014 Отключено";
constexpr wchar_t kConnectedTooltip[] = L"Talvor VPN \u2014 Подключено (Oslo)";

fs::path Bundle() { return BundleDirectory().lexically_normal(); }

EncodableValue Status(bool connected) {
  return EncodableValue(EncodableMap{{EncodableValue("connected"), EncodableValue(connected)},
                                     {EncodableValue("serverName"), EncodableValue("Oslo")}});
}

std::string Explain(const std::optional<MethodReply>& reply) {
  return reply ? standins::DescribeReply(*reply) : std::string("no reply");
}

bool IsSuccessWith(const std::optional<MethodReply>& reply, const EncodableValue& value) {
  return reply && reply->kind == MethodReply::Kind::kSuccess && reply->value == value;
}

bool IsNotImplemented(const std::optional<MethodReply>& reply) {
  return reply && reply->kind == MethodReply::Kind::kNotImplemented;
}

std::string TrayStateText(HWND icon) {
  return Utf8(TrayIconTooltip(icon)) + ", badge " + ToString(TrayIconBadge(icon));
}

TEST(WholeProgram, DeepLinkAndOtherArgumentsReachTheApplicationUnchangedAndInOrder) {
  const std::vector<std::wstring> arguments = {L"talvor://connect?server=Хельсинки 2&mode=tun", L"--verbose", L"",
                                               L"второй аргумент", L"C:\\path with blanks\\", L"\"quoted\""};
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Bundle(), arguments);
  ASSERT_TRUE(program);
  std::vector<std::string> expected;
  for (const std::wstring& argument : arguments) expected.push_back(Utf8(argument));
  EXPECT_EQ(program->entrypoint_arguments, expected) << Describe(program->entrypoint_arguments);

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

TEST(WholeProgram, EachChannelAnswersTheApplication) {
  AppConnection::Options options;
  options.application_on = true;
  AppConnection app(options);
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);
  const DWORD id = program->id();

  // The built-in application's own calls at its start, with the replies it got.
  const std::optional<AppEvent> elevated = app.WaitForAppCall(kRuntimeChannel, "isProcessElevated", id);
  ASSERT_TRUE(elevated);
  // Wine reports every process as elevated.
  EXPECT_TRUE(IsSuccessWith(standins::DecodeMethodReply(elevated->reply.data(), elevated->reply.size()),
                            EncodableValue(true)));
  const std::optional<AppEvent> status = app.WaitForAppCall(kTrayChannel, "updateStatus", id);
  ASSERT_TRUE(status);
  EXPECT_TRUE(IsSuccessWith(standins::DecodeMethodReply(status->reply.data(), status->reply.size()),
                            EncodableValue()));

  // The test's calls on the tray channel.
  const auto tray = [&](const std::string& method, const EncodableValue& arguments) {
    return app.CallMethod(kTrayChannel, method, arguments, id);
  };
  std::optional<MethodReply> reply = tray("updateStatus", Status(false));
  EXPECT_TRUE(IsSuccessWith(reply, EncodableValue())) << Explain(reply);
  reply = tray("UpdateStatus", Status(false));
  EXPECT_TRUE(IsNotImplemented(reply)) << Explain(reply);

  // And on the runtime channel.
  const auto runtime = [&](const std::string& method, const EncodableValue& arguments = EncodableValue()) {
    return app.CallMethod(kRuntimeChannel, method, arguments, id);
  };
  reply = runtime("isProcessElevated");
  EXPECT_TRUE(IsSuccessWith(reply, EncodableValue(true))) << Explain(reply);
  reply = runtime("hasPendingTunLaunch");
  EXPECT_TRUE(IsSuccessWith(reply, EncodableValue(false))) << Explain(reply);
  reply = runtime("consumePendingTunLaunch");
  EXPECT_TRUE(IsSuccessWith(reply, EncodableValue())) << Explain(reply);
  reply = runtime("activateMainWindow");
  EXPECT_TRUE(IsSuccessWith(reply, EncodableValue())) << Explain(reply);
  reply = runtime("relaunchElevatedForTun", EncodableValue(EncodableList{EncodableValue("payloadJson")}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->kind, MethodReply::Kind::kError) << Explain(reply);
  EXPECT_EQ(reply->error_code, "invalid_arguments");
  EXPECT_EQ(reply->error_message, "Ожидались параметры elevated-запуска.");
  EXPECT_TRUE(reply->error_details.IsNull());
  reply = runtime("IsProcessElevated");
  EXPECT_TRUE(IsNotImplemented(reply)) << Explain(reply);

  EXPECT_TRUE(IsWindow(program->window)) << "a failed relaunch keeps the window";
  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

TEST(WholeProgram, TrayMenuToggleShowsTheNewStateOnlyWhenTheApplicationReportsIt) {
  AppConnection app;  // the test is the application
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);
  const DWORD id = program->id();
  const HWND icon = program->tray_icon;
  ASSERT_TRUE(WaitForTrayIconState(icon, kInitialTooltip, TrayBadge::kGrey)) << TrayStateText(icon);

  // Connect from the tray menu: the application is asked...
  HWND menu = OpenTrayMenu(*program);
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(ChooseFirstMenuItem(*program, menu));
  std::optional<AppEvent> toggle = app.WaitForOutgoing(kTrayChannel, "toggleConnection", id);
  ASSERT_TRUE(toggle) << app.Describe();
  EXPECT_TRUE(toggle->method_arguments.IsNull());
  // ...and until it answers with its state, the tray shows the old one.
  ASSERT_TRUE(app.CallMethod(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), id));
  EXPECT_EQ(TrayIconTooltip(icon), kInitialTooltip);
  EXPECT_NE(TrayIconBadge(icon), TrayBadge::kGreen);

  ASSERT_TRUE(IsSuccessWith(app.CallMethod(kTrayChannel, "updateStatus", Status(true), id), EncodableValue()));
  EXPECT_TRUE(WaitForTrayIconState(icon, kConnectedTooltip, TrayBadge::kGreen)) << TrayStateText(icon);

  // Disconnect the same way.
  menu = OpenTrayMenu(*program);
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(ChooseFirstMenuItem(*program, menu));
  toggle = app.WaitForOutgoing(kTrayChannel, "toggleConnection", id);
  ASSERT_TRUE(toggle);
  ASSERT_TRUE(app.CallMethod(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), id));
  EXPECT_EQ(TrayIconTooltip(icon), kConnectedTooltip);
  EXPECT_NE(TrayIconBadge(icon), TrayBadge::kGrey);
  ASSERT_TRUE(IsSuccessWith(app.CallMethod(kTrayChannel, "updateStatus", Status(false), id), EncodableValue()));
  EXPECT_TRUE(WaitForTrayIconState(icon, kDisconnectedTooltip, TrayBadge::kGrey)) << TrayStateText(icon);

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

TEST(WholeProgram, TrayMenuToggleRoundTripWithTheBuiltInApplication) {
  AppConnection::Options options;
  options.application_on = true;
  AppConnection app(options);
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);
  ASSERT_TRUE(app.WaitForAppCall(kTrayChannel, "updateStatus", program->id()));
  ASSERT_TRUE(WaitForTrayIconState(program->tray_icon, kDisconnectedTooltip, TrayBadge::kGrey))
      << TrayStateText(program->tray_icon);

  HWND menu = OpenTrayMenu(*program);
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(ChooseFirstMenuItem(*program, menu));
  // The application toggles and reports; the tray follows.
  ASSERT_TRUE(app.WaitForOutgoing(kTrayChannel, "toggleConnection", program->id()));
  const std::optional<AppEvent> report = app.WaitForAppCall(kTrayChannel, "updateStatus", program->id());
  ASSERT_TRUE(report);
  EXPECT_EQ(report->method_arguments.IsNull(), false);
  EXPECT_TRUE(WaitUntil([&] { return TrayIconBadge(program->tray_icon) == TrayBadge::kGreen; }))
      << TrayStateText(program->tray_icon);
  EXPECT_EQ(TrayIconTooltip(program->tray_icon).rfind(L"Talvor VPN \u2014 Подключено", 0), 0u)
      << TrayStateText(program->tray_icon);

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

TEST(WholeProgram, DeepLinkReachesTheInstanceHiddenInTheTrayWhichComesBack) {
  AppConnection app;
  std::optional<ShownProgram> running = StartShown(app, Bundle());
  ASSERT_TRUE(running);
  PostMessageW(running->window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(running->window); }));
  const ForegroundBystander bystander;
  ASSERT_TRUE(bystander.TookForeground());

  const std::string link = "talvor://connect?server=Oslo&id=7";
  std::optional<ChildProcess> second = StartProgram(Bundle(), {L"talvor://connect?server=Oslo&id=7"});
  ASSERT_TRUE(second);
  EXPECT_EQ(second->WaitForExit(std::chrono::seconds(10)), 0u);
  EXPECT_EQ(second->StandardError(), "");

  const std::optional<AppEvent> delivered = app.WaitForEvent(AppEventKind::kDeepLink, running->id());
  ASSERT_TRUE(delivered) << app.Describe();
  EXPECT_EQ(delivered->text, link);
  EXPECT_TRUE(WaitUntil([&] {
    const WindowState state = ReadWindowState(running->window);
    return state.visible && !state.minimised && state.foreground;
  }));
  EXPECT_FALSE(app.WaitForNewProcess(std::chrono::milliseconds(0))) << "the second process started an engine";

  PostMessageW(running->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *running);
}

// The ways the program is stopped: by the user, or by Windows' Restart
// Manager for an installer that needs its files. The TUN relaunch is
// TunLaunchScenario.RelaunchHandsThePayloadToASecondProcessOnce.
enum class Stop { kTitleBar, kTrayMenuExit, kCloseForInstallation };

class StopScenario : public testing::TestWithParam<Stop> {};

TEST_P(StopScenario, EndsWithZeroLeavingNothingBehind) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);
  if (GetParam() == Stop::kTitleBar) {
    // What the title bar's close button sends.
    PostMessageW(program->window, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (GetParam() == Stop::kTrayMenuExit) {
    HWND menu = OpenTrayMenu(*program);
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(ChooseExitMenuItem(*program, menu));
  } else {
    DWORD_PTR may_close = FALSE;
    ASSERT_NE(SendMessageTimeoutW(program->window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                                  5000, &may_close),
              0);
    EXPECT_EQ(may_close, static_cast<DWORD_PTR>(TRUE));
    SendMessageTimeoutW(program->window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 5000, nullptr);
  }
  ExpectCleanEnd(app, *program);
}

INSTANTIATE_TEST_SUITE_P(Ways, StopScenario,
                         testing::Values(Stop::kTitleBar, Stop::kTrayMenuExit, Stop::kCloseForInstallation),
                         [](const testing::TestParamInfo<Stop>& info) {
                           switch (info.param) {
                             case Stop::kTitleBar: return "TitleBar";
                             case Stop::kTrayMenuExit: return "TrayMenuExit";
                             default: return "CloseForInstallation";
                           }
                         });

}  // namespace
}  // namespace talvor::test
