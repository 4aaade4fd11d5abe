// The main window and the tray icon of the running program: the first
// display, the tray channel, the tray's commands, hiding to the tray and
// coming back. (Closing from the title bar and from the tray menu's "Выход"
// is StopScenario in whole_program_scenarios_test.cpp; the exit command also
// ends the second process of the TUN relaunch scenario.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "codec/encodable_value.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableMap;
using flutter::EncodableValue;
using standins::MethodReply;

constexpr LONG kWindowWidth = 440;
constexpr LONG kWindowHeight = 850;
constexpr wchar_t kDisconnectedTooltip[] = L"Talvor VPN \u2014 Отключено";

fs::path Bundle() { return BundleDirectory().lexically_normal(); }

EncodableValue Status(bool connected, const std::string& server_name) {
  return EncodableValue(EncodableMap{{EncodableValue("connected"), EncodableValue(connected)},
                                     {EncodableValue("canToggle"), EncodableValue(true)},
                                     {EncodableValue("serverName"), EncodableValue(server_name)}});
}

// Calls the tray channel's "updateStatus" and expects success without a value.
void ExpectStatusAccepted(AppConnection& app, const ShownProgram& program, const EncodableValue& status) {
  const std::optional<MethodReply> reply = app.CallMethod(kTrayChannel, "updateStatus", status, program.id());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->kind, MethodReply::Kind::kSuccess) << standins::DescribeReply(*reply);
  EXPECT_TRUE(reply->value.IsNull()) << standins::DescribeReply(*reply);
}

size_t OutgoingCalls(const AppConnection& app, const std::string& channel, DWORD process_id) {
  const std::vector<AppEvent> events = app.Events();
  return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const AppEvent& event) {
    return event.kind == AppEventKind::kOutgoing && event.channel == channel && event.process_id == process_id;
  }));
}

// The display's DPI for this user: 96 unless LogPixels says otherwise.
DWORD DesktopDpi() {
  const std::optional<RegistryValue> value =
      ReadRegistryValue(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels");
  if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) return 96;
  DWORD dpi = 0;
  std::copy(value->bytes.begin(), value->bytes.end(), reinterpret_cast<uint8_t*>(&dpi));
  return dpi;
}

TEST(WindowScenario, StaysHiddenUntilTheFirstFrameThenShowsAtTheComputedPlace) {
  ASSERT_EQ(DesktopDpi(), 96u) << "this scenario measures at 96 DPI";
  RECT work_area{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0));
  const LONG origin_x = work_area.left + std::max<LONG>((work_area.right - work_area.left - kWindowWidth) / 2, 0);
  const LONG origin_y = work_area.top + std::max<LONG>((work_area.bottom - work_area.top - kWindowHeight) / 2, 0);

  AppConnection::Options options;
  options.hold_welcome = true;
  AppConnection app(options);
  std::optional<ChildProcess> program = StartProgram(Bundle());
  ASSERT_TRUE(program);
  ASSERT_EQ(app.WaitForNewProcess(), program->id());

  // The engine is being created inside the window's creation: the window
  // exists and nothing is drawn yet.
  const HWND window = FindMainWindow(program->id());
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(ReadWindowState(window).visible);
  ASSERT_TRUE(app.Welcome(program->id()));
  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kEngineCreated, program->id()));
  EXPECT_FALSE(app.WaitForEvent(AppEventKind::kFirstFrame, program->id(), std::chrono::milliseconds(0)));

  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, program->id()));
  const WindowState shown = ReadWindowState(window);
  EXPECT_TRUE(shown.visible);
  EXPECT_FALSE(shown.minimised);
  EXPECT_FALSE(shown.maximised);
  EXPECT_EQ(shown.client.cx, kWindowWidth);
  EXPECT_EQ(shown.client.cy, kWindowHeight);
  EXPECT_EQ(shown.frame.left, origin_x);
  EXPECT_EQ(shown.frame.top, origin_y);
  // Caption, system menu and minimise box; no sizing border, no maximise box.
  EXPECT_EQ(shown.style & 0x00CA0000u, 0x00CA0000u);
  EXPECT_EQ(shown.style & static_cast<DWORD>(WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(program->WaitForExit(), 0u);
}

TEST(TrayScenario, UpdateStatusIsAnsweredWithNoValueAndShownInTheTray) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);
  EXPECT_TRUE(WaitForTrayIconState(program->tray_icon, L"Talvor VPN", TrayBadge::kGrey))
      << "tooltip " << TrayIconTooltip(program->tray_icon).size() << " chars, badge "
      << ToString(TrayIconBadge(program->tray_icon));

  ExpectStatusAccepted(app, *program, Status(true, "Хельсинки 2"));
  EXPECT_TRUE(WaitForTrayIconState(program->tray_icon, L"Talvor VPN \u2014 Подключено (Хельсинки 2)",
                                   TrayBadge::kGreen))
      << ToString(TrayIconBadge(program->tray_icon));

  ExpectStatusAccepted(app, *program, Status(false, "Хельсинки 2"));
  EXPECT_TRUE(WaitForTrayIconState(program->tray_icon, kDisconnectedTooltip, TrayBadge::kGrey));

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

