// The import's side of devices coming and going: device events, the phone
// pulled out mid-import and plugged in again, and a phone that reset.

#include <chrono>
#include <cstdint>
#include <string>

#include "importer/file_placement.h"
#include "importer/import_session.h"
#include "wpd/device_connection.h"

namespace importer {
namespace {

// Open of a device that is not plugged in: HRESULT_FROM_WIN32(
// ERROR_FILE_NOT_FOUND), as a copy that starts after the unplug meets it.
constexpr uint32_t kDeviceNotFound = 0x80070002;

}  // namespace

bool ImportSession::MeansDeviceGone(const Reply& reply) {
  // A copy answers a map with "status" "error"; the other methods an error
  // whose details are the code.
  uint32_t hresult = 0;
  std::string error;
  if (reply.ok() && StringField(reply.value, "status") == "error") {
    hresult = static_cast<uint32_t>(IntField(reply.value, "hresult"));
    error = StringField(reply.value, "error");
  } else if (reply.kind == Reply::kError) {
    if (const auto* code = std::get_if<int64_t>(&reply.value)) {
      hresult = static_cast<uint32_t>(*code);
    } else if (const auto* narrow = std::get_if<int32_t>(&reply.value)) {
      hresult = static_cast<uint32_t>(*narrow);
    }
    error = reply.message;
  }
  return snapferry::IsDeviceGone(static_cast<HRESULT>(hresult)) ||
         (hresult == kDeviceNotFound && error.rfind("Open device", 0) == 0);
}

bool ImportSession::IsChosenDevice(const std::string& id) const {
  // Listed ids and the system's paths differ in letter case only.
  return !device_id_.empty() && EqualIgnoringAsciiCase(id, device_id_);
}

void ImportSession::OnDeviceEvent(const std::string& event,
                                  const std::string& id) {
  if (over_ || interrupted_) return;
  if (event == "arrived") {
    // Whatever the wait is for, a device that arrives may end it.
    if (waiting_ != nullptr) Wake();
  } else if (event == "removed" && IsChosenDevice(id)) {
    WentAway();
  } else if (event == "reset" && IsChosenDevice(id)) {
    reset_pending_ = true;
    reset_enumeration_ = enumerations_;
    Line(
        "The device reset: it shows no photos until it is plugged in again. "
        "Replug the phone (unplug it and plug it in again) to carry on.");
  }
}

void ImportSession::WentAway() {
  if (away_ || over_ || interrupted_ || device_id_.empty()) return;
  away_ = true;
  wait_until_ = std::chrono::steady_clock::now() +
                std::chrono::seconds(options_.wait_seconds);
  Line(
      "The device went away (unplugged, or it stopped answering). Plug it in "
      "again to carry on; waiting up to " +
      std::to_string(options_.wait_seconds) + " seconds (Ctrl+C to stop)...");
  // Before the copy phase the step running notices it; in it, the copies
  // running end first (PumpCopies).
  if (copying_ && slots_.empty()) AwaitReturn();
}

void ImportSession::AwaitReturn() {
  // Listed again is back: polled, and woken early by an arrival.
  WaitThen("", &ImportSession::ListDevices);
}

void ImportSession::GiveUp() {
  if (over_) return;
  for (const Held& held : held_) Fail(held.file, held.why);
  held_.clear();
  for (; next_ < to_copy_.size(); ++next_) {
    Fail(to_copy_[next_], "not copied: the device went away");
  }
  Finish();
}

void ImportSession::FinishWhenDone() {
  if (!slots_.empty()) return;
  // Ctrl+C does not wait for thumbnails (a read of one cannot be
  // cancelled); their late answers are dropped.
  if (!interrupted_ && (away_ || next_ < to_copy_.size() ||
                        thumbnails_running_ > 0 || !thumbnail_queue_.empty())) {
    return;
  }
  Finish();
}

}  // namespace importer
