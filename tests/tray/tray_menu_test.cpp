// The tray's context menu, opened for real and read while it is shown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runner/tray/tray_icon.h"
#include "tests/support/fake_notification_area.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct MenuItem {
  UINT id = 0;
  std::wstring text;
  bool separator = false;
  bool grayed = false;

  bool operator==(const MenuItem& other) const {
    return id == other.id && text == other.text && separator == other.separator &&
           grayed == other.grayed;
  }
};

void PrintTo(const MenuItem& item, std::ostream* out) {
  *out << "{id " << item.id << ", " << item.text.size() << " chars"
       << (item.separator ? ", separator" : "") << (item.grayed ? ", grayed" : "") << "}";
}

MenuItem Item(UINT id, const std::wstring& text, bool grayed = false) {
  return {id, text, false, grayed};
}

MenuItem Separator() { return {0, L"", true, false}; }

std::vector<MenuItem> ReadMenu(HMENU menu) {
  std::vector<MenuItem> items;
  const int count = GetMenuItemCount(menu);
  for (int index = 0; index < count; ++index) {
    wchar_t text[64] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = static_cast<UINT>(std::size(text));
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(index), TRUE, &info)) continue;
    MenuItem item;
    item.separator = (info.fType & MFT_SEPARATOR) != 0;
    item.id = item.separator ? 0 : info.wID;
    item.text = item.separator ? L"" : text;
    // A separator's state means nothing (Wine reports it greyed).
    item.grayed = !item.separator && (info.fState & MFS_GRAYED) != 0;
    items.push_back(item);
  }
  return items;
}

// A hidden top-level window that keeps the WM_COMMAND ids it receives.
class MenuOwner {
 public:
  MenuOwner() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &Procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kClassName;
    RegisterClassW(&window_class);
    window_.reset(CreateWindowExW(0, kClassName, L"tray menu owner", WS_OVERLAPPED, 0, 0, 100,
                                  100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  HWND get() const { return window_.get(); }

  // Dispatches what is queued for this thread and returns the commands seen.
  const std::vector<UINT>& Commands() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    return commands_;
  }

 private:
  static constexpr wchar_t kClassName[] = L"TalvorTrayMenuOwner";

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* owner = reinterpret_cast<MenuOwner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (owner != nullptr && message == WM_COMMAND) owner->commands_.push_back(LOWORD(wparam));
    return DefWindowProcW(window, message, wparam, lparam);
  }

  UniqueWindow window_;
  std::vector<UINT> commands_;
};

HWND FindMenuWindowOf(DWORD thread_id) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread_id,
      [](HWND window, LPARAM result) -> BOOL {
        wchar_t class_name[16] = {};
        GetClassNameW(window, class_name, static_cast<int>(std::size(class_name)));
        if (std::wstring(class_name) != L"#32768" || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Hands the icon the callback `request` (which should open the menu), reads
// the menu while it is shown, then lets `act` (run on a helper thread) do
// something to the menu window. Whatever `act` does, the menu is then closed
// so that the test cannot hang.
std::vector<MenuItem> OpenAndRead(TrayIcon& tray, HWND owner, TrayCallback request,
                                  const std::function<void(HWND)>& act) {
  const DWORD ui_thread = GetCurrentThreadId();
  std::atomic<bool> menu_returned{false};
  std::vector<MenuItem> items;
  std::thread helper([&] {
    HWND menu_window = nullptr;
    WaitUntil([&] { return (menu_window = FindMenuWindowOf(ui_thread)) != nullptr; },
              std::chrono::seconds(10));
    if (menu_window != nullptr) {
      items = ReadMenu(reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0)));
      act(menu_window);
    }
    for (int attempt = 0; attempt < 40; ++attempt) {
      PostMessageW(owner, WM_CANCELMODE, 0, 0);
      if (WaitUntil([&] { return menu_returned.load(); }, std::chrono::milliseconds(500))) break;
    }
  });
  EXPECT_TRUE(tray.HandleCallbackMessage(owner, request.wparam, request.lparam));
  menu_returned = true;
  helper.join();
  return items;
}

