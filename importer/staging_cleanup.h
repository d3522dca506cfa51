// Staging files left behind. An import stopped at once (a second Ctrl+C,
// the console closed) may leave a complete staging file between its copy
// and its move. The next import into the folder removes such files, and
// only while it holds the folder's lock, which proves no other import is
// writing them.

#ifndef SNAPFERRY_IMPORTER_STAGING_CLEANUP_H_
#define SNAPFERRY_IMPORTER_STAGING_CLEANUP_H_

#include <string>
#include <vector>

namespace importer {

// Whether `name` is one of the importer's staging names (StagingName), of
// any process: ".NAME.PID.part" or ".N.NAME.PID.part".
bool IsStagingName(const std::string& name);

// Removes the staging files in `destination` and its direct subfolders;
// the full paths of those it removed.
std::vector<std::string> RemoveLeftStagingFiles(const std::string& destination);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_STAGING_CLEANUP_H_
