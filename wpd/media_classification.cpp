#include "wpd/media_classification.h"

#include <cstring>

namespace snapferry {
namespace {

struct Extension {
  char text[5];  // lower case
  size_t length;
  MediaClass media_class;
};

constexpr Extension kExtensions[] = {
    {"heic", 4, MediaClass::kPhoto},     {"heif", 4, MediaClass::kPhoto},
    {"jpg", 3, MediaClass::kPhoto},      {"jpeg", 4, MediaClass::kPhoto},
    {"dng", 3, MediaClass::kPhoto},      {"gif", 3, MediaClass::kPhoto},
    {"tif", 3, MediaClass::kPhoto},      {"tiff", 4, MediaClass::kPhoto},
    {"png", 3, MediaClass::kScreenshot}, {"mov", 3, MediaClass::kVideo},
    {"mp4", 3, MediaClass::kVideo},      {"m4v", 3, MediaClass::kVideo},
    {"aae", 3, MediaClass::kSidecar},
};

// Every known extension is one to four units long.
constexpr size_t kLongestExtension = 4;

}  // namespace

MediaClass ClassifyMedia(const std::wstring& name) {
  // The last dot lies within the last five units, or the extension is
  // longer than any known one (or there is no dot at all).
  const size_t size = name.size();
  const size_t nearest =
      size > kLongestExtension ? size - kLongestExtension - 1 : 0;
  size_t dot = size;
  for (size_t at = size; at > nearest;) {
    if (name[--at] == L'.') {
      dot = at;
      break;
    }
  }
  const size_t length = dot < size ? size - dot - 1 : 0;
  if (length == 0) return MediaClass::kOther;
  // Folded as the C runtime's default locale folds: A to Z only. A unit
  // outside printable ASCII matches no extension.
  char lowered[kLongestExtension];
  for (size_t i = 0; i < length; ++i) {
    wchar_t unit = name[dot + 1 + i];
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit + 32);
    if (unit <= L' ' || unit > L'~') return MediaClass::kOther;
    lowered[i] = static_cast<char>(unit);
  }
  for (const Extension& extension : kExtensions) {
    if (extension.length == length &&
        std::memcmp(extension.text, lowered, length) == 0) {
      return extension.media_class;
    }
  }
  return MediaClass::kOther;
}

}  // namespace snapferry
