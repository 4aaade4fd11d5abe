// A stand-in for the shell's notification area that keeps the icons it holds,
// as the shell does: an id is added once, and modified, given a version or
// deleted only while it is held. Every request is recorded with the answer it
// got. It also says how the shell would call an icon's owner back.
#ifndef TALVOR_TESTS_SUPPORT_FAKE_NOTIFICATION_AREA_H_
#define TALVOR_TESTS_SUPPORT_FAKE_NOTIFICATION_AREA_H_

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace talvor::test {

// The parameters of an icon's callback message.
struct TrayCallback {
  WPARAM wparam;
  LPARAM lparam;
};

// As a shell of version 4 sends them: the event in the low word of lParam,
// the icon id in its high word, the anchor point (screen coordinates) in
// wParam.
TrayCallback Version4Callback(UINT event, UINT id, POINT anchor);

class FakeNotificationArea {
 public:
  struct Request {
    DWORD message;
    NOTIFYICONDATAW data;
    bool accepted;
  };

  // What the program calls in place of Shell_NotifyIconW; it refers to this
  // object, which must outlive it.
  std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)> Notifier();

  // Answers one request as the shell would.
  BOOL Answer(DWORD message, const NOTIFYICONDATAW& data);

  // The shell went away (Explorer ended): it refuses every request and has
  // forgotten every icon, until it is running again.
  void SetRunning(bool running);
  // Explorer restarted: the icons are gone, the shell takes new ones.
  void Restart() { icons_.clear(); }
  // The newest notification behaviour the shell knows (4 unless set); it
  // refuses NIM_SETVERSION for a newer one, as shells before Vista do.
  void SetNewestVersion(UINT version) { newest_version_ = version; }

  // The callback parameters for `event` on an icon, in the layout of the
  // version the icon was given: version 4's, or the classic one (icon id in
  // wParam, event in lParam) for an icon without it or not held.
  TrayCallback Callback(HWND owner, UINT id, UINT event, POINT anchor = {}) const;

  bool Holds(HWND owner, UINT id) const { return icons_.count({owner, id}) != 0; }
  size_t IconCount() const { return icons_.size(); }
  // The icon as the shell shows it; only for an id that it holds.
  const NOTIFYICONDATAW& Shown(HWND owner, UINT id) const { return icons_.at({owner, id}); }

  std::vector<DWORD> Messages() const;

  std::vector<Request> requests;

 private:
  bool running_ = true;
  UINT newest_version_ = NOTIFYICON_VERSION_4;
  std::map<std::pair<HWND, UINT>, NOTIFYICONDATAW> icons_;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_FAKE_NOTIFICATION_AREA_H_
