#include "runner/window/main_window_run.h"

#include "runner/window/window_placement.h"

namespace {

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Tears the window down without posting a quit message for a loop that has
// already ended.
void CloseAfterLoop(Win32Window& window) {
  window.SetQuitWhenDestroyed(false);
  window.Teardown();
}

}  // namespace

MainWindowOutcome RunMainWindow(Win32Window& window, const std::wstring& title,
                                const LogicalSize& size, const std::function<void()>& opened) {
  if (!window.OpenInWorkArea(title, size, QueryPrimaryWorkArea())) {
    const bool native_window_made = window.NativeHandle() != nullptr;
    CloseAfterLoop(window);
    return native_window_made ? MainWindowOutcome::kContentFailed
                              : MainWindowOutcome::kNativeWindowFailed;
  }
  if (opened) opened();
  window.SetQuitWhenDestroyed(true);
  RunMessageLoop();
  CloseAfterLoop(window);
  return MainWindowOutcome::kEnded;
}
