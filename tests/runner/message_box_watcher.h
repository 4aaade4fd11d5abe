// Runs code that may show a message box, reads the box and answers it.
#ifndef TALVOR_TESTS_RUNNER_MESSAGE_BOX_WATCHER_H_
#define TALVOR_TESTS_RUNNER_MESSAGE_BOX_WATCHER_H_

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace talvor::test {

struct ShownMessageBox {
  std::wstring caption;
  std::wstring text;
  HICON icon = nullptr;  // the icon the box shows, a shared system icon
};

// Runs `action` on a thread of its own. When it shows a message box, reads
// it, closes it with OK and returns what it showed; when `action` ends
// without one, returns nothing. Fails the test if neither happens in time.
std::optional<ShownMessageBox> RunAnsweringMessageBox(const std::function<void()>& action);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_RUNNER_MESSAGE_BOX_WATCHER_H_
