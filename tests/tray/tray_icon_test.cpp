#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/tray/tray_icon.h"
#include "tests/support/fake_notification_area.h"
#include "tests/support/wine_tray.h"
#include "tests/tray/icon_pixels.h"

namespace talvor::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr DWORD kAdd = NIM_ADD;
constexpr DWORD kModify = NIM_MODIFY;
constexpr DWORD kDelete = NIM_DELETE;
constexpr DWORD kSetVersion = NIM_SETVERSION;
constexpr UINT kShowFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
constexpr UINT kStatusFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP;

std::wstring Tooltip(const NOTIFYICONDATAW& data) { return data.szTip; }

// The badge colour of an image the tray shows (the test icons are 32 px).
uint32_t BadgeColorOf(HICON image) {
  const IconPixels pixels = ReadColorPixels(image);
  if (pixels.width != 32) return 0xFFFFFFFFu;
  return Rgb(pixels.At(25, 25));
}

// Whether `icon` is still a live icon (not destroyed).
bool IconExists(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return true;
}

UINT TaskbarCreatedMessage() { return RegisterWindowMessageW(L"TaskbarCreated"); }

class TrayIconTest : public ::testing::Test {
 protected:
  TrayIconTest() : base_icon_(MakeSolidIcon(32, 0xFF1030C0u)), tray_(shell_.Notifier()) {}

  // Any window will do as the owner: requests go to the fake shell.
  HWND Owner() const { return GetDesktopWindow(); }

  const NOTIFYICONDATAW& LastData() const { return shell_.requests.back().data; }
  const NOTIFYICONDATAW& FirstData() const { return shell_.requests.front().data; }
  // The icon as the fake shell shows it now.
  const NOTIFYICONDATAW& Shown() const { return shell_.Shown(Owner(), kTrayIconId); }

  UniqueIcon base_icon_;
  FakeNotificationArea shell_;
  TrayIcon tray_;
};

TEST_F(TrayIconTest, CreateAddsTheGreyIconWithTheProductName) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  ASSERT_THAT(shell_.Messages(), ElementsAre(kAdd, kSetVersion));
  const NOTIFYICONDATAW& data = FirstData();
  EXPECT_EQ(data.cbSize, 976u) << "the full current structure of a 64-bit build";
  EXPECT_EQ(data.hWnd, Owner());
  EXPECT_EQ(data.uID, 1u);
  EXPECT_EQ(data.uFlags, 0x87u) << "message, icon, tooltip, and the standard tooltip shown";
  EXPECT_EQ(data.uCallbackMessage, 0x0401u);
  EXPECT_EQ(Tooltip(data), L"Talvor VPN");
  EXPECT_EQ(BadgeColorOf(data.hIcon), DibRgb(kDisconnectedBadgeColor));
  EXPECT_EQ(LastData().uID, 1u);
  EXPECT_EQ(Shown().uVersion, 4u);
  EXPECT_TRUE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, TooltipNamesStateAndServer) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  tray_.UpdateStatus(true, true, L"Amsterdam");
  EXPECT_EQ(shell_.requests.back().message, kModify);
  EXPECT_EQ(LastData().uFlags, kStatusFlags);
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN \u2014 Подключено (Amsterdam)");
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kConnectedBadgeColor));

  tray_.UpdateStatus(true, true, L"");
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN \u2014 Подключено");

  tray_.UpdateStatus(false, true, L"Amsterdam");
  EXPECT_EQ(Tooltip(LastData()), L"Talvor VPN \u2014 Отключено");
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kDisconnectedBadgeColor));

  EXPECT_EQ(shell_.requests.size(), 5u);
}

// The texts as UTF-16 code units, so that a compiler that misreads the
// sources' encoding cannot make the product and the test agree on mojibake.
TEST_F(TrayIconTest, TooltipTextsAreTheseCodeUnits) {
  const std::wstring connected_oslo = {
      0x0054, 0x0061, 0x006C, 0x0076, 0x006F, 0x0072, 0x0020, 0x0056, 0x0050, 0x004E,  // Talvor VPN
      0x0020, 0x2014, 0x0020,                                                          // " — "
      0x041F, 0x043E, 0x0434, 0x043A, 0x043B, 0x044E, 0x0447, 0x0435, 0x043D, 0x043E,  // Подключено
      0x0020, 0x0028, 0x004F, 0x0073, 0x006C, 0x006F, 0x0029};                         // " (Oslo)"
  const std::wstring disconnected = {
      0x0054, 0x0061, 0x006C, 0x0076, 0x006F, 0x0072, 0x0020, 0x0056, 0x0050, 0x004E,
      0x0020, 0x2014, 0x0020,
      0x041E, 0x0442, 0x043A, 0x043B, 0x044E, 0x0447, 0x0435, 0x043D, 0x043E};  // Отключено
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  tray_.UpdateStatus(true, true, L"Oslo");
  EXPECT_EQ(Tooltip(LastData()), connected_oslo);
  tray_.UpdateStatus(false, true, L"Oslo");
  EXPECT_EQ(Tooltip(LastData()), disconnected);
}

