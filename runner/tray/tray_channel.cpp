#include "runner/tray/tray_channel.h"

#include <string>

#include "runner/log/log.h"
#include "runner/tray/tray_icon.h"
#include "runner/utils.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// The entry under `key` when it holds a T; null when absent or of another type.
template <typename T>
const T* FindEntry(const EncodableMap& map, const char* key) {
  auto entry = map.find(EncodableValue(key));
  return entry == map.end() ? nullptr : std::get_if<T>(&entry->second);
}

void UpdateTrayFromStatus(TrayIcon& tray, const EncodableMap& status) {
  const bool* connected = FindEntry<bool>(status, "connected");
  const bool* can_toggle = FindEntry<bool>(status, "canToggle");
  const std::string* server_name = FindEntry<std::string>(status, "serverName");
  tray.UpdateStatus(connected != nullptr && *connected, can_toggle == nullptr || *can_toggle,
                    server_name != nullptr ? WidenUtf8(*server_name) : std::wstring());
}

}  // namespace

void HandleTrayMethodCall(TrayWindow& window,
                          const flutter::MethodCall<EncodableValue>& call,
                          std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
  if (call.method_name() != "updateStatus") {
    result->NotImplemented();
    return;
  }
  const EncodableValue* arguments = call.arguments();
  const EncodableMap* status = arguments != nullptr ? std::get_if<EncodableMap>(arguments) : nullptr;
  if (status != nullptr) UpdateTrayFromStatus(window.tray_icon(), *status);
  result->Success(nullptr);
}

void OnTrayCommand(TrayWindow& window, unsigned int command_id) {
  switch (command_id) {
    case kTrayCommandToggle:
      if (flutter::MethodCallChannel* channel = window.tray_channel()) {
        channel->InvokeMethod("toggleConnection", nullptr);
      }
      break;
    case kTrayCommandOpen:
      window.ActivateMainWindow();
      break;
    case kTrayCommandExit:
      PostMessageW(window.WindowHandle(), WM_CLOSE, 0, 0);
      break;
    case kTrayCommandOpenLogFolder:
      talvor::log::OpenLogFolderInExplorer();
      break;
    default:
      break;
  }
}
