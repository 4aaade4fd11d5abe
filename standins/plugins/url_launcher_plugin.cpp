#include "standins/plugins/not_implemented_channel.h"
#include "standins/plugins/plugin_exports.h"

void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  talvor::standins::RegisterNotImplementedChannel(registrar, "talvor.standins/url_launcher");
}
