#include "channel/wpd_channel_handler.h"

#include <dbt.h>
#include <portabledevice.h>

#include <utility>

#include "channel/device_jobs.h"
#include "channel/media_batches.h"
#include "channel/progress_events.h"
#include "messaging/standard_method_codec.h"
#include "messaging/stream_handler.h"
#include "wpd/com_apartment_guard.h"

namespace snapferry {
namespace {

using flutter::EncodableValue;

// Answers a request whose worker could not be started, so the interface is
// not left waiting for a reply that will never come.
void AnswerThreadFailure(flutter::MethodResult& result) {
  result.Error("thread_error", "Could not start a worker thread");
}

}  // namespace

std::string GetStringArgument(const EncodableValue* arguments,
                              const char* key) {
  if (arguments == nullptr) return std::string();
  const auto* map = std::get_if<flutter::ValueMap>(arguments);
  if (map == nullptr) return std::string();
  const auto entry = map->find(EncodableValue(std::string(key)));
  if (entry == map->end()) return std::string();
  const auto* text = std::get_if<std::string>(&entry->second);
  return text != nullptr ? *text : std::string();
}

WpdChannelHandler::WpdChannelHandler(flutter::BinaryMessenger* messenger,
                                     HWND window)
    : window_(window),
      reply_queue_(std::make_shared<ReplyQueue>()),
      cancel_flag_(std::make_shared<std::atomic<bool>>(false)),
      pending_copies_(std::make_shared<PendingCopies>()),
      thumbnail_cancels_(std::make_shared<std::atomic<uint64_t>>(0)),
      pending_thumbnails_(std::make_shared<PendingCopies>()),
      sessions_(std::make_shared<DeviceSessions>()),
      media_listening_(std::make_shared<std::atomic<bool>>(false)) {
  // Told on a device's own thread: only queued, to run on the UI thread.
  device_watch_ = std::make_shared<DeviceEventWatch>(
      [queue = reply_queue_, window = window_, handler = this](
          const std::string& id, DeviceEventKind kind, uint64_t session) {
        PostCompletion(queue, window, [handler, id, kind, session]() {
          handler->HandleSessionEvent(id, kind, session);
        });
      });
  // Every session the jobs open tells its device's events while someone
  // listens, and stops before it closes.
  sessions_->SetSessionHooks(
      [watch = device_watch_](const SessionKey& key, IPortableDevice* device) {
        watch->Attach(device, key.device_id);
      },
      [watch = device_watch_](const SessionKey&, IPortableDevice* device) {
        watch->Detach(device);
      });
  const flutter::StandardMethodCodec* codec =
      &flutter::StandardMethodCodec::SharedInstance();

  wpd_channel_ = std::make_unique<flutter::MethodCallChannel>(
      messenger, kWpdChannelName, codec);
  wpd_channel_->SetCallHandler(
      [this](const flutter::MethodCall& call,
             std::unique_ptr<flutter::MethodResult> result) {
        HandleMethodCall(call, std::move(result));
      });

  event_channel_ = std::make_unique<flutter::EventChannel>(
      messenger, kWpdEventChannelName, codec);
  event_channel_->AttachStreamHandler(
      std::make_unique<flutter::StreamHandlerFunctions>(
          [this](const EncodableValue*,
                 std::unique_ptr<flutter::EventSink>&& events)
              -> std::unique_ptr<flutter::StreamHandlerError> {
            event_sink_ = std::move(events);
            return nullptr;
          },
          [this](const EncodableValue*)
              -> std::unique_ptr<flutter::StreamHandlerError> {
            event_sink_.reset();
            return nullptr;
          }));

  media_channel_ = std::make_unique<flutter::EventChannel>(
      messenger, kWpdMediaChannelName, codec);
  media_channel_->AttachStreamHandler(
      std::make_unique<flutter::StreamHandlerFunctions>(
          [this](const EncodableValue*,
                 std::unique_ptr<flutter::EventSink>&& events)
              -> std::unique_ptr<flutter::StreamHandlerError> {
            media_sink_ = std::move(events);
            media_listening_->store(true, std::memory_order_release);
            return nullptr;
          },
          [this](const EncodableValue*)
              -> std::unique_ptr<flutter::StreamHandlerError> {
            media_listening_->store(false, std::memory_order_release);
            media_sink_.reset();
            return nullptr;
          }));

  devices_channel_ = std::make_unique<flutter::EventChannel>(
      messenger, kWpdDevicesChannelName, codec);
  devices_channel_->AttachStreamHandler(
      std::make_unique<flutter::StreamHandlerFunctions>(
          [this](const EncodableValue*,
                 std::unique_ptr<flutter::EventSink>&& events)
              -> std::unique_ptr<flutter::StreamHandlerError> {
            devices_sink_ = std::move(events);
            StartDeviceEvents();
            return nullptr;
          },
          [this](const EncodableValue*)
              -> std::unique_ptr<flutter::StreamHandlerError> {
            StopDeviceEvents();
            devices_sink_.reset();
            return nullptr;
          }));
}

WpdChannelHandler::~WpdChannelHandler() {
  // Unregister first, so no channel message can reach a handler that is
  // half gone; the members then go in reverse order of declaration.
  wpd_channel_->SetCallHandler(nullptr);
  event_channel_->AttachStreamHandler(nullptr);
  media_channel_->AttachStreamHandler(nullptr);
  devices_channel_->AttachStreamHandler(nullptr);
  // Running enumerations stop gathering for a listener that is gone.
  media_listening_->store(false, std::memory_order_release);
  // Idle sessions close now, those in use when their request ends.
  sessions_->Shutdown();
  // Nothing stays registered for a window that is going: neither the
  // system's notifications nor the open sessions' Advise.
  StopDeviceEvents();
}

void WpdChannelHandler::StartDeviceEvents() {
  device_watch_->StartListening();
  // Sessions kept open from before tell their events too. Advised on a
  // worker: one being opened is waited for. If none can be started, they
  // are advised when next opened. With none kept (a session counts from the
  // start of its open), every later one is advised as it opens: no worker.
  if (sessions_->Kept() > 0) {
    RunJob([sessions = sessions_, watch = device_watch_]() -> Completion {
      ComApartmentGuard apartment;
      if (apartment.usable()) {
        sessions->ForEachOpen(
            [&watch](const SessionKey& key, IPortableDevice* device) {
              watch->Attach(device, key.device_id);
            });
      }
      return [] {};
    });
  }
  if (device_notification_ != nullptr) return;
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_WPD;
  // Without it (no window, or a system that refuses) only the sessions'
  // own events come.
  device_notification_ = RegisterDeviceNotificationW(
      window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void WpdChannelHandler::StopDeviceEvents() {
  device_watch_->StopListening();
  if (device_notification_ != nullptr) {
    UnregisterDeviceNotification(device_notification_);
    device_notification_ = nullptr;
  }
  device_filter_.ForgetDevices();
}

void WpdChannelHandler::HandleDeviceChange(WPARAM event, LPARAM data) {
  if (!devices_sink_) return;
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  std::optional<std::string> path = WpdInterfacePath(data);
  if (!path) return;
  std::optional<EncodableValue> told =
      event == DBT_DEVICEARRIVAL
          ? device_filter_.Arrived(*path, device_watch_->LastSession())
          : device_filter_.Removed(*path);
  if (told) devices_sink_->Success(*told);
}

void WpdChannelHandler::HandleSessionEvent(const std::string& device_id,
                                           DeviceEventKind kind,
                                           uint64_t session) {
  // Looked up now: an event whose listener went is dropped.
  if (!devices_sink_) return;
  std::optional<EncodableValue> told =
      device_filter_.FromSession(device_id, kind, session);
  if (told) devices_sink_->Success(*told);
}

void WpdChannelHandler::SetListedDevices(
    const std::vector<DeviceInfo>& devices) {
  std::vector<std::string> ids;
  ids.reserve(devices.size());
  for (const DeviceInfo& device : devices) ids.push_back(device.id);
  device_filter_.SetListed(std::move(ids));
}

void WpdChannelHandler::HandleMethodCall(
    const flutter::MethodCall& call,
    std::unique_ptr<flutter::MethodResult> result) {
  const std::string& method = call.method_name();
  const EncodableValue* arguments = call.arguments();

  // The result is shared from here on: the job holds it, then its
  // completion, which answers it on this thread. The dispatcher keeps its
  // own reference only to answer a worker that could not be started; the
  // fallback completion holds one to answer a job that throws.
  auto start = [this, &method](SharedMethodResult shared, Job job) {
    if (test_seams_.wrap_job)
      job = test_seams_.wrap_job(method, std::move(job));
    if (!RunJob(std::move(job), MakeInternalErrorCompletion(method, shared))) {
      AnswerThreadFailure(*shared);
    }
  };

  if (method == "listDevices") {
    SharedMethodResult shared(std::move(result));
    start(shared, MakeListDevicesJob(shared, this));
  } else if (method == "scanMedia") {
    std::string id = GetStringArgument(arguments, "id");
    if (id.empty()) {
      result->Error("bad_args", "scanMedia requires a device id");
      return;
    }
    SharedMethodResult shared(std::move(result));
    start(shared, MakeScanMediaJob(shared, std::move(id), sessions_));
  } else if (method == "enumerateMedia") {
    std::string id = GetStringArgument(arguments, "id");
    if (id.empty()) {
      result->Error("bad_args", "enumerateMedia requires a device id");
      return;
    }
    // Optional: tells this enumeration's batches on "snapferry/wpd_media"
    // from those of others running at the same time.
    MediaBatcher batcher(reply_queue_, window_, this, id,
                         GetStringArgument(arguments, "token"),
                         media_listening_);
    SharedMethodResult shared(std::move(result));
    start(shared, MakeEnumerateMediaJob(shared, std::move(id),
                                        std::move(batcher), sessions_, this));
  } else if (method == "copyObject") {
    std::string id = GetStringArgument(arguments, "id");
    std::string object_id = GetStringArgument(arguments, "objectId");
    std::string temp_path = GetStringArgument(arguments, "tempPath");
    if (id.empty() || object_id.empty() || temp_path.empty()) {
      // A rejected copy leaves a pending cancel as it was.
      result->Error("bad_args",
                    "copyObject requires id, objectId and tempPath");
      return;
    }
    // A cancel that came before this copy was asked for is not meant for it.
    cancel_flag_->exchange(false);
    SharedMethodResult shared(std::move(result));
    start(shared,
          MakeCopyObjectJob(shared, std::move(id), std::move(object_id),
                            std::move(temp_path), reply_queue_, window_,
                            cancel_flag_, pending_copies_, sessions_, this));
  } else if (method == "canDelete") {
    // No check: empty ids reach the device, whose failure is the answer.
    std::string id = GetStringArgument(arguments, "id");
    std::string object_id = GetStringArgument(arguments, "objectId");
    std::optional<ListedObject> listed = FindListed(id, object_id);
    SharedMethodResult shared(std::move(result));
    start(shared, MakeCanDeleteJob(shared, std::move(id), std::move(object_id),
                                   std::move(listed), sessions_));
  } else if (method == "deleteObject") {
    std::string id = GetStringArgument(arguments, "id");
    std::string object_id = GetStringArgument(arguments, "objectId");
    // An id listed before must still name the object listed under it.
    std::optional<ListedObject> listed = FindListed(id, object_id);
    SharedMethodResult shared(std::move(result));
    start(shared,
          MakeDeleteObjectJob(shared, std::move(id), std::move(object_id),
                              std::move(listed), sessions_));
  } else if (method == "getThumbnail") {
    std::string id = GetStringArgument(arguments, "id");
    std::string object_id = GetStringArgument(arguments, "objectId");
    if (id.empty() || object_id.empty()) {
      result->Error("bad_args", "getThumbnail requires id and objectId");
      return;
    }
    SharedMethodResult shared(std::move(result));
    start(shared,
          MakeGetThumbnailJob(shared, std::move(id), std::move(object_id),
                              sessions_, thumbnail_cancels_,
                              thumbnail_cancels_->load(), pending_thumbnails_));
  } else if (method == "describeDevice") {
    std::string id = GetStringArgument(arguments, "id");
    if (id.empty()) {
      result->Error("bad_args", "describeDevice requires a device id");
      return;
    }
    SharedMethodResult shared(std::move(result));
    start(shared, MakeDescribeDeviceJob(shared, std::move(id), sessions_));
  } else if (method == "cancel") {
    // One flag for every running copy; it stays set until the next accepted
    // copyObject clears it.
    cancel_flag_->exchange(true);
    // A read that hangs in the device would never see the flag.
    pending_copies_->CancelAll();
    // The thumbnail reads accepted so far end; later ones are not touched.
    thumbnail_cancels_->fetch_add(1);
    pending_thumbnails_->CancelAll();
    result->Success();
  } else {
    result->NotImplemented();
  }
}

void WpdChannelHandler::SetListedObjects(const std::string& device_id,
                                         ListedObjects objects) {
  listed_objects_[device_id] = std::move(objects);
}

std::optional<ListedObject> WpdChannelHandler::FindListed(
    const std::string& device_id, const std::string& object_id) const {
  const auto device = listed_objects_.find(device_id);
  if (device == listed_objects_.end()) return std::nullopt;
  const ListedObject* listed = device->second.Find(object_id);
  if (listed == nullptr) return std::nullopt;
  return *listed;
}

void WpdChannelHandler::SendProgressEvent(const std::string& object_id,
                                          int64_t bytes, int64_t total) {
  // Looked up now, not when the report was made: a listener that came after
  // the report still gets it, and no listener means the report is dropped.
  if (!event_sink_) return;
  event_sink_->Success(ProgressEventValue(object_id, bytes, total));
}

void WpdChannelHandler::SendMediaBatch(const EncodableValue& batch) {
  if (!media_sink_) return;
  media_sink_->Success(batch);
}

}  // namespace snapferry
