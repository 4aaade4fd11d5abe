// The tray channel between the application and the tray icon, and the tray
// menu's commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "codec/standard_method_codec.h"
#include "tests/main_window/main_window_fixture.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::unique_ptr<EncodableValue> Status(EncodableMap entries) {
  return std::make_unique<EncodableValue>(std::move(entries));
}

struct MenuItem {
  std::wstring text;
  bool grayed = false;
};

HWND FindShownMenuOf(DWORD thread_id) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread_id,
      [](HWND window, LPARAM result) -> BOOL {
        wchar_t class_name[16] = {};
        GetClassNameW(window, class_name, 16);
        if (std::wstring(class_name) != L"#32768" || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Sends `window` the tray icon's context-menu request and reads the menu's
// first item while the menu is shown; the menu is then dismissed.
MenuItem FirstMenuItem(HWND window, TrayCallback request) {
  const DWORD ui_thread = GetCurrentThreadId();
  std::atomic<bool> menu_returned{false};
  MenuItem item;
  std::thread reader([&] {
    HWND menu_window = nullptr;
    WaitUntil([&] { return (menu_window = FindShownMenuOf(ui_thread)) != nullptr; });
    if (menu_window != nullptr) {
      const auto menu = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
      wchar_t text[64] = {};
      GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
      item = {text, (GetMenuState(menu, 0, MF_BYPOSITION) & MF_GRAYED) != 0};
    }
    for (int attempt = 0; attempt < 40 && !menu_returned; ++attempt) {
      PostMessageW(window, WM_CANCELMODE, 0, 0);
      WaitUntil([&] { return menu_returned.load(); }, std::chrono::milliseconds(500));
    }
  });
  EXPECT_EQ(SendMessageW(window, kTrayCallbackMessage, request.wparam, request.lparam), 0);
  menu_returned = true;
  reader.join();
  return item;
}

// Before the first frame the window has no tray icon: shown by other means
// (a deep-link hand-off, the application's activation), it minimises to the
// taskbar, and a status reported meanwhile is what the icon shows once added.
TEST_F(MainWindowTest, BeforeTheFirstFrameTheWindowMinimisesToTheTaskbarAndTheIconWaitsWithTheStatus) {
  ASSERT_TRUE(OpenWindow());
  EXPECT_EQ(Call(kTrayChannel, "updateStatus",
                 Status({{"connected", true}, {"canToggle", true}, {"serverName", "Рига"}})),
            "success null");
  window_->ActivateMainWindow();
  ShowWindow(Handle(), SW_MINIMIZE);
  EXPECT_FALSE(window_->IsHiddenToTray());
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_TRUE(IsIconic(Handle()));
  EXPECT_THAT(tray_calls_, IsEmpty());

  ASSERT_TRUE(engine_.RenderFrame());
  EXPECT_THAT(TrayRequests(), ElementsAre("NIM_ADD Talvor VPN \u2014 Подключено (Рига)", "NIM_SETVERSION 4"));
  EXPECT_FALSE(IsIconic(Handle())) << "the first frame shows the window in its normal state";
  ShowWindow(Handle(), SW_MINIMIZE);
  EXPECT_TRUE(window_->IsHiddenToTray());
  EXPECT_FALSE(IsWindowVisible(Handle()));
}

TEST_F(MainWindowTest, UpdateStatusShowsTheStateTakingDefaultsForMissingOrMistypedEntries) {
  const auto MenuRequest = [this] {
    return notification_area_.Callback(Handle(), kTrayIconId, WM_CONTEXTMENU, {600, 500});
  };
  ASSERT_TRUE(OpenWindow());
  ASSERT_TRUE(engine_.RenderFrame());
  tray_calls_.clear();
  StderrCapture diagnostics;

  EXPECT_EQ(Call(kTrayChannel, "updateStatus"), "success null");
  EXPECT_EQ(Call(kTrayChannel, "updateStatus", std::make_unique<EncodableValue>("connected")),
            "success null");
  EXPECT_THAT(TrayRequests(), IsEmpty()) << "no map, no change";

  EXPECT_EQ(Call(kTrayChannel, "updateStatus",
                 Status({{"connected", false}, {"canToggle", false}, {"serverName", "Рига"}})),
            "success null");
  const MenuItem greyed = FirstMenuItem(Handle(), MenuRequest());
  EXPECT_EQ(greyed.text, L"Подключить");
  EXPECT_TRUE(greyed.grayed);

  EXPECT_EQ(Call(kTrayChannel, "updateStatus", Status({{"connected", true}})), "success null");
  const MenuItem toggle = FirstMenuItem(Handle(), MenuRequest());
  EXPECT_EQ(toggle.text, L"Отключить");
  EXPECT_FALSE(toggle.grayed) << "canToggle absent counts as true";

  EXPECT_EQ(Call(kTrayChannel, "updateStatus",
                 Status({{"connected", true}, {"canToggle", true}, {"serverName", "Осло 2"}})),
            "success null");
  EXPECT_EQ(Call(kTrayChannel, "updateStatus",
                 Status({{"connected", 1}, {"canToggle", 0}, {"serverName", 7}})),
            "success null");
  EXPECT_FALSE(FirstMenuItem(Handle(), MenuRequest()).grayed) << "canToggle 0 is no bool";

  EXPECT_THAT(TrayRequests(), ElementsAre("NIM_MODIFY Talvor VPN \u2014 Отключено",
                                          "NIM_MODIFY Talvor VPN \u2014 Подключено",
                                          "NIM_MODIFY Talvor VPN \u2014 Подключено (Осло 2)",
                                          "NIM_MODIFY Talvor VPN \u2014 Отключено"));

  EXPECT_EQ(Call(kTrayChannel, "UpdateStatus", Status({{"connected", true}})), "not implemented");
  EXPECT_EQ(Call(kTrayChannel, "updatestatus", Status({{"connected", true}})), "not implemented");
  EXPECT_EQ(TrayRequests().size(), 4u);
  EXPECT_THAT(diagnostics.Lines(), IsEmpty());
}

TEST_F(MainWindowTest, ToggleCommandAsksTheApplicationOnceAndChangesNothingElse) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  engine_.ClearCalls();
  tray_calls_.clear();

  EXPECT_EQ(SendMessageW(Handle(), WM_COMMAND, kTrayCommandToggle, 0), 0);

  const auto sends = engine_.CallsTo("FlutterDesktopMessengerSend");
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].name, kTrayChannel);
  const auto expected = flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
      flutter::MethodCall<EncodableValue>("toggleConnection", nullptr));
  EXPECT_EQ(sends[0].bytes, *expected) << "null arguments";
  EXPECT_EQ(engine_.CountOf("FlutterDesktopMessengerSendWithReply"), 0u) << "no reply awaited";
  EXPECT_THAT(tray_calls_, IsEmpty());
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(window_->IsHiddenToTray());
}

