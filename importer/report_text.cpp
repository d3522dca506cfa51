#include "importer/report_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "importer/progress_rate.h"
#include "importer/text_format.h"

namespace importer {
namespace {

using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;

// The walk's calls, in the order describeDevice counts them.
constexpr const char* kWalkCalls[] = {
    "EnumObjects", "Next",  "GetValues", "QueueGetValuesByObjectList",
    "Start",       "Cancel"};
const EncodableValue* Find(const EncodableValue& map, const char* key) {
  const auto* entries = std::get_if<ValueMap>(&map);
  if (entries == nullptr) return nullptr;
  const auto found = entries->find(EncodableValue(std::string(key)));
  return found == entries->end() ? nullptr : &found->second;
}

std::string Hex(int64_t hresult) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X",
                static_cast<unsigned>(static_cast<uint32_t>(hresult)));
  return text;
}

std::string Milliseconds(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f ms", milliseconds);
  return text;
}

class Writer {
 public:
  explicit Writer(const ReportFacts& facts)
      : facts_(facts), clean_(facts.devices) {}

  std::string Write() {
    Line(0, "snapferry-import device report");
    Line(0, "Version: " + Trimmed(facts_.version));
    Line(0, "Written: " + facts_.written_at);
    if (!facts_.notes.empty()) {
      Section("What happened");
      for (const std::string& note : facts_.notes) Line(1, clean_(note));
    }
    Devices();
    Description();
    Transfer();
    Failures();
    return text_;
  }

