// snapferry-import's version as a person asks for it: `--version` prints the
// project's version (the one set in the top CMakeLists.txt, passed to this
// test apart from the header the program is built with) and does nothing
// else, and `--help` names the option.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/host/process_runner.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

TEST(ImporterVersionTest, VersionAndHelpAnswerWithoutStartingAnImport) {
  const fs::path directory =
      fs::temp_directory_path() / "snapferry_importer_version";
  fs::remove_all(directory);
  fs::create_directories(directory);

  struct Case {
    std::vector<std::string> arguments;
    std::string expected_out;  // whole output, or a part of it when `part`
    bool part;
  };
  const Case cases[] = {
      {{"--version"}, "snapferry-import " SNAPFERRY_PROJECT_VERSION "\n", false},
      {{"photos", "--version"},
       "snapferry-import " SNAPFERRY_PROJECT_VERSION "\n", false},
      {{"--help"}, "\n  --version       the program's version\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.back());
    host_test::ProcessOptions options;
    options.program = SNAPFERRY_IMPORTER;
    options.arguments = c.arguments;
    // Were an import to start, it would find no device and wait.
    options.environment = {{"SNAPFERRY_DEVICES", ""}};
    options.working_directory = directory.u8string();
    options.timeout = std::chrono::seconds(30);
    const host_test::ProcessResult result = host_test::RunProcess(options);
    ASSERT_TRUE(result.started);
    ASSERT_FALSE(result.timed_out) << result.out;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string out = WithoutCarriageReturns(result.out);
    if (c.part) {
      EXPECT_NE(out.find(c.expected_out), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, c.expected_out);
    }
    EXPECT_EQ(result.err, "");
    // No folder made, no lock taken.
    EXPECT_TRUE(fs::is_empty(directory));
  }
  fs::remove_all(directory);
}

}  // namespace
}  // namespace importer
