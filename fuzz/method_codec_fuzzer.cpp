// The method codec's DecodeCall and DecodeEnvelope on any bytes. A call or an
// envelope they accept must encode and decode again to the same thing, and
// an envelope is delivered exactly once when accepted, never when refused.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/bitwise_equal.h"
#include "fuzz/fuzz_util.h"
#include "messaging/encodable_value.h"
#include "messaging/method_call.h"
#include "messaging/method_result.h"
#include "messaging/standard_method_codec.h"

namespace {

using flutter::EncodableValue;

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::SharedInstance();
}

// What DecodeEnvelope delivered.
struct Envelope {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  int deliveries = 0;
  std::optional<EncodableValue> value;  // success value or error details
  std::string code;
  std::string message;

  bool SameAs(const Envelope& other) const {
    return kind == other.kind && code == other.code &&
           message == other.message &&
           value.has_value() == other.value.has_value() &&
           (!value || fuzz::BitwiseEqual(*value, *other.value));
  }
};

class RecordingResult : public flutter::MethodResult {
 public:
  explicit RecordingResult(Envelope* envelope) : envelope_(envelope) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    Record(Envelope::Kind::kSuccess, result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    Record(Envelope::Kind::kError, details);
    envelope_->code = code;
    envelope_->message = message;
  }
  void NotImplementedInternal() override {
    Record(Envelope::Kind::kNotImplemented, nullptr);
  }

 private:
  void Record(Envelope::Kind kind, const EncodableValue* value) {
    ++envelope_->deliveries;
    envelope_->kind = kind;
    if (value) envelope_->value = *value;
  }
  Envelope* envelope_;
};

Envelope DecodeEnvelope(const uint8_t* data, size_t size, bool* accepted) {
  Envelope envelope;
  RecordingResult result(&envelope);
  *accepted = Codec().DecodeEnvelope(data, size, &result);
  return envelope;
}

void CheckCall(const uint8_t* data, size_t size) {
  std::unique_ptr<flutter::MethodCall> call = Codec().DecodeCall(data, size);
  if (!call) return;
  FUZZ_CHECK(call->arguments() != nullptr,
             "a decoded call has no arguments value");
  std::unique_ptr<std::vector<uint8_t>> encoded = Codec().EncodeCall(*call);
  std::unique_ptr<flutter::MethodCall> again =
      Codec().DecodeCall(encoded->data(), encoded->size());
  FUZZ_CHECK(again != nullptr, "an encoded call does not decode");
  FUZZ_CHECK(again->method_name() == call->method_name() &&
                 again->arguments() != nullptr &&
                 fuzz::BitwiseEqual(*again->arguments(), *call->arguments()),
             "a call decodes differently once encoded");
  FUZZ_CHECK(*Codec().EncodeCall(*again) == *encoded,
             "a call encoded twice changed its bytes");
}

void CheckEnvelope(const uint8_t* data, size_t size) {
  bool accepted = false;
  const Envelope envelope = DecodeEnvelope(data, size, &accepted);
  FUZZ_CHECK(envelope.deliveries == (accepted ? 1 : 0),
             "an envelope was not delivered exactly once when accepted, or "
             "was delivered when refused");
  if (!accepted) return;
  FUZZ_CHECK(envelope.kind != Envelope::Kind::kNotImplemented,
             "bytes decoded as not implemented");
  const EncodableValue* value = envelope.value ? &*envelope.value : nullptr;
  std::unique_ptr<std::vector<uint8_t>> encoded =
      envelope.kind == Envelope::Kind::kSuccess
          ? Codec().EncodeSuccessEnvelope(value)
          : Codec().EncodeErrorEnvelope(envelope.code, envelope.message, value);
  bool accepted_again = false;
  const Envelope again =
      DecodeEnvelope(encoded->data(), encoded->size(), &accepted_again);
  FUZZ_CHECK(accepted_again && again.SameAs(envelope),
             "an envelope decodes differently once encoded");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceDiagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckCall(data, size);
  CheckEnvelope(data, size);
  return 0;
}
