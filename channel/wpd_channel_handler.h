// The object through which the interface reaches the devices: it serves the
// method channel "snapferry/wpd" and the event channels "snapferry/wpd_events"
// (copy progress), "snapferry/wpd_media" (entries of running enumerations)
// and "snapferry/wpd_devices" (devices plugged in, pulled out or reset) on
// the engine's messenger.
//
// Threads: everything here runs on the UI thread (the thread of the
// top-level window's message loop) except the jobs, which run on worker
// threads of their own. A worker hands its completion back through the reply
// queue and wakes the window with kReplyReadyMessage; the window's procedure
// calls DrainReplyQueue, which runs the completions on the UI thread.

#ifndef SNAPFERRY_CHANNEL_WPD_CHANNEL_HANDLER_H_
#define SNAPFERRY_CHANNEL_WPD_CHANNEL_HANDLER_H_

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "channel/device_events.h"
#include "channel/jobs.h"
#include "messaging/binary_messenger.h"
#include "messaging/encodable_value.h"
#include "messaging/event_channel.h"
#include "messaging/event_sink.h"
#include "messaging/method_call.h"
#include "messaging/method_channel.h"
#include "messaging/method_result.h"
#include "wpd/device_discovery.h"
#include "wpd/device_event_watch.h"
#include "wpd/device_sessions.h"
#include "wpd/listed_objects.h"
#include "wpd/pending_copies.h"

namespace snapferry {

inline constexpr char kWpdChannelName[] = "snapferry/wpd";
inline constexpr char kWpdEventChannelName[] = "snapferry/wpd_events";
inline constexpr char kWpdMediaChannelName[] = "snapferry/wpd_media";
inline constexpr char kWpdDevicesChannelName[] = "snapferry/wpd_devices";

class WpdChannelHandler {
 public:
  // Completions on their way from the workers to the UI thread. Shared by
  // the handler and every worker; only the handler that owns it drains it,
  // so completions left when the last owner goes are destroyed unrun.
  struct ReplyQueue {
    std::mutex mutex;
    // Oldest first. Appended to and emptied only under `mutex`.
    std::vector<Completion> completions;
  };

  // Registers the four channels on `messenger` (borrowed; it outlives the
  // handler). `window` is the top-level window whose procedure drains the
  // reply queue when kReplyReadyMessage arrives.
  WpdChannelHandler(flutter::BinaryMessenger* messenger, HWND window);
  // Unregisters the channels, then lets go of the members. Running jobs are
  // neither waited for nor cancelled; their completions are dropped unrun.
  ~WpdChannelHandler();

  WpdChannelHandler(const WpdChannelHandler&) = delete;
  WpdChannelHandler& operator=(const WpdChannelHandler&) = delete;

  // The dispatcher of "snapferry/wpd". Answers `result` before returning, or
  // hands it to a job that answers it later on this thread.
  void HandleMethodCall(const flutter::MethodCall& call,
                        std::unique_ptr<flutter::MethodResult> result);

  // Runs `job` on a new detached thread; its completion comes back through
  // the reply queue. When the job throws (or returns no completion),
  // `if_job_throws` goes back in its place; without one nothing does.
  // Returns at once: true when the thread started, false when it could not
  // be started, whatever the system threw (the job is then destroyed unrun).
  bool RunJob(Job job, Completion if_job_throws = nullptr);

  // Runs every completion queued so far, oldest first, without holding the
  // queue's lock. A completion that throws is reported on standard error
  // and the rest still run. Called by the window procedure on
  // kReplyReadyMessage.
  void DrainReplyQueue();

  // Test seams; the program never sets them. `start_thread` starts a worker
  // running `body` and throws as std::thread's constructor does when it
  // cannot (default: StartWorkerThread). `wrap_job` is handed every job
  // the dispatcher is about to start, with its method name, and returns the
  // job to run instead (default: the job itself).
  struct TestSeams {
    std::function<void(std::function<void()> body)> start_thread;
    std::function<Job(const std::string& method, Job job)> wrap_job;
  };
  void SetTestSeams(TestSeams seams) { test_seams_ = std::move(seams); }

