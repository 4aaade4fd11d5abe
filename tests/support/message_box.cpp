#include "tests/support/message_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/talvor_program.h"

namespace talvor::test {

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kTextControl = 0xFFFF;

struct Search {
  DWORD process_id = 0;
  DWORD thread_id = 0;
  HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD process_id = 0;
  const DWORD thread_id = GetWindowThreadProcessId(window, &process_id);
  if (process_id != search->process_id || (search->thread_id != 0 && thread_id != search->thread_id)) return TRUE;
  wchar_t class_name[16] = {};
  GetClassNameW(window, class_name, 16);
  if (std::wstring(class_name) != kDialogClass || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK FindIconControl(HWND child, LPARAM parameter) {
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
  *reinterpret_cast<HICON*>(parameter) = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
  return FALSE;
}

HWND FindMessageBox(DWORD process_id, DWORD thread_id) {
  Search search{process_id, thread_id, nullptr};
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

ShownMessageBox Read(HWND box) {
  ShownMessageBox shown{box, WindowText(box), WindowText(GetDlgItem(box, kTextControl)), nullptr};
  EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&shown.icon));
  return shown;
}

}  // namespace

std::optional<ShownMessageBox> WaitForMessageBox(DWORD process_id, std::chrono::milliseconds timeout,
                                                 DWORD thread_id) {
  HWND box = nullptr;
  WaitUntil([&] { return (box = FindMessageBox(process_id, thread_id)) != nullptr; }, timeout);
  if (box == nullptr) return std::nullopt;
  return Read(box);
}

bool AnswerMessageBox(HWND box, std::chrono::milliseconds timeout) {
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return WaitUntil([&] { return !IsWindow(box); }, timeout);
}

std::optional<ShownMessageBox> RunAnsweringMessageBox(const std::function<void()>& action) {
  std::atomic<DWORD> thread_id{0};
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    thread_id = GetCurrentThreadId();
    action();
    finished = true;
  });

  HWND box = nullptr;
  const bool settled = WaitUntil([&] {
    if (finished) return true;
    box = thread_id != 0 ? FindMessageBox(GetCurrentProcessId(), thread_id) : nullptr;
    return box != nullptr;
  });
  std::optional<ShownMessageBox> shown;
  if (box != nullptr) {
    shown = Read(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
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
