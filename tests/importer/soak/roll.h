// The soak's camera roll: a phone shaped like a current iPhone with month
// folders of up to 200 small pattern files right under "Internal Storage",
// as fixture text, and the check of an import folder against it.

#ifndef SNAPFERRY_TESTS_IMPORTER_SOAK_ROLL_H_
#define SNAPFERRY_TESTS_IMPORTER_SOAK_ROLL_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace soak {

struct Roll {
  // Relative path in the import folder ("202601_a/IMG_0001.HEIC") -> size.
  std::map<std::string, uint64_t> files;
};

Roll MakeRoll(int objects);

// The fixture file's text: the roll's phone, whose device calls fail at
// `rate` (0: none) with seed `seed`.
std::string RollFixture(const Roll& roll, double rate, uint64_t seed);

// What an import folder holds, compared with the roll.
struct FolderCheck {
  int imported = 0;                  // roll files present and intact
  std::vector<std::string> staging;  // ".part" files left
  std::vector<std::string> wrong;    // anything else, with why
  int missing = 0;                   // roll files not there yet
};

FolderCheck CheckFolder(const std::filesystem::path& folder, const Roll& roll);

}  // namespace soak

#endif  // SNAPFERRY_TESTS_IMPORTER_SOAK_ROLL_H_
