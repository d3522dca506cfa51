#include "platform/engine/import_ui/import_interface.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>
#include <utility>

#include "messaging/encodable_value.h"
#include "messaging/method_call.h"
#include "messaging/method_result.h"
#include "messaging/standard_method_codec.h"

#ifdef _WIN32
#include <io.h>
#define SNAPFERRY_ISATTY _isatty
#define SNAPFERRY_FILENO _fileno
#else
#include <unistd.h>
#define SNAPFERRY_ISATTY isatty
#define SNAPFERRY_FILENO fileno
#endif

namespace import_ui {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;
using Clock = std::chrono::steady_clock;

constexpr char kMethodChannel[] = "snapferry/wpd";
constexpr char kEventChannel[] = "snapferry/wpd_events";
constexpr int kBarWidth = 30;

// One decoded answer of the program.
struct Reply {
  enum Kind { kSuccess, kError, kNotImplemented, kUndecodable } kind;
  EncodableValue value;  // success value, or error details
  std::string code;
  std::string message;

  std::string Describe() const {
    switch (kind) {
      case kSuccess:
        return "success";
      case kError:
        return code + ": " + message;
      case kNotImplemented:
        return "not implemented";
      case kUndecodable:
        break;
    }
    return "an answer that is not an envelope";
  }
};

class CapturingResult : public flutter::MethodResult {
 public:
  explicit CapturingResult(Reply* reply) : reply_(reply) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    reply_->kind = Reply::kSuccess;
    reply_->value = result ? *result : EncodableValue();
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    reply_->kind = Reply::kError;
    reply_->code = code;
    reply_->message = message;
    reply_->value = details ? *details : EncodableValue();
  }
  void NotImplementedInternal() override {
    reply_->kind = Reply::kNotImplemented;
  }

 private:
  Reply* reply_;
};

Reply DecodeReply(const std::vector<uint8_t>& bytes) {
  Reply reply{Reply::kUndecodable, EncodableValue(), "", ""};
  if (bytes.empty()) {
    reply.kind = Reply::kNotImplemented;
    return reply;
  }
  CapturingResult result(&reply);
  flutter::StandardMethodCodec::SharedInstance().DecodeEnvelope(
      bytes.data(), bytes.size(), &result);
  return reply;
}

EncodableValue Text(const std::string& text) { return EncodableValue(text); }

const EncodableValue* Field(const EncodableValue& map, const char* key) {
  const auto* entries = std::get_if<ValueMap>(&map);
  if (entries == nullptr) return nullptr;
  auto found = entries->find(Text(key));
  return found == entries->end() ? nullptr : &found->second;
}

std::string StringField(const EncodableValue& map, const char* key) {
  const EncodableValue* value = Field(map, key);
  const auto* text = value ? std::get_if<std::string>(value) : nullptr;
  return text ? *text : std::string();
}

int64_t IntField(const EncodableValue& map, const char* key) {
  const EncodableValue* value = Field(map, key);
  if (value == nullptr) return 0;
  if (const auto* wide = std::get_if<int64_t>(value)) return *wide;
  if (const auto* narrow = std::get_if<int32_t>(value)) return *narrow;
  return 0;
}

bool BoolField(const EncodableValue& map, const char* key) {
  const EncodableValue* value = Field(map, key);
  const auto* flag = value ? std::get_if<bool>(value) : nullptr;
  return flag != nullptr && *flag;
}

EncodableValue Arguments(
    std::initializer_list<std::pair<const char*, std::string>> entries) {
  ValueMap map;
  for (const auto& entry : entries) map[Text(entry.first)] = Text(entry.second);
  return EncodableValue(std::move(map));
}

bool IsTerminal() { return SNAPFERRY_ISATTY(SNAPFERRY_FILENO(stdout)) != 0; }

struct MediaFile {
  std::string object_id;
  std::string name;
  std::string folder;
  int64_t size = 0;
};

struct Failure {
  std::string file;
  std::string why;
};

class ImportInterface : public engine_inprocess::EngineInterface {
 public:
  ImportInterface(std::string folder, engine_inprocess::InterfaceHost& host)
      : folder_(std::move(folder)), host_(host), terminal_(IsTerminal()) {}

  ~ImportInterface() override { *alive_ = false; }

  void Start() override {
    std::error_code error;
    fs::path destination = fs::u8path(folder_);
    fs::create_directories(destination, error);
    fs::path absolute = fs::absolute(destination, error);
    if (!error) destination = absolute;
    destination_ = destination;
    Line("Snapferry import into " + destination_.u8string());
    if (!fs::is_directory(destination_)) {
      Finish("cannot create the folder " + destination_.u8string());
      return;
    }
    // Listen first, so that no progress event of the first copy is missed.
    Call(kEventChannel, "listen", nullptr, [this](const Reply& reply) {
      if (reply.kind != Reply::kSuccess) {
        Finish("listening for progress failed: " + reply.Describe());
        return;
      }
      ListDevices();
    });
  }

