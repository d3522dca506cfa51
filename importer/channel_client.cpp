#include "importer/channel_client.h"

#include "messaging/method_call.h"
#include "messaging/method_result.h"
#include "messaging/standard_method_codec.h"

namespace importer {
namespace {

using flutter::EncodableValue;
using flutter::ValueMap;

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

const EncodableValue* Field(const EncodableValue& map, const char* key) {
  const auto* entries = std::get_if<ValueMap>(&map);
  if (entries == nullptr) return nullptr;
  auto found = entries->find(EncodableValue(std::string(key)));
  return found == entries->end() ? nullptr : &found->second;
}

}  // namespace

std::string Reply::Describe() const {
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

Reply DecodeReply(const std::vector<uint8_t>& bytes) {
  Reply reply;
  if (bytes.empty()) {
    reply.kind = Reply::kNotImplemented;
    return reply;
  }
  CapturingResult result(&reply);
  flutter::StandardMethodCodec::SharedInstance().DecodeEnvelope(
      bytes.data(), bytes.size(), &result);
  return reply;
}

const flutter::ValueList* ListField(const EncodableValue& map,
                                    const char* key) {
  const EncodableValue* value = Field(map, key);
  return value ? std::get_if<flutter::ValueList>(value) : nullptr;
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

std::unique_ptr<EncodableValue> StringArguments(
    std::initializer_list<std::pair<const char*, std::string>> entries) {
  ValueMap map;
  for (const auto& entry : entries) {
    map[EncodableValue(std::string(entry.first))] =
        EncodableValue(entry.second);
  }
  return std::make_unique<EncodableValue>(std::move(map));
}

void ChannelClient::Call(const char* channel, const std::string& method,
                         std::unique_ptr<EncodableValue> arguments,
                         OnReply on_reply) {
  std::string request = method;
  if (arguments != nullptr) {
    const std::string object = StringField(*arguments, "objectId");
    if (!object.empty()) request += " " + object;
  }
  ++counts_->requests[request];
  std::unique_ptr<std::vector<uint8_t>> bytes =
      flutter::StandardMethodCodec::SharedInstance().EncodeCall(
          flutter::MethodCall(method, std::move(arguments)));
  ++counts_->sent;
  host_.SendToProgram(
      channel, std::move(*bytes),
      [alive = alive_, counts = counts_,
       answered = std::make_shared<bool>(false),
       on_reply = std::move(on_reply)](const std::vector<uint8_t>& response) {
        ++(*answered ? counts->answered_again : counts->answered);
        *answered = true;
        if (*alive) on_reply(DecodeReply(response));
      });
}

}  // namespace importer
