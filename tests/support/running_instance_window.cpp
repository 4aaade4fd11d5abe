#include "tests/support/running_instance_window.h"

#include "standins/plugins/app_links_protocol.h"
#include "tests/support/talvor_program.h"

namespace talvor::test {

RunningInstanceWindow::RunningInstanceWindow() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &RunningInstanceWindow::Procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kMainWindowClass;
  RegisterClassW(&window_class);
  window_.reset(CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, WS_OVERLAPPEDWINDOW, 700, 300, 320, 240,
                                nullptr, nullptr, GetModuleHandleW(nullptr), this));
}

RunningInstanceWindow::~RunningInstanceWindow() {
  window_.reset();
  UnregisterClassW(kMainWindowClass, GetModuleHandleW(nullptr));
}

LRESULT CALLBACK RunningInstanceWindow::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<RunningInstanceWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  static const UINT activate = RegisterWindowMessageW(L"TalvorVPN.ActivateMainWindow");
  if (message == activate && self != nullptr) {
    ++self->activations_;
    ShowWindow(window, SW_SHOW);
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    return 0;
  }
  if (message == WM_COPYDATA && self != nullptr) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (standins::IsAppLinkCopyData(data)) {
      self->links_.push_back(standins::ReadAppLinkCopyData(data).value_or("<malformed>"));
      return TRUE;
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace talvor::test
