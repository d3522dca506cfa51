#ifndef SNAPFERRY_WPD_MEDIA_CLASSIFICATION_H_
#define SNAPFERRY_WPD_MEDIA_CLASSIFICATION_H_

#include <string>

namespace snapferry {

// What a file on the phone is, decided by its name's extension alone. The
// values are the order of the scan's counters.
enum class MediaClass : int {
  kPhoto = 0,
  kVideo = 1,
  kScreenshot = 2,  // iPhone screenshots are PNG files
  kSidecar = 3,     // the phone's edit sidecars (AAE)
  kOther = 4,
};

// Classifies by the text after the last dot, compared without regard to the
// case of A to Z. No dot, or an unknown extension, gives kOther.
MediaClass ClassifyMedia(const std::wstring& name);

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_MEDIA_CLASSIFICATION_H_
