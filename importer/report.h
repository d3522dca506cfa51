// What the import tells a person: one line per event, the progress line
// updated in place on a terminal, and the summary with the exit code. The
// summary's last words are a claim a person acts on (they clear their
// phone), so it states only what the ledger holds.

#ifndef SNAPFERRY_IMPORTER_REPORT_H_
#define SNAPFERRY_IMPORTER_REPORT_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "importer/ledger.h"
#include "importer/progress_rate.h"

namespace importer {

inline constexpr int kExitImported = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitNotStarted = 2;
inline constexpr int kExitInterrupted = 130;

// A phone that lists fewer files than this is most likely keeping the rest
// of its library in iCloud ("Optimize iPhone Storage"), which WPD never
// shows.
inline constexpr int kSmallRoll = 50;

class Report {
 public:
  using Write = std::function<void(const std::string& text)>;
  using Clock = ProgressRate::Clock;

  // `show_status` redraws a line in place; empty when output is not a
  // terminal. `now` is the clock of the rate and of the time taken.
  Report(Write write_line, Write show_status,
         std::function<Clock::time_point()> now = Clock::now);

  void Line(const std::string& text) const { write_line_(text); }
  // The line in place, on a terminal only.
  void Status(const std::string& status) const;

  // Bytes of the files planned, and of those imported.
  void Planned(int64_t bytes) { planned_bytes_ += bytes; }
  void Imported(int64_t bytes) { imported_bytes_ += bytes; }
  int64_t planned_bytes() const { return planned_bytes_; }

  // The progress bar: the bytes imported and `running` more of the copies
  // under way, the rate and the time left, with `file` named as the one
  // being copied.
  void Progress(int64_t running, const std::string& file);

  // Says why a phone that is unlocked and trusted lists only `listed`
  // files, when they are fewer than kSmallRoll.
  void SmallRoll(int listed) const;

  // The summary of a dry run.
  void DryRun(size_t to_import, int already_there) const;

  // What the summary tells beside the ledger's counts.
  struct Ending {
    bool interrupted = false;
    int stopped = 0;  // files Ctrl+C left without a copy
    std::vector<std::string> left_behind;  // staging files, with why
    int new_files = 0;  // on the phone only in the check's listing
    std::string thumbnails;  // the thumbnails' line; empty: none asked for
  };
  // Prints the summary; the exit code it ends with (0, 1 or 130).
  int Summary(const Ledger& ledger, const Ending& ending) const;

 private:
  Write write_line_;
  Write show_status_;
  std::function<Clock::time_point()> now_;
  Clock::time_point started_;
  ProgressRate rate_;
  int64_t planned_bytes_ = 0;
  int64_t imported_bytes_ = 0;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_REPORT_H_