TEST_F(TrayIconTest, LongTooltipIsCutAt127UnitsNeverInsideACharacter) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  const std::wstring prefix = L"Talvor VPN \u2014 Подключено (";  // 25 units
  ASSERT_EQ(prefix.size(), 25u);

  tray_.UpdateStatus(true, true, std::wstring(200, L'x'));
  EXPECT_EQ(Tooltip(LastData()), prefix + std::wstring(102, L'x'));

  // U+1F600 is two units; here they would be units 127 and 128: left out.
  tray_.UpdateStatus(true, true, std::wstring(101, L'x') + L"\U0001F600" + L"tail");
  EXPECT_EQ(Tooltip(LastData()), prefix + std::wstring(101, L'x'));

  // Here they are units 126 and 127: they fit.
  tray_.UpdateStatus(true, true, std::wstring(100, L'x') + L"\U0001F600" + L"tail");
  EXPECT_EQ(Tooltip(LastData()), prefix + std::wstring(100, L'x') + L"\U0001F600");
}

TEST_F(TrayIconTest, StatusBeforeCreateIsKeptForCreate) {
  tray_.UpdateStatus(true, true, L"Oslo");
  EXPECT_THAT(shell_.requests, IsEmpty());

  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  ASSERT_THAT(shell_.Messages(), ElementsAre(kAdd, kSetVersion));
  EXPECT_EQ(BadgeColorOf(FirstData().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_EQ(Tooltip(FirstData()), L"Talvor VPN \u2014 Подключено (Oslo)");
}

TEST_F(TrayIconTest, CreateOnAnAddedIconChangesNothing) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  const HICON shown = LastData().hIcon;

  EXPECT_TRUE(tray_.Create(Owner(), nullptr));

  EXPECT_EQ(shell_.requests.size(), 2u);
  EXPECT_EQ(BadgeColorOf(shown), DibRgb(kDisconnectedBadgeColor)) << "the image still exists";
}

TEST_F(TrayIconTest, RemoveThenCreateAddsAgainWithTheCurrentState) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  tray_.Remove();
  EXPECT_EQ(shell_.requests.back().message, kDelete);
  EXPECT_EQ(LastData().uID, 1u);
  EXPECT_EQ(shell_.IconCount(), 0u);
  EXPECT_FALSE(tray_.IsInNotificationArea());

  tray_.UpdateStatus(true, true, L"Oslo");
  tray_.Remove();
  EXPECT_EQ(shell_.requests.size(), 3u) << "no requests while removed";

  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  EXPECT_EQ(shell_.requests[3].message, kAdd);
  EXPECT_EQ(BadgeColorOf(LastData().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, DestructionRemovesTheAddedIcon) {
  FakeNotificationArea shell;
  {
    TrayIcon tray(shell.Notifier());
    ASSERT_TRUE(tray.Create(Owner(), base_icon_.get()));
  }
  EXPECT_THAT(shell.Messages(), ElementsAre(kAdd, kSetVersion, kDelete));
  EXPECT_EQ(shell.IconCount(), 0u);
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
  EXPECT_THAT(shell_.requests, IsEmpty());
  EXPECT_FALSE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, RefusedAddLeavesTheIconOutAndUpdatesSilent) {
  shell_.SetRunning(false);
  EXPECT_FALSE(tray_.Create(Owner(), base_icon_.get()));
  EXPECT_FALSE(tray_.IsInNotificationArea());
  EXPECT_THAT(shell_.Messages(), ElementsAre(kAdd, kModify));

  tray_.UpdateStatus(true, true, L"Oslo");
  tray_.Remove();
  EXPECT_EQ(shell_.requests.size(), 2u) << "nothing to update or delete";

  shell_.SetRunning(true);
  EXPECT_TRUE(tray_.Create(Owner(), base_icon_.get())) << "a later Create tries again";
}

// Images exist only while the icon is wanted in the notification area; the
// handles given to the shell are destroyed once they are of no more use.
TEST_F(TrayIconTest, ImagesAreReleasedOnAFailedAddOnRemovalAndWhenMadeAgain) {
  shell_.SetRunning(false);
  ASSERT_FALSE(tray_.Create(Owner(), base_icon_.get()));
  EXPECT_FALSE(IconExists(shell_.requests.front().data.hIcon)) << "after a failed add";

  shell_.SetRunning(true);
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  const HICON first = LastData().hIcon;
  ASSERT_TRUE(IconExists(first));
  tray_.Remove();
  EXPECT_FALSE(IconExists(first)) << "after removal";

  // Lost by the shell, wanted again: a new Create makes new images.
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  const HICON second = LastData().hIcon;
  shell_.SetRunning(false);
  tray_.HandleTaskbarCreated(TaskbarCreatedMessage());
  ASSERT_FALSE(tray_.IsInNotificationArea());
  ASSERT_TRUE(IconExists(second)) << "kept for the next announcement";
  shell_.SetRunning(true);
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  EXPECT_NE(LastData().hIcon, second);
  EXPECT_FALSE(IconExists(second)) << "after the images were made again";
}

// A restarted shell has forgotten the icon: it is added again as it was shown.
TEST_F(TrayIconTest, TaskbarRecreationAddsTheIconAgainAsItWasShown) {
  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage())) << "before Create";
  EXPECT_THAT(shell_.requests, IsEmpty());
  EXPECT_FALSE(tray_.HandleTaskbarCreated(WM_USER + 7));

  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  tray_.UpdateStatus(true, true, L"Oslo");
  shell_.Restart();
  shell_.requests.clear();

  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage()));

  ASSERT_THAT(shell_.Messages(), ElementsAre(kAdd, kSetVersion));
  EXPECT_EQ(Shown().uVersion, 4u) << "the restarted shell is asked for version 4 again";
  const NOTIFYICONDATAW& data = FirstData();
  EXPECT_EQ(data.uFlags, kShowFlags);
  EXPECT_EQ(data.uCallbackMessage, 0x0401u);
  EXPECT_EQ(data.uID, 1u);
  EXPECT_EQ(data.hWnd, Owner());
  EXPECT_EQ(Tooltip(data), L"Talvor VPN \u2014 Подключено (Oslo)");
  EXPECT_EQ(BadgeColorOf(data.hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());

  tray_.Remove();
  shell_.requests.clear();
  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage()));
  EXPECT_THAT(shell_.requests, IsEmpty()) << "a removed icon stays removed";
}

