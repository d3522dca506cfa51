// The device report's files: the report itself, written into place, and
// the temporary file its timed copy goes into (deleted again at once).

#ifndef SNAPFERRY_IMPORTER_REPORT_FILE_H_
#define SNAPFERRY_IMPORTER_REPORT_FILE_H_

#include <cstdint>
#include <optional>
#include <string>

namespace importer {

// Writes `text` into `path` (full) through a staging file beside it, moved
// over it: a write that fails leaves no half report, and `path` as it was.
// A file already there is replaced, as a program's output file is (the
// same command run twice writes the same file). The system's code on
// failure, else 0.
uint32_t WriteReportFile(const std::string& path, const std::string& text);

// A path of this process's own in the system's folder for temporary files
// (GetTempPathW) that names nothing yet, as a copy needs: "snapferry-report-
// PID.tmp", or a numbered variant. None, with the system's code in `error`,
// when there is no such folder or it cannot be read.
std::optional<std::string> TemporaryCopyPath(uint32_t* error);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_REPORT_FILE_H_
