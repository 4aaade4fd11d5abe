// A mark that a full instance of the program is starting up in this user's
// session, so that a link start arriving meanwhile waits for that instance's
// window instead of opening a second one.
#ifndef TALVOR_RUNNER_STARTUP_STARTUP_MARKER_H_
#define TALVOR_RUNNER_STARTUP_STARTUP_MARKER_H_

#include <chrono>
#include <string>

#include "runner/win32_handles.h"

// A named mutex, owned by the instance that is starting up from its first
// moment until its main window takes links (or until it ends). Nothing is
// ever read from it: whoever else made or holds an object of that name can
// at most make link starts wait for the bounded time and then start as if
// there were no mark.
class StartupMarker {
 public:
  // The mark of this user in this session; owned when no other instance is
  // starting up. Unowned, and without effect, when it cannot be made or
  // opened.
  static StartupMarker Claim();
  // The same under another name (tests).
  static StartupMarker Claim(const std::wstring& name);

  StartupMarker() = default;
  StartupMarker(StartupMarker&& other) noexcept;
  StartupMarker& operator=(StartupMarker&& other) noexcept;
  StartupMarker(const StartupMarker&) = delete;
  StartupMarker& operator=(const StartupMarker&) = delete;
  ~StartupMarker() { Release(); }

  bool owned() const { return owned_; }
  // Whether there is a mark at all (owned or not) to wait on.
  bool exists() const { return static_cast<bool>(mutex_); }

  // Waits until the instance that owns the mark has finished starting up or
  // has ended, and takes the mark over; false on timeout or when there is no
  // mark to wait on.
  bool WaitForOwnership(std::chrono::milliseconds timeout);

  // Lets waiting starts go on. Must run on the thread that owns the mark.
  void Release();

 private:
  talvor::UniqueKernelHandle mutex_;
  bool owned_ = false;
};

// The mark's name for this process's user in this session; empty when the
// user cannot be told.
std::wstring StartupMarkerName();

#endif  // TALVOR_RUNNER_STARTUP_STARTUP_MARKER_H_
