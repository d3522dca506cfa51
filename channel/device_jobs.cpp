#include "channel/device_jobs.h"

#include <cstdint>
#include <utility>

#include "channel/method_replies.h"
#include "channel/progress_events.h"
#include "wpd/device_description.h"
#include "wpd/device_discovery.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/object_copy.h"
#include "wpd/object_deletion.h"
#include "wpd/object_thumbnail.h"

namespace snapferry {

// Each job moves its result reference into the completion it returns, so
// the request's MethodResult is let go of on the UI thread, after its
// answer, and never on the worker.

Job MakeListDevicesJob(SharedMethodResult result, WpdChannelHandler* handler) {
  return [result = std::move(result), handler]() mutable -> Completion {
    DeviceList listing = ListDevices();
    return [result = std::move(result), listing = std::move(listing),
            handler]() {
      if (!listing.message.empty()) {
        result->Error("wpd_error", listing.message);
      } else {
        handler->SetListedDevices(listing.devices);
        result->Success(DeviceListToValue(listing.devices));
      }
    };
  };
}

Job MakeScanMediaJob(SharedMethodResult result, std::string device_id,
                     SharedSessions sessions) {
  return [result = std::move(result), device_id = std::move(device_id),
          sessions = std::move(sessions)]() mutable -> Completion {
    ScanResult scan = ScanMedia(device_id, sessions.get());
    // A scan always succeeds; "status" tells what happened.
    return [result = std::move(result), scan = std::move(scan)]() {
      result->Success(ScanResultToValue(scan));
    };
  };
}

Job MakeEnumerateMediaJob(SharedMethodResult result, std::string device_id,
                          MediaBatcher batcher, SharedSessions sessions,
                          WpdChannelHandler* handler) {
  return [result = std::move(result), device_id = std::move(device_id),
          batcher = std::move(batcher), sessions = std::move(sessions),
          handler]() mutable -> Completion {
    EnumerationResult listing = EnumerateMedia(
        device_id, [&batcher](const MediaEntry& entry) { batcher.Add(entry); },
        sessions.get());
    // After a failure the reply says the listing is incomplete; what was
    // streamed before stays streamed, and what still waits is dropped.
    ListedObjects listed;
    if (listing.message.empty()) {
      batcher.Finish(listing.unread);
      // Sorted here, so the UI thread only moves it into place.
      listed = ListedObjects(listing.entries);
    }
    return [result = std::move(result), listing = std::move(listing),
            listed = std::move(listed), device_id = std::move(device_id),
            handler]() mutable {
      if (listing.message.empty()) {
        handler->SetListedObjects(device_id, std::move(listed));
      }
      if (!listing.message.empty()) {
        result->Error("wpd_error", listing.message,
                      flutter::EncodableValue(static_cast<int64_t>(
                          static_cast<int32_t>(listing.hresult))));
      } else {
        result->Success(MediaEntriesToValue(listing.entries));
      }
    };
  };
}

Job MakeCopyObjectJob(SharedMethodResult result, std::string device_id,
                      std::string object_id, std::string temp_path,
                      std::shared_ptr<WpdChannelHandler::ReplyQueue> queue,
                      HWND window,
                      std::shared_ptr<std::atomic<bool>> cancel_flag,
                      std::shared_ptr<PendingCopies> pending,
                      SharedSessions sessions, WpdChannelHandler* handler) {
  return [result = std::move(result), device_id = std::move(device_id),
          object_id = std::move(object_id), temp_path = std::move(temp_path),
          queue = std::move(queue), window,
          cancel_flag = std::move(cancel_flag), pending = std::move(pending),
          sessions = std::move(sessions), handler]() mutable -> Completion {
    ObjectOpResult copy;
    {
      // The callback's queue reference goes when the copy is over.
      ProgressCallback progress =
          MakeProgressCallback(std::move(queue), window, object_id, handler);
      copy = CopyObjectToFile(device_id, object_id, temp_path, progress,
                              *cancel_flag, pending.get(), sessions.get());
    }
    // Failure and cancellation are told by "status", never by an error.
    return [result = std::move(result), copy = std::move(copy)]() {
      result->Success(ObjectOpResultToValue(copy));
    };
  };
}

Job MakeCanDeleteJob(SharedMethodResult result, std::string device_id,
                     std::string object_id, std::optional<ListedObject> listed,
                     SharedSessions sessions) {
  return [result = std::move(result), device_id = std::move(device_id),
          object_id = std::move(object_id), listed = std::move(listed),
          sessions = std::move(sessions)]() mutable -> Completion {
    const int32_t answer = CanDeleteObject(device_id, object_id, sessions.get(),
                                           listed ? &*listed : nullptr);
    return [result = std::move(result), answer]() {
      result->Success(CanDeleteAnswerToValue(answer));
    };
  };
}

Job MakeDeleteObjectJob(SharedMethodResult result, std::string device_id,
                        std::string object_id,
                        std::optional<ListedObject> listed,
                        SharedSessions sessions) {
  return [result = std::move(result), device_id = std::move(device_id),
          object_id = std::move(object_id), listed = std::move(listed),
          sessions = std::move(sessions)]() mutable -> Completion {
    ObjectOpResult deletion = DeleteObject(device_id, object_id, sessions.get(),
                                           listed ? &*listed : nullptr);
    return [result = std::move(result), deletion = std::move(deletion)]() {
      result->Success(ObjectOpResultToValue(deletion));
    };
  };
}

Job MakeGetThumbnailJob(SharedMethodResult result, std::string device_id,
                        std::string object_id, SharedSessions sessions,
                        std::shared_ptr<std::atomic<uint64_t>> cancels,
                        uint64_t accepted_at,
                        std::shared_ptr<PendingCopies> streams) {
  return [result = std::move(result), device_id = std::move(device_id),
          object_id = std::move(object_id), sessions = std::move(sessions),
          cancels = std::move(cancels), accepted_at,
          streams = std::move(streams)]() mutable -> Completion {
    ThumbnailCancel cancel;
    cancel.requested = [&cancels, accepted_at] {
      return cancels->load() != accepted_at;
    };
    cancel.streams = streams.get();
    ThumbnailResult thumbnail =
        ReadThumbnail(device_id, object_id, sessions.get(), cancel);
    return [result = std::move(result), thumbnail = std::move(thumbnail)]() {
      if (thumbnail.cancelled) {
        result->Error("cancelled", "Cancelled");
      } else if (!thumbnail.message.empty()) {
        result->Error(
            "wpd_error", thumbnail.message,
            flutter::EncodableValue(static_cast<int64_t>(thumbnail.hresult)));
      } else if (thumbnail.present) {
        result->Success(flutter::EncodableValue(thumbnail.bytes));
      } else {
        result->Success();
      }
    };
  };
}

Job MakeDescribeDeviceJob(SharedMethodResult result, std::string device_id,
                          SharedSessions sessions) {
  return [result = std::move(result), device_id = std::move(device_id),
          sessions = std::move(sessions)]() mutable -> Completion {
    DeviceDescription description = DescribeDevice(device_id, sessions.get());
    // Built here, so the UI thread only sends it.
    flutter::EncodableValue answer;
    if (description.message.empty()) {
      answer = DeviceDescriptionToValue(device_id, description);
    }
    return [result = std::move(result), answer = std::move(answer),
            description = std::move(description)]() {
      if (!description.message.empty()) {
        result->Error(
            "wpd_error", description.message,
            flutter::EncodableValue(static_cast<int64_t>(description.hresult)));
      } else {
        result->Success(answer);
      }
    };
  };
}

Completion MakeInternalErrorCompletion(const std::string& method,
                                       SharedMethodResult result) {
  return [method, result = std::move(result)]() {
    constexpr char kText[] = "Internal error";
    const int32_t hresult = static_cast<int32_t>(E_UNEXPECTED);
    if (method == "scanMedia") {
      ScanResult scan;
      scan.status = ScanStatus::kError;
      scan.hresult = hresult;
      scan.error = kText;
      result->Success(ScanResultToValue(scan));
    } else if (method == "copyObject" || method == "deleteObject") {
      ObjectOpResult operation;
      operation.status = ObjectOpStatus::kError;
      operation.hresult = hresult;
      operation.error = kText;
      result->Success(ObjectOpResultToValue(operation));
    } else if (method == "canDelete") {
      result->Success(CanDeleteAnswerToValue(-1));
    } else {
      result->Error("wpd_error", kText,
                    flutter::EncodableValue(static_cast<int64_t>(hresult)));
    }
  };
}

}  // namespace snapferry
