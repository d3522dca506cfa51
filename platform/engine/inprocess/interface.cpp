// Picks the engine's interface from its entry-point arguments.

#include "platform/engine/inprocess/interface.h"

#include "platform/engine/inprocess/engine.h"
#include "platform/engine/inprocess/script_player.h"

namespace engine_inprocess {
namespace {

InterfaceFactory& DefaultInterface() {
  static InterfaceFactory* factory = new InterfaceFactory();
  return *factory;
}

}  // namespace

void SetDefaultInterface(InterfaceFactory factory) {
  DefaultInterface() = std::move(factory);
}

std::unique_ptr<EngineInterface> CreateInterface(
    const std::vector<std::string>& arguments, InterfaceHost& host) {
  for (size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "--script") {
      std::chrono::milliseconds wait_timeout;
      {
        Registry& registry = GetRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        wait_timeout = registry.script_wait_timeout;
      }
      return std::make_unique<ScriptPlayer>(arguments[i + 1], host,
                                            wait_timeout);
    }
  }
  if (DefaultInterface()) return DefaultInterface()(arguments, host);
  return nullptr;
}

}  // namespace engine_inprocess
