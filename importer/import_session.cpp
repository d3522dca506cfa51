#include "importer/import_session.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "importer/file_placement.h"
#include "importer/text_format.h"

namespace importer {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using flutter::EncodableValue;
using flutter::ValueList;

constexpr int kBarWidth = 30;
// Renames retried when the chosen name is taken in between.
constexpr int kPlacementAttempts = 20;
// Copies of one file started in one import: a file whose copy keeps meeting
// a device that went away, although it comes back, fails after this many.
constexpr int kCopyAttempts = 3;

// "Windows Portable Devices is not available ..." with the code from the
// failure text ("... failed (HRESULT 0x80040154)") when it carries one.
std::string NotAvailableLine(const Reply& reply) {
  const std::string& message = reply.message;
  const size_t code = message.find("HRESULT 0x");
  if (reply.kind == Reply::kError && code != std::string::npos &&
      code + 18 <= message.size()) {
    return "Windows Portable Devices is not available on this computer (" +
           message.substr(code, 18) + ").";
  }
  return "Windows Portable Devices is not available on this computer: " +
         (reply.kind == Reply::kError ? message : reply.Describe()) + ".";
}

// By extension, as the listing itself tells media from other files.
bool EndsWithIgnoringCase(const std::string& name, const char* suffix) {
  const std::string tail(suffix);
  return name.size() >= tail.size() &&
         EqualIgnoringAsciiCase(name.substr(name.size() - tail.size()), tail);
}

bool IsVideoName(const std::string& name) {
  return EndsWithIgnoringCase(name, ".mov") ||
         EndsWithIgnoringCase(name, ".mp4") ||
         EndsWithIgnoringCase(name, ".m4v");
}

std::string Counted(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string DeviceLine(const EncodableValue& device) {
  std::string line = "  \"" + StringField(device, "friendlyName") + "\"";
  const std::string maker = StringField(device, "manufacturer");
  if (!maker.empty()) line += " (" + maker + ")";
  return line;
}

}  // namespace

ImportSession::ImportSession(Options options, Environment environment,
                             engine_inprocess::InterfaceHost& host)
    : options_(std::move(options)),
      environment_(std::move(environment)),
      client_(host),
      started_(Clock::now()),
      wait_until_(started_ + std::chrono::seconds(options_.wait_seconds)) {}

void ImportSession::Start() {
  // The folder is made only once there is something to put in it.
  std::error_code error;
  fs::path destination = fs::u8path(options_.folder);
  fs::path absolute = fs::absolute(destination, error);
  if (!error) destination = absolute;
  destination_ = destination.lexically_normal().u8string();
  if (!options_.thumbnails.empty()) {
    fs::path thumbnails = fs::u8path(options_.thumbnails);
    fs::path absolute_thumbnails = fs::absolute(thumbnails, error);
    if (!error) thumbnails = absolute_thumbnails;
    thumbnails_ = thumbnails.lexically_normal().u8string();
  }
  // Listen first, so that no progress event of the first copy is missed.
  client_.Call(kEventChannel, "listen", nullptr, [this](const Reply& reply) {
    if (!reply.ok()) {
      Stop("Listening for copy progress failed: " + reply.Describe() + ".");
      return;
    }
    // The entries found while the roll is read only feed the count shown;
    // without them the import goes on all the same. So do device events:
    // without them it polls. They are listened to before any device is
    // opened, so that every session the import opens tells its events.
    client_.Call(kMediaChannel, "listen", nullptr, [this](const Reply&) {
      client_.Call(kDevicesChannel, "listen", nullptr,
                   [this](const Reply&) { ListDevices(); });
    });
  });
}

void ImportSession::OnProgramMessage(const std::string& channel,
                                     const std::vector<uint8_t>& bytes) {
  if (channel == kMediaChannel) {
    Reply batch = DecodeReply(bytes);
    if (batch.ok()) OnMediaBatch(batch.value);
    return;
  }
  if (channel == kDevicesChannel) {
    Reply event = DecodeReply(bytes);
    if (event.ok()) {
      OnDeviceEvent(StringField(event.value, "event"),
                    StringField(event.value, "id"));
    }
    return;
  }
  if (channel != kEventChannel || CopiesRunning() == 0) return;
  Reply event = DecodeReply(bytes);
  if (!event.ok()) return;
  const std::string object = StringField(event.value, "objectId");
  for (CopySlot& slot : slots_) {
    if (!slot.answered && !slot.staging.empty() &&
        to_copy_[slot.file].object_id == object) {
      slot.bytes = IntField(event.value, "bytes");
      ShowProgress();
      return;
    }
  }
}

void ImportSession::Interrupt() {
  if (over_ || interrupted_) return;
  interrupted_ = true;
  Line("Stopping (Ctrl+C)...");
  if (CopiesRunning() > 0) {
    // The copies answer "cancelled" and remove their staging files; the
    // summary follows their replies.
    client_.Call(kMethodChannel, "cancel", nullptr, [](const Reply&) {});
    return;
  }
  if (to_copy_.empty() && listed_ == 0) {
    Stop("Stopped before any file was imported.");
    return;
  }
  Finish();
}

void ImportSession::ListDevices() {
  if (over_ || interrupted_) return;
  client_.Call(kMethodChannel, "listDevices", nullptr,
               [this](const Reply& reply) { OnDevices(reply); });
}

void ImportSession::OnDevices(const Reply& reply) {
  if (over_ || interrupted_) return;
  const auto* devices =
      reply.ok() ? std::get_if<ValueList>(&reply.value) : nullptr;
  if (devices == nullptr) {
    // Portable Devices is there, but the system's list of devices could not
    // be read, as happens while it changes (a phone plugged in or pulled
    // out): a passing fault, listed again while the wait lasts.
    if (reply.kind == Reply::kError &&
        reply.message.rfind("GetDevices failed", 0) == 0) {
      WaitThen("Listing the devices failed (" + reply.Describe() +
                   "); trying again.",
               &ImportSession::ListDevices);
      return;
    }
    Stop(NotAvailableLine(reply));
    return;
  }
  const EncodableValue* chosen = nullptr;
  for (const EncodableValue& device : *devices) {
    const bool fits =
        away_ ? IsChosenDevice(StringField(device, "id"))
        : options_.device.empty()
            ? BoolField(device, "isApple")
            : StringField(device, "id") == options_.device ||
                  EqualIgnoringAsciiCase(StringField(device, "friendlyName"),
                                         options_.device);
    if (fits) {
      chosen = &device;
      break;
    }
  }
  if (chosen != nullptr && away_) {
    away_ = false;
    ++connection_;
    Line("The device is back: reading the camera roll again.");
    Enumerate();
    return;
  }
  if (away_) {
    WaitThen("", &ImportSession::ListDevices);
    return;
  }
  if (chosen != nullptr) {
    device_id_ = StringField(*chosen, "id");
    Line("Device: " + StringField(*chosen, "friendlyName") + " (" +
         StringField(*chosen, "manufacturer") + ")");
    Line((options_.dry_run ? "Folder (dry run): " : "Folder: ") + destination_);
    Enumerate();
    return;
  }
  std::string message;
  if (!options_.device.empty()) {
    message = "No device named \"" + options_.device + "\" is connected.";
  } else if (devices->empty()) {
    message =
        "No iPhone or iPad is connected. Connect it with its cable and "
        "unlock it.";
  } else {
    message = "No iPhone or iPad is connected.";
  }
  if (!devices->empty()) {
    message += " Connected devices:";
    for (const EncodableValue& device : *devices) {
      message += "\n" + DeviceLine(device);
    }
    message +=
        "\nTo import from one of them, run again with --device \"NAME\".";
  }
  WaitThen(message, &ImportSession::ListDevices);
}

void ImportSession::Enumerate() {
  if (over_ || interrupted_) return;
  if (away_) {
    ListDevices();
    return;
  }
  found_photos_ = 0;
  found_videos_ = 0;
  const int enumeration = ++enumerations_;
  client_.Call(kMethodChannel, "enumerateMedia",
               StringArguments({{"id", device_id_},
                                {"token", std::to_string(enumeration)}}),
               [this, enumeration](const Reply& reply) {
                 OnEnumerated(reply, enumeration);
               });
}

void ImportSession::OnMediaBatch(const EncodableValue& batch) {
  if (over_ || interrupted_ || copying_ ||
      StringField(batch, "deviceId") != device_id_ ||
      StringField(batch, "token") != std::to_string(enumerations_)) {
    return;
  }
  const ValueList* entries = ListField(batch, "entries");
  if (entries == nullptr) return;
  for (const EncodableValue& entry : *entries) {
    const std::string name = StringField(entry, "name");
    if (IsVideoName(name)) {
      ++found_videos_;
    } else if (!EndsWithIgnoringCase(name, ".aae")) {
      ++found_photos_;  // edits (.aae) go with their photo
    }
  }
  if (!roll_announced_) {
    roll_announced_ = true;
    Line("Reading the camera roll...");
  }
  if (environment_.show_status) {
    environment_.show_status(
        "Found " + Counted(found_photos_, "photo", "photos") + " and " +
        Counted(found_videos_, "video", "videos"));
  }
}

void ImportSession::OnEnumerated(const Reply& reply, int enumeration) {
  if (over_ || interrupted_) return;
  if (away_) {
    AwaitReturn();
    return;
  }
  const auto* entries =
      reply.ok() ? std::get_if<ValueList>(&reply.value) : nullptr;
  if (reset_pending_) {
    // A listing that ran while the phone reset may miss files, and one
    // after it lists nothing until the phone is plugged in again: only a
    // later listing that shows something is trusted.
    if (enumeration <= reset_enumeration_ || entries == nullptr ||
        entries->empty()) {
      WaitThen("", &ImportSession::Enumerate);
      return;
    }
    reset_pending_ = false;
  }
  if (entries != nullptr && !entries->empty()) {
    Plan(*entries);
    return;
  }
  // Nothing listed: the scan tells a locked phone from an empty one.
  Scan(entries != nullptr ? "" : reply.Describe());
}

void ImportSession::Scan(const std::string& enumeration_error) {
  client_.Call(
      kMethodChannel, "scanMedia", StringArguments({{"id", device_id_}}),
      [this, enumeration_error](const Reply& reply) {
        if (over_ || interrupted_) return;
        if (away_) {
          AwaitReturn();
          return;
        }
        const std::string status = StringField(reply.value, "status");
        if (reply.ok() && (status == "emptyStorage" ||
                           status == "accessDenied" || status == "noStorage")) {
          WaitThen(
              "The device shows no photos yet. Unlock it, and if it asks "
              "whether to trust this computer, tap Trust.",
              &ImportSession::Enumerate);
          return;
        }
        if (reply.ok() && status == "ok" && enumeration_error.empty()) {
          const int64_t media = IntField(reply.value, "photos") +
                                IntField(reply.value, "videos") +
                                IntField(reply.value, "screenshots") +
                                IntField(reply.value, "sidecars");
          if (media == 0) {
            Line("The device holds no photos or videos.");
            Finish();
            return;
          }
          // Unlocked between the listing and the scan: list again.
          WaitThen("", &ImportSession::Enumerate);
          return;
        }
        // A listing that failed on a device that reads well is a passing
        // fault (a flaky cable, a busy phone): list again while the wait
        // lasts.
        if (reply.ok() && status == "ok" &&
            Clock::now() +
                    std::chrono::milliseconds(options_.poll_milliseconds) <=
                wait_until_) {
          WaitThen("Listing the media failed (" + enumeration_error +
                       "); trying again.",
                   &ImportSession::Enumerate);
          return;
        }
        std::string why = enumeration_error;
        if (why.empty()) {
          why =
              reply.ok() ? StringField(reply.value, "error") : reply.Describe();
        }
        Stop("Reading the device failed: " + why + ".");
      });
}

std::string ImportSession::Key(const MediaFile& file) {
  return file.folder_name + "/" + file.name;
}

void ImportSession::Plan(const ValueList& entries) {
  // After a replug: the files this import still owes, found again in the
  // new listing by folder and name; the files that have an outcome are not
  // looked at again.
  const bool resuming = copying_;
  std::map<std::string, Held> owed;
  if (resuming) {
    for (Held& held : held_) owed[Key(held.file)] = std::move(held);
    for (size_t i = next_; i < to_copy_.size(); ++i) {
      owed[Key(to_copy_[i])] = Held{to_copy_[i], ""};
    }
    held_.clear();
    thumbnail_queue_.clear();  // their object ids are of the last connection
  }
  std::vector<MediaFile> plan;
  int64_t listed_bytes = 0;
  int64_t plan_bytes = 0;
  for (const EncodableValue& entry : entries) {
    MediaFile file;
    file.object_id = StringField(entry, "objectId");
    file.name = SafeComponent(StringField(entry, "name"));
    const std::string parent = StringField(entry, "parentPath");
    file.folder_name = parent.empty() ? "" : SafeComponent(parent);
    file.folder = parent.empty() ? destination_
                                 : JoinPath(destination_, file.folder_name);
    file.size = IntField(entry, "size");
    const std::string key = Key(file);
    if (!options_.dry_run) QueueThumbnail(file);
    if (settled_.count(key) != 0) continue;
    const bool known = owed.erase(key) != 0;
    if (!known) {
      ++listed_;
      listed_bytes += file.size;
    }
    std::optional<std::string> existing =
        FindImportedCopy(file.folder, file.name, file.size);
    if (existing) {
      ++already_there_;
      settled_.insert(key);
      if (options_.dry_run) {
        Line("Already there:  " + DisplayName(file) +
             (*existing != file.name ? "  (as " + *existing + ")" : ""));
      }
      continue;
    }
    if (options_.dry_run) {
      Line("Would import:   " + DisplayName(file) + "  " +
           FormatBytes(file.size));
    }
    if (!known) total_bytes_ += file.size;
    plan_bytes += file.size;
    plan.push_back(std::move(file));
  }
  to_copy_ = std::move(plan);
  next_ = 0;
  if (resuming) {
    // Gone from the phone meanwhile: said, never passed over in silence.
    for (const auto& gone : owed) {
      Fail(gone.second.file, "no longer on the device after it came back");
    }
    Line("Carrying on: " + std::to_string(to_copy_.size()) +
         " files to import (" + FormatBytes(plan_bytes) + ").");
    PumpThumbnails();
    PumpCopies();
    return;
  }
  Line("On the device: " + std::to_string(listed_) + " files, " +
       FormatBytes(listed_bytes) +
       "; already imported: " + std::to_string(already_there_) +
       "; to import: " + std::to_string(to_copy_.size()) + " (" +
       FormatBytes(total_bytes_) + ")");
  if (options_.dry_run) {
    Finish();
    return;
  }
  if (!to_copy_.empty()) {
    std::error_code error;
    const fs::path destination = fs::u8path(destination_);
    if (!fs::exists(destination, error) &&
        fs::create_directories(destination, error)) {
      created_folders_.push_back(destination);
    }
    if (!fs::is_directory(destination, error)) {
      Stop("Cannot create the folder " + destination_ + ".");
      return;
    }
  }
  copying_ = true;
  PumpThumbnails();
  PumpCopies();
}

void ImportSession::PumpCopies() {
  // The next copies start before the finished ones are moved into place, so
  // the device is kept busy meanwhile. A loop, not recursion: files that
  // fail before their copy starts must not deepen the stack, however many
  // there are.
  while (StartNextCopy()) {
  }
  while (!slots_.empty() && slots_.front().answered) {
    const CopySlot slot = std::move(slots_.front());
    slots_.pop_front();
    Settle(slot);
  }
  if (!slots_.empty()) {
    ShowProgress();
  } else if (away_ && !interrupted_) {
    AwaitReturn();
  } else {
    FinishWhenDone();
  }
}

int ImportSession::CopiesRunning() const {
  int running = 0;
  for (const CopySlot& slot : slots_) {
    if (!slot.answered) ++running;
  }
  return running;
}

bool ImportSession::StartNextCopy() {
  if (interrupted_ || away_ || next_ >= to_copy_.size() ||
      CopiesRunning() >= std::max(options_.copies_in_flight, 1)) {
    return false;
  }
  CopySlot& slot = slots_.emplace_back();
  slot.file = next_++;
  const MediaFile& file = to_copy_[slot.file];
  std::error_code error;
  const fs::path folder = fs::u8path(file.folder);
  if (!fs::exists(folder, error) && fs::create_directories(folder, error)) {
    created_folders_.push_back(folder);
  }
  if (!fs::is_directory(folder)) {
    slot.failure = "cannot create the folder " + file.folder + ": " +
                   (error ? error.message() : "a file has that name");
    slot.answered = true;
    return true;
  }
  // A hidden staging name of its own, never an existing file, nor one that
  // a copy still running is about to create.
  std::string wanted = "." + file.name + ".part";
  std::optional<std::string> staging_name;
  for (int attempt = 0; attempt < kPlacementAttempts; ++attempt) {
    staging_name = FirstFreeName(file.folder, wanted);
    const bool taken =
        staging_name &&
        std::any_of(slots_.begin(), slots_.end(), [&](const CopySlot& other) {
          return other.staging == JoinPath(file.folder, *staging_name);
        });
    if (!taken) break;
    wanted = "." + std::to_string(attempt + 2) + "." + file.name + ".part";
    staging_name.reset();
  }
  if (!staging_name) {
    slot.failure = "no staging file name is free in " + file.folder;
    slot.answered = true;
    return true;
  }
  slot.staging = JoinPath(file.folder, *staging_name);
  ++attempts_[Key(file)];
  const size_t index = slot.file;
  client_.Call(kMethodChannel, "copyObject",
               StringArguments({{"id", device_id_},
                                {"objectId", file.object_id},
                                {"tempPath", slot.staging}}),
               [this, index](const Reply& reply) {
                 if (over_) return;
                 for (CopySlot& waiting : slots_) {
                   if (waiting.file == index) {
                     waiting.answered = true;
                     waiting.reply = reply;
                   }
                 }
                 if (MeansDeviceGone(reply)) WentAway();
                 PumpCopies();
               });
  return true;
}

void ImportSession::Settle(const CopySlot& slot) {
  const MediaFile& file = to_copy_[slot.file];
  if (slot.staging.empty()) {
    Fail(file, slot.failure);
    return;
  }
  const Reply& reply = slot.reply;
  const std::string& staging = slot.staging;
  const std::string status = StringField(reply.value, "status");
  const int64_t written = IntField(reply.value, "bytesWritten");
  if (!reply.ok() || status != "ok") {
    // The copy removes its staging file itself; make sure of it.
    RemoveFile(staging);
    const std::string error = StringField(reply.value, "error");
    const std::string why = !reply.ok()     ? reply.Describe()
                            : error.empty() ? status
                                            : error;
    if (status == "cancelled") {
      ++cancelled_;
      settled_.insert(Key(file));
      Line("Cancelled:  " + DisplayName(file));
    } else if ((away_ || MeansDeviceGone(reply)) &&
               attempts_[Key(file)] < kCopyAttempts) {
      // The phone went away: copied again once it is back.
      held_.push_back(Held{file, why});
    } else {
      Fail(file, why);
    }
  } else if (file.size > 0 && written < file.size) {
    // The stream ended early: a truncated photo is no copy.
    RemoveFile(staging);
    const std::string why = "received " + std::to_string(written) + " of " +
                            std::to_string(file.size) + " bytes";
    if (away_ && attempts_[Key(file)] < kCopyAttempts) {
      held_.push_back(Held{file, why});
    } else {
      Fail(file, why);
    }
  } else {
    if (file.size > 0 && written > file.size) {
      Line("Warning: " + DisplayName(file) + ": received " +
           std::to_string(written) + " bytes, more than the " +
           std::to_string(file.size) + " listed; imported as received");
    }
    const std::string why = Place(file, staging, written);
    if (!why.empty()) Fail(file, why);
  }
}

std::string ImportSession::Place(const MediaFile& file,
                                 const std::string& staging, int64_t bytes) {
  if (bytes != file.size) {
    // The listing did not tell the size that came (none listed, or more
    // bytes than listed): what arrived decides whether it is there, so a
    // re-run does not add a copy each time.
    if (std::optional<std::string> existing =
            FindImportedCopy(file.folder, file.name, bytes)) {
      RemoveFile(staging);
      ++already_there_;
      settled_.insert(Key(file));
      Line("Already there:  " + DisplayName(file));
      return "";
    }
  }
  for (int attempt = 0; attempt < kPlacementAttempts; ++attempt) {
    const std::optional<std::string> name =
        FirstFreeName(file.folder, file.name);
    if (!name) break;
    uint32_t error = 0;
    switch (
        MoveWithoutReplacing(staging, JoinPath(file.folder, *name), &error)) {
      case MoveOutcome::kMoved: {
        ++imported_;
        settled_.insert(Key(file));
        copied_bytes_ += bytes;
        std::string shown = DisplayName(file);
        if (*name != file.name) shown += "  as " + *name;
        Line("Imported:  " + shown + "  " + FormatBytes(bytes));
        return "";
      }
      case MoveOutcome::kNameTaken:
        continue;  // taken since it was found free: the next free name
      case MoveOutcome::kFailed: {
        RemoveFile(staging);
        char code[16];
        std::snprintf(code, sizeof(code), "%lu",
                      static_cast<unsigned long>(error));
        return std::string("moving the copy into place failed (error ") + code +
               ")";
      }
    }
  }
  RemoveFile(staging);
  return "no free name for it in " + file.folder;
}

void ImportSession::WaitThen(const std::string& message,
                             void (ImportSession::*again)()) {
  if (!message.empty() && said_.insert(message).second) {
    Line(message);
    if (said_.size() == 1) {
      Line("Waiting up to " + std::to_string(options_.wait_seconds) +
           " seconds (Ctrl+C to stop)...");
    }
  }
  const auto poll = std::chrono::milliseconds(options_.poll_milliseconds);
  if (Clock::now() + poll > wait_until_) {
    Stop("Gave up after waiting " + std::to_string(options_.wait_seconds) +
         " seconds.");
    return;
  }
  waiting_ = again;
  const int generation = ++wait_generation_;
  environment_.after(options_.poll_milliseconds, [this, generation] {
    if (generation == wait_generation_) Wake();
  });
}

void ImportSession::Wake() {
  void (ImportSession::*again)() = waiting_;
  waiting_ = nullptr;
  ++wait_generation_;
  if (again != nullptr && !over_ && !interrupted_) (this->*again)();
}

void ImportSession::Fail(const MediaFile& file, const std::string& why) {
  settled_.insert(Key(file));
  failures_.push_back(DisplayName(file) + ": " + why);
  Line("FAILED:  " + DisplayName(file) + ": " + why);
}

std::string ImportSession::DisplayName(const MediaFile& file) const {
  return file.folder_name.empty() ? file.name
                                  : file.folder_name + "/" + file.name;
}

void ImportSession::ShowProgress() {
  if (!environment_.show_status || total_bytes_ <= 0) return;
  int64_t bytes = copied_bytes_;
  const CopySlot* shown = nullptr;
  for (const CopySlot& slot : slots_) {
    if (slot.answered || slot.staging.empty()) continue;
    bytes += slot.bytes;
    if (shown == nullptr) shown = &slot;
  }
  if (shown == nullptr) return;
  environment_.show_status(
      ProgressBar(static_cast<double>(bytes) / total_bytes_, kBarWidth) + "  " +
      FormatBytes(bytes) + " of " + FormatBytes(total_bytes_) + "  " +
      DisplayName(to_copy_[shown->file]));
}

void ImportSession::Line(const std::string& text) {
  environment_.write_line(text);
}

void ImportSession::Finish() {
  if (over_) return;
  over_ = true;
  RemoveEmptyFolders();
  const double seconds =
      std::chrono::duration<double>(Clock::now() - started_).count();
  char time[32];
  std::snprintf(time, sizeof(time), "%.1f s", seconds);
  if (options_.dry_run) {
    Line("Dry run: " + std::to_string(to_copy_.size()) +
         " files would be imported (" + FormatBytes(total_bytes_) + "), " +
         std::to_string(already_there_) + " already there.");
  } else if (listed_ > 0 && already_there_ == listed_) {
    Line("Nothing new: all " + std::to_string(listed_) +
         " files were already there (" + time + ").");
  } else {
    Line("Imported " + std::to_string(imported_) + " files (" +
         FormatBytes(copied_bytes_) + "), " + std::to_string(already_there_) +
         " already there, " + std::to_string(failures_.size()) +
         " failed, in " + time + ".");
  }
  if (interrupted_) {
    const size_t left = to_copy_.size() - std::min(next_, to_copy_.size()) +
                        cancelled_ + held_.size();
    Line("Stopped: " + std::to_string(left) + " files not imported.");
  }
  if (!failures_.empty()) {
    Line("Failed:");
    for (const std::string& failure : failures_) Line("  " + failure);
  }
  if (!thumbnails_.empty() && !options_.dry_run) {
    std::string line = "Thumbnails: " + std::to_string(thumbnails_saved_) +
                       " saved in " + thumbnails_;
    if (thumbnails_there_ > 0) {
      line += ", " + std::to_string(thumbnails_there_) + " already there";
    }
    if (thumbnails_failed_ > 0) {
      line += ", " + std::to_string(thumbnails_failed_) + " could not be read";
    }
    Line(line + ".");
  }
  environment_.finished(interrupted_         ? kExitInterrupted
                        : !failures_.empty() ? kExitSomeFailed
                                             : kExitImported);
}

void ImportSession::RemoveEmptyFolders() {
  // A folder made for files that all failed goes again: removing a folder
  // that is not empty fails and leaves it. Innermost first.
  for (auto folder = created_folders_.rbegin();
       folder != created_folders_.rend(); ++folder) {
    std::error_code ignored;
    fs::remove(*folder, ignored);
  }
}

void ImportSession::Stop(const std::string& problem) {
  if (over_) return;
  if (copying_) {
    // Files were imported already: the summary tells what came and what
    // did not.
    Line(problem);
    GiveUp();
    return;
  }
  over_ = true;
  RemoveEmptyFolders();
  Line(problem);
  environment_.finished(interrupted_ ? kExitInterrupted : kExitNotStarted);
}

}  // namespace importer