  void OnProgramMessage(const std::string& channel,
                        const std::vector<uint8_t>& bytes) override {
    if (channel != kEventChannel) return;
    Reply event = DecodeReply(bytes);
    if (event.kind != Reply::kSuccess) return;
    ++progress_events_;
    if (current_ < files_.size() &&
        StringField(event.value, "objectId") == files_[current_].object_id) {
      current_bytes_ = IntField(event.value, "bytes");
      ShowProgress();
    }
  }

 private:
  using OnReply = std::function<void(const Reply&)>;

  // Sends a method call; `on_reply` runs on the UI thread while this
  // interface still exists.
  void Call(const char* channel, const std::string& method,
            std::unique_ptr<EncodableValue> arguments, OnReply on_reply) {
    std::unique_ptr<std::vector<uint8_t>> bytes =
        flutter::StandardMethodCodec::SharedInstance().EncodeCall(
            flutter::MethodCall(method, std::move(arguments)));
    std::shared_ptr<bool> alive = alive_;
    host_.SendToProgram(channel, std::move(*bytes),
                        [alive, on_reply = std::move(on_reply)](
                            const std::vector<uint8_t>& response) {
                          if (*alive) on_reply(DecodeReply(response));
                        });
  }

  void ListDevices() {
    Call(kMethodChannel, "listDevices", nullptr, [this](const Reply& reply) {
      if (reply.kind != Reply::kSuccess) {
        Finish("listing the devices failed: " + reply.Describe());
        return;
      }
      const auto* devices = std::get_if<ValueList>(&reply.value);
      if (devices != nullptr) {
        for (const EncodableValue& device : *devices) {
          if (!BoolField(device, "isApple")) continue;
          device_id_ = StringField(device, "id");
          Line("Device: " + StringField(device, "friendlyName") + " (" +
               StringField(device, "manufacturer") + ")");
          Scan();
          return;
        }
      }
      Finish("no Apple device is connected");
    });
  }

  void Scan() {
    Call(kMethodChannel, "scanMedia",
         std::make_unique<EncodableValue>(Arguments({{"id", device_id_}})),
         [this](const Reply& reply) {
           const std::string status = StringField(reply.value, "status");
           if (reply.kind != Reply::kSuccess || status != "ok") {
             Finish("scanning the device failed: " +
                    (reply.kind == Reply::kSuccess
                         ? status + ": " + StringField(reply.value, "error")
                         : reply.Describe()));
             return;
           }
           const auto& scan = reply.value;
           Line("On the device" +
                std::string(BoolField(scan, "dcimFound") ? " (camera roll)"
                                                         : "") +
                ": " + std::to_string(IntField(scan, "photos")) + " photos, " +
                std::to_string(IntField(scan, "videos")) + " videos, " +
                std::to_string(IntField(scan, "screenshots")) +
                " screenshots, " + std::to_string(IntField(scan, "sidecars")) +
                " sidecar files, " + std::to_string(IntField(scan, "others")) +
                " others; " + FormatBytes(IntField(scan, "totalBytes")));
           Enumerate();
         });
  }

  void Enumerate() {
    Call(kMethodChannel, "enumerateMedia",
         std::make_unique<EncodableValue>(Arguments({{"id", device_id_}})),
         [this](const Reply& reply) {
           const auto* entries = std::get_if<ValueList>(&reply.value);
           if (reply.kind != Reply::kSuccess || entries == nullptr) {
             Finish("listing the media failed: " + reply.Describe());
             return;
           }
           for (const EncodableValue& entry : *entries) {
             MediaFile file;
             file.object_id = StringField(entry, "objectId");
             file.name = StringField(entry, "name");
             file.folder = StringField(entry, "parentPath");
             file.size = IntField(entry, "size");
             total_bytes_ += file.size;
             files_.push_back(std::move(file));
           }
           Line("Importing " + std::to_string(files_.size()) + " files, " +
                FormatBytes(total_bytes_));
           started_ = Clock::now();
           CopyNext();
         });
  }

  std::string DisplayName(const MediaFile& file) const {
    return file.folder.empty() ? file.name : file.folder + "/" + file.name;
  }

  void CopyNext() {
    if (current_ >= files_.size()) {
      Finish("");
      return;
    }
    const MediaFile& file = files_[current_];
    current_bytes_ = 0;
    std::error_code error;
    fs::path folder = destination_;
    if (!file.folder.empty()) folder /= fs::u8path(SafeComponent(file.folder));
    fs::create_directories(folder, error);
    const fs::path target = folder / fs::u8path(SafeComponent(file.name));
    const fs::path staging =
        folder / fs::u8path("." + SafeComponent(file.name) + ".part");
    ShowProgress();
    Call(kMethodChannel, "copyObject",
         std::make_unique<EncodableValue>(
             Arguments({{"id", device_id_},
                        {"objectId", file.object_id},
                        {"tempPath", staging.u8string()}})),
         [this, target, staging](const Reply& reply) {
           OnCopied(reply, staging, target);
         });
  }

