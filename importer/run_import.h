// Runs one import on the calling thread, which becomes the UI thread: the
// in-process engine, the device channels' handler on a message-only window
// that drains its reply queue, Ctrl+C and console close turned into a
// cancelled copy, and the window message loop until the import is over.
// With Options::report set, the session run is the device report
// (device_report.h) instead, in the same loop.

#ifndef SNAPFERRY_IMPORTER_RUN_IMPORT_H_
#define SNAPFERRY_IMPORTER_RUN_IMPORT_H_

#include <functional>
#include <string>

#include "importer/channel_client.h"
#include "importer/options.h"

namespace importer {

struct Output {
  std::function<void(const std::string& line)> write_line;
  // Empty when the output is not a terminal: no progress line.
  std::function<void(const std::string& status)> show_status;
};

// The exit code: 0 all imported or already there, 1 some failed, 2 no
// import could start, 130 interrupted (a report: device_report.h). `counts`,
// when given, receives what went over the channels once the engine is gone.
int RunImport(const Options& options, const Output& output,
              CallCounts* counts = nullptr);

// What Ctrl+C does, from any thread: the running import stops as described
// in RunImport (nothing when none runs). Tests interrupt with it where a
// console event cannot be raised.
void InterruptRunningImport();

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_RUN_IMPORT_H_
