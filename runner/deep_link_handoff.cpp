#include "runner/deep_link_handoff.h"

#include <windows.h>

#include "runner/plugin_libraries.h"
#include "runner/url_scheme.h"

namespace {

// A minimised window is restored, a maximised one stays maximised, anything
// else (a failed placement query too) is shown normally.
int RestoreCommandFor(UINT show_state) {
  if (show_state == SW_SHOWMINIMIZED) return SW_RESTORE;
  if (show_state == SW_SHOWMAXIMIZED) return SW_SHOWMAXIMIZED;
  return SW_SHOWNORMAL;
}

}  // namespace

bool HandOffDeepLinkToRunningInstance(const std::vector<std::string>& arguments) {
  if (!IsDeepLinkInvocation(arguments)) return false;
  HWND running = FindWindowW(kMainWindowClassName, kMainWindowTitle);
  if (running == nullptr) return false;

  SendAppLink(running);

  WINDOWPLACEMENT placement = {};
  placement.length = sizeof(WINDOWPLACEMENT);
  GetWindowPlacement(running, &placement);
  ShowWindow(running, RestoreCommandFor(placement.showCmd));
  SetWindowPos(running, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
  SetForegroundWindow(running);
  return true;
}
