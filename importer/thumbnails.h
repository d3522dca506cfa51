// The import's thumbnails (--thumbnails FOLDER): each photo's, as the phone
// serves it ("getThumbnail"), at most kThumbnailsInFlight requests at once
// beside the copies, saved as the photo's name followed by ".jpg" in the
// photo's folder under FOLDER, never over a file that is there.

#ifndef SNAPFERRY_IMPORTER_THUMBNAILS_H_
#define SNAPFERRY_IMPORTER_THUMBNAILS_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "importer/channel_client.h"
#include "importer/connection.h"
#include "importer/destination_folder.h"
#include "importer/media_file.h"
#include "importer/placement.h"
#include "importer/report.h"
#include "importer/session_state.h"

namespace importer {

class Thumbnails {
 public:
  struct Parts {
    ChannelClient& client;
    Connection& connection;  // the device, and whether it went away
    Placement& placement;
    DestinationFolder& destination;  // folders made
    const Report& report;
  };
  // `folder`: full; empty, none are asked for. `settled`: called when a
  // thumbnail's request or its saving is over.
  Thumbnails(std::string folder, const SessionState& state, Parts parts,
             std::function<void()> settled);

  // Asks for `file`'s thumbnail, unless it is not a photo or is there.
  void Queue(const MediaFile& file);
  // Drops the requests not sent: their object ids are of a connection gone.
  void Forget() { queue_.clear(); }
  // Sends requests while there is room.
  void Pump();

  // Requests are out or waiting.
  bool busy() const { return running_ > 0 || !queue_.empty(); }
  // Thumbnails are being moved into place.
  bool saving() const { return saving_ > 0; }
  // "Thumbnails: N saved in FOLDER, ..."; empty when none were asked for.
  std::string Summary() const;

 private:
  std::string FolderOf(const MediaFile& file) const;
  void OnThumbnail(const MediaFile& file, int connection, const Reply& reply);
  void Save(const MediaFile& file, const std::vector<uint8_t>& jpeg);
  void Saved(const MediaFile& file, MoveOutcome outcome,
             const std::string& why);

  const std::string folder_;
  const SessionState& state_;
  const Parts parts_;
  const std::function<void()> settled_;

  std::deque<MediaFile> queue_;
  int running_ = 0;
  int saving_ = 0;              // being moved into place
  std::set<std::string> done_;  // keys answered for good
  std::map<std::string, int> attempts_;  // requests, by key
  int saved_ = 0;
  int there_ = 0;
  int failed_ = 0;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_THUMBNAILS_H_
