// Registrars for plugins, by plugin name, and the registration of the plugins
// linked into the program.

#ifndef SNAPFERRY_MESSAGING_PLUGIN_REGISTRY_H_
#define SNAPFERRY_MESSAGING_PLUGIN_REGISTRY_H_

#include <string>

#include "platform/engine/engine_api.h"

namespace flutter {

class PluginRegistry {
 public:
  PluginRegistry() = default;
  virtual ~PluginRegistry() = default;

  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  // The engine's registrar for `plugin_name`, or null.
  virtual FlutterDesktopPluginRegistrarRef RegistrarForPlugin(
      const std::string& plugin_name) = 0;
};

// Registers the file-selector plugin, the one plugin library the program
// carries.
void RegisterLinkedPlugins(PluginRegistry* registry);

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_PLUGIN_REGISTRY_H_
