#include "tests/support/fake_notification_area.h"

#include <algorithm>

namespace talvor::test {

namespace {

// Copies the fields that `data.uFlags` names, as NIM_MODIFY does.
void ApplyChange(NOTIFYICONDATAW& shown, const NOTIFYICONDATAW& data) {
  if (data.uFlags & NIF_MESSAGE) shown.uCallbackMessage = data.uCallbackMessage;
  if (data.uFlags & NIF_ICON) shown.hIcon = data.hIcon;
  if (data.uFlags & NIF_TIP) std::copy(std::begin(data.szTip), std::end(data.szTip), shown.szTip);
}

}  // namespace

TrayCallback Version4Callback(UINT event, UINT id, POINT anchor) {
  return {MAKEWPARAM(anchor.x, anchor.y), MAKELPARAM(event, id)};
}

std::function<BOOL(DWORD, NOTIFYICONDATAW*)> FakeNotificationArea::Notifier() {
  return [this](DWORD message, NOTIFYICONDATAW* data) { return Answer(message, *data); };
}

BOOL FakeNotificationArea::Answer(DWORD message, const NOTIFYICONDATAW& data) {
  const std::pair<HWND, UINT> key{data.hWnd, data.uID};
  const bool held = icons_.count(key) != 0;
  bool accepted = false;
  if (running_) {
    switch (message) {
      case NIM_ADD:
        accepted = !held;
        if (accepted) {
          NOTIFYICONDATAW shown{};
          ApplyChange(shown, data);
          icons_[key] = shown;
        }
        break;
      case NIM_MODIFY:
        accepted = held;
        if (accepted) ApplyChange(icons_[key], data);
        break;
      case NIM_SETVERSION:
        accepted = held && data.uVersion <= newest_version_;
        if (accepted) icons_[key].uVersion = data.uVersion;
        break;
      case NIM_DELETE:
        accepted = icons_.erase(key) != 0;
        break;
      default:
        break;
    }
  }
  requests.push_back({message, data, accepted});
  return accepted ? TRUE : FALSE;
}

void FakeNotificationArea::SetRunning(bool running) {
  running_ = running;
  if (!running) icons_.clear();
}

TrayCallback FakeNotificationArea::Callback(HWND owner, UINT id, UINT event, POINT anchor) const {
  const auto icon = icons_.find({owner, id});
  if (icon != icons_.end() && icon->second.uVersion >= NOTIFYICON_VERSION_4) {
    return Version4Callback(event, id, anchor);
  }
  return {id, static_cast<LPARAM>(event)};
}

std::vector<DWORD> FakeNotificationArea::Messages() const {
  std::vector<DWORD> messages;
  for (const Request& request : requests) messages.push_back(request.message);
  return messages;
}

}  // namespace talvor::test