// The announcement also comes while the shell still holds the icon (a quick
// restart, or another program sending it): the shell refuses the add, and
// the icon it holds must go on following the state and leave at the end.
TEST_F(TrayIconTest, AnnouncementWhileTheShellHoldsTheIconKeepsItCurrentAndRemovable) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  tray_.UpdateStatus(true, true, L"Oslo");
  shell_.requests.clear();

  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage()));
  ASSERT_THAT(shell_.Messages(), ElementsAre(kAdd, kModify, kSetVersion));
  EXPECT_FALSE(shell_.requests[0].accepted);
  EXPECT_EQ(shell_.requests[1].data.uFlags, kShowFlags);
  EXPECT_EQ(Tooltip(Shown()), L"Talvor VPN \u2014 Подключено (Oslo)");
  EXPECT_EQ(BadgeColorOf(Shown().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());

  tray_.UpdateStatus(false, true, L"Oslo");
  EXPECT_EQ(Tooltip(Shown()), L"Talvor VPN \u2014 Отключено") << "the badge and tooltip follow";
  EXPECT_EQ(BadgeColorOf(Shown().hIcon), DibRgb(kDisconnectedBadgeColor));

  tray_.Remove();
  EXPECT_EQ(shell_.IconCount(), 0u) << "no icon is left behind";
}

TEST_F(TrayIconTest, TaskbarRecreationThatFailsIsRetriedWithTheLatestState) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));

  shell_.SetRunning(false);
  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage()));
  EXPECT_FALSE(tray_.IsInNotificationArea()) << "the owner must not hide to a missing icon";

  shell_.requests.clear();
  tray_.UpdateStatus(true, false, L"Riga");
  EXPECT_THAT(shell_.requests, IsEmpty());

  shell_.SetRunning(true);
  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage()));
  ASSERT_THAT(shell_.Messages(), ElementsAre(kAdd, kSetVersion));
  EXPECT_EQ(Tooltip(Shown()), L"Talvor VPN \u2014 Подключено (Riga)");
  EXPECT_EQ(BadgeColorOf(Shown().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());
}

