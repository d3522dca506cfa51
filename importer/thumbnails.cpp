#include "importer/thumbnails.h"

#include <memory>
#include <utility>

#include "importer/file_placement.h"
#include "importer/options.h"

namespace importer {
namespace {

bool IsPhotoName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = name.substr(dot);
  for (const char* other : {".mov", ".mp4", ".m4v", ".aae"}) {
    if (EqualIgnoringAsciiCase(extension, other)) return false;
  }
  return true;
}

std::string ThumbnailName(const std::string& photo) { return photo + ".jpg"; }

}  // namespace

Thumbnails::Thumbnails(std::string folder, const SessionState& state,
                       Parts parts, std::function<void()> settled)
    : folder_(std::move(folder)),
      state_(state),
      parts_(parts),
      settled_(std::move(settled)) {}

std::string Thumbnails::FolderOf(const MediaFile& file) const {
  return file.folder_name.empty() ? folder_
                                  : JoinPath(folder_, file.folder_name);
}

void Thumbnails::Queue(const MediaFile& file) {
  if (folder_.empty() || !IsPhotoName(file.name) ||
      done_.count(Key(file)) != 0) {
    return;
  }
  if (attempts_[Key(file)] >= kAttemptsPerFile) {
    done_.insert(Key(file));
    ++failed_;
    parts_.report.Line("Warning: no thumbnail for " + DisplayName(file) +
                       ": asked for " + std::to_string(kAttemptsPerFile) +
                       " times");
    return;
  }
  if (PathExists(JoinPath(FolderOf(file), ThumbnailName(file.name)))) {
    done_.insert(Key(file));
    ++there_;
    return;
  }
  queue_.push_back(file);
}

void Thumbnails::Pump() {
  while (!state_.over && !state_.interrupted && !parts_.connection.away() &&
         !parts_.connection.probing() && !queue_.empty() &&
         running_ < kThumbnailsInFlight) {
    MediaFile file = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    ++attempts_[Key(file)];
    const int connection = parts_.connection.number();
    parts_.client.Call(
        kMethodChannel, "getThumbnail",
        StringArguments({{"id", parts_.connection.device_id()},
                         {"objectId", file.object_id}}),
        [this, file, connection](const Reply& reply) {
          OnThumbnail(file, connection, reply);
        });
  }
}

void Thumbnails::OnThumbnail(const MediaFile& file, int connection,
                             const Reply& reply) {
  if (state_.over) return;
  --running_;
  if (connection == parts_.connection.number()) {
    const bool away = parts_.connection.away();
    const bool gone = MeansDeviceGone(reply) && !away;
    if (gone && attempts_[Key(file)] < kAttemptsPerFile) {
      // Asked again after the others, if the phone is still there (the
      // probe tells); else once it is back.
      queue_.push_back(file);
      parts_.connection.Probe();
    } else if (reply.ok()) {
      done_.insert(Key(file));
      if (const auto* jpeg = std::get_if<std::vector<uint8_t>>(&reply.value)) {
        Save(file, *jpeg);
      }  // null: the photo has none
    } else if (state_.interrupted && reply.code == "cancelled") {
      // Ctrl+C ends the thumbnail reads too: no warning for those.
    } else if (!away || gone) {
      done_.insert(Key(file));
      ++failed_;
      parts_.report.Line("Warning: no thumbnail for " + DisplayName(file) +
                         ": " + reply.Describe());
    }
    // Otherwise asked for again once the phone is back.
  }
  Pump();
  settled_();
}

void Thumbnails::Save(const MediaFile& file, const std::vector<uint8_t>& jpeg) {
  // As a photo: written to a staging file (a dot name, not the hidden
  // attribute, which the move would keep), then moved in without replacing
  // anything, waiting out a scanner that holds it.
  const std::string folder = FolderOf(file);
  uint32_t code = 0;
  if (!parts_.destination.Make(folder, &code)) {
    Saved(file, MoveOutcome::kFailed,
          "cannot create the folder " + folder + " (error " +
              std::to_string(code) + ")");
    return;
  }
  const std::string name = ThumbnailName(file.name);
  const std::optional<std::string> staging_name =
      FirstFreeName(folder, StagingName(name, 1));
  if (!staging_name) {
    Saved(file, MoveOutcome::kFailed, "cannot write in " + folder);
    return;
  }
  const std::string staging = JoinPath(folder, *staging_name);
  code = WriteNewFile(staging, jpeg);
  if (code != 0) {
    Saved(file, MoveOutcome::kFailed,
          "writing it failed (error " + std::to_string(code) + ")");
    return;
  }
  ++saving_;
  parts_.placement.MoveIn(
      folder, staging, name, [this, file](MoveOutcome outcome, uint32_t error) {
        --saving_;
        Saved(file, outcome,
              "moving it into place failed (error " + std::to_string(error) +
                  ")");
        settled_();
      });
}

void Thumbnails::Saved(const MediaFile& file, MoveOutcome outcome,
                       const std::string& why) {
  if (outcome == MoveOutcome::kMoved) {
    ++saved_;
  } else if (outcome == MoveOutcome::kNameTaken) {
    ++there_;  // a file came there meanwhile: it stays
  } else {
    ++failed_;
    parts_.report.Line("Warning: thumbnail of " + DisplayName(file) +
                       " not saved: " + why);
  }
}

std::string Thumbnails::Summary() const {
  if (folder_.empty()) return "";
  std::string line =
      "Thumbnails: " + std::to_string(saved_) + " saved in " + folder_;
  if (there_ > 0) line += ", " + std::to_string(there_) + " already there";
  if (failed_ > 0) {
    line += ", " + std::to_string(failed_) + " could not be read";
  }
  return line + ".";
}

}  // namespace importer
