// The fixture loader (the file SNAPFERRY_DEVICES names) on any text: it
// gives a model that validates, or one line on standard error that names the
// file and says what is wrong, and then no device.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "fuzz/fuzz_util.h"
#include "platform/wpd/simulator/model.h"

namespace {

std::filesystem::path scratch;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// FixtureFromEnvironment, with what it writes to standard error (which it
// writes with stdio, to the file descriptor) caught in a file.
wpd_sim::Fixture LoadFromEnvironment(std::string* diagnostics) {
  const std::filesystem::path caught = scratch / "stderr.txt";
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  std::FILE* file = std::fopen(caught.c_str(), "wb");
  FUZZ_CHECK(saved >= 0 && file != nullptr, "cannot catch standard error");
  dup2(fileno(file), STDERR_FILENO);
  std::fclose(file);
  wpd_sim::Fixture fixture = wpd_sim::FixtureFromEnvironment();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  *diagnostics = ReadFile(caught);
  return fixture;
}

bool IsOneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' &&
         text.find_first_of("\r\n") == text.size() - 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scratch = fuzz::MakeScratchFolder("fuzz-fixture");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  wpd_sim::Fixture parsed;
  std::string error;
  const bool ok = wpd_sim::ParseFixtureJson(text, &parsed, &error);
  if (ok) {
    std::string invalid;
    FUZZ_CHECK(wpd_sim::ValidateFixture(parsed, &invalid),
               "a fixture was loaded that does not validate");
  } else {
    FUZZ_CHECK(!error.empty(), "a fixture was refused without a reason");
  }

  const std::filesystem::path path = scratch / "devices.json";
  std::filesystem::remove(path);  // a new file: no flush for a truncation
  std::ofstream(path, std::ios::binary) << text;
  wpd_sim::Fixture loaded;
  std::string load_error;
  FUZZ_CHECK(
      wpd_sim::LoadFixtureFile(path.string(), &loaded, &load_error) == ok &&
          load_error == (ok ? std::string() : error),
      "the file and its text load differently");

  setenv("SNAPFERRY_DEVICES", path.c_str(), 1);
  std::string diagnostics;
  const wpd_sim::Fixture offered = LoadFromEnvironment(&diagnostics);
  if (ok) {
    FUZZ_CHECK(diagnostics.empty(), "a fixture that loaded was complained of");
    FUZZ_CHECK(offered.devices.size() == parsed.devices.size(),
               "a fixture that loaded offers other devices");
  } else {
    FUZZ_CHECK(IsOneLine(diagnostics),
               "a fixture that failed to load is not reported in one line");
    FUZZ_CHECK(diagnostics.find(path.string()) != std::string::npos &&
                   diagnostics.find(error) != std::string::npos,
               "the report of a fixture that failed to load does not name "
               "the file and the problem");
    FUZZ_CHECK(offered.devices.empty(),
               "a fixture that failed to load offers devices");
  }
  return 0;
}
