// The stand-in file-selector plugin library: registering only records itself
// on the registrar's engine.

#include "platform/engine/file_selector_api.h"
#include "platform/engine/inprocess/engine.h"

void FileSelectorWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  if (registrar == nullptr || registrar->engine == nullptr) return;
  registrar->engine->file_selector_registrations.push_back(
      registrar->plugin_name);
}
