// The file-selector plugin library's one entry point: registers the plugin
// with the engine behind the registrar.

#ifndef PLATFORM_ENGINE_FILE_SELECTOR_API_H_
#define PLATFORM_ENGINE_FILE_SELECTOR_API_H_

#include "platform/engine/engine_api.h"

#ifdef __cplusplus
extern "C" {
#endif

void FileSelectorWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // PLATFORM_ENGINE_FILE_SELECTOR_API_H_
