// One import, played over the channels as the app's UI would: list the
// devices, pick one, enumerate its media (scanning to tell why when nothing
// is listed), and copy each file that is not yet in the folder through a
// staging file that is moved into place without replacing anything.
//
// Everything runs on the UI thread: the engine calls Start and
// OnProgramMessage, the importer's loop calls Interrupt and the tasks given
// to `Environment::after`.

#ifndef SNAPFERRY_IMPORTER_IMPORT_SESSION_H_
#define SNAPFERRY_IMPORTER_IMPORT_SESSION_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "importer/channel_client.h"
#include "importer/file_placement.h"
#include "importer/folder_index.h"
#include "importer/folder_lock.h"
#include "importer/ledger.h"
#include "importer/options.h"
#include "platform/engine/inprocess/interface.h"

namespace importer {

inline constexpr int kExitImported = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitNotStarted = 2;
inline constexpr int kExitInterrupted = 130;

// Copies (and thumbnail requests) of one file in one import: a file whose
// copy keeps meeting a went-away code, whether the phone comes back or
// never left, fails after this many.
inline constexpr int kAttemptsPerFile = 3;

// What the session needs from the program around it.
struct Environment {
  // One line of output.
  std::function<void(const std::string& line)> write_line;
  // Redraws the progress line in place (only set when output is a terminal).
  std::function<void(const std::string& status)> show_status;
  // Runs `task` on the UI thread after `milliseconds`.
  std::function<void(int milliseconds, std::function<void()> task)> after;
  // The import is over; the program exits with `exit_code`.
  std::function<void(int exit_code)> finished;
};

class ImportSession : public engine_inprocess::EngineInterface {
 public:
  ImportSession(Options options, Environment environment,
                engine_inprocess::InterfaceHost& host);

  void Start() override;
  void OnProgramMessage(const std::string& channel,
                        const std::vector<uint8_t>& bytes) override;

  // Ctrl+C or the console closing: the copy running is cancelled (its
  // staging file goes), the summary is printed, exit code 130.
  void Interrupt();

  std::shared_ptr<const CallCounts> call_counts() const {
    return client_.counts();
  }

 private:
  struct MediaFile {
    std::string object_id;
    std::string name;         // made safe
    std::string folder_name;  // made safe; empty: the top folder
    std::string folder;       // full path
    int64_t size = 0;         // as listed; 0: the listing did not tell
  };
  // Something the last listing could not read: a folder, or an object.
  struct UnreadItem {
    std::string folder;
    std::string object_id;
    int64_t hresult = 0;
  };

  // A file's identity across connections (object ids change on a replug):
  // its folder and name.
  static std::string Key(const MediaFile& file);
  MediaFile FileOf(const flutter::EncodableValue& entry) const;

  void ListDevices();
  // A batch of the running enumeration's entries: the first says the roll
  // is being read, each updates the count of what was found.
  void OnMediaBatch(const flutter::EncodableValue& batch);
  void OnDevices(const Reply& reply);
  void Enumerate();
  void OnEnumerated(const Reply& reply, int enumeration);
  void Scan(const std::string& enumeration_error);
  void Plan(const flutter::ValueList& entries);
  // The check at the end: the roll listed once more, every file on it in
  // the folder. `entries` null: the listing failed with `error`.
  void Check(const flutter::ValueList* entries, const std::string& error);
  // Whether the folder holds `file` (its name or a " (n)" variant, of its
  // listed size when one was listed), as `folders` read it.
  bool InFolder(const MediaFile& file, FolderIndex& folders) const;
  // Records what the last listing could not read as failures.
  void RecordUnread();
  // One file of the copy phase, from its start to its outcome. Files start
  // in order, up to Options::copies_in_flight at once, and are settled
  // (placed, counted and printed) in the same order, whatever order their
  // copies end in.
  struct CopySlot {
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
  // Starts copies while there is room, settles what is answered at the
  // head, and finishes once nothing is left.
  void PumpCopies();
  // Starts the next file's copy (or records why it cannot start); false
  // when nothing more may start now.
  bool StartNextCopy();
  int CopiesRunning() const;
  // Settles the slot at the head, which stays there until its placement is
  // over (a scanner may hold the file for a while); then SettleDone.
  void Settle(CopySlot slot);
  void SettleDone();
  // Moves a complete staging file into place (or finds it there already),
  // then `done` with the failure reason or "".
  struct Placement;
  void Place(const MediaFile& file, const std::string& staging, int64_t bytes,
             std::function<void(const std::string& why)> done);
  void PlaceUnderFreeName(const std::shared_ptr<Placement>& placement);
  // Removes a staging file, waiting out a scanner that holds it; one that
  // stays is named in the summary. Then `then`.
  void RemoveStaging(const std::string& folder, const std::string& path,
                     std::function<void()> then);

  // Says `message` once per distinct message, then tries `again` after the
  // poll interval or at the next device arrival, whichever comes first, or
  // gives up once the wait is over: exit code 2 before the copy phase, the
  // files still owed reported as failed in it (GiveUp).
  void WaitThen(const std::string& message, void (ImportSession::*again)());
  // Runs the waiting step now (a device arrived, or the poll interval ran
  // out).
  void Wake();

