#include "messaging/engine_project.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace flutter {
namespace {

TEST(EngineProjectTest, AppendsEachFileToTheBaseWithOneBackslash) {
  const EngineProject project(L"data");
  EXPECT_EQ(project.assets_path(), L"data\\flutter_assets");
  EXPECT_EQ(project.icu_data_path(), L"data\\icudtl.dat");
  EXPECT_EQ(project.aot_library_path(), L"data\\app.so");
  // The base is used as given, separator or not.
  EXPECT_EQ(EngineProject(L"C:\\app\\").assets_path(),
            L"C:\\app\\\\flutter_assets");
}

TEST(EngineProjectTest, StartsEmptyAndTakesArgumentsOver) {
  EngineProject project(L"data");
  EXPECT_EQ(project.entry_point(), "");
  EXPECT_TRUE(project.entry_point_arguments().empty());
  EXPECT_EQ(project.engine_options(), (std::array<int32_t, 3>{0, 0, 0}));
  std::vector<std::string> arguments = {"--script", "-"};
  project.set_entry_point_arguments(std::move(arguments));
  EXPECT_EQ(project.entry_point_arguments(),
            (std::vector<std::string>{"--script", "-"}));
}

}  // namespace
}  // namespace flutter
