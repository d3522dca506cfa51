// The plan and the ledger: what the folder already holds (the "already
// there" check), what is to be copied, and the one record of each listed
// file's outcome (Ledger), said when it is news.

#ifndef SNAPFERRY_IMPORTER_IMPORT_PLAN_H_
#define SNAPFERRY_IMPORTER_IMPORT_PLAN_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "importer/folder_index.h"
#include "importer/ledger.h"
#include "importer/media_file.h"
#include "importer/report.h"

namespace importer {

class ImportPlan {
 public:
  explicit ImportPlan(const Report& report) : report_(report) {}

  // What a listing leaves to copy.
  struct Planned {
    std::vector<MediaFile> to_copy;  // in listing order
    int64_t listed_bytes = 0;        // of the files new to the ledger
    int64_t copy_bytes = 0;          // of to_copy
    int64_t new_bytes = 0;           // of to_copy, less what was owed
    std::vector<MediaFile> gone;     // owed, and no longer listed
  };
  // Lists `files` in the ledger and plans each one it holds no outcome for
  // that the folder does not hold already. `owed`: the files, by key, this
  // import still owes from a listing before (a replug); each is planned
  // again when listed, and is `gone` when not. A dry run says each file.
  Planned Plan(const std::vector<MediaFile>& files,
               std::map<std::string, MediaFile> owed, bool dry_run);

  // Whether the folder holds `file` (its name or a " (n)" variant, of the
  // size placed, or of its listed size when one was listed), as `folders`
  // read it.
  bool InFolder(const MediaFile& file, FolderIndex& folders) const;
  // `file` went into place, or was found there, with `bytes`.
  void Placed(const MediaFile& file, int64_t bytes);

  // Records that `file` failed, and says so when it is news.
  void Fail(const MediaFile& file, const std::string& why);
  // Records `outcome` for `file`, and says a cancel when it is news.
  void Settle(const MediaFile& file, Outcome outcome);
  // How many listed files have an outcome.
  int Settled() const;

  Ledger& ledger() { return ledger_; }
  const Ledger& ledger() const { return ledger_; }

 private:
  const Report& report_;
  // What became of each file listed.
  Ledger ledger_;
  // Bytes of the files placed (or found there) after their copy, by key:
  // what the check at the end looks for.
  std::map<std::string, int64_t> placed_sizes_;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_IMPORT_PLAN_H_
