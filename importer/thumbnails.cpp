// The import's thumbnails (--thumbnails FOLDER): each photo's, as the phone
// serves it ("getThumbnail"), saved as the photo's name followed by ".jpg"
// in the photo's folder under FOLDER, never over a file that is there.

#include <memory>
#include <string>
#include <vector>

#include "importer/file_placement.h"
#include "importer/import_session.h"

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

std::string ImportSession::ThumbnailFolder(const MediaFile& file) const {
  return file.folder_name.empty() ? thumbnails_
                                  : JoinPath(thumbnails_, file.folder_name);
}

void ImportSession::QueueThumbnail(const MediaFile& file) {
  if (thumbnails_.empty() || !IsPhotoName(file.name) ||
      thumbnails_done_.count(Key(file)) != 0) {
    return;
  }
  if (thumbnail_attempts_[Key(file)] >= kAttemptsPerFile) {
    thumbnails_done_.insert(Key(file));
    ++thumbnails_failed_;
    Line("Warning: no thumbnail for " + DisplayName(file) + ": asked for " +
         std::to_string(kAttemptsPerFile) + " times");
    return;
  }
  if (PathExists(JoinPath(ThumbnailFolder(file), ThumbnailName(file.name)))) {
    thumbnails_done_.insert(Key(file));
    ++thumbnails_there_;
    return;
  }
  thumbnail_queue_.push_back(file);
}

void ImportSession::PumpThumbnails() {
  while (!over_ && !interrupted_ && !away_ && !probing_ &&
         !thumbnail_queue_.empty() &&
         thumbnails_running_ < kThumbnailsInFlight) {
    MediaFile file = std::move(thumbnail_queue_.front());
    thumbnail_queue_.pop_front();
    ++thumbnails_running_;
    ++thumbnail_attempts_[Key(file)];
    const int connection = connection_;
    client_.Call(
        kMethodChannel, "getThumbnail",
        StringArguments({{"id", device_id_}, {"objectId", file.object_id}}),
        [this, file, connection](const Reply& reply) {
          if (over_) return;
          --thumbnails_running_;
          if (connection == connection_) {
            const bool gone = MeansDeviceGone(reply) && !away_;
            if (gone && thumbnail_attempts_[Key(file)] < kAttemptsPerFile) {
              // Asked again after the others, if the phone is still there
              // (the probe tells); else once it is back.
              thumbnail_queue_.push_back(file);
              Probe();
            } else if (reply.ok()) {
              thumbnails_done_.insert(Key(file));
              if (const auto* jpeg =
                      std::get_if<std::vector<uint8_t>>(&reply.value)) {
                SaveThumbnail(file, *jpeg);
              }  // null: the photo has none
            } else if (interrupted_ && reply.code == "cancelled") {
              // Ctrl+C ends the thumbnail reads too: no warning for those.
            } else if (!away_ || gone) {
              thumbnails_done_.insert(Key(file));
              ++thumbnails_failed_;
              Line("Warning: no thumbnail for " + DisplayName(file) + ": " +
                   reply.Describe());
            }
            // Otherwise asked for again once the phone is back.
          }
          PumpThumbnails();
          FinishWhenDone();
        });
  }
}

void ImportSession::SaveThumbnail(const MediaFile& file,
                                  const std::vector<uint8_t>& jpeg) {
  // As a photo: written to a hidden staging file, then moved in without
  // replacing anything, waiting out a scanner that holds it.
  const std::string folder = ThumbnailFolder(file);
  uint32_t code = 0;
  if (!MakeFolders(folder, &created_folders_, &code)) {
    ThumbnailSaved(file, MoveOutcome::kFailed,
                   "cannot create the folder " + folder + " (error " +
                       std::to_string(code) + ")");
    return;
  }
  const std::string name = ThumbnailName(file.name);
  const std::optional<std::string> staging_name =
      FirstFreeName(folder, StagingName(name, 1));
  if (!staging_name) {
    ThumbnailSaved(file, MoveOutcome::kFailed, "cannot write in " + folder);
    return;
  }
  const std::string staging = JoinPath(folder, *staging_name);
  code = WriteNewFile(staging, jpeg);
  if (code != 0) {
    ThumbnailSaved(file, MoveOutcome::kFailed,
                   "writing it failed (error " + std::to_string(code) + ")");
    return;
  }
  ++thumbnails_saving_;
  auto outcome = std::make_shared<MoveOutcome>(MoveOutcome::kFailed);
  auto error = std::make_shared<uint32_t>(0);
  holds_.Run(
      folder,
      [=] {
        *outcome =
            MoveWithoutReplacing(staging, JoinPath(folder, name), error.get());
        return *outcome == MoveOutcome::kFailed ? *error : 0u;
      },
      [=](uint32_t) {
        const auto saved = [=] {
          --thumbnails_saving_;
          ThumbnailSaved(file, *outcome,
                         "moving it into place failed (error " +
                             std::to_string(*error) + ")");
          FinishWhenDone();
        };
        if (*outcome == MoveOutcome::kMoved) {
          saved();
        } else {
          RemoveStaging(folder, staging, saved);
        }
      });
}

void ImportSession::ThumbnailSaved(const MediaFile& file, MoveOutcome outcome,
                                   const std::string& why) {
  if (outcome == MoveOutcome::kMoved) {
    ++thumbnails_saved_;
  } else if (outcome == MoveOutcome::kNameTaken) {
    ++thumbnails_there_;  // a file came there meanwhile: it stays
  } else {
    ++thumbnails_failed_;
    Line("Warning: thumbnail of " + DisplayName(file) + " not saved: " + why);
  }
}

}  // namespace importer
