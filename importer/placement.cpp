#include "importer/placement.h"

#include <utility>

namespace importer {
namespace {

// Names tried: staging names passed over, and renames retried when the
// chosen name is taken in between.
constexpr int kPlacementAttempts = 20;

}  // namespace

struct Placement::Attempt {
  MediaFile file;
  std::string staging;
  std::function<void(const Placed&)> done;
  int names_tried = 0;
  std::optional<std::string> name;  // the free name found
  MoveOutcome outcome = MoveOutcome::kFailed;
  uint32_t error = 0;
};

std::optional<std::string> Placement::StagingPath(
    const MediaFile& file,
    const std::function<bool(const std::string& path)>& taken) {
  std::string wanted = StagingName(file.name, 1);
  for (int attempt = 0; attempt < kPlacementAttempts; ++attempt) {
    uint32_t code = 0;
    const std::optional<std::string> name =
        FirstFreeName(file.folder, wanted, &code);
    if (name && !taken(JoinPath(file.folder, *name))) {
      return JoinPath(file.folder, *name);
    }
    if (!name && !IsPassingHold(code)) break;
    wanted = StagingName(file.name, attempt + 2);
  }
  return std::nullopt;
}

void Placement::Place(const MediaFile& file, const std::string& staging,
                      int64_t bytes, std::function<void(const Placed&)> done) {
  if (bytes != file.size || file.size == 0) {
    // The listing did not tell the size that came (none listed, or more
    // bytes than listed): what arrived decides whether it is there, so a
    // re-run does not add a copy each time.
    if (FindImportedCopy(file.folder, file.name, bytes)) {
      RemoveStaging(file.folder, staging, [done] {
        done(Placed{Outcome::kAlreadyThere, "", ""});
      });
      return;
    }
  }
  auto attempt = std::make_shared<Attempt>();
  attempt->file = file;
  attempt->staging = staging;
  attempt->done = std::move(done);
  PlaceUnderFreeName(attempt);
}

void Placement::PlaceUnderFreeName(const std::shared_ptr<Attempt>& attempt) {
  const std::string& folder = attempt->file.folder;
  const auto abandon = [this, attempt](const std::string& why) {
    RemoveStaging(attempt->file.folder, attempt->staging, [attempt, why] {
      attempt->done(Placed{Outcome::kFailed, "", why});
    });
  };
  if (attempt->names_tried++ >= kPlacementAttempts) {
    abandon("no free name for it in " + folder);
    return;
  }
  // Both the search and the move wait out a scanner: a name that answers
  // ERROR_ACCESS_DENIED is mostly a file whose deletion is pending.
  holds_.Run(
      folder,
      [attempt] {
        uint32_t code = 0;
        attempt->name =
            FirstFreeName(attempt->file.folder, attempt->file.name, &code);
        return attempt->name ? 0u : code;
      },
      [this, attempt, abandon](uint32_t code) {
        const std::string& folder = attempt->file.folder;
        if (!attempt->name) {
          abandon("no free name for it in " + folder +
                  (code != 0 ? " (error " + std::to_string(code) + ")" : ""));
          return;
        }
        holds_.Run(
            folder,
            [attempt] {
              attempt->error = 0;
              attempt->outcome = MoveWithoutReplacing(
                  attempt->staging,
                  JoinPath(attempt->file.folder, *attempt->name),
                  &attempt->error);
              return attempt->outcome == MoveOutcome::kFailed ? attempt->error
                                                              : 0u;
            },
            [this, attempt, abandon](uint32_t) {
              switch (attempt->outcome) {
                case MoveOutcome::kMoved:
                  attempt->done(Placed{Outcome::kImported, *attempt->name, ""});
                  return;
                case MoveOutcome::kNameTaken:
                  // Taken since it was found free: the next free name.
                  PlaceUnderFreeName(attempt);
                  return;
                case MoveOutcome::kFailed:
                  abandon("moving the copy into place failed (error " +
                          std::to_string(attempt->error) + ")");
                  return;
              }
            });
      });
}

void Placement::MoveIn(
    const std::string& folder, const std::string& staging,
    const std::string& name,
    std::function<void(MoveOutcome outcome, uint32_t error)> done) {
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
        const auto moved = [=] { done(*outcome, *error); };
        if (*outcome == MoveOutcome::kMoved) {
          moved();
        } else {
          RemoveStaging(folder, staging, moved);
        }
      });
}

void Placement::RemoveStaging(const std::string& folder,
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

}  // namespace importer
