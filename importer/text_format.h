// How the importer writes sizes and progress.

#ifndef SNAPFERRY_IMPORTER_TEXT_FORMAT_H_
#define SNAPFERRY_IMPORTER_TEXT_FORMAT_H_

#include <string>

namespace importer {

// "[#####-----]  50%", `width` cells; fraction clamped to [0, 1].
std::string ProgressBar(double fraction, int width);

// "0 B", "999 B", "1.5 KB", "12.0 MB", "1.2 GB" (powers of 1024).
std::string FormatBytes(long long bytes);

// "1 photo", "2 photos": `count` with the word that fits it.
std::string Counted(long long count, const char* one, const char* many);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_TEXT_FORMAT_H_