TEST_F(TrayIconTest, RemovalIsAskedForWhenTheShellOnceTookTheIcon) {
  ASSERT_TRUE(tray_.Create(Owner(), base_icon_.get()));
  shell_.SetRunning(false);
  tray_.HandleTaskbarCreated(TaskbarCreatedMessage());
  ASSERT_FALSE(tray_.IsInNotificationArea());
  shell_.requests.clear();

  tray_.Remove();
  EXPECT_THAT(shell_.Messages(), ElementsAre(kDelete));
}

TEST_F(TrayIconTest, FirstAddRefusedByTheShellIsMadeWhenTheTaskbarAppears) {
  shell_.SetRunning(false);
  EXPECT_FALSE(tray_.Create(Owner(), base_icon_.get()));
  tray_.UpdateStatus(true, true, L"Oslo");

  shell_.SetRunning(true);
  shell_.requests.clear();
  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage()));
  ASSERT_THAT(shell_.Messages(), ElementsAre(kAdd, kSetVersion));
  EXPECT_EQ(BadgeColorOf(Shown().hIcon), DibRgb(kConnectedBadgeColor));
  EXPECT_TRUE(tray_.IsInNotificationArea());

  tray_.Remove();
  shell_.SetRunning(false);
  EXPECT_FALSE(tray_.Create(Owner(), base_icon_.get()));
  tray_.Remove();
  shell_.SetRunning(true);
  shell_.requests.clear();
  EXPECT_TRUE(tray_.HandleTaskbarCreated(TaskbarCreatedMessage()));
  EXPECT_THAT(shell_.requests, IsEmpty()) << "a removed icon is not asked for again";
}

// What each callback does, read in the layout of the version that the shell
// took: version 4 (event and id in lParam, anchor in wParam) or, from a shell
// that refused it, the classic one (id in wParam, event in lParam).
TEST(TrayIconCallback, IsReadInTheLayoutOfTheVersionTheShellTook) {
  enum Outcome { kIgnored, kOpens, kMenu };
  constexpr POINT kAnchor{1250, 1010};
  const auto v4 = [&](UINT event, UINT id) { return Version4Callback(event, id, kAnchor); };
  const auto classic = [](UINT event, WPARAM id) { return TrayCallback{id, static_cast<LPARAM>(event)}; };
  const struct {
    UINT newest_version;
    const char* what;
    TrayCallback callback;
    Outcome outcome;
  } cases[] = {
      {4, "single click", v4(NIN_SELECT, 1), kOpens},
      {4, "Enter or Space", v4(NIN_KEYSELECT, 1), kOpens},
      {4, "double click", v4(WM_LBUTTONDBLCLK, 1), kOpens},
      {4, "context-menu request", v4(WM_CONTEXTMENU, 1), kMenu},
      {4, "right button up, before its context-menu request", v4(WM_RBUTTONUP, 1), kIgnored},
      {4, "left button up", v4(WM_LBUTTONUP, 1), kIgnored},
      {4, "mouse move", v4(WM_MOUSEMOVE, 1), kIgnored},
      {4, "another icon", v4(NIN_SELECT, 2), kIgnored},
      {4, "classic layout", classic(WM_LBUTTONDBLCLK, 1), kIgnored},
      {3, "double click", classic(WM_LBUTTONDBLCLK, 1), kOpens},
      {3, "double click, high word set", {1, MAKELPARAM(WM_LBUTTONDBLCLK, 3)}, kOpens},
      {3, "right click", classic(WM_RBUTTONUP, 1), kMenu},
      {3, "single click", classic(WM_LBUTTONUP, 1), kIgnored},
      {3, "right button down", classic(WM_RBUTTONDOWN, 1), kIgnored},
      {3, "another icon", classic(WM_LBUTTONDBLCLK, 2), kIgnored},
      {3, "version 4 layout", v4(NIN_SELECT, 1), kIgnored},
  };
  const UniqueIcon base = MakeSolidIcon(32, 0xFF1030C0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("version ") + std::to_string(c.newest_version) + ", " + c.what);
    FakeNotificationArea shell;
    shell.SetNewestVersion(c.newest_version);
    int menus = 0;
    TrayIcon tray(shell.Notifier(), [&menus]() -> HMENU {
      ++menus;
      return nullptr;
    });
    std::vector<unsigned int> commands;
    tray.SetCommandHandler([&](unsigned int id) { commands.push_back(id); });
    ASSERT_TRUE(tray.Create(GetDesktopWindow(), base.get()));

    const bool handled = tray.HandleCallbackMessage(GetDesktopWindow(), c.callback.wparam, c.callback.lparam);

    EXPECT_EQ(handled, c.outcome != kIgnored);
    EXPECT_EQ(commands, c.outcome == kOpens ? std::vector<unsigned int>{kTrayCommandOpen}
                                            : std::vector<unsigned int>{});
    EXPECT_EQ(menus, c.outcome == kMenu ? 1 : 0);
  }

  FakeNotificationArea shell;
  TrayIcon without_handler(shell.Notifier());
  ASSERT_TRUE(without_handler.Create(GetDesktopWindow(), base.get()));
  const TrayCallback click = v4(NIN_SELECT, 1);
  EXPECT_TRUE(without_handler.HandleCallbackMessage(GetDesktopWindow(), click.wparam, click.lparam));
}

