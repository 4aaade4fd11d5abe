// One copy of the program per user: a start with one deep link passes it to
// the running main window and ends, and so does a start without arguments,
// which brings that window forward instead of opening a second one.
#ifndef TALVOR_RUNNER_STARTUP_DEEP_LINK_HANDOFF_H_
#define TALVOR_RUNNER_STARTUP_DEEP_LINK_HANDOFF_H_

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "runner/main_window_identity.h"
#include "runner/startup/startup_marker.h"

struct HandOffOptions {
  // Whether a window found by class and title belongs to an instance of ours
  // (WindowCountsAsOurs); any other window is no running instance.
  std::function<bool(HWND)> counts_as_ours;
  // A start-up box ("Talvor VPN - Warning" or "- Error") that an instance of
  // ours shows while it starts; null when there is none.
  std::function<HWND()> find_startup_box;
  // How long a start waits for an instance that is starting up.
  std::chrono::milliseconds startup_wait{10000};

  // The window's process token compared with ours, and the system's windows.
  static HandOffOptions System();
};

// When `arguments` are one deep link, or none at all, and a main window of
// ours runs, hands the link to it (if any), asks it to come forward and
// returns true: the caller then exits with success. While another instance
// is starting up (it owns the startup marker), waits for it first, bounded
// by the options; a start without arguments that meanwhile finds that
// instance's start-up box brings the box forward and returns true instead
// of opening a second copy behind it. Otherwise (other arguments, no window
// of ours) returns false, and the caller starts a full instance.
bool HandOffToRunningInstance(const std::vector<std::string>& arguments, StartupMarker& startup,
                              const HandOffOptions& options = HandOffOptions::System());

// Lets the running window's process take the foreground and posts it the
// message that has it come forward.
void AskToComeForward(HWND running);

#endif  // TALVOR_RUNNER_STARTUP_DEEP_LINK_HANDOFF_H_
