#include "importer/copy_queue.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "importer/text_format.h"

namespace importer {

using flutter::EncodableValue;

CopyQueue::CopyQueue(int copies_in_flight, const SessionState& state,
                     Parts parts, std::function<bool()> may_start,
                     std::function<void()> idle)
    : copies_in_flight_(std::max(copies_in_flight, 1)),
      state_(state),
      parts_(parts),
      may_start_(std::move(may_start)),
      idle_(std::move(idle)) {}

void CopyQueue::Load(std::vector<MediaFile> files) {
  to_copy_ = std::move(files);
  next_ = 0;
}

void CopyQueue::Pump() {
  // The next copies start before the finished ones are moved into place, so
  // the device is kept busy meanwhile. A loop, not recursion: files that
  // fail before their copy starts must not deepen the stack, however many
  // there are.
  // A copy that met a went-away code waits for the probe to tell what it
  // means, and the files after it wait with it, to keep listing order. A
  // file settled may be asked for again: then it starts too.
  for (bool settled = true; settled;) {
    while (StartNext()) {
    }
    settled = false;
    while (!settling_ && !slots_.empty() && slots_.front().answered &&
           !slots_.front().suspect) {
      settling_ = true;
      settling_inline_ = true;
      Settle(slots_.front());
      settling_inline_ = false;
      if (settling_) return;  // waiting out a scanner: SettleDone pumps
      settled = true;
    }
  }
  if (!slots_.empty()) {
    ShowProgress();
  } else {
    idle_();
  }
}

int CopyQueue::running() const {
  return static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(),
                    [](const Slot& slot) { return !slot.answered; }));
}

bool CopyQueue::StartNext() {
  if (!may_start_() || next_ >= to_copy_.size() ||
      running() >= copies_in_flight_) {
    return false;
  }
  Slot& slot = slots_.emplace_back();
  slot.file = next_++;
  const MediaFile& file = to_copy_[slot.file];
  uint32_t error = 0;
  if (!parts_.destination.Make(file.folder, &error)) {
    slot.failure = "cannot create the folder " + file.folder + ": " +
                   (error == ERROR_ALREADY_EXISTS
                        ? std::string("a file has that name")
                        : "error " + std::to_string(error));
    slot.answered = true;
    return true;
  }
  const std::optional<std::string> staging = parts_.placement.StagingPath(
      file, [this](const std::string& path) {
        return std::any_of(
            slots_.begin(), slots_.end(),
            [&](const Slot& other) { return other.staging == path; });
      });
  if (!staging) {
    slot.failure = "no staging file name is free in " + file.folder;
    slot.answered = true;
    return true;
  }
  slot.staging = *staging;
  ++attempts_[Key(file)];
  const size_t index = slot.file;
  parts_.client.Call(kMethodChannel, "copyObject",
                     StringArguments({{"id", parts_.connection.device_id()},
                                      {"objectId", file.object_id},
                                      {"tempPath", slot.staging}}),
                     [this, index](const Reply& reply) {
                       OnCopied(index, reply);
                     });
  return true;
}

void CopyQueue::OnCopied(size_t index, const Reply& reply) {
  if (state_.over) return;
  const bool gone = MeansDeviceGone(reply) && !parts_.connection.away();
  for (Slot& waiting : slots_) {
    if (waiting.file == index) {
      waiting.answered = true;
      waiting.reply = reply;
      waiting.suspect = gone;
    }
  }
  if (gone) parts_.connection.Probe();
  Pump();
}

void CopyQueue::OnProgress(const std::string& object_id, int64_t bytes) {
  for (Slot& slot : slots_) {
    if (!slot.answered && !slot.staging.empty() &&
        to_copy_[slot.file].object_id == object_id) {
      slot.bytes = bytes;
      ShowProgress();
      return;
    }
  }
}

void CopyQueue::Probed(bool listed) {
  for (Slot& slot : slots_) {
    if (slot.suspect && listed) slot.still_there = true;
    slot.suspect = false;
  }
}

