// The device report's text (--report FILE): what the device list,
// describeDevice and the timed thumbnail and copy answered, written for a
// person to read and attach to a report of a problem, and masked so that it
// carries nothing that names the phone or its owner.
//
// Masking (report_masking.h): object ids and persistent ids (the values of
// WPD_OBJECT_ID, _PARENT_ID, _PERSISTENT_UNIQUE_ID,
// _CONTAINER_FUNCTIONAL_OBJECT_ID, and every "objectId") keep only their
// shape; a device id keeps all but its instance segment; every device's
// friendly name becomes "<friendly name>", wherever the device's own texts
// hold it. File and folder names are kept: they are what a problem is about.

#ifndef SNAPFERRY_IMPORTER_REPORT_TEXT_H_
#define SNAPFERRY_IMPORTER_REPORT_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "importer/channel_client.h"
#include "importer/report_masking.h"
#include "messaging/encodable_value.h"

namespace importer {

// "<step> failed (HRESULT 0x8007001F)".
std::string FailedText(const std::string& step, int64_t hresult);

// The HRESULT an answer carries: an error's details, a copy's "hresult",
// or the "(HRESULT 0x...)" of its message; none when it tells none.
std::optional<int64_t> AnswerCode(const Reply& reply);

// A call of the report's own that failed.
struct CallFailure {
  std::string step;  // the method: "listDevices", "copyObject", ...
  std::optional<int64_t> hresult;  // none: the answer told none
  std::string detail;              // what the answer said; may be empty
};

// One timed call: answered, failed (listed among the failures), or never
// asked.
struct Timing {
  enum class Outcome { kNotAsked, kAnswered, kFailed };
  Outcome outcome = Outcome::kNotAsked;
  double milliseconds = 0;
  int64_t bytes = -1;  // the thumbnail's (-1: it has none), or the copy's
};

// What the report is made of.
struct ReportFacts {
  std::string version;     // VersionText()
  std::string written_at;  // "2026-10-12 14:03:22 UTC"
  // What happened, in order: the phone stayed locked, Ctrl+C, ...
  std::vector<std::string> notes;
  // listDevices' answer; none when it failed or was never answered.
  std::optional<flutter::ValueList> devices;
  std::string chosen_id;  // empty: none was chosen
  // describeDevice's answer; none when it was never asked.
  std::optional<Reply> description;
  // The object timed; empty when none fit.
  std::string object_name;
  int64_t object_size = 0;
  Timing thumbnail;
  Timing copy;
  // The report's own calls that failed, after describeDevice's "failures".
  std::vector<CallFailure> failures;
};

// The report: plain text, UTF-8, lines ending in "\n", masked throughout.
std::string ReportText(const ReportFacts& facts);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_REPORT_TEXT_H_
