#include "standins/engine/builtin_app.h"

#include <utility>

#include "standins/plugins/app_links_protocol.h"

namespace talvor::standins {

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

bool IsSuccessWith(const MethodReply& reply, bool expected) {
  if (reply.kind != MethodReply::Kind::kSuccess) return false;
  const auto* value = std::get_if<bool>(&reply.value);
  return value != nullptr && *value == expected;
}

// The launch that the elevated instance picks up: which mode, which server.
std::string TunLaunchPayload(const std::string& server_name) {
  return "{\"mode\":\"tun\",\"server\":\"" + server_name + "\"}";
}

}  // namespace

BuiltinApp::BuiltinApp(AppHost& host, bool on) : host_(host), on_(on) {
  screen_.server_name = kDefaultServerName;
  screen_.silent = !on;
}

void BuiltinApp::Run() {
  running_ = true;
  if (on_) Start();
  host_.RequestFrame();
}

void BuiltinApp::SetOn(bool on) {
  on_ = on;
  screen_.silent = !on;
  if (on_ && running_ && !started_) Start();
  host_.RequestFrame();
}

// What the real user interface does first: learn whether this instance is
// elevated, pick up a TUN launch handed over to it, then report its state.
void BuiltinApp::Start() {
  started_ = true;
  Call(kRuntimeChannel, "isProcessElevated", EncodableValue(), [this](const MethodReply& reply) {
    if (reply.kind == MethodReply::Kind::kSuccess && std::holds_alternative<bool>(reply.value)) {
      screen_.elevation = std::get<bool>(reply.value) ? AppScreen::Elevation::kElevated
                                                      : AppScreen::Elevation::kNotElevated;
    } else {
      ShowProblem("isProcessElevated", reply);
    }
    CheckPendingTunLaunch();
  });
}

void BuiltinApp::CheckPendingTunLaunch() {
  Call(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), [this](const MethodReply& reply) {
    if (IsSuccessWith(reply, true)) {
      ConsumePendingTunLaunch();
      return;
    }
    if (reply.kind != MethodReply::Kind::kSuccess) ShowProblem("hasPendingTunLaunch", reply);
    SendStatus();
  });
}

// A handed-over launch is what the user asked for before the relaunch: the
// application connects in TUN mode straight away.
void BuiltinApp::ConsumePendingTunLaunch() {
  Call(kRuntimeChannel, "consumePendingTunLaunch", EncodableValue(), [this](const MethodReply& reply) {
    const auto* payload = std::get_if<std::string>(&reply.value);
    if (reply.kind == MethodReply::Kind::kSuccess && payload != nullptr) {
      screen_.has_pending_tun_payload = true;
      screen_.pending_tun_payload = *payload;
      screen_.connected = true;
      screen_.via_tun = true;
    } else if (reply.kind != MethodReply::Kind::kSuccess) {
      ShowProblem("consumePendingTunLaunch", reply);
    }
    SendStatus();
  });
}

void BuiltinApp::Call(const std::string& channel, const std::string& method, const EncodableValue& arguments,
                      Continuation then) {
  if (!on_) return;
  std::vector<uint8_t> call = EncodeMethodCall(method, arguments);
  std::vector<uint8_t> sent = call;
  host_.SendToProgram(channel, std::move(sent),
                      [this, channel, call = std::move(call), then = std::move(then)](std::vector<uint8_t> reply) {
                        host_.ReportExchange(channel, call, reply);
                        then(DecodeMethodReply(reply.data(), reply.size()));
                        host_.RequestFrame();
                      });
}

void BuiltinApp::SendStatus() {
  EncodableMap status{
      {EncodableValue(std::string("connected")), EncodableValue(screen_.connected)},
      {EncodableValue(std::string("canToggle")), EncodableValue(screen_.can_toggle)},
      {EncodableValue(std::string("serverName")), EncodableValue(screen_.server_name)},
  };
  Call(kTrayChannel, "updateStatus", EncodableValue(status), [this](const MethodReply& reply) {
    if (reply.kind != MethodReply::Kind::kSuccess) ShowProblem("updateStatus", reply);
  });
}

void BuiltinApp::ToggleConnection() {
  if (!screen_.can_toggle) return;
  screen_.connected = !screen_.connected;
  screen_.via_tun = false;
  screen_.notice.clear();
  SendStatus();
  host_.RequestFrame();
}

void BuiltinApp::RelaunchForTun() {
  screen_.problem.clear();
  screen_.notice = "Asking for administrator rights for TUN mode...";
  EncodableMap arguments{{EncodableValue(std::string("payloadJson")), EncodableValue(TunLaunchPayload(screen_.server_name))}};
  Call(kRuntimeChannel, "relaunchElevatedForTun", EncodableValue(arguments), [this](const MethodReply& reply) {
    if (IsSuccessWith(reply, true)) {
      screen_.notice = "Restarting with administrator rights...";
    } else {
      screen_.notice.clear();
      ShowProblem("relaunchElevatedForTun", reply);
    }
  });
  host_.RequestFrame();
}

void BuiltinApp::ShowProblem(const std::string& method, const MethodReply& reply) {
  screen_.problem = method + ": " + DescribeReply(reply);
}

std::vector<uint8_t> BuiltinApp::HandleMessage(const std::string& channel, const uint8_t* data, size_t size) {
  // Links are shown even by a silent application: showing is not talking.
  if (channel == kAppLinksChannel) {
    screen_.last_deep_link.assign(reinterpret_cast<const char*>(data), size);
    host_.ReportDeepLink(screen_.last_deep_link);
    host_.RequestFrame();
    return {};
  }
  if (!on_ || channel != kTrayChannel) return {};
  std::optional<DecodedCall> call = DecodeMethodCall(data, size);
  if (!call || call->method != "toggleConnection") return {};
  ToggleConnection();
  return EncodeSuccessReply(EncodableValue());
}

void BuiltinApp::Paint(HDC dc, const RECT& bounds, UINT dpi) { painter_.Paint(dc, bounds, dpi, screen_); }

void BuiltinApp::Click(POINT point) {
  if (!on_ || !running_) return;
  switch (painter_.HitTest(point)) {
    case AppPainter::Button::kToggle:
      ToggleConnection();
      break;
    case AppPainter::Button::kTun:
      RelaunchForTun();
      break;
    case AppPainter::Button::kNone:
      break;
  }
}

void BuiltinApp::ReloadFonts() {
  painter_.ReloadFonts();
  host_.RequestFrame();
}

}  // namespace talvor::standins
