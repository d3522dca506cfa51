// The roll: listing the chosen device ("enumerateMedia"), the batches
// streamed while it is read, what it could not read, listing it again
// (after a replug, a reset, or once more when some could not be read), a
// scan that tells a locked phone from an empty one, and the check at the
// end: the roll listed once more, every file on it in the folder.

#ifndef SNAPFERRY_IMPORTER_CAMERA_ROLL_H_
#define SNAPFERRY_IMPORTER_CAMERA_ROLL_H_

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "importer/channel_client.h"
#include "importer/connection.h"
#include "importer/import_plan.h"
#include "importer/options.h"
#include "importer/report.h"
#include "importer/session_state.h"

namespace importer {

// What a phone that shows nothing yet (locked, or not trusting this PC) is
// told; the device report waits for it the same way.
inline constexpr char kUnlockLine[] =
    "The device shows no photos yet. Unlock it, and if it asks whether to "
    "trust this computer, tap Trust.";

class CameraRoll {
 public:
  struct Events {
    // A listing to plan from: it shows files, or something it could not
    // read.
    std::function<void(const flutter::ValueList& entries)> listed;
    // The phone holds no photos or videos; or the check at the end is over.
    std::function<void()> done;
    // The import cannot go on: `problem` says why.
    std::function<void(const std::string& problem)> stop;
  };

  // `destination`: the folder the check at the end looks in, and names.
  CameraRoll(const Options& options, const SessionState& state,
             ChannelClient& client, Connection& connection,
             const Report& report, std::string destination, Events events);

  // Lists the roll (on a phone that went away: waits for it first).
  void Enumerate();
  // A batch of the running listing's entries, on "snapferry/wpd_media".
  void OnBatch(const flutter::EncodableValue& batch);

  // The device reset: only a listing started after now, and showing
  // something, is trusted.
  void Reset();
  // A reset was told and no listing since has shown the device again.
  bool reset_pending() const { return reset_pending_; }

  // Records what the last listing could not read in `ledger` as failures,
  // each said once.
  void RecordUnread(Ledger& ledger);
  // The last listing could not read something not recorded yet.
  bool HasUnread() const { return !unread_.empty(); }

  // The check at the end: lists the roll once more and checks every file
  // on it against `plan`.
  void Check(ImportPlan& plan);
  bool checking() const { return plan_checked_ != nullptr; }
  // Files that appeared only in the check's listing.
  int new_files() const { return new_files_; }

 private:
  // Something the last listing could not read: a folder, or an object.
  struct UnreadItem {
    std::string folder;
    std::string object_id;
    int64_t hresult = 0;
  };
  void OnEnumerated(const Reply& reply, int enumeration);
  // Nothing listed: tells a locked phone from an empty one.
  void Scan(const std::string& enumeration_error);
  void OnCheckListing(const flutter::ValueList* entries,
                      const std::string& error);
  void WaitToList(const std::string& message);

  const Options& options_;
  const SessionState& state_;
  ChannelClient& client_;
  Connection& connection_;
  const Report& report_;
  const std::string destination_;
  const Events events_;

  // Tells this session's current listing from earlier ones.
  int enumerations_ = 0;
  bool announced_ = false;
  int64_t found_photos_ = 0;
  int64_t found_videos_ = 0;
  // The listing whose last batch came, with what it could not read; a roll
  // with unread items is listed once more before planning.
  int final_batch_ = 0;
  std::vector<UnreadItem> unread_;
  // What the listings used could not read, by folder and object id: each
  // is one failure, said once.
  std::set<std::pair<std::string, std::string>> unread_seen_;
  bool listed_again_ = false;
  bool reset_pending_ = false;
  int reset_enumeration_ = 0;  // the listing current at the reset
  // The plan the check at the end is checking, while it lists the roll.
  ImportPlan* plan_checked_ = nullptr;
  int new_files_ = 0;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_CAMERA_ROLL_H_
