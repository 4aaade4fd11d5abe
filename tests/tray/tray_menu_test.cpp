// The tray's context menu, opened for real and read while it is shown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runner/tray/tray_icon.h"
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

// Right-clicks the icon, reads the menu while it is shown, then lets `act`
// (run on a helper thread) do something to the menu window. Whatever `act`
// does, the menu is then closed so that the test cannot hang.
std::vector<MenuItem> RightClickAndRead(TrayIcon& tray, HWND owner,
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
  EXPECT_TRUE(tray.HandleCallbackMessage(owner, kTrayIconId, WM_RBUTTONUP));
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

class TrayMenuTest : public ::testing::Test {
 protected:
  MenuOwner owner_;
  TrayIcon tray_{[](DWORD, NOTIFYICONDATAW*) { return TRUE; }};
};

TEST_F(TrayMenuTest, DisconnectedOffersToConnect) {
  const auto items = RightClickAndRead(tray_, owner_.get(), [](HWND) {});
  EXPECT_THAT(items, ElementsAre(Item(40001, L"Подключить"), Separator(),
                                 Item(40002, L"Открыть"), Item(40003, L"Выход")));
  EXPECT_THAT(owner_.Commands(), IsEmpty()) << "closing the menu chooses nothing";
}

TEST_F(TrayMenuTest, ConnectedWithoutTogglingOffersAGreyedDisconnect) {
  tray_.UpdateStatus(true, false, L"Oslo");
  const auto items = RightClickAndRead(tray_, owner_.get(), [](HWND) {});
  EXPECT_THAT(items, ElementsAre(Item(40001, L"Отключить", true), Separator(),
                                 Item(40002, L"Открыть"), Item(40003, L"Выход")));
}

TEST_F(TrayMenuTest, ChosenItemArrivesAsACommandToTheOwner) {
  RightClickAndRead(tray_, owner_.get(), [](HWND menu) {
    PressArrow(menu, VK_UP);
    PressEnter(menu);
  });
  EXPECT_TRUE(WaitUntil([&] { return !owner_.Commands().empty(); }, std::chrono::seconds(5)));
  EXPECT_THAT(owner_.Commands(), ElementsAre(40003u));
}

TEST_F(TrayMenuTest, GreyedToggleCannotBeChosen) {
  tray_.UpdateStatus(false, false, L"");
  bool toggle_highlighted = false;
  RightClickAndRead(tray_, owner_.get(), [&](HWND menu_window) {
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

}  // namespace
}  // namespace talvor::test
