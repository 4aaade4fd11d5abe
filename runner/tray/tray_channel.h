// The tray channel: the user interface reports the connection state, the
// tray shows it; the tray menu's commands act on the main window or ask the
// user interface to toggle the connection.
#ifndef TALVOR_RUNNER_TRAY_TRAY_CHANNEL_H_
#define TALVOR_RUNNER_TRAY_TRAY_CHANNEL_H_

#include <memory>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"
#include "runner/tray/tray_window.h"

inline constexpr char kTrayChannelName[] = "com.talvor.talvorApp/tray";

// Answers a call on the tray channel exactly once: "updateStatus" updates the
// tray icon (missing or mistyped entries take their defaults) and succeeds
// without a value; every other method is not implemented.
void HandleTrayMethodCall(TrayWindow& window,
                          const flutter::MethodCall<flutter::EncodableValue>& call,
                          std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

// Acts on a command chosen in the tray: toggle asks the user interface,
// open activates the window, exit closes it, the last shows the log folder.
void OnTrayCommand(TrayWindow& window, unsigned int command_id);

#endif  // TALVOR_RUNNER_TRAY_TRAY_CHANNEL_H_
