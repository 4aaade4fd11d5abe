#include "runner/startup/deep_link_handoff.h"

#include <algorithm>
#include <string>

#include "runner/deep_link.h"
#include "runner/log/log.h"
#include "runner/plugin_libraries.h"
#include "runner/process_user.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

enum class StartKind { kLink, kPlain, kOther };

StartKind KindOf(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return StartKind::kPlain;
  return IsDeepLinkInvocation(arguments) ? StartKind::kLink : StartKind::kOther;
}

// The first of the top-level windows with that class and title that counts
// as ours: a window of someone else's made to look like ours must not hide
// the real one.
HWND FindWindowOfOurs(const wchar_t* class_name, const wchar_t* title,
                      const std::function<bool(HWND)>& counts_as_ours) {
  if (!counts_as_ours) return nullptr;
  for (HWND window = FindWindowExW(nullptr, nullptr, class_name, title); window != nullptr;
       window = FindWindowExW(nullptr, window, class_name, title)) {
    if (counts_as_ours(window)) return window;
  }
  return nullptr;
}

HWND FindStartupBox(const std::function<bool(HWND)>& counts_as_ours) {
  constexpr wchar_t kDialogClass[] = L"#32770";
  for (const wchar_t* caption : {L"Talvor VPN - Warning", L"Talvor VPN - Error"}) {
    if (HWND box = FindWindowOfOurs(kDialogClass, caption, counts_as_ours)) return box;
  }
  return nullptr;
}

// Waits until the instance that is starting up owns its window or has ended
// (the marker is then ours), at most the options' bound. A start without
// arguments stops waiting as soon as that instance shows a start-up box: it
// returns the box.
HWND WaitForStartingInstance(StartupMarker& startup, const HandOffOptions& options,
                             bool look_for_box) {
  const steady_clock::time_point deadline = steady_clock::now() + options.startup_wait;
  while (startup.exists() && !startup.owned()) {
    if (look_for_box && options.find_startup_box) {
      if (HWND box = options.find_startup_box()) return box;
    }
    // Rounded up, so that the whole bound is waited.
    const auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
    if (left <= milliseconds(0)) break;
    startup.WaitForOwnership(std::min(left, milliseconds(100)));
  }
  return nullptr;
}

}  // namespace

HandOffOptions HandOffOptions::System() {
  HandOffOptions options;
  options.counts_as_ours = WindowCountsAsOurs;
  options.find_startup_box = [] { return FindStartupBox(WindowCountsAsOurs); };
  return options;
}

void AskToComeForward(HWND running) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(running, &process_id);
  if (process_id != 0) AllowSetForegroundWindow(process_id);
  const bool asked = PostMessageW(running, ActivateMainWindowMessage(), 0, 0) != FALSE;
  talvor::log::Info("handoff", "process " + std::to_string(process_id) +
                                   (asked ? " asked to come forward" : " could not be asked to come forward"));
}

bool HandOffToRunningInstance(const std::vector<std::string>& arguments, StartupMarker& startup,
                              const HandOffOptions& options) {
  const StartKind kind = KindOf(arguments);
  if (kind == StartKind::kOther) return false;
  // Another instance is starting up: its window may exist before it takes
  // links. It lets go of the marker once it does, or when it ends without.
  if (!startup.owned()) {
    if (HWND box = WaitForStartingInstance(startup, options, kind == StartKind::kPlain)) {
      talvor::log::Info("handoff", "another instance is showing its start-up box: brought forward");
      SetForegroundWindow(box);
      return true;
    }
  }
  const HWND running = FindWindowOfOurs(kMainWindowClassName, kMainWindowTitle, options.counts_as_ours);
  const std::string what =
      kind == StartKind::kLink ? talvor::log::DescribeLink(arguments.front()) : std::string("a start without arguments");
  talvor::log::Info("handoff", what + (running ? ": handing over" : ": no running instance, starting one"));
  if (running == nullptr) return false;
  if (kind == StartKind::kLink) SendAppLink(running);
  AskToComeForward(running);
  return true;
}
