// The importer's command line.

#ifndef SNAPFERRY_IMPORTER_OPTIONS_H_
#define SNAPFERRY_IMPORTER_OPTIONS_H_

#include <string>
#include <vector>

namespace importer {

inline constexpr char kDefaultFolder[] = "snapferry-import";
inline constexpr int kDefaultWaitSeconds = 300;
inline constexpr int kDefaultPollMilliseconds = 2000;
// Copies running at once: one file's flush overlaps the next one's reads.
inline constexpr int kDefaultCopiesInFlight = 2;
// Thumbnail requests in flight at once.
inline constexpr int kThumbnailsInFlight = 4;
// Overrides the poll interval (tests): milliseconds, 1 or more.
inline constexpr char kPollEnvironmentVariable[] = "SNAPFERRY_POLL_MS";
// How long a went-away code waits before the device list is asked whether
// the phone is really gone (Windows takes a moment to notice an unplug);
// overridden by this variable (tests), milliseconds, 0 or more.
inline constexpr int kDefaultUnplugNoticeMilliseconds = 1000;
inline constexpr char kUnplugNoticeEnvironmentVariable[] =
    "SNAPFERRY_UNPLUG_NOTICE_MS";
// Set (to anything): a diagnostic line on standard error at the end.
inline constexpr char kDiagnosticsVariable[] = "SNAPFERRY_IMPORT_DIAGNOSTICS";

struct Options {
  std::string folder = kDefaultFolder;
  std::string device;      // friendly name or id; empty: the first Apple device
  std::string thumbnails;  // folder for the photos' thumbnails; empty: none
  // The file to write a report on the device into, instead of importing
  // (device_report.h); empty: an import.
  std::string report;
  int wait_seconds = kDefaultWaitSeconds;
  int poll_milliseconds = kDefaultPollMilliseconds;
  int unplug_notice_milliseconds = kDefaultUnplugNoticeMilliseconds;
  int copies_in_flight = kDefaultCopiesInFlight;  // 1 or more
  bool dry_run = false;
  bool demo = false;
  bool help = false;
  bool version = false;
};

// Reads `arguments` (after the program name) into `options`; false with
// `error` set when they cannot be understood. --report imports nothing, so
// it goes with neither a FOLDER nor --dry-run nor --thumbnails: rather than
// let a person think an import ran, that is a usage error.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options,
                  std::string* error);

// Reads the poll interval override (null or invalid: unchanged).
void ApplyPollOverride(const char* value, Options* options);
// Reads the unplug-notice pause override (null or invalid: unchanged).
void ApplyUnplugNoticeOverride(const char* value, Options* options);

std::string HelpText();
// "snapferry-import 0.1.0\n": the program's name and the project's version.
std::string VersionText();

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_OPTIONS_H_