// Moves the menu's selection as the arrow keys do.
void PressArrow(HWND menu_window, UINT key) {
  PostMessageW(menu_window, WM_KEYDOWN, key, 0);
  PostMessageW(menu_window, WM_KEYUP, key, 0xC0000000);
}

// Chooses the selected item as the Enter key does (the menu acts on the
// character the key produces).
void PressEnter(HWND menu_window) { PostMessageW(menu_window, WM_CHAR, L'\r', 0); }

// The menu texts as UTF-16 code units, so that a compiler that misreads the
// sources' encoding cannot make the product and the test agree on mojibake.
const std::wstring kConnect = {0x041F, 0x043E, 0x0434, 0x043A, 0x043B,
                               0x044E, 0x0447, 0x0438, 0x0442, 0x044C};  // Подключить
const std::wstring kDisconnect = {0x041E, 0x0442, 0x043A, 0x043B, 0x044E,
                                  0x0447, 0x0438, 0x0442, 0x044C};  // Отключить
const std::wstring kOpen = {0x041E, 0x0442, 0x043A, 0x0440, 0x044B, 0x0442, 0x044C};  // Открыть
const std::wstring kExit = {0x0412, 0x044B, 0x0445, 0x043E, 0x0434};                  // Выход
// Открыть папку журнала
const std::wstring kOpenLogFolder = {0x041E, 0x0442, 0x043A, 0x0440, 0x044B, 0x0442, 0x044C,
                                     0x0020, 0x043F, 0x0430, 0x043F, 0x043A, 0x0443, 0x0020,
                                     0x0436, 0x0443, 0x0440, 0x043D, 0x0430, 0x043B, 0x0430};

// Whether a WM_NULL for `window` waits in this thread's queue; takes the
// window's queued messages out without dispatching them.
bool TakeQueuedNull(HWND window) {
  bool found = false;
  MSG message;
  while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) found = found || message.message == WM_NULL;
  return found;
}

// A visible top-level window that holds the foreground until the menu opens.
UniqueWindow MakeForegroundWindow() {
  UniqueWindow window(CreateWindowExW(0, L"STATIC", L"another program", WS_POPUP | WS_VISIBLE,
                                      10, 10, 50, 50, nullptr, nullptr, GetModuleHandleW(nullptr),
                                      nullptr));
  SetForegroundWindow(window.get());
  return window;
}

// The icon shown by a shell that took version 4, its menu asked for as the
// menu key or Shift+F10 on the icon does: at the icon's place.
class TrayMenuTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tray_.Create(owner_.get(), nullptr)); }

  std::vector<MenuItem> OpenAndRead(const std::function<void(HWND)>& act = [](HWND) {}) {
    return talvor::test::OpenAndRead(tray_, owner_.get(), MenuRequest(kIconPlace), act);
  }
  TrayCallback MenuRequest(POINT anchor) const {
    return shell_.Callback(owner_.get(), kTrayIconId, WM_CONTEXTMENU, anchor);
  }

  static constexpr POINT kIconPlace{1250, 1010};
  MenuOwner owner_;
  FakeNotificationArea shell_;
  TrayIcon tray_{shell_.Notifier()};
};

TEST_F(TrayMenuTest, DisconnectedOffersToConnect) {
  const auto items = OpenAndRead();
  EXPECT_THAT(items, ElementsAre(Item(40001, kConnect), Separator(), Item(40002, kOpen),
                                 Item(40003, kExit), Separator(), Item(40004, kOpenLogFolder)));
  EXPECT_THAT(owner_.Commands(), IsEmpty()) << "closing the menu chooses nothing";
}

TEST_F(TrayMenuTest, ConnectedWithoutTogglingOffersAGreyedDisconnect) {
  tray_.UpdateStatus(true, false, L"Oslo");
  const auto items = OpenAndRead();
  EXPECT_THAT(items, ElementsAre(Item(40001, kDisconnect, true), Separator(), Item(40002, kOpen),
                                 Item(40003, kExit), Separator(), Item(40004, kOpenLogFolder)));
}

