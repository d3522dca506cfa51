#include "importer/camera_roll.h"

#include <algorithm>
#include <cstdio>

#include "importer/file_placement.h"
#include "importer/media_file.h"
#include "importer/text_format.h"

namespace importer {
namespace {

using flutter::EncodableValue;
using flutter::ValueList;

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

}  // namespace

CameraRoll::CameraRoll(const Options& options, const SessionState& state,
                       ChannelClient& client, Connection& connection,
                       const Report& report, std::string destination,
                       Events events)
    : options_(options),
      state_(state),
      client_(client),
      connection_(connection),
      report_(report),
      destination_(std::move(destination)),
      events_(std::move(events)) {}

void CameraRoll::WaitToList(const std::string& message) {
  connection_.Wait(message, [this] { Enumerate(); });
}

void CameraRoll::Enumerate() {
  if (state_.over || state_.interrupted) return;
  if (connection_.away()) {
    connection_.ListDevices();
    return;
  }
  found_photos_ = 0;
  found_videos_ = 0;
  const int enumeration = ++enumerations_;
  client_.Call(kMethodChannel, "enumerateMedia",
               StringArguments({{"id", connection_.device_id()},
                                {"token", std::to_string(enumeration)}}),
               [this, enumeration](const Reply& reply) {
                 OnEnumerated(reply, enumeration);
               });
}

void CameraRoll::OnBatch(const EncodableValue& batch) {
  if (state_.over || state_.interrupted ||
      StringField(batch, "deviceId") != connection_.device_id() ||
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
  if (entries == nullptr || entries->empty() || state_.copying || checking()) {
    return;
  }
  for (const EncodableValue& entry : *entries) {
    const std::string name = StringField(entry, "name");
    if (IsVideoName(name)) {
      ++found_videos_;
    } else if (!EndsWithIgnoringCase(name, ".aae")) {
      ++found_photos_;  // edits (.aae) go with their photo
    }
  }
  if (!announced_) {
    announced_ = true;
    report_.Line("Reading the camera roll...");
  }
  report_.Status("Found " + Counted(found_photos_, "photo", "photos") +
                 " and " + Counted(found_videos_, "video", "videos"));
}

void CameraRoll::Reset() {
  reset_pending_ = true;
  reset_enumeration_ = enumerations_;
}

void CameraRoll::OnEnumerated(const Reply& reply, int enumeration) {
  if (state_.over || state_.interrupted) return;
  if (connection_.away()) {
    connection_.AwaitReturn();
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
      WaitToList("");
      return;
    }
    reset_pending_ = false;
  }
  if (checking()) {
    OnCheckListing(entries, reply.Describe());
    return;
  }
  if (entries != nullptr && !unread_.empty() && !listed_again_ &&
      connection_.CanWaitAnotherPoll()) {
    // Part of the roll could not be read: the whole roll is listed once
    // more before anything is decided.
    listed_again_ = true;
    report_.Line(
        "Some of the camera roll could not be read (" +
        Counted(static_cast<long long>(unread_.size()), "item", "items") +
        "); reading it again.");
    WaitToList("");
    return;
  }
  if (entries != nullptr && (!entries->empty() || !unread_.empty())) {
    events_.listed(*entries);
    return;
  }
  if (entries != nullptr && state_.copying) {
    // Back after a replug and showing nothing: a phone that is locked, or
    // has not trusted this PC again yet. The files owed wait for it.
    WaitToList(kUnlockLine);
    return;
  }
  // Nothing listed: the scan tells a locked phone from an empty one.
  Scan(entries != nullptr ? "" : reply.Describe());
}

void CameraRoll::Scan(const std::string& enumeration_error) {
  client_.Call(
      kMethodChannel, "scanMedia",
      StringArguments({{"id", connection_.device_id()}}),
      [this, enumeration_error](const Reply& reply) {
        if (state_.over || state_.interrupted) return;
        if (connection_.away()) {
          connection_.AwaitReturn();
          return;
        }
        const std::string status = StringField(reply.value, "status");
        if (reply.ok() && (status == "emptyStorage" ||
                           status == "accessDenied" || status == "noStorage")) {
          WaitToList(kUnlockLine);
          return;
        }
        if (reply.ok() && status == "ok" && enumeration_error.empty()) {
          const int64_t media = IntField(reply.value, "photos") +
                                IntField(reply.value, "videos") +
                                IntField(reply.value, "screenshots") +
                                IntField(reply.value, "sidecars");
          if (media == 0) {
            report_.Line("The device holds no photos or videos.");
            events_.done();
            return;
          }
          // Unlocked between the listing and the scan: list again.
          WaitToList("");
          return;
        }
        // A listing that failed on a device that reads well is a passing
        // fault (a flaky cable, a busy phone): list again while the wait
        // lasts.
        if (reply.ok() && status == "ok" && connection_.CanWaitAnotherPoll()) {
          WaitToList("Listing the media failed (" + enumeration_error +
                     "); trying again.");
          return;
        }
        std::string why = enumeration_error;
        if (why.empty()) {
          why =
              reply.ok() ? StringField(reply.value, "error") : reply.Describe();
        }
        events_.stop("Reading the device failed: " + why + ".");
      });
}

void CameraRoll::RecordUnread(Ledger& ledger) {
  for (const UnreadItem& item : unread_) {
    if (!unread_seen_.insert({item.folder, item.object_id}).second) continue;
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X",
                  static_cast<unsigned>(item.hresult));
    const std::string where =
        item.folder.empty() ? "the phone's storage" : item.folder;
    const std::string why =
        "an item could not be read from the phone (HRESULT " +
        std::string(code) + ")";
    ledger.Unread(where, why);
    report_.Line("FAILED:  " + where + ": " + why);
  }
  unread_.clear();
}