  // The device sessions the requests share (tests shorten their idle time
  // and look at what is kept).
  DeviceSessions& sessions() { return *sessions_; }
  // How long a walk's first probe of a device waits for Windows to notice
  // an unplug (DeviceSessions::SetUnplugNoticePause; default 1 s).
  void SetUnplugNoticePause(std::chrono::milliseconds pause) {
    sessions_->SetUnplugNoticePause(pause);
  }

  // Sends one copy progress event to the current listener, if there is one
  // now. UI thread only (progress completions call it).
  void SendProgressEvent(const std::string& object_id, int64_t bytes,
                         int64_t total);
  // Sends one batch of enumeration entries to the listener on
  // "snapferry/wpd_media", if there is one now. UI thread only.
  void SendMediaBatch(const flutter::EncodableValue& batch);

  // WM_DEVICECHANGE, which the window procedure hands over (the window is
  // registered for WPD device interfaces while someone listens on
  // "snapferry/wpd_devices"). UI thread only.
  void HandleDeviceChange(WPARAM event, LPARAM data);
  // The UI-thread end of an event an advised session told.
  void HandleSessionEvent(const std::string& device_id, DeviceEventKind kind,
                          uint64_t session);
  // The devices listDevices answered, for the ids events carry.
  void SetListedDevices(const std::vector<DeviceInfo>& devices);
  // What an enumeration of `device_id` that succeeded listed, in place of
  // what the last one did; a delete or delete check of an id listed there
  // first checks that the id still names that object. UI thread only (the
  // enumeration's completion calls it, before the reply).
  void SetListedObjects(const std::string& device_id, ListedObjects objects);

 private:
  std::unique_ptr<flutter::MethodCallChannel> wpd_channel_;
  HWND window_;
  std::shared_ptr<ReplyQueue> reply_queue_;
  std::unique_ptr<flutter::EventChannel> event_channel_;
  std::unique_ptr<flutter::EventSink> event_sink_;
  std::shared_ptr<std::atomic<bool>> cancel_flag_;
  // The devices of the running copies, which a cancel also reaches.
  std::shared_ptr<PendingCopies> pending_copies_;
  // Thumbnail reads: each ends when the count of cancels has moved on since
  // it was accepted, so one accepted after a cancel runs on; their streams,
  // which a cancel reaches as the copies'.
  std::shared_ptr<std::atomic<uint64_t>> thumbnail_cancels_;
  std::shared_ptr<PendingCopies> pending_thumbnails_;
  // Per device id, what its last enumeration that succeeded listed. UI
  // thread only.
  std::optional<ListedObject> FindListed(const std::string& device_id,
                                         const std::string& object_id) const;
  std::map<std::string, ListedObjects> listed_objects_;
  // Device sessions kept open between requests; shared with the jobs, shut
  // down (every idle one closed) when the handler goes.
  std::shared_ptr<DeviceSessions> sessions_;
  // "snapferry/wpd_media": its listener, and whether there is one, which
  // running enumerations read on their workers to keep nothing for nobody.
  // The flag is written on the UI thread only.
  std::unique_ptr<flutter::EventChannel> media_channel_;
  std::unique_ptr<flutter::EventSink> media_sink_;
  std::shared_ptr<std::atomic<bool>> media_listening_;
  // "snapferry/wpd_devices": its listener, the system's notifications for
  // the window while there is one, the sessions' events (shared with the
  // jobs) and what to tell of them.
  void StartDeviceEvents();
  void StopDeviceEvents();
  std::unique_ptr<flutter::EventChannel> devices_channel_;
  std::unique_ptr<flutter::EventSink> devices_sink_;
  HDEVNOTIFY device_notification_ = nullptr;
  std::shared_ptr<DeviceEventWatch> device_watch_;
  DeviceEventFilter device_filter_;
  TestSeams test_seams_;
};

// Appends `completion` to `queue` and posts kReplyReadyMessage to `window`
// after unlocking. A post the window's queue refuses is made again, after a
// short and growing pause, until it is taken or the window is gone: the
// caller waits for it. Called on worker threads.
void PostCompletion(const std::shared_ptr<WpdChannelHandler::ReplyQueue>& queue,
                    HWND window, Completion completion);

// The one rule by which arguments are read: `arguments` must be a map, the
// entry under the string `key` must be a string. Anything else reads as "",
// so a missing argument and an empty one look the same.
std::string GetStringArgument(const flutter::EncodableValue* arguments,
                              const char* key);

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_WPD_CHANNEL_HANDLER_H_
