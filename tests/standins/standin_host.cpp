// A minimal host of the engine stand-in, shaped like the program: a hidden
// top-level window that embeds the engine's view, registers the plugin
// stand-ins, offers its messages to the engine first and shows itself on the
// first frame; its command-line arguments become the entrypoint arguments.
// With TALVOR_STANDIN_HOST_SEND set in its environment it calls
// SendAppLink on the running host's window instead, as the program's second
// instance does, and exits with 0 (3 when no host runs).
#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "embedding/engine_api.h"
#include "runner/win32_handles.h"
#include "runner/plugin_libraries.h"
#include "tests/standins/standin_host.h"
#include "tests/support/engine_handles.h"
#include "tests/support/text.h"

namespace {

using talvor::test::kStandinHostClass;
using talvor::test::kStandinHostTitle;
using talvor::test::UniqueController;

// The arguments after the program's name, in UTF-8.
std::vector<std::string> CommandLineArguments() {
  int count = 0;
  talvor::UniqueLocalMemory arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> narrow;
  for (int index = 1; arguments && index < count; ++index) {
    narrow.push_back(talvor::test::Utf8(static_cast<LPWSTR*>(arguments.get())[index]));
  }
  return narrow;
}

class Host {
 public:
  bool Open() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &Host::WindowProcedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kStandinHostClass;
    RegisterClassW(&window_class);
    window_ = CreateWindowExW(0, kStandinHostClass, kStandinHostTitle, WS_OVERLAPPEDWINDOW, 40, 40, 460, 700,
                              nullptr, nullptr, GetModuleHandleW(nullptr), this);
    return window_ != nullptr;
  }

 private:
  void Embed(FlutterDesktopEngine* engine) {
    AppLinksPluginCApiRegisterWithRegistrar(FlutterDesktopEngineGetPluginRegistrar(engine, "AppLinksPluginCApi"));
    FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
        FlutterDesktopEngineGetPluginRegistrar(engine, "FlutterSecureStorageWindowsPlugin"));
    UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopEngineGetPluginRegistrar(engine, "UrlLauncherWindows"));
    HWND view = FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_.get()));
    SetParent(view, window_);
    FitView();
    FlutterDesktopEngineSetNextFrameCallback(
        engine, [](void* window) { ShowWindow(static_cast<HWND>(window), SW_SHOWNORMAL); }, window_);
    FlutterDesktopViewControllerForceRedraw(controller_.get());
  }

  void FitView() {
    if (!controller_) return;
    RECT client{};
    GetClientRect(window_, &client);
    MoveWindow(FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_.get())), 0, 0,
               client.right, client.bottom, TRUE);
  }

  bool Create() {
    const std::vector<std::string> arguments = CommandLineArguments();
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    FlutterDesktopEngineProperties properties{};
    properties.entrypoint_argc = static_cast<int32_t>(argv.size());
    properties.entrypoint_argv = argv.empty() ? nullptr : argv.data();
    properties.assets_path = L"data\\flutter_assets";
    properties.icu_data_path = L"data\\icudtl.dat";
    properties.aot_library_path = L"data\\app.so";
    properties.entrypoint = "";
    FlutterDesktopEngine* engine = FlutterDesktopEngineCreate(&properties);
    if (engine == nullptr) return false;
    RECT client{};
    GetClientRect(window_, &client);
    controller_.reset(FlutterDesktopViewControllerCreate(client.right, client.bottom, engine));
    if (!controller_) return false;
    Embed(engine);
    return true;
  }

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (controller_) {
      LRESULT result = 0;
      if (FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_.get(), window_, message, wparam, lparam,
                                                               &result)) {
        return result;
      }
    }
    switch (message) {
      case WM_SIZE:
        FitView();
        return 0;
      case WM_DESTROY:
        controller_.reset();
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(window_, message, wparam, lparam);
    }
  }

  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* host = static_cast<Host*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
      host->window_ = window;
    } else if (message == WM_CREATE) {
      auto* host = reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      return host->Create() ? 0 : -1;
    }
    auto* host = reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host == nullptr) return DefWindowProcW(window, message, wparam, lparam);
    return host->HandleMessage(message, wparam, lparam);
  }

  HWND window_ = nullptr;
  UniqueController controller_;
};

int HandOff() {
  HWND running = FindWindowW(kStandinHostClass, kStandinHostTitle);
  if (running == nullptr) return 3;
  SendAppLink(running);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (GetEnvironmentVariableW(talvor::test::kStandinHostSendVariable, nullptr, 0) != 0) return HandOff();
  Host host;
  if (!host.Open()) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
