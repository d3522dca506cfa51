#include "importer/device_report.h"

#include <windows.h>

#include <ctime>
#include <optional>
#include <utility>

#include "importer/camera_roll.h"
#include "importer/file_placement.h"
#include "importer/report_file.h"

namespace importer {
namespace {

using flutter::EncodableValue;
using flutter::ValueList;
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point started) {
  return std::chrono::duration<double, std::milli>(Clock::now() - started)
      .count();
}

// "2026-10-12 14:03:22 UTC": a report read elsewhere needs no time zone.
std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);  // the UI thread's alone
  char text[32] = "";
  if (utc != nullptr) {
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", utc);
  }
  return text;
}

// An edit's sidecar (.aae) is no photo to time.
bool IsSidecar(const std::string& name) {
  return name.size() >= 4 &&
         EqualIgnoringAsciiCase(name.substr(name.size() - 4), ".aae");
}

}  // namespace

DeviceReport::DeviceReport(Options options, Environment environment,
                           engine_inprocess::InterfaceHost& host)
    : options_(std::move(options)),
      environment_(std::move(environment)),
      client_(host),
      report_(environment_.write_line, environment_.show_status),
      connection_(options_, state_, client_, report_, environment_.after,
                  Connection::Events{
                      [this](const EncodableValue& device) {
                        facts_.chosen_id = StringField(device, "id");
                        step_ = Step::kUnlocking;
                        Scan();
                      },
                      // The report never waits for a phone to come back:
                      // what its going did to the calls is in the report.
                      [] {}, [] {}, [] {}, [](bool) {},
                      [this](const std::string& problem) { Stopped(problem); },
                      [] { return 0; }}) {
  facts_.version = VersionText();
}

void DeviceReport::Start() {
  // As the import: an arrival ends a wait at once.
  client_.Call(kDevicesChannel, "listen", nullptr,
               [this](const Reply&) { connection_.ListDevices(); });
}

void DeviceReport::OnProgramMessage(const std::string& channel,
                                    const std::vector<uint8_t>& bytes) {
  if (channel != kDevicesChannel || state_.over) return;
  const Reply event = DecodeReply(bytes);
  const std::string kind = StringField(event.value, "event");
  const std::string id = StringField(event.value, "id");
  if (kind == "arrived") {
    connection_.OnDeviceEvent(kind, id);
  } else if (!facts_.chosen_id.empty() &&
             EqualIgnoringAsciiCase(id, facts_.chosen_id)) {
    if (kind == "removed") {
      facts_.notes.push_back(
          "The device went away (unplugged, or it stopped answering) while "
          "the report was made.");
    } else if (kind == "reset") {
      facts_.notes.push_back("The device reset while the report was made.");
    }
  }
}

void DeviceReport::Interrupt() {
  if (state_.over || state_.interrupted) return;
  state_.interrupted = true;
  report_.Line("Stopping (Ctrl+C)...");
  static const char* const kDoing[] = {
      "while choosing the device",   "while waiting for the device to unlock",
      "while describing the device", "while listing the media",
      "while timing the thumbnail",  "while timing the copy"};
  facts_.notes.push_back(std::string("Stopped with Ctrl+C ") +
                         kDoing[static_cast<int>(step_)] + ".");
  if (step_ == Step::kCopying) {
    // The copy answers "cancelled" and the report follows its answer, once
    // the temporary file is gone.
    client_.Call(kMethodChannel, "cancel", nullptr, [](const Reply&) {});
    return;
  }
  Finish(kExitInterrupted);
}