// A single click, Enter or Space on the icon, a double click and the menu's
// "Открыть" each bring the window back.
TEST_F(MainWindowTest, OpenCommandClicksAndTheKeyboardBringTheHiddenWindowBack) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  const struct {
    const char* way;
    std::function<LRESULT()> open;
  } ways[] = {
      {"single click", [this] { return SendTrayCallback(NIN_SELECT, {1250, 1010}); }},
      {"Enter or Space", [this] { return SendTrayCallback(NIN_KEYSELECT, {1250, 1010}); }},
      {"double click", [this] { return SendTrayCallback(WM_LBUTTONDBLCLK, {1250, 1010}); }},
      {"menu", [this] { return SendMessageW(Handle(), WM_COMMAND, kTrayCommandOpen, 0); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.way);
    ShowWindow(Handle(), SW_MINIMIZE);
    ASSERT_FALSE(IsWindowVisible(Handle()));

    EXPECT_EQ(way.open(), 0);

    EXPECT_FALSE(window_->IsHiddenToTray());
    EXPECT_TRUE(IsWindowVisible(Handle()));
    EXPECT_FALSE(IsIconic(Handle()));
    EXPECT_EQ(GetForegroundWindow(), Handle());
  }
}

TEST_F(MainWindowTest, ExitCommandClosesTheWindowRemovingTrayIconThenChannelsThenEngine) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  const HWND handle = Handle();
  bool parts_held_at_tray_removal = false;
  on_tray_request_ = [this, &parts_held_at_tray_removal](DWORD message) {
    if (message != NIM_DELETE) return;
    parts_held_at_tray_removal = window_->tray_channel() != nullptr &&
                                 window_->view_controller() != nullptr &&
                                 engine_.CountOf("FlutterDesktopViewControllerDestroy") == 0;
  };

  EXPECT_EQ(SendMessageW(handle, WM_COMMAND, kTrayCommandExit, 0), 0);
  EXPECT_TRUE(IsWindow(handle)) << "closed by a posted message";
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(handle); }));

  EXPECT_EQ(window_->NativeHandle(), nullptr);
  EXPECT_EQ(TrayRequests().back(), "NIM_DELETE");
  EXPECT_TRUE(parts_held_at_tray_removal);
  EXPECT_TRUE(window_->view_gone);
  EXPECT_FALSE(window_->parts_held_when_view_went) << "channels and controller let go first";
  EXPECT_EQ(window_->tray_channel(), nullptr);
  EXPECT_EQ(engine_.CountOf("FlutterDesktopViewControllerDestroy"), 1u);
  EXPECT_FALSE(engine_.engine_alive());
}

}  // namespace
}  // namespace talvor::test