TEST_F(TrayIconTest, TrayCommandsReachTheHandlerOthersDoNot) {
  EXPECT_TRUE(tray_.HandleCommand(kTrayCommandToggle)) << "handled without a handler";
  EXPECT_TRUE(tray_.HandleCommand(kTrayCommandExit));

  std::vector<unsigned int> first;
  std::vector<unsigned int> second;
  tray_.SetCommandHandler([&](unsigned int id) { first.push_back(id); });
  tray_.SetCommandHandler([&](unsigned int id) { second.push_back(id); });

  for (unsigned int id : {40001u, 40002u, 40003u, 40004u}) EXPECT_TRUE(tray_.HandleCommand(id));
  for (unsigned int id : {0u, 40000u, 40005u, 2u}) EXPECT_FALSE(tray_.HandleCommand(id));

  EXPECT_THAT(first, IsEmpty()) << "the replaced handler is gone";
  EXPECT_THAT(second, ElementsAre(40001u, 40002u, 40003u, 40004u));
}

std::string Describe(HWND icon) {
  std::string tooltip;
  for (wchar_t unit : TrayIconTooltip(icon)) tooltip += unit < 0x80 ? static_cast<char>(unit) : '?';
  return "tooltip '" + tooltip + "', badge " + ToString(TrayIconBadge(icon));
}

// The program's own path through Wine's notification area, seen from outside:
// the icon shows the state, survives the taskbar's announcement while the
// shell holds it, and goes away on removal.
TEST(TrayIconShell, ShowsTheStateThroughTheAnnouncementAndLeavesOnRemoval) {
  const UniqueIcon base = MakeSolidIcon(32, 0xFF1030C0u);
  const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"tray owner", WS_OVERLAPPED, 0, 0, 10,
                                           10, nullptr, nullptr, GetModuleHandleW(nullptr),
                                           nullptr));
  ASSERT_TRUE(owner);
  const TrayIconWatch watch;
  TrayIcon tray;

  ASSERT_TRUE(tray.Create(owner.get(), base.get()));
  const HWND icon = watch.WaitForNewIcon();
  ASSERT_NE(icon, nullptr) << "no icon appeared in the notification area";
  EXPECT_TRUE(WaitForTrayIconState(icon, L"Talvor VPN", TrayBadge::kGrey)) << Describe(icon);

  tray.UpdateStatus(true, true, L"Oslo");
  EXPECT_TRUE(WaitForTrayIconState(icon, L"Talvor VPN \u2014 Подключено (Oslo)", TrayBadge::kGreen))
      << Describe(icon);

  EXPECT_TRUE(tray.HandleTaskbarCreated(TaskbarCreatedMessage()));
  EXPECT_TRUE(tray.IsInNotificationArea());
  tray.UpdateStatus(false, true, L"Oslo");
  EXPECT_TRUE(WaitForTrayIconState(icon, L"Talvor VPN \u2014 Отключено", TrayBadge::kGrey))
      << Describe(icon);
  EXPECT_EQ(watch.NewIcons().size(), 1u) << "still one icon";

  tray.Remove();
  EXPECT_TRUE(WaitUntil([&] { return watch.NewIcons().empty(); })) << "the icon stays shown";
}

}  // namespace
}  // namespace talvor::test
