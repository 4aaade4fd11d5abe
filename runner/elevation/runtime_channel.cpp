#include "runner/elevation/runtime_channel.h"

#include <string>

#include "runner/log/log.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using Result = flutter::MethodResult<EncodableValue>;

constexpr char kRelaunch[] = "relaunchElevatedForTun";
constexpr char kInvalidArguments[] = "invalid_arguments";
constexpr char kElevationCancelled[] = "elevation_cancelled";
constexpr char kElevationFailed[] = "elevation_failed";

constexpr char kArgumentsExpected[] = "Ожидались параметры elevated-запуска.";
constexpr char kPayloadMissing[] = "Не передан payload elevated-запуска.";
constexpr char kPayloadEmpty[] = "Payload elevated-запуска пуст.";
constexpr char kCancelledFallback[] = "Пользователь отменил запрос прав администратора.";
constexpr char kFailedFallback[] = "Не удалось перезапустить приложение с правами администратора.";

void SucceedWith(Result& result, EncodableValue value) { result.Success(&value); }

// Every call answered with an error is logged: channel, method and code.
void Fail(Result& result, const char* method, const std::string& code, const std::string& message) {
  talvor::log::Error("channel", std::string(kRuntimeChannelName) + " " + method + ": " + code);
  result.Error(code, message, nullptr);
}

void ConsumePendingLaunch(RuntimeWindow& window, Result& result) {
  if (!window.HasPendingTunLaunch()) {
    result.Success(nullptr);
    return;
  }
  std::string payload = window.ConsumePendingTunLaunch();
  if (payload.empty()) {
    result.Success(nullptr);
  } else {
    SucceedWith(result, EncodableValue(std::move(payload)));
  }
}

void RelaunchElevated(RuntimeWindow& window, const EncodableValue* arguments, Result& result) {
  const EncodableMap* map = arguments != nullptr ? std::get_if<EncodableMap>(arguments) : nullptr;
  if (map == nullptr) {
    Fail(result, kRelaunch, kInvalidArguments, kArgumentsExpected);
    return;
  }
  auto entry = map->find(EncodableValue("payloadJson"));
  if (entry == map->end()) {
    Fail(result, kRelaunch, kInvalidArguments, kPayloadMissing);
    return;
  }
  const std::string* payload = std::get_if<std::string>(&entry->second);
  if (payload == nullptr || payload->empty()) {
    Fail(result, kRelaunch, kInvalidArguments, kPayloadEmpty);
    return;
  }

  std::string message;
  bool cancelled = false;
  if (window.RelaunchElevatedForTun(*payload, &message, &cancelled)) {
    SucceedWith(result, EncodableValue(true));
  } else if (cancelled) {
    Fail(result, kRelaunch, kElevationCancelled, message.empty() ? kCancelledFallback : message);
  } else {
    Fail(result, kRelaunch, kElevationFailed, message.empty() ? kFailedFallback : message);
  }
}

}  // namespace

void HandleRuntimeMethodCall(RuntimeWindow& window,
                             const flutter::MethodCall<EncodableValue>& call,
                             std::unique_ptr<Result> result) {
  const std::string& method = call.method_name();
  if (method == "isProcessElevated") {
    SucceedWith(*result, EncodableValue(window.IsProcessElevated()));
  } else if (method == "hasPendingTunLaunch") {
    SucceedWith(*result, EncodableValue(window.HasPendingTunLaunch()));
  } else if (method == "consumePendingTunLaunch") {
    ConsumePendingLaunch(window, *result);
  } else if (method == "activateMainWindow") {
    window.ActivateMainWindow();
    result->Success(nullptr);
  } else if (method == kRelaunch) {
    RelaunchElevated(window, call.arguments(), *result);
  } else {
    result->NotImplemented();
  }
}
