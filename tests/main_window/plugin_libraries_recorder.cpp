// Recording definitions of the plugin libraries' functions, which the main
// window calls; the program takes them from the libraries' import libraries.
#include "tests/main_window/main_window_fixture.h"

namespace talvor::test {

std::function<void(const std::string& function, FlutterDesktopPluginRegistrar* registrar)>&
PluginCallObserver() {
  static std::function<void(const std::string&, FlutterDesktopPluginRegistrar*)> observer;
  return observer;
}

}  // namespace talvor::test

namespace {

void Observe(const char* function, FlutterDesktopPluginRegistrar* registrar) {
  if (talvor::test::PluginCallObserver()) talvor::test::PluginCallObserver()(function, registrar);
}

}  // namespace

extern "C" {

void AppLinksPluginCApiRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  Observe("AppLinksPluginCApiRegisterWithRegistrar", registrar);
}

void SendAppLink(HWND) { Observe("SendAppLink", nullptr); }

void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar) {
  Observe("FlutterSecureStorageWindowsPluginRegisterWithRegistrar", registrar);
}

void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  Observe("UrlLauncherWindowsRegisterWithRegistrar", registrar);
}

}  // extern "C"