 private:
  static std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
    return text;
  }
  void Line(int depth, const std::string& line) {
    text_ += std::string(2 * static_cast<size_t>(depth), ' ') + line + "\n";
  }
  void Section(const std::string& title) {
    text_ += "\n";
    Line(0, title + ":");
  }

  void Devices() {
    Section("Devices (listDevices)");
    if (!facts_.devices) {
      Line(1, "No list: listDevices failed or did not answer (see Failures).");
      return;
    }
    if (facts_.devices->empty()) Line(1, "None listed.");
    int number = 0;
    for (const EncodableValue& device : *facts_.devices) {
      const std::string id = StringField(device, "id");
      const bool chosen = !facts_.chosen_id.empty() && id == facts_.chosen_id;
      Line(1, "Device " + std::to_string(++number) +
                  (chosen ? " (chosen)" : "") + ":");
      Line(2, "id: " + MaskedDeviceId(id));
      Line(2, std::string("friendly name: ") +
                  (StringField(device, "friendlyName").empty()
                       ? "(none)"
                       : kFriendlyNameMask));
      Line(2, "manufacturer: " + clean_(StringField(device, "manufacturer")));
      Line(2, "model: " + clean_(StringField(device, "model")));
      Line(2, std::string("isApple: ") +
                  (BoolField(device, "isApple") ? "true" : "false"));
    }
    if (facts_.chosen_id.empty()) Line(1, "None was chosen.");
  }

  void Description() {
    Section("describeDevice");
    if (!facts_.description) {
      Line(1, "Not asked: no device was chosen.");
      return;
    }
    const Reply& reply = *facts_.description;
    if (!reply.ok()) {
      const std::optional<int64_t> code = AnswerCode(reply);
      Line(1, "Failed: " + clean_(reply.Describe()) +
                  (code ? ", HRESULT " + Hex(*code) : ""));
      return;
    }
    const EncodableValue& answer = reply.value;
    Line(1, "Open: " +
                Milliseconds(IntField(answer, "openMicroseconds") / 1000.0));
    Line(1, std::string("Bulk reads: ") +
                (BoolField(answer, "bulkReads") ? "offered" : "not offered"));
    const int64_t calls = IntField(answer, "walkCalls");
    const double walk = IntField(answer, "walkMicroseconds") / 1000.0;
    Line(1, "Walk: " + Milliseconds(walk) + ", " +
                Counted(IntField(answer, "walkObjects"), "object", "objects") +
                ", " + Counted(calls, "call", "calls") +
                (calls > 0 ? " (" + Milliseconds(walk / calls) + " per call)"
                           : ""));
    std::string by_call;
    if (const EncodableValue* counts = Find(answer, "walkCallCounts")) {
      for (const char* call : kWalkCalls) {
        by_call += (by_call.empty() ? "" : ", ") + std::string(call) + " " +
                   std::to_string(IntField(*counts, call));
      }
    }
    Line(1, "Walk calls by kind: " + by_call);
    Line(1, "Device properties:");
    Properties(2, ListField(answer, "device"));
    Storages(answer);
    Media(answer);
  }

  void Properties(int depth, const ValueList* properties) {
    if (properties == nullptr || properties->empty()) {
      Line(depth, "(none)");
      return;
    }
    for (const EncodableValue& property : *properties) {
      const std::string key = StringField(property, "key");
      const std::string type = StringField(property, "type");
      Line(depth,
           clean_(key) + " (" + clean_(type) + ") = " +
               PropertyValueText(key, type, Find(property, "value"), clean_));
    }
  }

  void Storages(const EncodableValue& answer) {
    const ValueList* storages = ListField(answer, "storages");
    if (storages == nullptr || storages->empty()) {
      Line(1, "Storages: none");
      return;
    }
    int number = 0;
    for (const EncodableValue& storage : *storages) {
      Line(1, "Storage " + std::to_string(++number) + " (object " +
                  MaskedShape(StringField(storage, "objectId")) + "):");
      Properties(2, ListField(storage, "properties"));
      const ValueList* folders = ListField(storage, "folders");
      Line(2, "Folders, three levels deep: " +
                  std::to_string(folders ? folders->size() : 0));
      for (const EncodableValue& folder : folders ? *folders : ValueList()) {
        const int depth = static_cast<int>(
            std::clamp<int64_t>(IntField(folder, "depth"), 1, 3));
        Line(2 + depth,
             clean_(StringField(folder, "path")) + "  (" +
                 Counted(IntField(folder, "children"), "child", "children") +
                 ")");
      }
      // Told per storage; an answer that tells it once for all is read too.
      const bool cut =
          BoolField(storage, "foldersCut") || BoolField(answer, "foldersCut");
      Line(2, cut ? "Cut: there were more folders; only the first 100 are "
                    "listed."
                  : "Not cut: every folder of those levels is listed.");
    }
  }

  void Media(const EncodableValue& answer) {
    const ValueList* media = ListField(answer, "media");
    Line(1, "Media, the first files the walk met: " +
                std::to_string(media ? media->size() : 0));
    for (const EncodableValue& object : media ? *media : ValueList()) {
      Line(2, clean_(StringField(object, "name")) + " (object " +
                  MaskedShape(StringField(object, "objectId")) + "):");
      Properties(3, ListField(object, "properties"));
    }
  }

  void Transfer() {
    Section("Thumbnail and copy");
    if (facts_.object_name.empty()) {
      Line(1,
           "Not timed: no photo or video above 0 and under 10 MB was "
           "listed.");
      return;
    }
    Line(1, "Object: " + clean_(facts_.object_name) + ", " +
                std::to_string(facts_.object_size) +
                " bytes listed (the smallest photo or video under 10 MB)");
    const Timing& thumbnail = facts_.thumbnail;
    if (thumbnail.outcome == Timing::Outcome::kAnswered) {
      Line(1, "getThumbnail: " + Milliseconds(thumbnail.milliseconds) + ", " +
                  (thumbnail.bytes < 0
                       ? std::string("none")
                       : std::to_string(thumbnail.bytes) + " bytes"));
    } else {
      TimingLine("getThumbnail", thumbnail);
    }
    const Timing& copy = facts_.copy;
    if (copy.outcome == Timing::Outcome::kAnswered) {
      const double seconds = copy.milliseconds / 1000.0;
      // A stream that ends early (or a converted file) shows here.
      Line(1, "copyObject: " + Milliseconds(copy.milliseconds) + ", " +
                  std::to_string(copy.bytes) + " bytes" +
                  (copy.bytes != facts_.object_size ? " (not as listed)" : "") +
                  (seconds > 0 ? ", " + FormatRate(copy.bytes / seconds)
                               : std::string()));
    } else {
      TimingLine("copyObject", copy);
    }
  }

  void TimingLine(const std::string& method, const Timing& timing) {
    Line(1, method + ": " +
                (timing.outcome == Timing::Outcome::kFailed
                     ? "failed after " + Milliseconds(timing.milliseconds) +
                           " (see Failures)"
                     : std::string("not asked")));
  }

  void Failures() {
    Section("Failures");
    size_t listed = 0;
    if (facts_.description && facts_.description->ok()) {
      const ValueList* failures =
          ListField(facts_.description->value, "failures");
      for (const EncodableValue& failure : failures ? *failures : ValueList()) {
        const std::string object = StringField(failure, "objectId");
        Line(1, FailedText(clean_(StringField(failure, "step")),
                           IntField(failure, "hresult")) +
                    " in describeDevice" +
                    (object.empty() ? "" : ", object " + MaskedShape(object)));
        ++listed;
      }
    }
    for (const CallFailure& failure : facts_.failures) {
      Line(1,
           (failure.hresult ? FailedText(failure.step, *failure.hresult)
                            : failure.step + " failed") +
               (failure.detail.empty() ? "" : ": " + clean_(failure.detail)));
      ++listed;
    }
    if (facts_.description &&
        BoolField(facts_.description->value, "failuresCut")) {
      Line(1, "(describeDevice told only its first 100 failures)");
    }
    if (listed == 0) Line(1, "None.");
  }

  const ReportFacts& facts_;
  const Scrubber clean_;
  std::string text_;
};

}  // namespace

std::string FailedText(const std::string& step, int64_t hresult) {
  return step + " failed (HRESULT " + Hex(hresult) + ")";
}

std::optional<int64_t> AnswerCode(const Reply& reply) {
  if (reply.kind == Reply::kError) {
    if (const auto* wide = std::get_if<int64_t>(&reply.value)) return *wide;
    if (const auto* narrow = std::get_if<int32_t>(&reply.value)) return *narrow;
  }
  if (reply.ok() && Find(reply.value, "hresult") != nullptr) {
    return IntField(reply.value, "hresult");
  }
  const std::string& text =
      reply.ok() ? StringField(reply.value, "error") : reply.message;
  const size_t at = text.find("HRESULT 0x");
  if (at == std::string::npos) return std::nullopt;
  return static_cast<int32_t>(
      std::strtoul(text.c_str() + at + 10, nullptr, 16));
}

std::string ReportText(const ReportFacts& facts) {
  return Writer(facts).Write();
}

}  // namespace importer
