// What the importer's loop runs as the engine's interface: an import
// (ImportSession), or a report on the device (DeviceReport). Either plays
// the UI's part over the channels, on the UI thread, and stops on Ctrl+C.

#ifndef SNAPFERRY_IMPORTER_CONSOLE_SESSION_H_
#define SNAPFERRY_IMPORTER_CONSOLE_SESSION_H_

#include <functional>
#include <memory>
#include <string>

#include "importer/channel_client.h"
#include "platform/engine/inprocess/interface.h"

namespace importer {

// What a session needs from the program around it.
struct Environment {
  // One line of output.
  std::function<void(const std::string& line)> write_line;
  // Redraws the progress line in place (only set when output is a terminal).
  std::function<void(const std::string& status)> show_status;
  // Runs `task` on the UI thread after `milliseconds`.
  std::function<void(int milliseconds, std::function<void()> task)> after;
  // The session is over; the program exits with `exit_code`.
  std::function<void(int exit_code)> finished;
};

class ConsoleSession : public engine_inprocess::EngineInterface {
 public:
  // Ctrl+C or the console closing: the session stops what runs and ends
  // with exit code 130.
  virtual void Interrupt() = 0;
  // What went over the channels; kept up to date after the session is gone.
  virtual std::shared_ptr<const CallCounts> call_counts() const = 0;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_CONSOLE_SESSION_H_