// The owner is brought forward first, or the menu would take no keys and not
// close when the user clicks elsewhere; the menu opens up and to the left of
// the point, as a menu from the taskbar's corner must: the point the shell
// gives (the click, or the icon's place for the keyboard), or the cursor for
// a shell without version 4. The posted WM_NULL lets it close.
TEST(TrayMenu, OpensLeftOfAndAboveThePointForTheForegroundedOwner) {
  const struct {
    const char* shell;
    UINT newest_version;
    POINT cursor;
    UINT event;
  } cases[] = {
      {"version 4", 4, {100, 100}, WM_CONTEXTMENU},
      {"classic", 3, {700, 600}, WM_RBUTTONUP},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shell);
    MenuOwner owner;
    FakeNotificationArea shell;
    shell.SetNewestVersion(c.newest_version);
    TrayIcon tray(shell.Notifier());
    ASSERT_TRUE(tray.Create(owner.get(), nullptr));
    const UniqueWindow other = MakeForegroundWindow();
    ASSERT_EQ(GetForegroundWindow(), other.get());
    ASSERT_TRUE(SetCursorPos(c.cursor.x, c.cursor.y));
    HWND foreground = nullptr;
    RECT menu_frame{};
    OpenAndRead(tray, owner.get(), shell.Callback(owner.get(), kTrayIconId, c.event, {700, 600}),
                [&](HWND menu_window) {
                  foreground = GetForegroundWindow();
                  GetWindowRect(menu_window, &menu_frame);
                });

    EXPECT_EQ(foreground, owner.get());
    EXPECT_EQ(menu_frame.right, 700);
    EXPECT_EQ(menu_frame.bottom, 600);
    EXPECT_GT(menu_frame.right - menu_frame.left, 0);
    EXPECT_TRUE(TakeQueuedNull(owner.get()));
  }
}

TEST(TrayMenu, WithoutAMenuTheRightClickIsStillHandled) {
  int menus_asked = 0;
  TrayIcon tray([](DWORD, NOTIFYICONDATAW*) { return TRUE; }, [&menus_asked]() -> HMENU {
    ++menus_asked;
    return nullptr;
  });
  MenuOwner owner;

  EXPECT_TRUE(tray.HandleCallbackMessage(owner.get(), kTrayIconId, WM_RBUTTONUP));
  EXPECT_EQ(menus_asked, 1);
  EXPECT_THAT(owner.Commands(), IsEmpty());
}

TEST_F(TrayMenuTest, ChosenItemArrivesAsACommandToTheOwner) {
  OpenAndRead([](HWND menu) {
    PressArrow(menu, VK_UP);
    PressEnter(menu);
  });
  EXPECT_TRUE(WaitUntil([&] { return !owner_.Commands().empty(); }, std::chrono::seconds(5)));
  EXPECT_THAT(owner_.Commands(), ElementsAre(40004u));
}

TEST_F(TrayMenuTest, GreyedToggleCannotBeChosen) {
  tray_.UpdateStatus(false, false, L"");
  bool toggle_highlighted = false;
  OpenAndRead([&](HWND menu_window) {
    PressArrow(menu_window, VK_DOWN);
    const auto menu = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
    toggle_highlighted = WaitUntil(
        [&] { return (GetMenuState(menu, 0, MF_BYPOSITION) & MF_HILITE) != 0; },
        std::chrono::seconds(5));
    PressEnter(menu_window);
  });
  EXPECT_TRUE(toggle_highlighted);
  EXPECT_THAT(owner_.Commands(), IsEmpty());
}

TEST_F(TrayMenuTest, EscapeClosesTheMenuChoosingNothing) {
  bool closed_by_escape = false;
  OpenAndRead([&](HWND menu_window) {
    PostMessageW(menu_window, WM_KEYDOWN, VK_ESCAPE, 0);
    closed_by_escape = WaitUntil([&] { return !IsWindowVisible(menu_window); }, std::chrono::seconds(5));
  });
  EXPECT_TRUE(closed_by_escape);
  EXPECT_THAT(owner_.Commands(), IsEmpty());
}

}  // namespace
}  // namespace talvor::test