  // "snapferry/wpd_devices": arrivals wake a wait, a removal of the chosen
  // device is the phone going away, a reset asks for a replug.
  void OnDeviceEvent(const std::string& event, const std::string& id);
  bool IsChosenDevice(const std::string& id) const;
  // The phone went away (removed, or a call met a device that is gone): no
  // copy starts, the running ones end, and once they have the import waits
  // for it to come back (AwaitReturn), lists it again and carries on with
  // what is not yet in the folder.
  void WentAway();
  void AwaitReturn();
  // The wait for the phone ended in the copy phase: the files still owed
  // are reported as failed and the summary follows.
  void GiveUp();
  // Whether a copy's or thumbnail's reply says the device went away.
  static bool MeansDeviceGone(const Reply& reply);
  // One file or thumbnail answered a went-away code: is the phone still
  // listed? Asked after a pause, the first time on a connection (Windows
  // takes a moment to notice an unplug); no copy or thumbnail starts
  // meanwhile. Not listed: WentAway. Listed: only that file failed.
  void Probe();
  void OnProbed(const Reply& reply);

  // Thumbnails (--thumbnails): each photo's, at most kThumbnailsInFlight
  // requests at once, alongside the copies.
  void QueueThumbnail(const MediaFile& file);
  void PumpThumbnails();
  void SaveThumbnail(const MediaFile& file, const std::vector<uint8_t>& jpeg);
  void ThumbnailSaved(const MediaFile& file, MoveOutcome outcome,
                      const std::string& why);
  std::string ThumbnailFolder(const MediaFile& file) const;
  // Finishes once the copies, and the thumbnails unless interrupted, are
  // done.
  void FinishWhenDone();
  void Fail(const MediaFile& file, const std::string& why);
  // Records `outcome` for the file and says it when it is news.
  void Settled(const MediaFile& file, Outcome outcome);
  void ShowProgress();
  void Line(const std::string& text);
  // Takes the destination's lock (making the folder if need be); false, with
  // the import stopped, when it cannot.
  bool LockDestination();
  // Lets go of the lock and removes the folders this import made that
  // stayed empty.
  void RemoveEmptyFolders();
  // Prints the summary and ends with 0, 1 or 130.
  void Finish();
  // Ends without an import: `problem`, then exit code 2 (130 if interrupted).
  void Stop(const std::string& problem);
  std::string DisplayName(const MediaFile& file) const;

  const Options options_;
  const Environment environment_;
  ChannelClient client_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point wait_until_;
  std::set<std::string> said_;
  bool interrupted_ = false;
  bool copying_ = false;  // the copy phase began
  bool over_ = false;

  std::string destination_;
  std::string device_id_;
  // Tells this session's current enumeration from earlier ones.
  int enumerations_ = 0;
  bool roll_announced_ = false;
  int64_t found_photos_ = 0;
  int64_t found_videos_ = 0;
  std::vector<MediaFile> to_copy_;
  size_t next_ = 0;  // files started (or failed before starting)
  std::deque<CopySlot> slots_;
  int64_t copied_bytes_ = 0;
  int64_t total_bytes_ = 0;
  // What became of each file listed.
  Ledger ledger_;
  // One import per folder: held from the start to the summary.
  FolderLock lock_;
  std::vector<std::string> created_folders_;
  // Scanners waited out, on the UI thread's timers.
  HoldWaits holds_;
  // The head slot's placement is under way (settling_inline_: within the
  // PumpCopies call that started it).
  bool settling_ = false;
  bool settling_inline_ = false;
  // Staging files that could not be removed, with why: said in the summary.
  std::vector<std::string> left_behind_;
  // The last batch of the current enumeration came, with what it could not
  // read; a roll with unread items is listed once more before planning.
  int final_batch_ = 0;  // the enumeration whose last batch came
  std::vector<UnreadItem> unread_;
  // What the listings used could not read, by folder and object id: each is
  // one failure, said once.
  std::set<std::pair<std::string, std::string>> unread_seen_;
  bool unread_listed_again_ = false;
  // The check at the end is listing the roll; new files it found.
  bool checking_ = false;
  int new_files_ = 0;
  // A probe (Probe) is out; the connection whose first probe paused.
  bool probing_ = false;
  int paused_connection_ = -1;
  // Outcomes recorded when the phone last went away: a going away with no
  // outcome since does not make the wait longer, so no loop of "went away,
  // back" outlasts it.
  int outcomes_at_away_ = -1;

  // Waiting (WaitThen): the step to run when woken; a generation tells the
  // current wait's timer from earlier ones.
  void (ImportSession::*waiting_)() = nullptr;
  int wait_generation_ = 0;
  // The phone went away mid-import and has not been listed again yet.
  bool away_ = false;
  // Counts the connections this import has used (a replug is a new one):
  // replies to requests of an earlier one are not taken as news.
  int connection_ = 0;
  // A reset was told and no listing since has shown the device again; the
  // enumeration that was current then.
  bool reset_pending_ = false;
  int reset_enumeration_ = 0;
  // Files whose copy ended because the phone went away, with why, to be
  // copied again once it is back.
  struct Held {
    MediaFile file;
    std::string why;
  };
  std::vector<Held> held_;
  std::map<std::string, int> attempts_;  // copies started, by key
  // Bytes of the files placed (or found there) after their copy, by key:
  // what the check at the end looks for.
  std::map<std::string, int64_t> placed_sizes_;

  std::string thumbnails_;  // absolute folder; empty: no thumbnails
  std::deque<MediaFile> thumbnail_queue_;
  int thumbnails_running_ = 0;
  int thumbnails_saving_ = 0;  // being moved into place
  std::set<std::string> thumbnails_done_;  // keys answered for good
  std::map<std::string, int> thumbnail_attempts_;  // requests, by key
  int thumbnails_saved_ = 0;
  int thumbnails_there_ = 0;
  int thumbnails_failed_ = 0;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_IMPORT_SESSION_H_