  void OnCopied(const Reply& reply, const fs::path& staging,
                const fs::path& target) {
    const MediaFile& file = files_[current_];
    const std::string status = StringField(reply.value, "status");
    std::string why;
    if (reply.kind != Reply::kSuccess) {
      why = reply.Describe();
    } else if (status != "ok") {
      const std::string error = StringField(reply.value, "error");
      why = error.empty() ? status : status + ": " + error;
    } else {
      std::error_code error;
      fs::rename(staging, target, error);
      if (error && fs::exists(target)) {
        // A file of an earlier import: the C runtime's rename on Windows
        // does not replace it.
        fs::remove(target, error);
        fs::rename(staging, target, error);
      }
      if (error) why = "renaming the staging file failed: " + error.message();
    }
    const std::string name = DisplayName(file);
    const std::string counter = "[" + std::to_string(current_ + 1) + "/" +
                                std::to_string(files_.size()) + "] ";
    if (why.empty()) {
      const int64_t written = IntField(reply.value, "bytesWritten");
      done_bytes_ += written;
      ++imported_;
      Line(counter + name + "  " + FormatBytes(written));
    } else {
      failures_.push_back({name, why});
      Line(counter + name + "  FAILED: " + why);
    }
    ++current_;
    CopyNext();
  }

  void ShowProgress() {
    if (!terminal_ || total_bytes_ <= 0) return;
    const int64_t bytes = done_bytes_ + current_bytes_;
    std::string status =
        ProgressBar(static_cast<double>(bytes) / total_bytes_, kBarWidth) +
        "  " + FormatBytes(bytes) + " of " + FormatBytes(total_bytes_);
    if (current_ < files_.size())
      status += "  " + DisplayName(files_[current_]);
    // Redrawn in place; Line() clears it before writing.
    std::fprintf(stdout, "\r%s\x1b[K", status.c_str());
    std::fflush(stdout);
    status_shown_ = true;
  }

  void Line(const std::string& text) {
    if (status_shown_) {
      std::fputs("\r\x1b[K", stdout);
      status_shown_ = false;
    }
    host_.WriteLine(text);
  }

  // Prints the summary (or why the import could not run), stops listening
  // and closes the window, which ends the program.
  void Finish(const std::string& problem) {
    if (!problem.empty()) {
      Line("Import stopped: " + problem);
    } else {
      const double seconds =
          std::chrono::duration<double>(Clock::now() - started_).count();
      char time[32];
      std::snprintf(time, sizeof(time), "%.2f s", seconds);
      Line("Imported " + std::to_string(imported_) + " of " +
           std::to_string(files_.size()) + " files, " +
           FormatBytes(done_bytes_) + " in " + time + " (" +
           std::to_string(progress_events_) + " progress events)");
      if (failures_.empty()) {
        Line("No failures.");
      } else {
        Line(std::to_string(failures_.size()) + " failed:");
        for (const Failure& failure : failures_) {
          Line("  " + failure.file + ": " + failure.why);
        }
      }
    }
    Call(kEventChannel, "cancel", nullptr,
         [this](const Reply&) { host_.CloseTopLevelWindow(); });
  }

  const std::string folder_;
  engine_inprocess::InterfaceHost& host_;
  const bool terminal_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  fs::path destination_;
  std::string device_id_;
  std::vector<MediaFile> files_;
  size_t current_ = 0;
  int64_t current_bytes_ = 0;
  int64_t done_bytes_ = 0;
  int64_t total_bytes_ = 0;
  int imported_ = 0;
  int progress_events_ = 0;
  std::vector<Failure> failures_;
  Clock::time_point started_ = Clock::now();
  bool status_shown_ = false;
};

}  // namespace

std::unique_ptr<engine_inprocess::EngineInterface> CreateImportInterface(
    const std::vector<std::string>& arguments,
    engine_inprocess::InterfaceHost& host) {
  std::string folder = kDefaultFolder;
  for (size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == kImportToArgument) folder = arguments[i + 1];
  }
  return std::make_unique<ImportInterface>(folder, host);
}

std::string SafeComponent(const std::string& name) {
  std::string safe;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool reserved = u < 0x20 || c == '/' || c == '\\' || c == ':' ||
                          c == '*' || c == '?' || c == '"' || c == '<' ||
                          c == '>' || c == '|';
    safe.push_back(reserved ? '_' : c);
  }
  if (safe.empty() || safe == "." || safe == "..") return "_";
  return safe;
}

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

}  // namespace import_ui
