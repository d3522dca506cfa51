// The engine: created from a project, with the messenger over its messenger
// handle.

#ifndef SNAPFERRY_MESSAGING_FLUTTER_ENGINE_H_
#define SNAPFERRY_MESSAGING_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "messaging/binary_messenger.h"
#include "messaging/engine_project.h"
#include "messaging/plugin_registry.h"
#include "platform/engine/engine_api.h"

namespace flutter {

class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine from `project`; it is not running yet.
  explicit FlutterEngine(const EngineProject& project);
  // Destroys the engine unless its ownership was released.
  ~FlutterEngine() override;

  FlutterDesktopPluginRegistrarRef RegistrarForPlugin(
      const std::string& plugin_name) override;

  void ReloadSystemFonts();

  // `callback` (not empty) runs once, on the UI thread, after the engine's
  // next frame; it replaces any callback still waiting.
  void SetNextFrameCallback(std::function<void()> callback);

  // The messenger on the engine's messenger handle; owned by the engine.
  BinaryMessenger* messenger() const { return messenger_.get(); }

  // Hands ownership of the engine to the caller (the view controller). The
  // handle stays, so the messenger, registrars and fonts keep working.
  FlutterDesktopEngineRef ReleaseOwnership();

 private:
  static void OnNextFrame(void* user_data);

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_FLUTTER_ENGINE_H_
