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
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "importer/channel_client.h"
#include "importer/options.h"
#include "platform/engine/inprocess/interface.h"

namespace importer {

inline constexpr int kExitImported = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitNotStarted = 2;
inline constexpr int kExitInterrupted = 130;

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
    int64_t size = 0;
  };

  // A file's identity across connections (object ids change on a replug):
  // its folder and name.
  static std::string Key(const MediaFile& file);

  void ListDevices();
  // A batch of the running enumeration's entries: the first says the roll
  // is being read, each updates the count of what was found.
  void OnMediaBatch(const flutter::EncodableValue& batch);
  void OnDevices(const Reply& reply);
  void Enumerate();
  void OnEnumerated(const Reply& reply, int enumeration);
  void Scan(const std::string& enumeration_error);
  void Plan(const flutter::ValueList& entries);
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
  };
  // Starts copies while there is room, settles what is answered at the
  // head, and finishes once nothing is left.
  void PumpCopies();
  // Starts the next file's copy (or records why it cannot start); false
  // when nothing more may start now.
  bool StartNextCopy();
  int CopiesRunning() const;
  void Settle(const CopySlot& slot);
  // Moves a complete staging file into place; the failure reason or "".
  std::string Place(const MediaFile& file, const std::string& staging,
                    int64_t bytes);

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

  // Thumbnails (--thumbnails): each photo's, at most kThumbnailsInFlight
  // requests at once, alongside the copies.
  void QueueThumbnail(const MediaFile& file);
  void PumpThumbnails();
  void SaveThumbnail(const MediaFile& file, const std::vector<uint8_t>& jpeg);
  std::string ThumbnailFolder(const MediaFile& file) const;
  // Finishes once the copies, and the thumbnails unless interrupted, are
  // done.
  void FinishWhenDone();
  void Fail(const MediaFile& file, const std::string& why);
  void ShowProgress();
  void Line(const std::string& text);
  // Removes the folders this import made that stayed empty.
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
  int listed_ = 0;
  int imported_ = 0;
  int already_there_ = 0;
  int cancelled_ = 0;
  std::vector<std::string> failures_;
  std::vector<std::filesystem::path> created_folders_;

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
  // Keys of files with an outcome in this import (imported, already there,
  // failed, cancelled): never tried again after a replug.
  std::set<std::string> settled_;
  std::map<std::string, int> attempts_;  // copies started, by key

  std::string thumbnails_;  // absolute folder; empty: no thumbnails
  std::deque<MediaFile> thumbnail_queue_;
  int thumbnails_running_ = 0;
  std::set<std::string> thumbnails_done_;  // keys answered for good
  int thumbnails_saved_ = 0;
  int thumbnails_there_ = 0;
  int thumbnails_failed_ = 0;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_IMPORT_SESSION_H_
