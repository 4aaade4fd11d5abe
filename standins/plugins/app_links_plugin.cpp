// The app links plugin stand-in: a second process hands its deep link to the
// running instance's top-level window with WM_COPYDATA, and the plugin passes
// it on to the application.
#include <windows.h>
#include <shellapi.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "standins/plugin_registrar_api.h"
#include "standins/plugins/app_links_protocol.h"
#include "runner/plugin_libraries.h"

namespace {

using talvor::standins::IsAppLinkCopyData;
using talvor::standins::kAppLinkCopyDataTag;
using talvor::standins::kAppLinksChannel;
using talvor::standins::kMaxAppLinkBytes;
using talvor::standins::ReadAppLinkCopyData;

// How long a hand-off waits for a running instance that does not answer.
constexpr UINT kHandOffTimeoutMs = 5000;

class AppLinksPlugin {
 public:
  explicit AppLinksPlugin(FlutterDesktopMessenger* messenger) : messenger_(messenger) {}

  bool HandleWindowMessage(HWND window, UINT message, LPARAM lparam, LRESULT* result) {
    AllowHandOffFromLowerIntegrity(window);
    if (message != WM_COPYDATA) return false;
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (!IsAppLinkCopyData(data)) return false;  // someone else's data
    const std::optional<std::string> link = ReadAppLinkCopyData(data);
    *result = link ? TRUE : FALSE;
    if (link) {
      FlutterDesktopMessengerSend(messenger_, kAppLinksChannel, reinterpret_cast<const uint8_t*>(link->data()),
                                  link->size());
    }
    return true;
  }

 private:
  // An elevated instance (after the TUN relaunch) still takes links from the
  // unelevated processes that the shell starts for them.
  void AllowHandOffFromLowerIntegrity(HWND window) {
    if (window == filtered_window_) return;
    ChangeWindowMessageFilterEx(window, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
    filtered_window_ = window;
  }

  FlutterDesktopMessenger* messenger_;
  HWND filtered_window_ = nullptr;
};

// One plugin per registrar, until its engine goes away.
std::map<FlutterDesktopPluginRegistrar*, std::unique_ptr<AppLinksPlugin>>& Plugins() {
  static std::map<FlutterDesktopPluginRegistrar*, std::unique_ptr<AppLinksPlugin>> plugins;
  return plugins;
}

bool WindowProcDelegate(HWND window, UINT message, WPARAM, LPARAM lparam, LRESULT* result, void* user_data) {
  return static_cast<AppLinksPlugin*>(user_data)->HandleWindowMessage(window, message, lparam, result);
}

void RegistrarDestroyed(void* user_data) {
  Plugins().erase(static_cast<FlutterDesktopPluginRegistrar*>(user_data));
}

// This process's single argument in UTF-8; nothing when there is not
// exactly one or it cannot be carried.
std::optional<std::string> SingleArgument() {
  int count = 0;
  talvor::UniqueLocalMemory arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!arguments || count != 2) return std::nullopt;
  const wchar_t* argument = static_cast<LPWSTR*>(arguments.get())[1];
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argument, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1 || static_cast<DWORD>(length - 1) > kMaxAppLinkBytes) return std::nullopt;
  std::string link(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argument, -1, link.data(), length, nullptr, nullptr);
  link.pop_back();  // the terminator, which the hand-off adds itself
  return link;
}

}  // namespace

void AppLinksPluginCApiRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  FlutterDesktopMessenger* messenger = TalvorStandinRegistrarGetMessenger(registrar);
  if (messenger == nullptr) return;
  auto& plugin = Plugins()[registrar];
  plugin = std::make_unique<AppLinksPlugin>(messenger);
  TalvorStandinRegistrarSetWindowProcDelegate(registrar, &WindowProcDelegate, plugin.get());
  TalvorStandinRegistrarSetDestructionHandler(registrar, &RegistrarDestroyed, registrar);
}

void SendAppLink(HWND window) {
  if (window == nullptr) return;
  const std::optional<std::string> link = SingleArgument();
  if (!link) return;
  std::vector<char> text(link->begin(), link->end());
  text.push_back('\0');
  COPYDATASTRUCT data{};
  data.dwData = kAppLinkCopyDataTag;
  data.cbData = static_cast<DWORD>(text.size());
  data.lpData = text.data();
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                      kHandOffTimeoutMs, &result);
}
