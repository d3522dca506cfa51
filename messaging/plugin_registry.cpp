#include "messaging/plugin_registry.h"

#include "platform/engine/file_selector_api.h"

namespace flutter {

void RegisterLinkedPlugins(PluginRegistry* registry) {
  FlutterDesktopPluginRegistrarRef registrar =
      registry->RegistrarForPlugin("FileSelectorWindows");
  // No engine, no registrar (the registry has said so): the plugin library
  // must not be handed a null one.
  if (registrar != nullptr) FileSelectorWindowsRegisterWithRegistrar(registrar);
}

}  // namespace flutter
