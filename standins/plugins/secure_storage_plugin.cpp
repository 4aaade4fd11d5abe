#include "standins/plugins/not_implemented_channel.h"
#include "standins/plugins/plugin_exports.h"

void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  talvor::standins::RegisterNotImplementedChannel(registrar, "talvor.standins/secure_storage");
}
