// One import, played over the channels as the app's UI would. The session
// ties the import's parts together and keeps the order of the steps: the
// folder's lock, the connection (choosing the phone, waiting for it), the
// roll (listing it), the plan (what is already there), the copy queue with
// placement, thumbnails beside it, the check at the end and the report.
//
// Everything runs on the UI thread: the engine calls Start and
// OnProgramMessage, the importer's loop calls Interrupt and the tasks given
// to `Environment::after`.

#ifndef SNAPFERRY_IMPORTER_IMPORT_SESSION_H_
#define SNAPFERRY_IMPORTER_IMPORT_SESSION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "importer/camera_roll.h"
#include "importer/channel_client.h"
#include "importer/connection.h"
#include "importer/console_session.h"
#include "importer/copy_queue.h"
#include "importer/destination_folder.h"
#include "importer/import_plan.h"
#include "importer/options.h"
#include "importer/placement.h"
#include "importer/report.h"
#include "importer/session_state.h"
#include "importer/thumbnails.h"
#include "platform/engine/inprocess/interface.h"

namespace importer {

class ImportSession : public ConsoleSession {
 public:
  ImportSession(Options options, Environment environment,
                engine_inprocess::InterfaceHost& host);

  void Start() override;
  void OnProgramMessage(const std::string& channel,
                        const std::vector<uint8_t>& bytes) override;

  // Ctrl+C or the console closing: the copy running is cancelled (its
  // staging file goes), the summary is printed, exit code 130.
  void Interrupt() override;

  std::shared_ptr<const CallCounts> call_counts() const override {
    return client_.counts();
  }

 private:
  // Takes the destination's lock (making the folder if need be); false, with
  // the import stopped, when it cannot.
  bool LockDestination();
  // A listing to plan from: the first, or the one after a replug.
  void Plan(const flutter::ValueList& entries);
  // No copy runs: waits for the phone, or finishes.
  void CopiesIdle();
  // A probe ended: the copies and thumbnails held for it go on.
  void Probed(bool listed);
  // Finishes once the copies, and the thumbnails unless interrupted, are
  // done; after the check at the end when something was copied.
  void FinishWhenDone();
  // The wait for the phone ended in the copy phase: the files still owed
  // are reported as failed and the summary follows.
  void GiveUp();
  // Prints the summary and ends with 0, 1 or 130.
  void Finish();
  // Ends without an import: `problem`, then exit code 2 (130 if
  // interrupted); in the copy phase, GiveUp.
  void Stop(const std::string& problem);

  const Options options_;
  const Environment environment_;
  ChannelClient client_;
  SessionState state_;
  Report report_;
  DestinationFolder destination_;
  ImportPlan plan_;
  Placement placement_;
  Connection connection_;
  CameraRoll roll_;
  CopyQueue copies_;
  Thumbnails thumbnails_;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_IMPORT_SESSION_H_
