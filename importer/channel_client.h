// The importer's side of the channels: method calls encoded with the
// standard method codec, as the app's UI sends them, and the replies and
// events decoded back into values.

#ifndef SNAPFERRY_IMPORTER_CHANNEL_CLIENT_H_
#define SNAPFERRY_IMPORTER_CHANNEL_CLIENT_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "messaging/encodable_value.h"
#include "platform/engine/inprocess/interface.h"

namespace importer {

inline constexpr char kMethodChannel[] = "snapferry/wpd";
inline constexpr char kEventChannel[] = "snapferry/wpd_events";
inline constexpr char kMediaChannel[] = "snapferry/wpd_media";
inline constexpr char kDevicesChannel[] = "snapferry/wpd_devices";

// One decoded answer of the program.
struct Reply {
  enum Kind { kSuccess, kError, kNotImplemented, kUndecodable };
  Kind kind = kUndecodable;
  flutter::EncodableValue value;  // success value, or error details
  std::string code;
  std::string message;

  bool ok() const { return kind == kSuccess; }
  // "success", "code: message", "not implemented", ...
  std::string Describe() const;
};

Reply DecodeReply(const std::vector<uint8_t>& bytes);

// Fields of a map value; a missing key or another type reads as empty, 0 or
// false (ListField: null).
const flutter::ValueList* ListField(const flutter::EncodableValue& map,
                                    const char* key);
std::string StringField(const flutter::EncodableValue& map, const char* key);
int64_t IntField(const flutter::EncodableValue& map, const char* key);
bool BoolField(const flutter::EncodableValue& map, const char* key);

// A map of string keys and string values, as the device methods take.
std::unique_ptr<flutter::EncodableValue> StringArguments(
    std::initializer_list<std::pair<const char*, std::string>> entries);

// What went over the method and event channels, for diagnostics and the
// soak: every call sent should be answered exactly once.
struct CallCounts {
  int64_t sent = 0;
  int64_t answered = 0;
  int64_t answered_again = 0;  // answers beyond the first to one call
  // Calls sent, by method and object: "copyObject o12", "listDevices".
  std::map<std::string, int64_t> requests;
};

class ChannelClient {
 public:
  using OnReply = std::function<void(const Reply&)>;

  explicit ChannelClient(engine_inprocess::InterfaceHost& host) : host_(host) {}
  // Replies that arrive after this client is gone are dropped.
  ~ChannelClient() { *alive_ = false; }

  // UI thread. `on_reply` runs on the UI thread.
  void Call(const char* channel, const std::string& method,
            std::unique_ptr<flutter::EncodableValue> arguments,
            OnReply on_reply);

  // Kept up to date on the UI thread, also after this client is gone.
  std::shared_ptr<const CallCounts> counts() const { return counts_; }

 private:
  engine_inprocess::InterfaceHost& host_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::shared_ptr<CallCounts> counts_ = std::make_shared<CallCounts>();
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_CHANNEL_CLIENT_H_
