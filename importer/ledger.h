// The one record of what became of each file the phone listed in this
// import. Every file ends as exactly one of imported, already there, failed
// or cancelled, and what the walk could not read counts as failed, so the
// summary's numbers add up to what the phone holds. The last line a person
// acts on (they clear their phone) states only what this record proves.

#ifndef SNAPFERRY_IMPORTER_LEDGER_H_
#define SNAPFERRY_IMPORTER_LEDGER_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace importer {

enum class Outcome { kImported, kAlreadyThere, kFailed, kCancelled };

class Ledger {
 public:
  // A file's key: its folder on the phone and its name (object ids change on
  // a replug); "" for a file right in the storage.
  static std::string Key(const std::string& folder, const std::string& name);
  // How the summary names the file of `key`: "202610_a/IMG_0001.HEIC".
  static std::string Shown(const std::string& key);

  // A file the phone listed, by its key. False when the key was listed before in this import; it
  // is then not counted again.
  bool List(const std::string& key);
  bool Listed(const std::string& key) const { return files_.count(key) != 0; }
  // Whether the listed file has its outcome.
  bool Settled(const std::string& key) const;

  // Gives a listed file its outcome; `why` says why it failed. A file that
  // has an outcome keeps it: false, nothing changes.
  bool Settle(const std::string& key, Outcome outcome,
              const std::string& why = "");
  // A file imported or found there that the check at the end did not find
  // in the folder after all: it failed. False for a file without either.
  bool Refute(const std::string& key, const std::string& why);
  // Something on the phone that could not be read (a folder, an object):
  // one failure of its own.
  void Unread(const std::string& shown, const std::string& why);

  // Every listed file still without an outcome gets `outcome`; how many.
  int SettleRest(Outcome outcome, const std::string& why);
  // Keys listed and not settled yet, in listing order.
  std::vector<std::string> Open() const;

  int listed() const { return static_cast<int>(order_.size()); }
  int unread() const { return unread_; }
  int Count(Outcome outcome) const;
  // "name: why" of each failure, in the order they came.
  const std::vector<std::string>& failures() const { return failures_; }
  // The invariant the summary rests on: every file listed has one outcome,
  // and imported + already there + failed + cancelled = listed + unread.
  bool Balanced() const;

 private:
  struct File {
    bool settled = false;
    Outcome outcome = Outcome::kFailed;
  };
  std::map<std::string, File> files_;
  std::vector<std::string> order_;
  int counts_[4] = {};
  int unread_ = 0;
  std::vector<std::string> failures_;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_LEDGER_H_
