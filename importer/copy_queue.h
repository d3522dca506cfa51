// The copy queue: each file to copy from the start of its copy
// ("copyObject" into a staging file) to its outcome. Files start in listing
// order, up to Options::copies_in_flight at once, and are settled (placed,
// counted and said) in the same order, whatever order their copies end in.
// A copy the phone went away from is held until it is back; one the phone
// could not serve is asked for again after the others, kAttemptsPerFile
// times in all.

#ifndef SNAPFERRY_IMPORTER_COPY_QUEUE_H_
#define SNAPFERRY_IMPORTER_COPY_QUEUE_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "importer/channel_client.h"
#include "importer/connection.h"
#include "importer/destination_folder.h"
#include "importer/import_plan.h"
#include "importer/media_file.h"
#include "importer/placement.h"
#include "importer/report.h"
#include "importer/session_state.h"

namespace importer {

class CopyQueue {
 public:
  struct Parts {
    ChannelClient& client;
    Connection& connection;  // the device, and whether it went away
    ImportPlan& plan;        // outcomes
    Placement& placement;
    DestinationFolder& destination;  // folders made
    Report& report;
  };
  // `may_start`: whether a copy may start now. `idle`: called when no copy
  // is running nor being settled after a pump.
  CopyQueue(int copies_in_flight, const SessionState& state, Parts parts,
            std::function<bool()> may_start, std::function<void()> idle);

  // The files to copy, in listing order, replacing those before.
  void Load(std::vector<MediaFile> files);
  // Starts copies while there is room, settles what is answered at the
  // head, and calls `idle` once nothing is running.
  void Pump();

  // A progress event: `bytes` of the object copied so far.
  void OnProgress(const std::string& object_id, int64_t bytes);
  // The probe ended: a file that answered a went-away code from a phone
  // still `listed` failed only this time.
  void Probed(bool listed);

  // The files this import still owes, by key: held, and not started yet.
  std::map<std::string, MediaFile> TakeOwed();
  // Each file still owed fails: held ones with their reasons, the others
  // with `why`.
  void FailOwed(const std::string& why);

  size_t files() const { return to_copy_.size(); }
  int running() const;
  bool idle() const { return slots_.empty(); }
  // The head's placement is under way.
  bool settling() const { return settling_; }
  // Files not started yet.
  bool owes() const { return next_ < to_copy_.size(); }

 private:
  struct Slot {
    size_t file = 0;      // index into to_copy_
    std::string staging;  // empty when the file failed before its copy
    std::string failure;  // why it failed before its copy
    bool answered = false;
    Reply reply;
    int64_t bytes = 0;  // progress so far
    // The reply says the device went away and the probe is still out;
    // once the phone was found listed, `still_there`.
    bool suspect = false;
    bool still_there = false;
  };
  // Starts the next file's copy (or records why it cannot start); false
  // when nothing more may start now.
  bool StartNext();
  void OnCopied(size_t index, const Reply& reply);
  // Settles the slot at the head, which stays there until its placement is
  // over (a scanner may hold the file for a while); then SettleDone.
  void Settle(Slot slot);
  void Place(const MediaFile& file, const std::string& staging,
             int64_t bytes);
  // A copy that did not bring the file: held, asked for again, or failed.
  void NotCopied(const MediaFile& file, const std::string& why,
                 bool still_there);
  void SettleDone();
  void ShowProgress() const;

  const int copies_in_flight_;
  const SessionState& state_;
  const Parts parts_;
  const std::function<bool()> may_start_;
  const std::function<void()> idle_;

  std::vector<MediaFile> to_copy_;
  size_t next_ = 0;  // files started (or failed before starting)
  std::deque<Slot> slots_;
  std::map<std::string, int> attempts_;  // copies started, by key
  // The head slot's placement is under way (settling_inline_: within the
  // Pump call that started it).
  bool settling_ = false;
  bool settling_inline_ = false;
  // Files whose copy ended because the phone went away, with why, to be
  // copied again once it is back.
  struct Held {
    MediaFile file;
    std::string why;
  };
  std::vector<Held> held_;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_COPY_QUEUE_H_
