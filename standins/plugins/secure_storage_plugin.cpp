#include "standins/plugins/not_implemented_channel.h"
#include "runner/plugin_libraries.h"

void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  talvor::standins::RegisterNotImplementedChannel(registrar, "talvor.standins/secure_storage");
}
