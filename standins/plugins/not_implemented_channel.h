// A channel that answers every message "not implemented": what the secure
// storage and URL launcher stand-ins offer, since nothing here stores secrets
// or opens links.
#ifndef TALVOR_STANDINS_PLUGINS_NOT_IMPLEMENTED_CHANNEL_H_
#define TALVOR_STANDINS_PLUGINS_NOT_IMPLEMENTED_CHANNEL_H_

#include "embedding/engine_api.h"

namespace talvor::standins {

void RegisterNotImplementedChannel(FlutterDesktopPluginRegistrar* registrar, const char* channel);

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_PLUGINS_NOT_IMPLEMENTED_CHANNEL_H_
