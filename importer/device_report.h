// --report FILE: instead of an import, a report on the device for a person
// to attach to a report of a problem. The device is chosen and waited for
// as an import chooses it (Connection), and so is its unlock; then what
// describeDevice answers, the listing, one thumbnail and one copy timed
// (the smallest photo or video under kLargestTimedObject, copied into a
// temporary file that is deleted again), and every call that failed go
// into FILE as report_text.h writes it. Nothing on the phone changes, and
// no photo's content goes into the report.
//
// Exit codes: 0 the report was written; 2 no device could be opened (none
// chosen within the wait, or describeDevice could not open it: the report
// is written all the same, as it is the one most needed) or FILE could not
// be written; 130 Ctrl+C (the report is written with what was learnt).

#ifndef SNAPFERRY_IMPORTER_DEVICE_REPORT_H_
#define SNAPFERRY_IMPORTER_DEVICE_REPORT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "importer/channel_client.h"
#include "importer/connection.h"
#include "importer/console_session.h"
#include "importer/options.h"
#include "importer/report.h"
#include "importer/report_text.h"
#include "importer/session_state.h"
#include "platform/engine/inprocess/interface.h"

namespace importer {

// The largest object timed: 10 MB as the importer writes sizes (10 MiB),
// so that the copy takes a moment on any cable and never long.
inline constexpr int64_t kLargestTimedObject = 10 * 1024 * 1024;

class DeviceReport : public ConsoleSession {
 public:
  DeviceReport(Options options, Environment environment,
               engine_inprocess::InterfaceHost& host);

  void Start() override;
  void OnProgramMessage(const std::string& channel,
                        const std::vector<uint8_t>& bytes) override;
  // Ctrl+C: a running copy is cancelled (its temporary file goes); the
  // report is written with what is known, exit code 130.
  void Interrupt() override;

  std::shared_ptr<const CallCounts> call_counts() const override {
    return client_.counts();
  }

 private:
  // In order; Interrupt tells which one Ctrl+C stopped.
  enum class Step {
    kChoosing,
    kUnlocking,
    kDescribing,
    kListing,
    kThumbnail,
    kCopying
  };
  using Clock = std::chrono::steady_clock;

  // The wait ran out, or the devices cannot be listed.
  void Stopped(const std::string& problem);
  void Scan();
  void Describe();
  void List();
  void TimeThumbnail(const std::string& object_id);
  void TimeCopy(const std::string& object_id);
  void Copied(const std::string& path, const Reply& reply,
              Clock::time_point started);
  // A failed call of the report's own.
  void Failed(const std::string& method, const Reply& reply);
  // Writes the report (the devices as last listed) and ends with
  // `exit_code`, or 2 when FILE cannot be written.
  void Finish(int exit_code);

  const Options options_;
  const Environment environment_;
  ChannelClient client_;
  SessionState state_;
  Report report_;
  Connection connection_;
  Step step_ = Step::kChoosing;
  bool seen_locked_ = false;  // a scan showed a locked phone
  ReportFacts facts_;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_DEVICE_REPORT_H_
