// The runtime channel: process-level services around TUN mode for the user
// interface — elevation state, the handed-over launch, bringing the window
// forward and the elevated relaunch.
#ifndef TALVOR_RUNNER_ELEVATION_RUNTIME_CHANNEL_H_
#define TALVOR_RUNNER_ELEVATION_RUNTIME_CHANNEL_H_

#include <memory>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"
#include "runner/elevation/runtime_window.h"

inline constexpr char kRuntimeChannelName[] = "com.talvor.talvorApp/windows_runtime";

// Answers a call on the runtime channel exactly once. Argument errors and
// relaunch failures are channel errors with a fixed code and a Russian
// message; unknown methods are not implemented.
void HandleRuntimeMethodCall(RuntimeWindow& window,
                             const flutter::MethodCall<flutter::EncodableValue>& call,
                             std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

#endif  // TALVOR_RUNNER_ELEVATION_RUNTIME_CHANNEL_H_
