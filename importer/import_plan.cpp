#include "importer/import_plan.h"

#include <optional>
#include <utility>

#include "importer/file_placement.h"
#include "importer/text_format.h"

namespace importer {

ImportPlan::Planned ImportPlan::Plan(const std::vector<MediaFile>& files,
                                     std::map<std::string, MediaFile> owed,
                                     bool dry_run) {
  Planned planned;
  // Each folder read once for the whole listing (nothing is placed
  // meanwhile); a replug plans afresh, with the files placed since.
  FolderIndex folders;
  for (const MediaFile& file : files) {
    const std::string key = Key(file);
    const bool known = owed.erase(key) != 0;
    if (ledger_.List(key)) {
      planned.listed_bytes += file.size;
    } else if (!known) {
      continue;  // settled, or listed twice
    }
    // A size of 0 may be a size the phone did not tell: such a file is
    // copied, and what arrives decides (Placement::Place).
    std::optional<std::string> existing;
    if (file.size > 0) {
      existing = folders.FindCopy(file.folder, file.name, file.size);
    }
    if (existing) {
      Settle(file, Outcome::kAlreadyThere);
      if (dry_run) {
        report_.Line("Already there:  " + DisplayName(file) +
                     (*existing != file.name ? "  (as " + *existing + ")"
                                             : ""));
      }
      continue;
    }
    if (dry_run) {
      report_.Line("Would import:   " + DisplayName(file) + "  " +
                   FormatBytes(file.size));
    }
    if (!known) planned.new_bytes += file.size;
    planned.copy_bytes += file.size;
    planned.to_copy.push_back(file);
  }
  for (auto& gone : owed) planned.gone.push_back(std::move(gone.second));
  return planned;
}

bool ImportPlan::InFolder(const MediaFile& file,
                          FolderIndex& folders) const {
  // The size that arrived where it differed from the listing; a listed size
  // of 0 tells nothing: then any size will do.
  const auto placed = placed_sizes_.find(Key(file));
  const int64_t size = placed != placed_sizes_.end() ? placed->second
                       : file.size > 0               ? file.size
                                                     : -1;
  return folders.FindCopy(file.folder, file.name, size).has_value();
}

void ImportPlan::Placed(const MediaFile& file, int64_t bytes) {
  placed_sizes_[Key(file)] = bytes;
}

void ImportPlan::Fail(const MediaFile& file, const std::string& why) {
  if (ledger_.Settle(Key(file), Outcome::kFailed, why)) {
    report_.Line("FAILED:  " + DisplayName(file) + ": " + why);
  }
}

void ImportPlan::Settle(const MediaFile& file, Outcome outcome) {
  if (ledger_.Settle(Key(file), outcome) && outcome == Outcome::kCancelled) {
    report_.Line("Cancelled:  " + DisplayName(file));
  }
}

int ImportPlan::Settled() const {
  return ledger_.Count(Outcome::kImported) +
         ledger_.Count(Outcome::kAlreadyThere) +
         ledger_.Count(Outcome::kFailed) + ledger_.Count(Outcome::kCancelled);
}

}  // namespace importer
