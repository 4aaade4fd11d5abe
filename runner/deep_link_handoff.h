// Single-instance delivery of deep links: a process started with one link
// passes it to the running main window and ends.
#ifndef TALVOR_RUNNER_DEEP_LINK_HANDOFF_H_
#define TALVOR_RUNNER_DEEP_LINK_HANDOFF_H_

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "runner/main_window_identity.h"
#include "runner/startup_marker.h"

struct HandOffOptions {
  // Whether a window found by class and title belongs to an instance of ours
  // (WindowCountsAsOurs); any other window is no running instance.
  std::function<bool(HWND)> counts_as_ours;
  // How long a link start waits for an instance that is starting up.
  std::chrono::milliseconds startup_wait{10000};

  // The window's process token compared with ours.
  static HandOffOptions System();
};

// When `arguments` are one deep link and a main window of this user runs,
// hands the link to it, brings that window forward and returns true: the
// caller then exits with success. While another instance is starting up (it
// owns the startup marker), waits for it first, bounded by the options.
// Otherwise returns false, and the caller starts a full instance.
bool HandOffDeepLinkToRunningInstance(const std::vector<std::string>& arguments,
                                      StartupMarker& startup,
                                      const HandOffOptions& options = HandOffOptions::System());

#endif  // TALVOR_RUNNER_DEEP_LINK_HANDOFF_H_
