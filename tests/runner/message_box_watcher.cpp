#include "tests/runner/message_box_watcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/wait.h"

namespace talvor::test {
namespace {

struct Search {
  DWORD thread_id;
  HWND found;
};

// Message boxes are top-level dialogs of the class "#32770".
BOOL CALLBACK FindDialogOfThread(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  wchar_t class_name[16] = {};
  GetClassNameW(window, class_name, 16);
  if (std::wstring(class_name) == L"#32770" &&
      GetWindowThreadProcessId(window, nullptr) == search->thread_id && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindIconControl(HWND child, LPARAM parameter) {
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HICON*>(parameter) =
        reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    return FALSE;
  }
  return TRUE;
}

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

}  // namespace

std::optional<ShownMessageBox> RunAnsweringMessageBox(const std::function<void()>& action) {
  std::atomic<DWORD> thread_id{0};
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    thread_id = GetCurrentThreadId();
    action();
    finished = true;
  });

  Search search{0, nullptr};
  const bool settled = WaitUntil([&] {
    if (finished) return true;
    search = Search{thread_id, nullptr};
    if (search.thread_id != 0) EnumWindows(FindDialogOfThread, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });

  std::optional<ShownMessageBox> shown;
  if (search.found != nullptr) {
    ShownMessageBox box;
    box.caption = WindowText(search.found);
    box.text = WindowText(GetDlgItem(search.found, 0xFFFF));
    EnumChildWindows(search.found, FindIconControl, reinterpret_cast<LPARAM>(&box.icon));
    shown = box;
    PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  }
  const bool ended = WaitUntil([&] { return finished.load(); });
  EXPECT_TRUE(settled && ended) << "the action neither ended nor showed a message box";
  if (ended) {
    worker.join();
  } else {
    worker.detach();  // the box could not be answered; nothing else can end it
  }
  return shown;
}

}  // namespace talvor::test
