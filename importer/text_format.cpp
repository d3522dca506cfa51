#include "importer/text_format.h"

#include <cstdio>

namespace importer {

std::string ProgressBar(double fraction, int width) {
  if (!(fraction > 0)) fraction = 0;  // NaN too
  if (fraction > 1) fraction = 1;
  const int filled = static_cast<int>(fraction * width);
  char percent[8];
  std::snprintf(percent, sizeof(percent), "%3d%%",
                static_cast<int>(fraction * 100));
  return "[" + std::string(filled, '#') + std::string(width - filled, '-') +
         "] " + percent;
}

std::string FormatBytes(long long bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = -1;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string Counted(long long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace importer
