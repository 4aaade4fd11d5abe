#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/tray/tray_icon.h"
#include "tests/tray/icon_pixels.h"

namespace talvor::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records every request that would go to the notification area and answers
// it with `accept`.
class ShellRecorder {
 public:
  struct Call {
    DWORD message;
    NOTIFYICONDATAW data;
  };

  TrayShellNotifier Notifier() {
    return [this](DWORD message, NOTIFYICONDATAW* data) {
      calls.push_back({message, *data});
      return accept ? TRUE : FALSE;
    };
  }

  std::vector<DWORD> Messages() const {
    std::vector<DWORD> messages;
    for (const Call& call : calls) messages.push_back(call.message);
    return messages;
  }

  std::vector<Call> calls;
  bool accept = true;
};

std::wstring Tooltip(const NOTIFYICONDATAW& data) { return data.szTip; }

// The badge colour of an image the tray shows (the test icons are 32 px).
uint32_t BadgeColorOf(HICON image) {
  const IconPixels pixels = ReadColorPixels(image);
  if (pixels.width != 32) return 0xFFFFFFFFu;
  return Rgb(pixels.At(25, 25));
}

class TrayIconTest : public ::testing::Test {
 protected:
  TrayIconTest() : base_icon_(MakeSolidIcon(32, 0xFF1030C0u)), tray_(shell_.Notifier()) {}

  // Any window will do as the owner: requests are recorded, not sent.
  HWND Owner() const { return GetDesktopWindow(); }

  const NOTIFYICONDATAW& LastData() const { return shell_.calls.back().data; }

  UniqueIcon base_icon_;
  ShellRecorder shell_;
  TrayIcon tray_;
};

TEST_F(TrayIconTest, CreateAddsTheGreyIconWithTheProductName) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  ASSERT_THAT(shell_.Messages(), ElementsAre(static_cast<DWORD>(NIM_ADD)));
  const NOTIFYICONDATAW& data = LastData();
  EXPECT_EQ(data.cbSize, 976u) << "the full current structure of a 64-bit build";
  EXPECT_EQ(data.hWnd, Owner());
  EXPECT_EQ(data.uID, 1u);
  EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(data.uCallbackMessage, 0x0401u);
  EXPECT_EQ(Tooltip(data), L"Talvor VPN");
  EXPECT_EQ(BadgeColorOf(data.hIcon), DibRgb(kDisconnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, TooltipNamesStateAndServer) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  tray_.UpdateStatus(true, true, L"Amsterdam");
  EXPECT_EQ(shell_.calls.back().message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(LastData().uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN \u2014 Подключено (Amsterdam)");
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kConnectedBadgeColor));

  tray_.UpdateStatus(true, true, L"");
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN \u2014 Подключено");

  tray_.UpdateStatus(false, true, L"Amsterdam");
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN \u2014 Отключено");
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kDisconnectedBadgeColor));

  EXPECT_EQ(shell_.calls.size(), 4u);
}

TEST_F(TrayIconTest, LongServerNameIsCutAt127Characters) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  const std::wstring server(200, L'x');

  tray_.UpdateStatus(true, true, server);

  const std::wstring full = L"Talvor VPN \u2014 Подключено (" + server + L")";
  EXPECT_EQ(Tooltip(LastData()), full.substr(0, 127));
}

TEST_F(TrayIconTest, StatusBeforeCreateIsKeptForCreate) {
  tray_.UpdateStatus(true, true, L"Oslo");
  EXPECT_THAT(shell_.calls, IsEmpty());

  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  ASSERT_THAT(shell_.Messages(), ElementsAre(static_cast<DWORD>(NIM_ADD)));
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN");
}

TEST_F(TrayIconTest, CreateOnAnAddedIconChangesNothing) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  const HICON shown = LastData().hIcon;

  EXPECT_TRUE(tray_.Create(Owner(), nullptr));

  EXPECT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(BadgeColorOf(shown), DibRgb(kDisconnectedBadgeColor)) << "the image still exists";
}

