#include "importer/ledger.h"

namespace importer {

std::string Ledger::Key(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

std::string Ledger::Shown(const std::string& key) {
  return key.rfind('/', 0) == 0 ? key.substr(1) : key;
}

bool Ledger::List(const std::string& key) {
  if (!files_.emplace(key, File{}).second) return false;
  order_.push_back(key);
  return true;
}

bool Ledger::Settled(const std::string& key) const {
  const auto file = files_.find(key);
  return file != files_.end() && file->second.settled;
}

bool Ledger::Settle(const std::string& key, Outcome outcome,
                    const std::string& why) {
  const auto file = files_.find(key);
  if (file == files_.end() || file->second.settled) return false;
  file->second.settled = true;
  file->second.outcome = outcome;
  ++counts_[static_cast<int>(outcome)];
  if (outcome == Outcome::kFailed) failures_.push_back(Shown(key) + ": " + why);
  return true;
}

bool Ledger::Refute(const std::string& key, const std::string& why) {
  const auto file = files_.find(key);
  if (file == files_.end() || !file->second.settled ||
      (file->second.outcome != Outcome::kImported &&
       file->second.outcome != Outcome::kAlreadyThere)) {
    return false;
  }
  --counts_[static_cast<int>(file->second.outcome)];
  file->second.outcome = Outcome::kFailed;
  ++counts_[static_cast<int>(Outcome::kFailed)];
  failures_.push_back(Shown(key) + ": " + why);
  return true;
}

void Ledger::Unread(const std::string& shown, const std::string& why) {
  ++unread_;
  ++counts_[static_cast<int>(Outcome::kFailed)];
  failures_.push_back(shown + ": " + why);
}

int Ledger::SettleRest(Outcome outcome, const std::string& why) {
  int settled = 0;
  for (const std::string& key : Open()) settled += Settle(key, outcome, why);
  return settled;
}

std::vector<std::string> Ledger::Open() const {
  std::vector<std::string> open;
  for (const std::string& key : order_) {
    if (!files_.at(key).settled) open.push_back(key);
  }
  return open;
}

int Ledger::Count(Outcome outcome) const {
  return counts_[static_cast<int>(outcome)];
}

bool Ledger::Balanced() const {
  int outcomes = 0;
  for (int count : counts_) outcomes += count;
  return Open().empty() && outcomes == listed() + unread_;
}

}  // namespace importer
