// Message boxes as a test sees them from outside: found among the top-level
// windows (a dialog of class "#32770" whose text is the static control
// 65535), read, and answered with OK.
#ifndef TALVOR_TESTS_SUPPORT_MESSAGE_BOX_H_
#define TALVOR_TESTS_SUPPORT_MESSAGE_BOX_H_

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "tests/support/wait.h"

namespace talvor::test {

struct ShownMessageBox {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;
  HICON icon = nullptr;  // the icon the box shows, a shared system icon
};

// The first visible message box of `process_id` (and of `thread_id`, unless
// 0); empty on timeout.
std::optional<ShownMessageBox> WaitForMessageBox(DWORD process_id,
                                                 std::chrono::milliseconds timeout = kDefaultWait,
                                                 DWORD thread_id = 0);

// Presses OK on a message box; true once it has gone.
bool AnswerMessageBox(HWND box, std::chrono::milliseconds timeout = kDefaultWait);

// Runs `action` on a thread of its own. When it shows a message box, reads
// it, answers it with OK and returns what it showed; when `action` ends
// without one, returns nothing. Fails the test if neither happens in time.
std::optional<ShownMessageBox> RunAnsweringMessageBox(const std::function<void()>& action);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_MESSAGE_BOX_H_
