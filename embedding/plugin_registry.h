#ifndef TALVOR_EMBEDDING_PLUGIN_REGISTRY_H_
#define TALVOR_EMBEDDING_PLUGIN_REGISTRY_H_

#include <string>

#include "embedding/engine_api.h"

namespace flutter {

// Hands out the engine's registrar for a plugin, which the plugin libraries'
// registration functions take.
class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;

  // The registrar of `plugin_name`, or null when there is none.
  virtual FlutterDesktopPluginRegistrar* RegistrarForPlugin(const std::string& plugin_name) = 0;

 protected:
  PluginRegistry() = default;
  PluginRegistry(const PluginRegistry&) = default;
  PluginRegistry& operator=(const PluginRegistry&) = default;
};

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_PLUGIN_REGISTRY_H_