void CameraRoll::Check(ImportPlan& plan) {
  // The roll listed once more: the last line claims only what it shows.
  plan_checked_ = &plan;
  Enumerate();
}

void CameraRoll::OnCheckListing(const ValueList* entries,
                                const std::string& error) {
  ImportPlan& plan = *plan_checked_;
  plan_checked_ = nullptr;
  Ledger& ledger = plan.ledger();
  if (entries == nullptr || (entries->empty() && unread_.empty())) {
    // Nothing proves the folder whole: it is not claimed.
    ledger.Unread("the check at the end",
                  entries == nullptr
                      ? "listing the phone again failed (" + error + ")"
                      : "the phone listed nothing when listed again");
    events_.done();
    return;
  }
  report_.Status("Checking that every file on the phone is in " + destination_ +
                 "...");
  // Read now, with every file this import placed.
  FolderIndex folders;
  std::vector<std::string> missing;
  std::set<std::string> seen;
  for (const EncodableValue& entry : *entries) {
    const MediaFile file = FileOf(entry, destination_);
    const std::string key = Key(file);
    if (!seen.insert(key).second) continue;
    const bool passed_over =
        std::any_of(unread_seen_.begin(), unread_seen_.end(),
                    [&](const std::pair<std::string, std::string>& item) {
                      return item.second == file.object_id ||
                             SafeComponent(item.first) == file.folder_name;
                    });
    if (!ledger.Listed(key)) {
      // Taken during the import: the next run brings it. One the listing
      // in use could not read has failed already, and is not here.
      if (passed_over) {
        missing.push_back(DisplayName(file));
      } else {
        ++new_files_;
      }
    } else if (!plan.InFolder(file, folders)) {
      missing.push_back(DisplayName(file));
      ledger.Refute(key, "not in the folder at the check at the end");
    }
  }
  const std::string checked = std::to_string(seen.size() - new_files_);
  if (missing.empty() && unread_.empty()) {
    report_.Line("Checked: all " + checked + " files on the phone are in " +
                 destination_ + ".");
  } else if (!missing.empty()) {
    std::string line = "Checked: " + std::to_string(missing.size()) + " of " +
                       checked + " files on the phone " +
                       (missing.size() == 1 ? "is" : "are") + " not in " +
                       destination_ + ":";
    for (size_t i = 0; i < missing.size(); ++i) {
      line += (i == 0 ? " " : ", ") + missing[i];
    }
    report_.Line(line);
  }
  events_.done();
}

}  // namespace importer