TEST(TrayScenario, ToggleCommandAsksTheApplicationOnce) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);
  const size_t before = OutgoingCalls(app, kTrayChannel, program->id());

  // As the tray menu delivers its choice.
  PostMessageW(program->window, WM_COMMAND, kTrayToggleCommand, 0);
  const std::optional<AppEvent> toggle = app.WaitForOutgoing(kTrayChannel, "toggleConnection", program->id());
  ASSERT_TRUE(toggle) << app.Describe();
  EXPECT_TRUE(toggle->method_arguments.IsNull());
  EXPECT_FALSE(toggle->reply_expected);
  // A call answered afterwards proves that the command was handled in full.
  ASSERT_TRUE(app.CallMethod(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), program->id()));
  EXPECT_EQ(OutgoingCalls(app, kTrayChannel, program->id()), before + 1);

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

// Through Wine's notification area, which takes version 4 and sends
// NIN_SELECT for a single click.
TEST(TrayScenario, MinimiseHidesToTheTrayAndASingleOrDoubleClickBringsTheWindowBack) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);

  for (const TrayClick click : {TrayClick::kSingle, TrayClick::kDouble}) {
    SCOPED_TRACE(click == TrayClick::kSingle ? "single click" : "double click");
    // As the title bar's minimise button does.
    PostMessageW(program->window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    // Hidden, so without a taskbar button; the tray icon stays.
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(program->window); }));
    EXPECT_TRUE(IsWindow(program->tray_icon));
    const ForegroundBystander bystander;
    ASSERT_TRUE(bystander.TookForeground());

    ASSERT_TRUE(ClickTrayIcon(program->tray_icon, click));
    // Seen from another process, a window being restored is visible and no
    // longer minimised a moment before it has its size back: wait for the size.
    EXPECT_TRUE(WaitUntil([&] {
      const WindowState state = ReadWindowState(program->window);
      return state.visible && !state.minimised && state.foreground && state.client.cx > 0;
    })) << "visible " << IsWindowVisible(program->window) << ", minimised " << IsIconic(program->window);
    const WindowState restored = ReadWindowState(program->window);
    EXPECT_EQ(restored.client.cx, kWindowWidth);
    EXPECT_EQ(restored.client.cy, kWindowHeight);
  }

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

// A right click comes as WM_RBUTTONUP and then WM_CONTEXTMENU with the
// click's point: the menu opens there, not at the cursor, with its owner in
// the foreground so that it takes the keyboard.
TEST(TrayScenario, RightClickOpensTheMenuAtTheClickWithItsOwnerInTheForeground) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Bundle());
  ASSERT_TRUE(program);
  const ForegroundBystander bystander;
  ASSERT_TRUE(bystander.TookForeground());
  ASSERT_TRUE(SetCursorPos(900, 700)) << "the cursor away from the icon";

  const std::optional<POINT> click = ClickTrayIcon(program->tray_icon, TrayClick::kRight);
  ASSERT_TRUE(click);
  HWND menu = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (menu = FindVisibleMenu(program->id())) != nullptr; }));
  // Up and to the left of the point; the screen's edge may push it over the
  // point (Wine's notification area sits in the screen's corner).
  RECT frame{};
  GetWindowRect(menu, &frame);
  EXPECT_TRUE(frame.left <= click->x && click->x <= frame.right && frame.top <= click->y &&
              click->y <= frame.bottom)
      << "menu " << frame.left << "," << frame.top << ".." << frame.right << "," << frame.bottom << ", click "
      << click->x << "," << click->y;
  EXPECT_EQ(GetForegroundWindow(), program->window);

  PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(WaitUntil([&] { return FindVisibleMenu(program->id()) == nullptr; }));

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

}  // namespace
}  // namespace talvor::test