void CopyQueue::Settle(Slot slot) {
  // A copy: to_copy_ may grow while the placement waits.
  const MediaFile file = to_copy_[slot.file];
  if (slot.staging.empty()) {
    parts_.plan.Fail(file, slot.failure);
    SettleDone();
    return;
  }
  const Reply& reply = slot.reply;
  const std::string& staging = slot.staging;
  const std::string status = StringField(reply.value, "status");
  const int64_t written = IntField(reply.value, "bytesWritten");
  const bool tries_left = attempts_[Key(file)] < kAttemptsPerFile;
  // A copy that did not bring the file: its staging file goes (the copy
  // removes it itself; make sure of it), then the file is held for the
  // phone's return, asked for again, or failed.
  const auto not_copied = [=](const std::string& why, bool still_there) {
    parts_.placement.RemoveStaging(file.folder, staging, [=] {
      if (status == "cancelled") {
        parts_.plan.Settle(file, Outcome::kCancelled);
      } else if (parts_.connection.away() && tries_left) {
        // The phone went away: copied again once it is back.
        held_.push_back(Held{file, why});
      } else if (still_there && tries_left) {
        // A went-away code from a phone that is still there: that one file
        // failed this time; it is asked for again after the others.
        to_copy_.push_back(file);
      } else {
        parts_.plan.Fail(file, why);
      }
      SettleDone();
    });
  };
  if (!reply.ok() || status != "ok") {
    const std::string error = StringField(reply.value, "error");
    not_copied(!reply.ok()     ? reply.Describe()
               : error.empty() ? status
                               : error,
               slot.still_there);
    return;
  }
  // The size the copy read from the object, where the listing told none.
  const EncodableValue* object_size = nullptr;
  if (const auto* map = std::get_if<flutter::ValueMap>(&reply.value)) {
    const auto found = map->find(EncodableValue("objectSize"));
    if (found != map->end()) object_size = &found->second;
  }
  const int64_t expected =
      file.size > 0 ? file.size
      : object_size != nullptr ? IntField(reply.value, "objectSize")
                               : 0;
  if (expected > 0 && written < expected) {
    // The stream ended early: a truncated photo is no copy.
    not_copied("received " + std::to_string(written) + " of " +
                   std::to_string(expected) + " bytes",
               false);
    return;
  }
  if (written == 0 && (object_size == nullptr || expected != 0)) {
    // Nothing came, and nothing says the file is empty.
    not_copied("received 0 bytes, and the device did not tell the file's size",
               false);
    return;
  }
  if (file.size > 0 && written > file.size) {
    parts_.report.Line("Warning: " + DisplayName(file) + ": received " +
                       std::to_string(written) + " bytes, more than the " +
                       std::to_string(file.size) +
                       " listed; imported as received");
  }
  Place(file, staging, written);
}

void CopyQueue::Place(const MediaFile& file, const std::string& staging,
                      int64_t bytes) {
  parts_.placement.Place(
      file, staging, bytes, [this, file, bytes](const Placement::Placed& placed) {
        switch (placed.outcome) {
          case Outcome::kAlreadyThere:
            parts_.plan.Settle(file, Outcome::kAlreadyThere);
            parts_.plan.Placed(file, bytes);
            parts_.report.Line("Already there:  " + DisplayName(file));
            break;
          case Outcome::kImported: {
            parts_.plan.Settle(file, Outcome::kImported);
            parts_.plan.Placed(file, bytes);
            parts_.report.Imported(bytes);
            std::string shown = DisplayName(file);
            if (placed.name != file.name) shown += "  as " + placed.name;
            parts_.report.Line("Imported:  " + shown + "  " +
                               FormatBytes(bytes));
            break;
          }
          default:
            parts_.plan.Fail(file, placed.why);
            break;
        }
        SettleDone();
      });
}

void CopyQueue::SettleDone() {
  slots_.pop_front();
  settling_ = false;
  if (!settling_inline_) Pump();
}

void CopyQueue::ShowProgress() const {
  int64_t bytes = 0;
  const Slot* shown = nullptr;
  for (const Slot& slot : slots_) {
    if (slot.answered || slot.staging.empty()) continue;
    bytes += slot.bytes;
    if (shown == nullptr) shown = &slot;
  }
  if (shown != nullptr) {
    parts_.report.Progress(bytes, DisplayName(to_copy_[shown->file]));
  }
}

std::map<std::string, MediaFile> CopyQueue::TakeOwed() {
  std::map<std::string, MediaFile> owed;
  for (Held& held : held_) owed[Key(held.file)] = std::move(held.file);
  for (size_t i = next_; i < to_copy_.size(); ++i) {
    owed[Key(to_copy_[i])] = to_copy_[i];
  }
  held_.clear();
  return owed;
}

void CopyQueue::FailOwed(const std::string& why) {
  for (const Held& held : held_) parts_.plan.Fail(held.file, held.why);
  held_.clear();
  for (; next_ < to_copy_.size(); ++next_) {
    parts_.plan.Fail(to_copy_[next_], why);
  }
}

}  // namespace importer
