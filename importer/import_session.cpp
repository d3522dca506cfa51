#include "importer/import_session.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "importer/file_placement.h"
#include "importer/staging_cleanup.h"
#include "importer/text_format.h"

namespace importer {
namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableValue;
using flutter::ValueList;

constexpr int kBarWidth = 30;
// Renames retried when the chosen name is taken in between.
constexpr int kPlacementAttempts = 20;

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
      wait_until_(started_ + std::chrono::seconds(options_.wait_seconds)),
      holds_([this](int milliseconds, std::function<void()> task) {
        environment_.after(milliseconds, std::move(task));
      }) {}

void ImportSession::Start() {
  // A folder the import makes goes again at the end if nothing landed in it.
  destination_ = FullPath(options_.folder);
  if (!options_.thumbnails.empty()) thumbnails_ = FullPath(options_.thumbnails);
  if (!options_.dry_run && !LockDestination()) return;
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
  // A file being placed is placed (or its staging file removed) first; the
  // summary follows (PumpCopies).
  if (settling_) return;
  if (to_copy_.empty() && ledger_.listed() == 0) {
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
  if (over_ || interrupted_ || StringField(batch, "deviceId") != device_id_ ||
      StringField(batch, "token") != std::to_string(enumerations_)) {
    return;
  }
  if (BoolField(batch, "last")) {
    // What the walk passed over comes once, after its entries and before
    // the reply.
    final_batch_ = enumerations_;
    unread_.clear();
    if (const ValueList* unread = ListField(batch, "unread")) {
      for (const EncodableValue& item : *unread) {
        unread_.push_back({StringField(item, "folder"),
                           StringField(item, "objectId"),
                           IntField(item, "hresult")});
      }
    }
  }
  const ValueList* entries = ListField(batch, "entries");
  if (entries == nullptr || entries->empty() || copying_ || checking_) return;
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
  if (entries != nullptr && final_batch_ != enumeration) unread_.clear();
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
  if (checking_) {
    Check(entries, reply.Describe());
    return;
  }
  if (entries != nullptr && !unread_.empty() && !unread_listed_again_ &&
      Clock::now() + std::chrono::milliseconds(options_.poll_milliseconds) <=
          wait_until_) {
    // Part of the roll could not be read: the whole roll is listed once
    // more before anything is decided.
    unread_listed_again_ = true;
    Line("Some of the camera roll could not be read (" +
         std::to_string(unread_.size()) + (unread_.size() == 1 ? " item" : " items") +
         "); reading it again.");
    WaitThen("", &ImportSession::Enumerate);
    return;
  }
  if (entries != nullptr && (!entries->empty() || !unread_.empty())) {
    Plan(*entries);
    return;
  }
  if (entries != nullptr && copying_) {
    // Back after a replug and showing nothing: a phone that is locked, or
    // has not trusted this PC again yet. The files owed wait for it.
    WaitThen(
        "The device shows no photos yet. Unlock it, and if it asks "
        "whether to trust this computer, tap Trust.",
        &ImportSession::Enumerate);
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
  return Ledger::Key(file.folder_name, file.name);
}

ImportSession::MediaFile ImportSession::FileOf(
    const EncodableValue& entry) const {
  MediaFile file;
  file.object_id = StringField(entry, "objectId");
  file.name = SafeComponent(StringField(entry, "name"));
  const std::string parent = StringField(entry, "parentPath");
  file.folder_name = parent.empty() ? "" : SafeComponent(parent);
  file.folder =
      parent.empty() ? destination_ : JoinPath(destination_, file.folder_name);
  file.size = IntField(entry, "size");
  return file;
}

bool ImportSession::InFolder(const MediaFile& file,
                             FolderIndex& folders) const {
  // The size that arrived where it differed from the listing; a listed size
  // of 0 tells nothing: then any size will do.
  const auto placed = placed_sizes_.find(Key(file));
  const int64_t size = placed != placed_sizes_.end() ? placed->second
                       : file.size > 0               ? file.size
                                                     : -1;
  return folders.FindCopy(file.folder, file.name, size).has_value();
}

void ImportSession::Plan(const ValueList& entries) {
  // After a replug: the files this import still owes, found again in the
  // new listing by folder and name; the files that have an outcome are not
  // looked at again.
  const bool resuming = copying_;
  // What this listing could not read fails now: a later listing (the check
  // at the end) tells its own.
  if (!options_.dry_run) RecordUnread();
  std::map<std::string, Held> owed;
  if (resuming) {
    for (Held& held : held_) owed[Key(held.file)] = std::move(held);
    for (size_t i = next_; i < to_copy_.size(); ++i) {
      owed[Key(to_copy_[i])] = Held{to_copy_[i], ""};
    }
    held_.clear();
    thumbnail_queue_.clear();  // their object ids are of the last connection
  }
  if (environment_.show_status) {
    // A folder that holds a large roll takes a moment to check.
    environment_.show_status("Checking what is already in " + destination_ +
                             "...");
  }
  // Each folder read once for the whole listing (nothing is placed
  // meanwhile); a replug plans afresh, with the files placed since.
  FolderIndex folders;
  std::vector<MediaFile> plan;
  int64_t listed_bytes = 0;
  int64_t plan_bytes = 0;
  for (const EncodableValue& entry : entries) {
    MediaFile file = FileOf(entry);
    const std::string key = Key(file);
    if (!options_.dry_run) QueueThumbnail(file);
    const bool known = owed.erase(key) != 0;
    if (ledger_.List(key)) {
      listed_bytes += file.size;
    } else if (!known) {
      continue;  // settled, or listed twice
    }
    // A size of 0 may be a size the phone did not tell: such a file is
    // copied, and what arrives decides (Place).
    std::optional<std::string> existing;
    if (file.size > 0) {
      existing = folders.FindCopy(file.folder, file.name, file.size);
    }
    if (existing) {
      Settled(file, Outcome::kAlreadyThere);
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
  Line("On the device: " + std::to_string(ledger_.listed()) + " files, " +
       FormatBytes(listed_bytes) + "; already imported: " +
       std::to_string(ledger_.Count(Outcome::kAlreadyThere)) +
       "; to import: " + std::to_string(to_copy_.size()) + " (" +
       FormatBytes(total_bytes_) + ")");
  if (options_.dry_run) {
    Finish();
    return;
  }
  if (!to_copy_.empty() &&
      !MakeFolders(destination_, &created_folders_, nullptr)) {
    Stop("Cannot create the folder " + destination_ + ".");
    return;
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
  // A copy that met a went-away code waits for the probe to tell what it
  // means, and the files after it wait with it, to keep listing order. A
  // file settled may be asked for again: then it starts too.
  for (bool settled = true; settled;) {
    while (StartNextCopy()) {
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
  } else if (away_ && !interrupted_) {
    AwaitReturn();
  } else if (reset_pending_ && !interrupted_ && next_ < to_copy_.size()) {
    // A phone that reset serves nothing more until it is plugged in again:
    // the files owed wait for a listing that shows the roll again.
    WaitThen("", &ImportSession::Enumerate);
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
  if (interrupted_ || away_ || probing_ || reset_pending_ ||
      next_ >= to_copy_.size() ||
      CopiesRunning() >= std::max(options_.copies_in_flight, 1)) {
    return false;
  }
  CopySlot& slot = slots_.emplace_back();
  slot.file = next_++;
  const MediaFile& file = to_copy_[slot.file];
  uint32_t error = 0;
  if (!MakeFolders(file.folder, &created_folders_, &error)) {
    slot.failure = "cannot create the folder " + file.folder + ": " +
                   (error == ERROR_ALREADY_EXISTS
                        ? std::string("a file has that name")
                        : "error " + std::to_string(error));
    slot.answered = true;
    return true;
  }
  // A hidden staging name of its own, never an existing file, nor one that
  // a copy still running is about to create. A name a scanner holds (an
  // earlier attempt's staging file whose deletion is pending) is passed
  // over: another name serves as well.
  std::string wanted = StagingName(file.name, 1);
  std::optional<std::string> staging_name;
  for (int attempt = 0; attempt < kPlacementAttempts; ++attempt) {
    uint32_t code = 0;
    staging_name = FirstFreeName(file.folder, wanted, &code);
    const bool taken =
        staging_name
            ? std::any_of(slots_.begin(), slots_.end(),
                          [&](const CopySlot& other) {
                            return other.staging ==
                                   JoinPath(file.folder, *staging_name);
                          })
            : IsPassingHold(code);
    if (!taken) break;
    wanted = StagingName(file.name, attempt + 2);
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
                 const bool gone = MeansDeviceGone(reply) && !away_;
                 for (CopySlot& waiting : slots_) {
                   if (waiting.file == index) {
                     waiting.answered = true;
                     waiting.reply = reply;
                     waiting.suspect = gone;
                   }
                 }
                 if (gone) Probe();
                 PumpCopies();
               });
  return true;
}

void ImportSession::Settle(CopySlot slot) {
  // A copy: to_copy_ may grow while the placement waits.
  const MediaFile file = to_copy_[slot.file];
  if (slot.staging.empty()) {
    Fail(file, slot.failure);
    SettleDone();
    return;
  }
  const Reply& reply = slot.reply;
  const std::string& staging = slot.staging;
  const std::string status = StringField(reply.value, "status");
  const int64_t written = IntField(reply.value, "bytesWritten");
  const bool tries_left = attempts_[Key(file)] < kAttemptsPerFile;
  if (!reply.ok() || status != "ok") {
    const std::string error = StringField(reply.value, "error");
    const std::string why = !reply.ok()     ? reply.Describe()
                            : error.empty() ? status
                                            : error;
    const bool still_there = slot.still_there;
    // The copy removes its staging file itself; make sure of it.
    RemoveStaging(file.folder, staging, [=] {
      if (status == "cancelled") {
        Settled(file, Outcome::kCancelled);
      } else if (away_ && tries_left) {
        // The phone went away: copied again once it is back.
        held_.push_back(Held{file, why});
      } else if (still_there && tries_left) {
        // A went-away code from a phone that is still there: that one file
        // failed this time; it is asked for again after the others.
        to_copy_.push_back(file);
      } else {
        Fail(file, why);
      }
      SettleDone();
    });
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
  std::string why;
  if (expected > 0 && written < expected) {
    // The stream ended early: a truncated photo is no copy.
    why = "received " + std::to_string(written) + " of " +
          std::to_string(expected) + " bytes";
  } else if (written == 0 && (object_size == nullptr || expected != 0)) {
    // Nothing came, and nothing says the file is empty.
    why = "received 0 bytes, and the device did not tell the file's size";
  }
  if (!why.empty()) {
    RemoveStaging(file.folder, staging, [=] {
      if (away_ && tries_left) {
        held_.push_back(Held{file, why});
      } else {
        Fail(file, why);
      }
      SettleDone();
    });
    return;
  }
  if (file.size > 0 && written > file.size) {
    Line("Warning: " + DisplayName(file) + ": received " +
         std::to_string(written) + " bytes, more than the " +
         std::to_string(file.size) + " listed; imported as received");
  }
  Place(file, staging, written, [this, file](const std::string& failure) {
    if (!failure.empty()) Fail(file, failure);
    SettleDone();
  });
}

void ImportSession::SettleDone() {
  slots_.pop_front();
  settling_ = false;
  if (!settling_inline_) PumpCopies();
}

struct ImportSession::Placement {
  MediaFile file;
  std::string staging;
  int64_t bytes = 0;
  std::function<void(const std::string&)> done;
  int names_tried = 0;
  std::optional<std::string> name;  // the free name found
  MoveOutcome outcome = MoveOutcome::kFailed;
  uint32_t error = 0;
};

void ImportSession::Place(const MediaFile& file, const std::string& staging,
                          int64_t bytes,
                          std::function<void(const std::string&)> done) {
  if (bytes != file.size || file.size == 0) {
    // The listing did not tell the size that came (none listed, or more
    // bytes than listed): what arrived decides whether it is there, so a
    // re-run does not add a copy each time.
    if (FindImportedCopy(file.folder, file.name, bytes)) {
      RemoveStaging(file.folder, staging, [this, file, bytes, done] {
        Settled(file, Outcome::kAlreadyThere);
        placed_sizes_[Key(file)] = bytes;
        Line("Already there:  " + DisplayName(file));
        done("");
      });
      return;
    }
  }
  auto placement = std::make_shared<Placement>();
  placement->file = file;
  placement->staging = staging;
  placement->bytes = bytes;
  placement->done = std::move(done);
  PlaceUnderFreeName(placement);
}

void ImportSession::PlaceUnderFreeName(
    const std::shared_ptr<Placement>& placement) {
  const std::string& folder = placement->file.folder;
  const auto abandon = [this, placement](const std::string& why) {
    RemoveStaging(placement->file.folder, placement->staging,
                  [placement, why] { placement->done(why); });
  };
  if (placement->names_tried++ >= kPlacementAttempts) {
    abandon("no free name for it in " + folder);
    return;
  }
  // Both the search and the move wait out a scanner: a name that answers
  // ERROR_ACCESS_DENIED is mostly a file whose deletion is pending.
  holds_.Run(
      folder,
      [placement] {
        uint32_t code = 0;
        placement->name = FirstFreeName(placement->file.folder,
                                        placement->file.name, &code);
        return placement->name ? 0u : code;
      },
      [this, placement, abandon](uint32_t code) {
        const std::string& folder = placement->file.folder;
        if (!placement->name) {
          abandon("no free name for it in " + folder +
                  (code != 0 ? " (error " + std::to_string(code) + ")" : ""));
          return;
        }
        holds_.Run(
            folder,
            [placement] {
              placement->error = 0;
              placement->outcome = MoveWithoutReplacing(
                  placement->staging,
                  JoinPath(placement->file.folder, *placement->name),
                  &placement->error);
              return placement->outcome == MoveOutcome::kFailed
                         ? placement->error
                         : 0u;
            },
            [this, placement, abandon](uint32_t) {
              const MediaFile& file = placement->file;
              switch (placement->outcome) {
                case MoveOutcome::kMoved: {
                  Settled(file, Outcome::kImported);
                  placed_sizes_[Key(file)] = placement->bytes;
                  copied_bytes_ += placement->bytes;
                  std::string shown = DisplayName(file);
                  if (*placement->name != file.name) {
                    shown += "  as " + *placement->name;
                  }
                  Line("Imported:  " + shown + "  " +
                       FormatBytes(placement->bytes));
                  placement->done("");
                  return;
                }
                case MoveOutcome::kNameTaken:
                  // Taken since it was found free: the next free name.
                  PlaceUnderFreeName(placement);
                  return;
                case MoveOutcome::kFailed:
                  abandon("moving the copy into place failed (error " +
                          std::to_string(placement->error) + ")");
                  return;
              }
            });
      });
}

void ImportSession::RemoveStaging(const std::string& folder,
                                  const std::string& path,
                                  std::function<void()> then) {
  holds_.Run(
      folder, [path] { return RemoveFile(path); },
      [this, path, then](uint32_t code) {
        if (code != 0) {
          left_behind_.push_back(path + " (error " + std::to_string(code) +
                                 ")");
        }
        then();
      });
}

void ImportSession::RecordUnread() {
  for (const UnreadItem& item : unread_) {
    if (!unread_seen_.insert({item.folder, item.object_id}).second) continue;
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X",
                  static_cast<unsigned>(item.hresult));
    const std::string where =
        item.folder.empty() ? "the phone's storage" : item.folder;
    const std::string why = "an item could not be read from the phone (HRESULT " +
                            std::string(code) + ")";
    ledger_.Unread(where, why);
    Line("FAILED:  " + where + ": " + why);
  }
  unread_.clear();
}

void ImportSession::Check(const ValueList* entries, const std::string& error) {
  checking_ = false;
  if (entries == nullptr || (entries->empty() && unread_.empty())) {
    // Nothing proves the folder whole: it is not claimed.
    ledger_.Unread("the check at the end",
                   entries == nullptr
                       ? "listing the phone again failed (" + error + ")"
                       : "the phone listed nothing when listed again");
    Finish();
    return;
  }
  if (environment_.show_status) {
    environment_.show_status("Checking that every file on the phone is in " +
                             destination_ + "...");
  }
  // Read now, with every file this import placed.
  FolderIndex folders;
  std::vector<std::string> missing;
  std::set<std::string> seen;
  for (const EncodableValue& entry : *entries) {
    const MediaFile file = FileOf(entry);
    const std::string key = Key(file);
    if (!seen.insert(key).second) continue;
    const bool passed_over =
        std::any_of(unread_seen_.begin(), unread_seen_.end(),
                    [&](const std::pair<std::string, std::string>& item) {
                      return item.second == file.object_id ||
                             SafeComponent(item.first) == file.folder_name;
                    });
    if (!ledger_.Listed(key)) {
      // Taken during the import: the next run brings it. One the listing
      // in use could not read has failed already, and is not here.
      if (passed_over) {
        missing.push_back(DisplayName(file));
      } else {
        ++new_files_;
      }
    } else if (!InFolder(file, folders)) {
      missing.push_back(DisplayName(file));
      ledger_.Refute(key, "not in the folder at the check at the end");
    }
  }
  if (missing.empty() && unread_.empty()) {
    Line("Checked: all " + std::to_string(seen.size() - new_files_) +
         " files on the phone are in " + destination_ + ".");
  } else if (!missing.empty()) {
    std::string line = "Checked: " + std::to_string(missing.size()) + " of " +
                       std::to_string(seen.size() - new_files_) +
                       " files on the phone " +
                       (missing.size() == 1 ? "is" : "are") + " not in " +
                       destination_ + ":";
    for (size_t i = 0; i < missing.size(); ++i) {
      line += (i == 0 ? " " : ", ") + missing[i];
    }
    Line(line);
  }
  Finish();
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
  if (ledger_.Settle(Key(file), Outcome::kFailed, why)) {
    Line("FAILED:  " + DisplayName(file) + ": " + why);
  }
}

void ImportSession::Settled(const MediaFile& file, Outcome outcome) {
  if (ledger_.Settle(Key(file), outcome) && outcome == Outcome::kCancelled) {
    Line("Cancelled:  " + DisplayName(file));
  }
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
         std::to_string(ledger_.Count(Outcome::kAlreadyThere)) +
         " already there.");
    environment_.finished(interrupted_ ? kExitInterrupted : kExitImported);
    return;
  }
  RecordUnread();
  const int left =
      interrupted_
          ? ledger_.Count(Outcome::kCancelled) +
                ledger_.SettleRest(Outcome::kCancelled, "")
          : 0;
  // Nothing may stay without an outcome; one that did is a failure, never
  // passed over in silence.
  ledger_.SettleRest(Outcome::kFailed, "not imported");
  const int failed = ledger_.Count(Outcome::kFailed);
  const int there = ledger_.Count(Outcome::kAlreadyThere);
  if (ledger_.listed() > 0 && there == ledger_.listed() && failed == 0) {
    Line("Nothing new: all " + std::to_string(ledger_.listed()) +
         " files were already there (" + time + ").");
  } else {
    Line("Imported " + std::to_string(ledger_.Count(Outcome::kImported)) +
         " files (" + FormatBytes(copied_bytes_) + "), " +
         std::to_string(there) + " already there, " + std::to_string(failed) +
         " failed, in " + time + ".");
  }
  if (interrupted_) {
    Line("Stopped: " + std::to_string(left) + " files not imported.");
  }
  if (!ledger_.failures().empty()) {
    Line("Failed:");
    for (const std::string& failure : ledger_.failures()) Line("  " + failure);
  }
  if (!left_behind_.empty()) {
    // Hidden, but complete copies a person may want to delete.
    Line("Staging files that could not be removed:");
    for (const std::string& path : left_behind_) Line("  " + path);
  }
  if (new_files_ > 0) {
    Line(Counted(new_files_, "new file", "new files") +
         " appeared on the phone during the import: run again to import " +
         (new_files_ == 1 ? "it" : "them"));
  }
  if (!thumbnails_.empty()) {
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
  const bool balanced = ledger_.Balanced();
  if (!balanced) {
    Line("Internal error: the files counted do not add up to the files "
         "listed; do not rely on this import.");
  }
  environment_.finished(interrupted_ ? kExitInterrupted
                        : failed > 0 || new_files_ > 0 || !balanced
                            ? kExitSomeFailed
                            : kExitImported);
}

bool ImportSession::LockDestination() {
  // A failure to make it shows as the lock's own.
  MakeFolders(destination_, &created_folders_, nullptr);
  uint32_t code = 0;
  switch (lock_.Take(destination_, &code)) {
    case FolderLockOutcome::kTaken: {
      // Holding the lock proves no other import writes staging files here:
      // those found were left by an import that was ended at once.
      const std::vector<std::string> removed =
          RemoveLeftStagingFiles(destination_);
      for (const std::string& path : removed) {
        Line("Removed a staging file left by an import that was stopped: " +
             path);
      }
      return true;
    }
    case FolderLockOutcome::kHeldByAnotherImport:
      Stop("Another import into " + destination_ + " is running.");
      return false;
    case FolderLockOutcome::kFailed:
      break;
  }
  Stop("Cannot use the folder " + destination_ + " (error " +
       std::to_string(code) + ").");
  return false;
}

void ImportSession::RemoveEmptyFolders() {
  lock_.Release();
  // A folder made for files that all failed goes again: removing a folder
  // that is not empty fails and leaves it. Innermost first.
  for (auto folder = created_folders_.rbegin();
       folder != created_folders_.rend(); ++folder) {
    RemoveEmptyFolder(*folder);
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