void DeviceReport::Stopped(const std::string& problem) {
  if (state_.over) return;
  if (step_ == Step::kUnlocking) {
    // Still locked: worth describing all the same (its storage shows no
    // children then).
    facts_.notes.push_back(
        "The device stayed locked, or did not trust this computer, for the "
        "whole wait (" +
        std::to_string(options_.wait_seconds) +
        " seconds): it is described as it showed itself.");
    report_.Line("The device stayed locked; describing it as it is.");
    Describe();
    return;
  }
  report_.Line(problem);
  const Reply& devices = connection_.devices_reply();
  if (!devices.ok()) {
    Failed("listDevices", devices);
  } else {
    facts_.notes.push_back(
        std::string("No device was chosen within the wait (") +
        std::to_string(options_.wait_seconds) + " seconds): " +
        (options_.device.empty()
             ? "no Apple device was listed."
             : "none listed had the name or id given with --device."));
  }
  Finish(kExitNotStarted);
}

void DeviceReport::Scan() {
  client_.Call(
      kMethodChannel, "scanMedia",
      StringArguments({{"id", connection_.device_id()}}),
      [this](const Reply& reply) {
        if (state_.over || state_.interrupted) return;
        const std::string status = StringField(reply.value, "status");
        if (reply.ok() && (status == "emptyStorage" ||
                           status == "accessDenied" || status == "noStorage")) {
          if (!seen_locked_) {
            seen_locked_ = true;
            facts_.notes.push_back("scanMedia answered \"" + status +
                                   "\": the device showed no photos (locked, "
                                   "or not trusting this computer yet).");
          }
          connection_.Wait(kUnlockLine, [this] { Scan(); });
          return;
        }
        if (!reply.ok() || status != "ok") Failed("scanMedia", reply);
        if (seen_locked_) {
          facts_.notes.push_back("It was unlocked within the wait.");
        }
        Describe();
      });
}

void DeviceReport::Describe() {
  step_ = Step::kDescribing;
  report_.Line("Describing the device...");
  client_.Call(kMethodChannel, "describeDevice",
               StringArguments({{"id", connection_.device_id()}}),
               [this](const Reply& reply) {
                 if (state_.over) return;
                 facts_.description = reply;
                 if (reply.ok()) {
                   List();
                   return;
                 }
                 Failed("describeDevice", reply);
                 // A device that cannot be opened has nothing more to tell.
                 if (reply.kind == Reply::kError && reply.code == "wpd_error" &&
                     (reply.message.rfind("Open device", 0) == 0 ||
                      reply.message.rfind("COM initialisation", 0) == 0)) {
                   report_.Line("The device could not be opened: " +
                                reply.message + ".");
                   Finish(kExitNotStarted);
                   return;
                 }
                 List();
               });
}

void DeviceReport::List() {
  step_ = Step::kListing;
  client_.Call(
      kMethodChannel, "enumerateMedia",
      StringArguments({{"id", connection_.device_id()}}),
      [this](const Reply& reply) {
        if (state_.over) return;
        const auto* entries =
            reply.ok() ? std::get_if<ValueList>(&reply.value) : nullptr;
        if (entries == nullptr) {
          Failed("enumerateMedia", reply);
          Finish(kExitImported);
          return;
        }
        facts_.notes.push_back("enumerateMedia listed " +
                               std::to_string(entries->size()) + " files.");
        // The smallest, so that the copy is short on any cable; the first
        // listed of those of one size.
        const EncodableValue* smallest = nullptr;
        for (const EncodableValue& entry : *entries) {
          const int64_t size = IntField(entry, "size");
          if (size > 0 && size < kLargestTimedObject &&
              !IsSidecar(StringField(entry, "name")) &&
              (smallest == nullptr || size < IntField(*smallest, "size"))) {
            smallest = &entry;
          }
        }
        if (smallest == nullptr) {
          Finish(kExitImported);
          return;
        }
        const std::string folder = StringField(*smallest, "parentPath");
        facts_.object_name = (folder.empty() ? "" : folder + "/") +
                             StringField(*smallest, "name");
        facts_.object_size = IntField(*smallest, "size");
        report_.Line("Timing a thumbnail and a copy of " + facts_.object_name +
                     "...");
        TimeThumbnail(StringField(*smallest, "objectId"));
      });
}

