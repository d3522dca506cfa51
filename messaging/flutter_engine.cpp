#include "messaging/flutter_engine.h"

#include <iostream>
#include <utility>
#include <vector>

namespace flutter {

FlutterEngine::FlutterEngine(const EngineProject& project) {
  // The record and the argument array live for the one call; the engine
  // copies what it keeps.
  std::vector<const char*> arguments;
  for (const std::string& argument : project.entry_point_arguments()) {
    arguments.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  properties.entry_point = project.entry_point().c_str();
  properties.entry_point_argc = static_cast<int32_t>(arguments.size());
  properties.entry_point_argv = arguments.empty() ? nullptr : arguments.data();
  properties.engine_option_1 = project.engine_options()[0];
  properties.engine_option_2 = project.engine_options()[1];
  properties.engine_option_3 = project.engine_options()[2];
  properties.reserved = 0;

  engine_ = FlutterDesktopEngineCreate(&properties);
  messenger_ = std::make_unique<BinaryMessengerImpl>(
      FlutterDesktopEngineGetMessenger(engine_));
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) FlutterDesktopEngineDestroy(engine_);
  engine_ = nullptr;
  next_frame_callback_ = nullptr;
  messenger_.reset();
}

FlutterDesktopPluginRegistrarRef FlutterEngine::RegistrarForPlugin(
    const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't running; "
                 "call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  FlutterDesktopEngineReloadSystemFonts(engine_);
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::OnNextFrame,
                                           this);
}

FlutterDesktopEngineRef FlutterEngine::ReleaseOwnership() {
  owns_engine_ = false;
  return engine_;
}

void FlutterEngine::OnNextFrame(void* user_data) {
  auto* self = static_cast<FlutterEngine*>(user_data);
  // Taken out before the call: the callback may set the next one.
  std::function<void()> callback = std::move(self->next_frame_callback_);
  self->next_frame_callback_ = nullptr;
  if (callback) callback();
}

}  // namespace flutter
