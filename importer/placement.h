// Moving a copy into place, on the UI thread's timers: a hidden staging
// name to copy into, then the first free name among the photo's name and
// its numbered variants, with a move that never replaces a file, and waits
// while a scanner holds a file (HoldWaits). file_placement.h holds the file
// system's half.

#ifndef SNAPFERRY_IMPORTER_PLACEMENT_H_
#define SNAPFERRY_IMPORTER_PLACEMENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "importer/file_placement.h"
#include "importer/ledger.h"
#include "importer/media_file.h"

namespace importer {

class Placement {
 public:
  explicit Placement(HoldWaits::After after) : holds_(std::move(after)) {}

  // The path of a hidden staging file of its own for `file`: never an
  // existing file, nor one `taken` says a running copy is about to create.
  // A name a scanner holds (an earlier attempt's staging file whose deletion
  // is pending) is passed over: another name serves as well. None when no
  // name is free.
  std::optional<std::string> StagingPath(
      const MediaFile& file,
      const std::function<bool(const std::string& path)>& taken);

  // Where a complete staging file of `bytes` ended: imported under `name`,
  // already there (the staging file removed), or failed with `why`.
  struct Placed {
    Outcome outcome = Outcome::kFailed;
    std::string name;
    std::string why;
  };
  // Moves `staging` into place for `file` (or finds it there already), then
  // `done`.
  void Place(const MediaFile& file, const std::string& staging, int64_t bytes,
             std::function<void(const Placed& placed)> done);

  // Moves `staging` in `folder` to `name` there, without replacing a file
  // and waiting out a scanner; a staging file not moved is removed. Then
  // `done` with the outcome and the system's code.
  void MoveIn(const std::string& folder, const std::string& staging,
              const std::string& name,
              std::function<void(MoveOutcome outcome, uint32_t error)> done);

  // Removes a staging file, waiting out a scanner that holds it; one that
  // stays is remembered (left_behind). Then `then`.
  void RemoveStaging(const std::string& folder, const std::string& path,
                     std::function<void()> then);

  // Staging files that could not be removed, with why.
  const std::vector<std::string>& left_behind() const { return left_behind_; }

 private:
  struct Attempt;
  void PlaceUnderFreeName(const std::shared_ptr<Attempt>& attempt);

  // Scanners waited out, on the UI thread's timers.
  HoldWaits holds_;
  std::vector<std::string> left_behind_;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_PLACEMENT_H_
