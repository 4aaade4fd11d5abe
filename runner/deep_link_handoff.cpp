#include "runner/deep_link_handoff.h"

#include "runner/plugin_libraries.h"
#include "runner/process_user.h"
#include "runner/url_scheme.h"

namespace {

// A minimised window is restored, a maximised one stays maximised, anything
// else (a failed placement query too) is shown normally.
int RestoreCommandFor(UINT show_state) {
  if (show_state == SW_SHOWMINIMIZED) return SW_RESTORE;
  if (show_state == SW_SHOWMAXIMIZED) return SW_SHOWMAXIMIZED;
  return SW_SHOWNORMAL;
}

HWND FindRunningMainWindow(const HandOffOptions& options) {
  HWND running = FindWindowW(kMainWindowClassName, kMainWindowTitle);
  if (running == nullptr || !options.counts_as_ours || !options.counts_as_ours(running)) {
    return nullptr;
  }
  return running;
}

void DeliverLinkTo(HWND running) {
  SendAppLink(running);

  WINDOWPLACEMENT placement = {};
  placement.length = sizeof(WINDOWPLACEMENT);
  GetWindowPlacement(running, &placement);
  ShowWindow(running, RestoreCommandFor(placement.showCmd));
  SetWindowPos(running, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
  SetForegroundWindow(running);
}

}  // namespace

HandOffOptions HandOffOptions::System() {
  HandOffOptions options;
  options.counts_as_ours = WindowCountsAsOurs;
  return options;
}

bool HandOffDeepLinkToRunningInstance(const std::vector<std::string>& arguments,
                                      StartupMarker& startup, const HandOffOptions& options) {
  if (!IsDeepLinkInvocation(arguments)) return false;
  // Another instance is starting up: its window may exist before it takes
  // links. It lets go of the marker once it does, or when it ends without.
  if (!startup.owned()) startup.WaitForOwnership(options.startup_wait);
  const HWND running = FindRunningMainWindow(options);
  if (running == nullptr) return false;
  DeliverLinkTo(running);
  return true;
}
