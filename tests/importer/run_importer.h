// snapferry-import (SNAPFERRY_IMPORTER) run as a child process.

#ifndef SNAPFERRY_TESTS_IMPORTER_RUN_IMPORTER_H_
#define SNAPFERRY_TESTS_IMPORTER_RUN_IMPORTER_H_

#include <string>

#include "tests/host/process_runner.h"
#include "tests/importer/test_folder.h"

namespace importer {
namespace import_test {

// Runs it in `directory` over the devices of `fixture` (written there as
// devices.json; null: no SNAPFERRY_DEVICES at all), with the rest of
// `options`.
inline host_test::ProcessResult RunImporter(const fs::path& directory,
                                            const std::string* fixture,
                                            host_test::ProcessOptions options) {
  options.program = SNAPFERRY_IMPORTER;
  const fs::path devices = directory / "devices.json";
  if (fixture != nullptr) WriteFile(devices, *fixture);
  options.environment.emplace_back(
      "SNAPFERRY_DEVICES", fixture != nullptr ? devices.u8string() : "");
  options.working_directory = directory.u8string();
  return host_test::RunProcess(options);
}

}  // namespace import_test
}  // namespace importer

#endif  // SNAPFERRY_TESTS_IMPORTER_RUN_IMPORTER_H_
