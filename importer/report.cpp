#include "importer/report.h"

#include <cstdio>
#include <utility>

#include "importer/text_format.h"

namespace importer {
namespace {

constexpr int kBarWidth = 30;

}  // namespace

Report::Report(Write write_line, Write show_status,
               std::function<Clock::time_point()> now)
    : write_line_(std::move(write_line)),
      show_status_(std::move(show_status)),
      now_(std::move(now)),
      started_(now_()) {}

void Report::Status(const std::string& status) const {
  if (show_status_) show_status_(status);
}

void Report::Progress(int64_t running, const std::string& file) {
  if (!show_status_ || planned_bytes_ <= 0) return;
  const int64_t bytes = imported_bytes_ + running;
  rate_.Add(now_(), static_cast<uint64_t>(bytes));
  const std::string rate = rate_.Text(static_cast<uint64_t>(planned_bytes_));
  show_status_(
      ProgressBar(static_cast<double>(bytes) / planned_bytes_, kBarWidth) +
      "  " + FormatBytes(bytes) + " of " + FormatBytes(planned_bytes_) +
      (rate.empty() ? "" : "  " + rate) + "  " + file);
}

void Report::SmallRoll(int listed) const {
  if (listed >= kSmallRoll) return;
  Line("Only photos and videos stored on the phone can be imported. With "
       "\"Optimize iPhone Storage\" on, the rest stay in iCloud until they "
       "are downloaded to the phone.");
}

void Report::DryRun(size_t to_import, int already_there) const {
  Line("Dry run: " + std::to_string(to_import) + " files would be imported (" +
       FormatBytes(planned_bytes_) + "), " + std::to_string(already_there) +
       " already there.");
}

int Report::Summary(const Ledger& ledger, const Ending& ending) const {
  const double seconds =
      std::chrono::duration<double>(now_() - started_).count();
  char time[32];
  std::snprintf(time, sizeof(time), "%.1f s", seconds);
  const int failed = ledger.Count(Outcome::kFailed);
  const int there = ledger.Count(Outcome::kAlreadyThere);
  if (ledger.listed() > 0 && there == ledger.listed() && failed == 0) {
    Line("Nothing new: all " + std::to_string(ledger.listed()) +
         " files were already there (" + time + ").");
  } else {
    Line("Imported " + std::to_string(ledger.Count(Outcome::kImported)) +
         " files (" + FormatBytes(imported_bytes_) + "), " +
         std::to_string(there) + " already there, " + std::to_string(failed) +
         " failed, in " + time + ".");
  }
  if (ending.interrupted) {
    Line("Stopped: " + std::to_string(ending.stopped) +
         " files not imported.");
  }
  if (!ledger.failures().empty()) {
    Line("Failed:");
    for (const std::string& failure : ledger.failures()) Line("  " + failure);
  }
  if (!ending.left_behind.empty()) {
    // Hidden, but complete copies a person may want to delete.
    Line("Staging files that could not be removed:");
    for (const std::string& path : ending.left_behind) Line("  " + path);
  }
  if (ending.new_files > 0) {
    Line(Counted(ending.new_files, "new file", "new files") +
         " appeared on the phone during the import: run again to import " +
         (ending.new_files == 1 ? "it" : "them"));
  }
  if (!ending.thumbnails.empty()) Line(ending.thumbnails);
  const bool balanced = ledger.Balanced();
  if (!balanced) {
    Line("Internal error: the files counted do not add up to the files "
         "listed; do not rely on this import.");
  }
  return ending.interrupted                                ? kExitInterrupted
         : failed > 0 || ending.new_files > 0 || !balanced ? kExitSomeFailed
                                                           : kExitImported;
}

}  // namespace importer