TEST_F(TrayIconTest, RemoveThenCreateAddsAgainWithTheCurrentState) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  tray_.Remove();
  EXPECT_EQ(shell_.calls.back().message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(LastData().uID, 1u);
  EXPECT_FALSE(tray_.IsInNotificationArea());

  tray_.UpdateStatus(true, true, L"Oslo");
  tray_.Remove();
  EXPECT_EQ(shell_.calls.size(), 2u) << "no requests while removed";

  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  EXPECT_EQ(shell_.calls.back().message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, DestructionRemovesTheAddedIcon) {
  ShellRecorder shell;
  {
    TrayIcon tray(shell.Notifier());
    ASSERT_TRUE(tray.Create(Owner(), base_icon_.get()));
  }
  EXPECT_THAT(shell.Messages(),
              ElementsAre(static_cast<DWORD>(NIM_ADD), static_cast<DWORD>(NIM_DELETE)));
}

TEST_F(TrayIconTest, NullBaseIconFallsBackToTheSystemIcon) {
  ASSERT_TRUE(tray_.Create(Owner(), nullptr));
  EXPECT_NE(LastData().hIcon, nullptr);
}

TEST_F(TrayIconTest, UnreadableBaseIconAddsNothing) {
  UniqueIcon destroyed = MakeSolidIcon(16, 0xFF1030C0u);
  const HICON stale = destroyed.get();
  destroyed.reset();

  EXPECT_FALSE(tray_.Create(Owner(), stale));
  EXPECT_THAT(shell_.calls, IsEmpty());
  EXPECT_FALSE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, RefusedAddLeavesTheIconOutAndUpdatesSilent) {
  shell_.accept = false;
  EXPECT_FALSE(tray_.Create(Owner(), base_icon_.get()));
  EXPECT_FALSE(tray_.IsInNotificationArea());

  tray_.UpdateStatus(true, true, L"Oslo");
  EXPECT_EQ(shell_.calls.size(), 1u);

  shell_.accept = true;
  EXPECT_TRUE(tray_.Create(Owner(), base_icon_.get())) << "a later Create tries again";
}

TEST_F(TrayIconTest, TaskbarRecreationAddsTheIconAgainAsItWasShown) {
  const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  ASSERT_NE(taskbar_created, 0u);
  EXPECT_TRUE(tray_.HandleTaskbarCreated(taskbar_created)) << "before Create";
  EXPECT_THAT(shell_.calls, IsEmpty());
  EXPECT_FALSE(tray_.HandleTaskbarCreated(WM_USER + 7));

  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  tray_.UpdateStatus(true, true, L"Oslo");
  shell_.calls.clear();

  EXPECT_TRUE(tray_.HandleTaskbarCreated(taskbar_created));

  ASSERT_THAT(shell_.Messages(), ElementsAre(static_cast<DWORD>(NIM_ADD)));
  const NOTIFYICONDATAW& data = LastData();
  EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(data.uCallbackMessage, 0x0401u);
  EXPECT_EQ(data.uID, 1u);
  EXPECT_EQ(data.hWnd, Owner());
  EXPECT_EQ(Tooltip(data), L"Talvor VPN \u2014 Подключено (Oslo)");
  EXPECT_EQ(BadgeColorOf(data.hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());

  tray_.Remove();
  shell_.calls.clear();
  EXPECT_TRUE(tray_.HandleTaskbarCreated(taskbar_created));
  EXPECT_THAT(shell_.calls, IsEmpty()) << "a removed icon stays removed";
}

TEST_F(TrayIconTest, TaskbarRecreationThatFailsIsRetriedWithTheLatestState) {
  const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  shell_.accept = false;
  EXPECT_TRUE(tray_.HandleTaskbarCreated(taskbar_created));
  EXPECT_FALSE(tray_.IsInNotificationArea()) << "the owner must not hide to a missing icon";

  shell_.calls.clear();
  tray_.UpdateStatus(true, false, L"Riga");
  EXPECT_THAT(shell_.calls, IsEmpty());

  shell_.accept = true;
  EXPECT_TRUE(tray_.HandleTaskbarCreated(taskbar_created));
  ASSERT_THAT(shell_.Messages(), ElementsAre(static_cast<DWORD>(NIM_ADD)));
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN \u2014 Подключено (Riga)");
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, FirstAddRefusedByTheShellIsMadeWhenTheTaskbarAppears) {
  const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  shell_.accept = false;
  EXPECT_FALSE(tray_.Create(Owner(), base_icon_.get()));
  tray_.UpdateStatus(true, true, L"Oslo");

  shell_.accept = true;
  shell_.calls.clear();
  EXPECT_TRUE(tray_.HandleTaskbarCreated(taskbar_created));
  ASSERT_THAT(shell_.Messages(), ElementsAre(static_cast<DWORD>(NIM_ADD)));
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());

  tray_.Remove();
  shell_.accept = false;
  EXPECT_FALSE(tray_.Create(Owner(), base_icon_.get()));
  tray_.Remove();
  shell_.accept = true;
  shell_.calls.clear();
  EXPECT_TRUE(tray_.HandleTaskbarCreated(taskbar_created));
  EXPECT_THAT(shell_.calls, IsEmpty()) << "a removed icon is not asked for again";
}

TEST_F(TrayIconTest, CallbackMessagesRouteOnlyTheIconsDoubleClick) {
  std::vector<unsigned int> commands;
  tray_.SetCommandHandler([&](unsigned int id) { commands.push_back(id); });
  const HWND window = Owner();

  EXPECT_FALSE(tray_.HandleCallbackMessage(window, 2, WM_LBUTTONDBLCLK)) << "another icon";
  EXPECT_FALSE(tray_.HandleCallbackMessage(window, 1, WM_LBUTTONDOWN));
  EXPECT_FALSE(tray_.HandleCallbackMessage(window, 1, WM_LBUTTONUP));
  EXPECT_FALSE(tray_.HandleCallbackMessage(window, 1, WM_MOUSEMOVE));
  EXPECT_FALSE(tray_.HandleCallbackMessage(window, 1, WM_RBUTTONDOWN));
  EXPECT_THAT(commands, IsEmpty());

  EXPECT_TRUE(tray_.HandleCallbackMessage(window, 1, MAKELPARAM(WM_LBUTTONDBLCLK, 3)));
  EXPECT_THAT(commands, ElementsAre(kTrayCommandOpen));

  TrayIcon without_handler(ShellRecorder().Notifier());
  EXPECT_TRUE(without_handler.HandleCallbackMessage(window, 1, WM_LBUTTONDBLCLK));
}

TEST_F(TrayIconTest, TrayCommandsReachTheHandlerOthersDoNot) {
  EXPECT_TRUE(tray_.HandleCommand(kTrayCommandToggle)) << "handled without a handler";
  EXPECT_TRUE(tray_.HandleCommand(kTrayCommandExit));

  std::vector<unsigned int> first;
  std::vector<unsigned int> second;
  tray_.SetCommandHandler([&](unsigned int id) { first.push_back(id); });
  tray_.SetCommandHandler([&](unsigned int id) { second.push_back(id); });

  for (unsigned int id : {40001u, 40002u, 40003u}) EXPECT_TRUE(tray_.HandleCommand(id));
  for (unsigned int id : {0u, 40000u, 40004u, 2u}) EXPECT_FALSE(tray_.HandleCommand(id));

  EXPECT_THAT(first, IsEmpty()) << "the replaced handler is gone";
  EXPECT_THAT(second, ElementsAre(40001u, 40002u, 40003u));
}

// The program's own path, through the real notification area.
TEST(TrayIconShell, AddsAndRemovesTheIcon) {
  const UniqueIcon base = MakeSolidIcon(32, 0xFF1030C0u);
  const HWND owner = CreateWindowExW(0, L"STATIC", L"tray owner", WS_OVERLAPPED, 0, 0, 10, 10,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  const UniqueWindow owner_window(owner);
  TrayIcon tray;

  ASSERT_TRUE(tray.Create(owner, base.get()));
  EXPECT_TRUE(tray.IsInNotificationArea());
  tray.UpdateStatus(true, true, L"Oslo");
  tray.Remove();
  EXPECT_FALSE(tray.IsInNotificationArea());
}

}  // namespace
}  // namespace talvor::test
