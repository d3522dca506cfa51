#include "messaging/plugin_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/engine_project.h"
#include "messaging/flutter_engine.h"
#include "platform/engine/engine_control.h"

namespace flutter {
namespace {

TEST(PluginRegistryTest, RegistersTheFileSelectorUnderItsOwnName) {
  engine_control::Reset();
  {
    FlutterEngine engine(EngineProject(L"data"));
    RegisterLinkedPlugins(&engine);
    EXPECT_EQ(engine_control::FileSelectorRegistrations(
                  engine_control::LatestEngine()),
              std::vector<std::string>{"FileSelectorWindows"});
  }
  EXPECT_EQ(engine_control::LiveEngineCount(), 0);
}

}  // namespace
}  // namespace flutter
