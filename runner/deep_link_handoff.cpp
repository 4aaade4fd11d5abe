#include "runner/deep_link_handoff.h"

#include "runner/log/log.h"
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
  if (running == nullptr || !options.runs_as_this_user || !options.runs_as_this_user(running)) {
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
  const bool forward = SetForegroundWindow(running) != FALSE;
  DWORD process_id = 0;
  GetWindowThreadProcessId(running, &process_id);
  talvor::log::Info("handoff", "link handed to process " + std::to_string(process_id) +
                                   (forward ? ", brought forward" : ", not brought forward"));
}

}  // namespace

HandOffOptions HandOffOptions::System() {
  HandOffOptions options;
  options.runs_as_this_user = WindowRunsAsThisUser;
  return options;
}

bool HandOffDeepLinkToRunningInstance(const std::vector<std::string>& arguments,
                                      StartupMarker& startup, const HandOffOptions& options) {
  if (!IsDeepLinkInvocation(arguments)) return false;
  // Another instance is starting up: its window may exist before it takes
  // links. It lets go of the marker once it does, or when it ends without.
  if (!startup.owned()) startup.WaitForOwnership(options.startup_wait);
  const HWND running = FindRunningMainWindow(options);
  talvor::log::Info("handoff", talvor::log::DescribeLink(arguments.front()) +
                                   (running ? ": handing over" : ": no running instance, starting one"));
  if (running == nullptr) return false;
  DeliverLinkTo(running);
  return true;
}
