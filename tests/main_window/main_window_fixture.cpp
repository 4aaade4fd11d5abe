#include "tests/main_window/main_window_fixture.h"

#include <set>
#include <utility>

#include "codec/standard_method_codec.h"
#include "tests/support/method_result_recorder.h"
#include "tests/support/text.h"

namespace talvor::test {
namespace {

using flutter::EncodableValue;

std::string TrayMessageName(DWORD message) {
  switch (message) {
    case NIM_ADD:
      return "NIM_ADD";
    case NIM_MODIFY:
      return "NIM_MODIFY";
    case NIM_DELETE:
      return "NIM_DELETE";
    case NIM_SETVERSION:
      return "NIM_SETVERSION";
    default:
      return "NIM " + std::to_string(message);
  }
}

}  // namespace

LRESULT ProbeWindow::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PARENTNOTIFY && LOWORD(wparam) == WM_DESTROY) {
    view_gone = true;
    parts_held_when_view_went = tray_channel() != nullptr || view_controller() != nullptr;
  }
  return FlutterWindow::HandleMessage(window, message, wparam, lparam);
}

MainWindowTest::MainWindowTest() {
  PluginCallObserver() = [this](const std::string& function,
                                FlutterDesktopPluginRegistrar* registrar) {
    events_.push_back({engine_.Calls().size(), function});
    if (function != "SendAppLink") plugin_registrars_.push_back(registrar);
  };
}

MainWindowTest::~MainWindowTest() {
  window_.reset();
  PluginCallObserver() = nullptr;
}

bool MainWindowTest::OpenWindow(std::wstring pending_tun_launch_path) {
  MakeWindow(std::move(pending_tun_launch_path));
  return window_->Open(L"Talvor VPN (main window test)", {40, 40}, {440, 850});
}

void MainWindowTest::MakeWindow(std::wstring pending_tun_launch_path) {
  TrayShellNotifier notifier = [this](DWORD message, NOTIFYICONDATAW* data) {
    tray_calls_.emplace_back(message, *data);
    events_.push_back(
        {engine_.Calls().size(), "Shell_NotifyIconW(" + TrayMessageName(message) + ")"});
    if (on_tray_request_) on_tray_request_(message);
    notification_area_.SetRunning(tray_accepts_);
    return notification_area_.Answer(message, *data);
  };
  window_ = std::make_unique<ProbeWindow>(flutter::FlutterProject(L"data"),
                                          std::move(pending_tun_launch_path), std::move(notifier),
                                          launch_calls_, process_elevated_);
}

std::string MainWindowTest::Call(const char* channel, const std::string& method,
                                 std::unique_ptr<EncodableValue> arguments) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  const auto message =
      codec.EncodeMethodCall(flutter::MethodCall<EncodableValue>(method, std::move(arguments)));
  const Delivery delivery = engine_.Deliver(channel, *message);
  if (!delivery.handled) return "no handler";
  std::vector<Response> answers;
  for (Response& response : engine_.Responses()) {
    if (response.id == delivery.id) answers.push_back(std::move(response));
  }
  if (answers.size() != 1) {
    return answers.empty() ? "no answer" : "answered " + std::to_string(answers.size()) + " times";
  }
  if (answers[0].size == 0) return "not implemented";
  MethodResultRecorder result;
  codec.DecodeResponseEnvelope(answers[0].bytes.data(), answers[0].size, &result);
  return result.calls == 0 ? "undecodable answer" : result.description;
}

std::vector<std::string> MainWindowTest::Timeline() const {
  static const std::set<std::string> kOfInterest = {"FlutterDesktopEngineCreate",
                                                    "FlutterDesktopViewControllerCreate",
                                                    "FlutterDesktopEngineGetPluginRegistrar",
                                                    "FlutterDesktopViewGetHWND",
                                                    "FlutterDesktopMessengerSetCallback",
                                                    "FlutterDesktopEngineSetNextFrameCallback",
                                                    "FlutterDesktopViewControllerForceRedraw",
                                                    "FlutterDesktopViewControllerDestroy"};
  const std::vector<EngineCall> calls = engine_.Calls();
  std::vector<std::string> timeline;
  auto event = events_.begin();
  for (size_t index = 0; index <= calls.size(); ++index) {
    for (; event != events_.end() && event->engine_calls_before <= index; ++event) {
      timeline.push_back(event->text);
    }
    if (index == calls.size() || kOfInterest.count(calls[index].function) == 0) continue;
    const EngineCall& call = calls[index];
    timeline.push_back(call.name.empty() ? call.function : call.function + "(" + call.name + ")");
  }
  return timeline;
}

std::vector<std::string> MainWindowTest::TrayRequests() const {
  std::vector<std::string> requests;
  for (const auto& [message, data] : tray_calls_) {
    std::string request = TrayMessageName(message);
    if (message == NIM_SETVERSION) {
      request += " " + std::to_string(data.uVersion);
    } else if (message != NIM_DELETE) {
      request += " " + Utf8(data.szTip);
    }
    requests.push_back(request);
  }
  return requests;
}

LRESULT MainWindowTest::SendTrayCallback(UINT event, POINT anchor) {
  const TrayCallback callback = notification_area_.Callback(Handle(), kTrayIconId, event, anchor);
  return SendMessageW(Handle(), kTrayCallbackMessage, callback.wparam, callback.lparam);
}

}  // namespace talvor::test
