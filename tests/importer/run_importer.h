// snapferry-import run as a child process, for the tests that run the whole
// program (SNAPFERRY_IMPORTER names it).

#ifndef SNAPFERRY_TESTS_IMPORTER_RUN_IMPORTER_H_
#define SNAPFERRY_TESTS_IMPORTER_RUN_IMPORTER_H_

#include <filesystem>
#include <string>
#include <utility>

#include "tests/host/process_runner.h"
#include "tests/importer/test_folder.h"

namespace importer {
namespace import_test {

// Runs it in `directory` over the devices of `fixture` (written there as
// devices.json; null: no SNAPFERRY_DEVICES at all), with the arguments, the
// rest of the environment and the timeout of `options`.
inline host_test::ProcessResult RunImporter(
    const std::filesystem::path& directory, const std::string* fixture,
    host_test::ProcessOptions options) {
  options.program = SNAPFERRY_IMPORTER;
  std::string fixture_path;
  if (fixture != nullptr) {
    fixture_path = (directory / "devices.json").u8string();
    WriteFile(std::filesystem::u8path(fixture_path), *fixture);
  }
  options.environment.emplace_back("SNAPFERRY_DEVICES", fixture_path);
  options.working_directory = directory.u8string();
  return host_test::RunProcess(options);
}

}  // namespace import_test
}  // namespace importer

#endif  // SNAPFERRY_TESTS_IMPORTER_RUN_IMPORTER_H_