void DeviceReport::TimeThumbnail(const std::string& object_id) {
  step_ = Step::kThumbnail;
  const Clock::time_point started = Clock::now();
  client_.Call(
      kMethodChannel, "getThumbnail",
      StringArguments(
          {{"id", connection_.device_id()}, {"objectId", object_id}}),
      [this, object_id, started](const Reply& reply) {
        if (state_.over) return;
        Timing& timing = facts_.thumbnail;
        timing.milliseconds = MillisecondsSince(started);
        if (reply.ok()) {
          timing.outcome = Timing::Outcome::kAnswered;
          const auto* jpeg = std::get_if<std::vector<uint8_t>>(&reply.value);
          timing.bytes =
              jpeg == nullptr ? -1 : static_cast<int64_t>(jpeg->size());
        } else {
          timing.outcome = Timing::Outcome::kFailed;
          Failed("getThumbnail", reply);
        }
        TimeCopy(object_id);
      });
}

void DeviceReport::TimeCopy(const std::string& object_id) {
  step_ = Step::kCopying;
  uint32_t code = 0;
  const std::optional<std::string> path = TemporaryCopyPath(&code);
  if (!path) {
    facts_.failures.push_back(
        {"Choosing a temporary file", HRESULT_FROM_WIN32(code), ""});
    Finish(kExitImported);
    return;
  }
  const Clock::time_point started = Clock::now();
  client_.Call(kMethodChannel, "copyObject",
               StringArguments({{"id", connection_.device_id()},
                                {"objectId", object_id},
                                {"tempPath", *path}}),
               [this, path = *path, started](const Reply& reply) {
                 Copied(path, reply, started);
               });
}

void DeviceReport::Copied(const std::string& path, const Reply& reply,
                          Clock::time_point started) {
  if (state_.over) return;
  Timing& timing = facts_.copy;
  timing.milliseconds = MillisecondsSince(started);
  const std::string status = StringField(reply.value, "status");
  if (reply.ok() && status == "ok") {
    timing.outcome = Timing::Outcome::kAnswered;
    timing.bytes = IntField(reply.value, "bytesWritten");
  } else if (!(state_.interrupted && status == "cancelled")) {
    timing.outcome = Timing::Outcome::kFailed;
    Failed("copyObject", reply);
  }
  // A copy that did not finish leaves no file; one that did is deleted
  // here. Nothing of the photo stays on this computer.
  const uint32_t removed = RemoveFile(path);
  if (removed != 0) {
    facts_.failures.push_back(
        {"Deleting the temporary copy", HRESULT_FROM_WIN32(removed), ""});
  }
  Finish(state_.interrupted ? kExitInterrupted : kExitImported);
}

void DeviceReport::Failed(const std::string& method, const Reply& reply) {
  facts_.failures.push_back(
      {method, AnswerCode(reply),
       reply.ok() ? StringField(reply.value, "error") : reply.Describe()});
}

void DeviceReport::Finish(int exit_code) {
  if (state_.over) return;
  state_.over = true;
  const Reply& devices = connection_.devices_reply();
  if (const auto* list =
          devices.ok() ? std::get_if<ValueList>(&devices.value) : nullptr) {
    facts_.devices = *list;
  }
  facts_.written_at = UtcNow();
  const std::string path = FullPath(options_.report);
  const uint32_t code = WriteReportFile(path, ReportText(facts_));
  if (code != 0) {
    report_.Line("Cannot write the report to " + path + ": " +
                 FailedText("Writing the file",
                            static_cast<int32_t>(HRESULT_FROM_WIN32(code))) +
                 ".");
    environment_.finished(state_.interrupted ? kExitInterrupted
                                             : kExitNotStarted);
    return;
  }
  report_.Line("Report written to " + path + ".");
  environment_.finished(exit_code);
}

}  // namespace importer
