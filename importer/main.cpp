// snapferry-import: the console importer. Reads its command line, chooses
// the devices (devices.h) and runs one import (run_import.h).

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "importer/console_page.h"
#include "importer/devices.h"
#include "importer/import_session.h"
#include "importer/options.h"
#include "importer/run_import.h"
#include "platform/wpd/simulator/simulator.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], length, nullptr, nullptr);
  utf8.pop_back();
  return utf8;
}

// The arguments after the program name, in UTF-8 on every platform.
std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> utf8;
  if (arguments == nullptr) return utf8;
  for (int i = 1; i < count; ++i) utf8.push_back(Utf8(arguments[i]));
  LocalFree(arguments);
  return utf8;
}

// Width of the progress line on screen, 0 when none is shown. Cleared with
// spaces rather than terminal escapes, which older Windows consoles print.
size_t status_width = 0;

void ClearStatus() {
  if (status_width == 0) return;
  std::fprintf(stdout, "\r%s\r", std::string(status_width, ' ').c_str());
  status_width = 0;
}

void WriteLine(const std::string& line) {
  ClearStatus();
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ShowStatus(const std::string& status) {
  ClearStatus();
  std::fprintf(stdout, "\r%s", status.c_str());
  std::fflush(stdout);
  status_width = status.size();
}

// One line on standard error at the end, when SNAPFERRY_IMPORT_DIAGNOSTICS
// is set: the calls over the channels and, with simulated devices, what the
// simulator still holds (tests check that nothing is left).
std::string DiagnosticsLine(const importer::CallCounts& counts,
                            const wpd_sim::Simulator* devices) {
  std::string line = "Diagnostics: calls " + std::to_string(counts.sent) +
                     " sent, " + std::to_string(counts.answered) +
                     " answered, " + std::to_string(counts.answered_again) +
                     " answered again";
  if (devices != nullptr) {
    line += "; simulated objects live " +
            std::to_string(devices->LiveObjects()) + ", opened without close " +
            std::to_string(devices->OpenWithoutClose()) + ", random faults " +
            std::to_string(devices->RandomFaultsInjected());
  }
  return line + "\n";
}

}  // namespace

int main() {
  importer::Options options;
  std::string error;
  if (!importer::ParseOptions(Arguments(), &options, &error)) {
    std::fprintf(stderr, "snapferry-import: %s\n\n%s", error.c_str(),
                 importer::HelpText().c_str());
    return importer::kExitNotStarted;
  }
  if (options.help) {
    std::fputs(importer::HelpText().c_str(), stdout);
    return importer::kExitImported;
  }
  if (options.version) {
    std::fputs(importer::VersionText().c_str(), stdout);
    return importer::kExitImported;
  }
  importer::ApplyPollOverride(std::getenv(importer::kPollEnvironmentVariable),
                              &options);
  importer::ApplyUnplugNoticeOverride(
      std::getenv(importer::kUnplugNoticeEnvironmentVariable), &options);

  // Kept to the end. A worker still running then (one whose reply the import
  // no longer waits for) keeps its simulated objects: they outlive the
  // Simulator's registration.
  const std::unique_ptr<wpd_sim::Simulator> devices =
      importer::StartDevices(options.demo);

  importer::UseUtf8ConsoleOutput();
  importer::Output output;
  output.write_line = WriteLine;
  if (_isatty(_fileno(stdout))) output.show_status = ShowStatus;
  importer::CallCounts counts;
  const int exit_code = importer::RunImport(options, output, &counts);
  const char* diagnostics = std::getenv(importer::kDiagnosticsVariable);
  if (diagnostics != nullptr && *diagnostics != '\0') {
    ClearStatus();
    std::fputs(DiagnosticsLine(counts, devices.get()).c_str(), stderr);
  }
  importer::RestoreConsoleOutput();
  return exit_code;
}
