// The engine object over the engine library: what it hands the engine at
// creation, who destroys the engine, registrars.

#include "messaging/flutter_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/engine_project.h"
#include "platform/engine/engine_control.h"

namespace flutter {
namespace {

class FlutterEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_control::Reset(); }
  void TearDown() override {
    engine_control::RunPendingMessages();
    EXPECT_EQ(engine_control::LiveEngineCount(), 0);
    engine_control::Reset();
  }
};

TEST_F(FlutterEngineTest, HandsTheProjectToTheEngineWithNoArgumentsAsNull) {
  { FlutterEngine engine(EngineProject(L"data")); }
  const auto properties = engine_control::LastProperties();
  ASSERT_TRUE(properties.has_value());
  EXPECT_EQ(properties->assets_path, L"data\\flutter_assets");
  EXPECT_EQ(properties->icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(properties->aot_library_path, L"data\\app.so");
  EXPECT_FALSE(properties->entry_point_null);
  EXPECT_EQ(properties->entry_point, "");
  EXPECT_EQ(properties->argument_count, 0);
  EXPECT_TRUE(properties->argument_array_null);
  EXPECT_EQ(properties->engine_options[0], 0);
  EXPECT_EQ(properties->engine_options[1], 0);
  EXPECT_EQ(properties->engine_options[2], 0);
  EXPECT_EQ(properties->reserved, 0);
}

TEST_F(FlutterEngineTest, HandsTheArgumentsOverInOrder) {
  EngineProject project(L"data");
  project.set_entry_point_arguments({"--script", "C:\\tmp\\a b.txt"});
  { FlutterEngine engine(project); }
  const auto properties = engine_control::LastProperties();
  ASSERT_TRUE(properties.has_value());
  EXPECT_EQ(properties->argument_count, 2);
  EXPECT_FALSE(properties->argument_array_null);
  EXPECT_EQ(properties->arguments,
            (std::vector<std::string>{"--script", "C:\\tmp\\a b.txt"}));
}

TEST_F(FlutterEngineTest, DestroysItsEngineUnlessItHandedItOver) {
  { FlutterEngine engine(EngineProject(L"data")); }
  EXPECT_EQ(engine_control::GetCounts().engine_destroy_calls, 1);

  FlutterDesktopEngineRef released = nullptr;
  {
    FlutterEngine engine(EngineProject(L"data"));
    released = engine.ReleaseOwnership();
    ASSERT_NE(released, nullptr);
    // The handle stays usable after the hand-over.
    EXPECT_NE(engine.RegistrarForPlugin("Any"), nullptr);
  }
  EXPECT_EQ(engine_control::GetCounts().engine_destroy_calls, 1);
  EXPECT_EQ(engine_control::LiveEngineCount(), 1);
  FlutterDesktopEngineDestroy(released);
}

TEST_F(FlutterEngineTest, WithoutAnEngineThereIsNoRegistrar) {
  engine_control::FailEngineCreation(true);
  FlutterEngine engine(EngineProject(L"data"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(engine.RegistrarForPlugin("FileSelectorWindows"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot get plugin registrar on an engine that isn't running; "
            "call Run first.\n");
}

}  // namespace
}  // namespace flutter
