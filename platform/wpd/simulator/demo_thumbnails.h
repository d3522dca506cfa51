// The demo devices' thumbnails: the JPEGs of simulator/thumbnails, built in.
#ifndef SNAPFERRY_PLATFORM_WPD_SIMULATOR_DEMO_THUMBNAILS_H_
#define SNAPFERRY_PLATFORM_WPD_SIMULATOR_DEMO_THUMBNAILS_H_

#include <cstddef>

namespace wpd_sim {

struct EmbeddedFile {
  const char* name;  // the file's name without ".jpg"
  const unsigned char* bytes;
  size_t size;
};

// sunset, park, lanterns, street (160x120) and screenshot (74x160).
extern const EmbeddedFile kDemoThumbnails[];
extern const size_t kDemoThumbnailCount;

}  // namespace wpd_sim

#endif  // SNAPFERRY_PLATFORM_WPD_SIMULATOR_DEMO_THUMBNAILS_H_
