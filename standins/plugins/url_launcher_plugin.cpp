#include "standins/plugins/not_implemented_channel.h"
#include "runner/plugin_libraries.h"

void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  talvor::standins::RegisterNotImplementedChannel(registrar, "talvor.standins/url_launcher");
}
