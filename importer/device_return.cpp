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
    // No copy starts until the phone is plugged in again; the files owed
    // wait for it as for a phone pulled out.
    wait_until_ = std::chrono::steady_clock::now() +
                  std::chrono::seconds(options_.wait_seconds);
    Line(
        "The device reset: it shows no photos until it is plugged in again. "
        "Replug the phone (unplug it and plug it in again) to carry on.");
  }
}

void ImportSession::WentAway() {
  if (away_ || over_ || interrupted_ || device_id_.empty()) return;
  away_ = true;
  // The wait starts again only when something was settled since the phone
  // last went away: a phone that keeps going and coming back without
  // serving a file does not hold the import past the wait.
  const int outcomes = ledger_.Count(Outcome::kImported) +
                       ledger_.Count(Outcome::kAlreadyThere) +
                       ledger_.Count(Outcome::kFailed) +
                       ledger_.Count(Outcome::kCancelled);
  if (outcomes != outcomes_at_away_) {
    outcomes_at_away_ = outcomes;
    wait_until_ = std::chrono::steady_clock::now() +
                  std::chrono::seconds(options_.wait_seconds);
  }
  Line(
      "The device went away (unplugged, or it stopped answering). Plug it in "
      "again to carry on; waiting up to " +
      std::to_string(options_.wait_seconds) + " seconds (Ctrl+C to stop)...");
  // Before the copy phase the step running notices it; in it, the copies
  // running end first (PumpCopies).
  if (copying_ && slots_.empty()) AwaitReturn();
}

void ImportSession::Probe() {
  if (probing_ || away_ || over_) return;
  probing_ = true;
  const int pause = paused_connection_ == connection_
                        ? 0
                        : options_.unplug_notice_milliseconds;
  paused_connection_ = connection_;
  environment_.after(pause, [this] {
    if (over_) return;
    client_.Call(kMethodChannel, "listDevices", nullptr,
                 [this](const Reply& reply) { OnProbed(reply); });
  });
}

void ImportSession::OnProbed(const Reply& reply) {
  probing_ = false;
  if (over_) return;
  bool listed = false;
  if (const auto* devices =
          reply.ok() ? std::get_if<flutter::ValueList>(&reply.value)
                     : nullptr) {
    for (const flutter::EncodableValue& device : *devices) {
      listed = listed || IsChosenDevice(StringField(device, "id"));
    }
  }
  if (!listed) {
    WentAway();
  } else {
    for (CopySlot& slot : slots_) {
      if (slot.suspect) slot.still_there = true;
    }
  }
  for (CopySlot& slot : slots_) slot.suspect = false;
  if (!interrupted_) PumpThumbnails();
  if (copying_) {
    PumpCopies();
  } else {
    FinishWhenDone();
  }
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
    Fail(to_copy_[next_], reset_pending_
                              ? "not copied: the device reset and was not "
                                "plugged in again"
                              : "not copied: the device went away");
  }
  Finish();
}

void ImportSession::FinishWhenDone() {
  // A thumbnail being moved into place is waited for even after Ctrl+C, so
  // that its staging file does not stay.
  if (!slots_.empty() || checking_ || over_ || thumbnails_saving_ > 0) return;
  // Ctrl+C does not wait for thumbnails (a read of one cannot be
  // cancelled); their late answers are dropped.
  if (!interrupted_ &&
      (away_ || probing_ || next_ < to_copy_.size() ||
       thumbnails_running_ > 0 || !thumbnail_queue_.empty())) {
    return;
  }
  if (!interrupted_ && ledger_.Count(Outcome::kImported) > 0) {
    // The roll listed once more: the last line claims only what it shows.
    checking_ = true;
    Enumerate();
    return;
  }
  if (!interrupted_ && unread_.empty() && ledger_.listed() > 0 &&
      ledger_.Count(Outcome::kAlreadyThere) == ledger_.listed()) {
    // Nothing was copied: the first listing was the check.
    Line("Checked: all " + std::to_string(ledger_.listed()) +
         " files on the phone are in " + destination_ + ".");
  }
  Finish();
}

}  // namespace importer
