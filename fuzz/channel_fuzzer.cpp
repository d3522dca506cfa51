// Any bytes on every channel the handler serves ("snapferry/wpd",
// "snapferry/wpd_events", "snapferry/wpd_media" and "snapferry/wpd_devices"),
// through the in-process engine's messenger into the real WpdChannelHandler
// over simulated devices.
//
// An input is a series of messages, each a header byte (bits 0 and 1: the
// channel, in that order), a 16-bit little-endian length and that many bytes
// (fewer at the end of the input). Every "tempPath" of a call that decodes is rewritten
// into the target's scratch folder before the handler sees it, so no input
// names a real file. After the last message the target runs the loop until
// every message is answered and every worker has ended, then checks: each
// message answered exactly once, no simulated COM object alive once the
// handler (and the device sessions it keeps) has gone, and no file
// in the scratch folder but those of copies that answered "ok".

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "channel/worker_threads.h"
#include "channel/wpd_channel_handler.h"
#include "fuzz/fuzz_util.h"
#include "messaging/encodable_value.h"
#include "messaging/engine_project.h"
#include "messaging/flutter_engine.h"
#include "messaging/flutter_view_controller.h"
#include "messaging/method_call.h"
#include "platform/engine/engine_control.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/channel/channel_test_util.h"

namespace {

using flutter::EncodableValue;
using flutter::ValueMap;
using wpd_sim::ContentType;

constexpr size_t kMaxMessages = 8;
// Far above what an input of a few small copies takes: running out is a
// message that was never answered or a worker that never ended.
constexpr std::chrono::seconds kSettleTimeout{20};

// Small devices, so that every request ends quickly: a phone with a camera
// roll (a file the phone refuses to delete, one whose read fails part way),
// a tablet that hands out its data in small pieces, and a camera that
// cannot be opened.
wpd_sim::Fixture Devices() {
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(L"phone")
                    .FriendlyName(L"iPhone")
                    .Manufacturer(L"Apple Inc.")
                    .Description(L"Apple iPhone");
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"dcim", L"s1", L"DCIM");
  phone.AddFolder(L"f100", L"dcim", L"100APPLE");
  phone
      .AddPatternFile(L"img", L"f100", L"IMG_0001.HEIC", ContentType::kImage,
                      3000)
      .CanDelete(true);
  phone
      .AddPatternFile(L"mov", L"f100", L"IMG_0002.MOV", ContentType::kVideo,
                      70000)
      .CanDelete(false);
  phone.AddFile(L"empty", L"f100", L"IMG_0003.JPG", ContentType::kImage, "");
  phone
      .AddPatternFile(L"locked", L"f100", L"IMG_0004.PNG", ContentType::kImage,
                      10)
      .Fail(wpd_sim::Call::kDelete, E_ACCESSDENIED);
  phone
      .AddPatternFile(L"bad", L"f100", L"IMG_0005.JPG", ContentType::kImage,
                      5000)
      .Fail(wpd_sim::Call::kRead, E_FAIL, 1000);
  auto& pad = fixture.AddDevice(L"pad").FriendlyName(L"iPad").Manufacturer(
      L"Apple Inc.");
  pad.max_read_size = 7;
  pad.AddStorage(L"s1", L"Internal Storage");
  pad.AddPatternFile(L"clip", L"s1", L"CLIP.MOV", ContentType::kVideo, 4000);
  fixture.AddDevice(L"cam")
      .FriendlyName(L"PowerShot")
      .Manufacturer(L"Canon Inc.")
      .OpenResult(E_ACCESSDENIED);
  return fixture;
}

struct Target {
  std::filesystem::path scratch;
  std::unique_ptr<flutter::FlutterViewController> controller;
  FlutterDesktopEngineRef engine = nullptr;
  std::unique_ptr<channel_test::DrainWindow> window;
};
Target* target = nullptr;

// By the header byte's low two bits.
constexpr const char* kChannels[] = {
    snapferry::kWpdChannelName, snapferry::kWpdEventChannelName,
    snapferry::kWpdMediaChannelName, snapferry::kWpdDevicesChannelName};

// One message of an input, as delivered.
struct Message {
  int number = 0;
  const char* channel = snapferry::kWpdChannelName;
  std::string method;  // when it decodes as a call
  bool is_copy = false;
  std::filesystem::path staging;  // copies with a rewritten "tempPath"
};

// Where a fuzzed "tempPath" goes: one of a few names in the scratch folder
// (so copies of one input can meet on a file), one in a folder that does
// not exist, or the scratch folder itself. The choice is a hash of the text.
std::filesystem::path StagingPathFor(const std::string& text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  switch (hash % 5) {
    case 0:
      return target->scratch / "a.heic";
    case 1:
      return target->scratch / "b.mov";
    case 2:
      return target->scratch / "c.jpg";
    case 3:
      return target->scratch / "missing" / "d.jpg";
    default:
      return target->scratch;
  }
}

// The bytes the handler gets for `bytes`: a call with a non-empty string
// "tempPath" is decoded, given its scratch path and encoded again; anything
// else goes as it is.
std::vector<uint8_t> Rewrite(const std::vector<uint8_t>& bytes,
                             Message* message) {
  const auto& codec = channel_test::Codec();
  std::unique_ptr<flutter::MethodCall> call =
      codec.DecodeCall(bytes.data(), bytes.size());
  if (!call) return bytes;
  message->method = call->method_name();
  message->is_copy = message->method == "copyObject";
  const auto* arguments = std::get_if<ValueMap>(call->arguments());
  if (arguments == nullptr) return bytes;
  const auto found = arguments->find(EncodableValue(std::string("tempPath")));
  if (found == arguments->end()) return bytes;
  const auto* path = std::get_if<std::string>(&found->second);
  if (path == nullptr || path->empty()) return bytes;
  message->staging = StagingPathFor(*path);
  ValueMap rewritten = *arguments;
  rewritten[found->first] = EncodableValue(message->staging.string());
  return *codec.EncodeCall(flutter::MethodCall(
      call->method_name(), std::make_unique<EncodableValue>(rewritten)));
}

channel_test::Reply ReplyTo(int number) {
  std::optional<std::vector<uint8_t>> bytes =
      engine_control::ResponseTo(target->engine, number);
  return bytes ? channel_test::DecodeReply(*bytes) : channel_test::Reply();
}

bool AnsweredOk(int number) {
  channel_test::Reply reply = ReplyTo(number);
  return reply.kind == channel_test::Reply::Kind::kSuccess &&
         channel_test::At(reply.value, "status") == EncodableValue("ok");
}

// With SNAPFERRY_FUZZ_VERBOSE set (to see what an input does when
// reproducing a finding): one line per message and its answer.
void Describe(const std::vector<Message>& messages) {
  static const bool verbose = std::getenv("SNAPFERRY_FUZZ_VERBOSE") != nullptr;
  if (!verbose) return;
  static const char* const kKinds[] = {"success", "error", "not implemented",
                                       "undecodable"};
  for (const Message& message : messages) {
    const channel_test::Reply reply = ReplyTo(message.number);
    const EncodableValue status = channel_test::At(reply.value, "status");
    const auto* status_text = std::get_if<std::string>(&status);
    std::fprintf(stderr, "#%d on %s: %s -> %s %s%s %s\n", message.number,
                 message.channel,
                 message.method.empty() ? "(no call)" : message.method.c_str(),
                 kKinds[static_cast<int>(reply.kind)], reply.code.c_str(),
                 status_text ? status_text->c_str() : "",
                 message.staging.string().c_str());
  }
}

void RunInput(const uint8_t* data, size_t size) {
  wpd_sim::Simulator devices(Devices());
  FUZZ_CHECK(devices.ok(), "the simulated devices did not start");
  auto handler = std::make_unique<snapferry::WpdChannelHandler>(
      target->controller->engine()->messenger(), target->window->hwnd());
  target->window->set_handler(handler.get());

  std::vector<Message> messages;
  size_t at = 0;
  while (at < size && messages.size() < kMaxMessages) {
    const char* channel = kChannels[data[at] & 3];
    size_t length = at + 1 < size ? data[at + 1] : 0;
    if (at + 2 < size) length |= size_t{data[at + 2]} << 8;
    at = std::min(size, at + 3);
    length = std::min(length, size - at);
    const std::vector<uint8_t> bytes(data + at, data + at + length);
    at += length;
    Message message;
    message.channel = channel;
    message.number = engine_control::DeliverMessage(
        target->engine, channel, Rewrite(bytes, &message));
    FUZZ_CHECK(message.number > 0, "the engine refused a message");
    messages.push_back(std::move(message));
  }

  const bool settled = channel_test::PumpUntil(
      [&] {
        for (const Message& message : messages) {
          if (!engine_control::ResponseTo(target->engine, message.number)) {
            return false;
          }
        }
        return snapferry::UnjoinedWorkerThreads() == 0;
      },
      kSettleTimeout);
  engine_control::RunPendingMessages();
  Describe(messages);
  FUZZ_CHECK(settled, "a message was not answered or a worker did not end");

  const engine_control::Counts counts = engine_control::GetCounts();
  FUZZ_CHECK(counts.invalid_responses == 0 && counts.late_responses == 0,
             "a message was answered twice");
  // The handler keeps device sessions open between requests; they close
  // when it goes, and nothing of the devices may outlive that.
  target->window->set_handler(nullptr);
  handler.reset();
  FUZZ_CHECK(devices.LiveObjects() == 0,
             "a simulated COM object outlived its handler");

  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(target->scratch,
                                                               error);
       !error && it != std::filesystem::recursive_directory_iterator();
       it.increment(error)) {
    bool kept_by_ok_copy = false;
    for (const Message& message : messages) {
      kept_by_ok_copy = kept_by_ok_copy ||
                        (message.is_copy && message.staging == it->path() &&
                         AnsweredOk(message.number));
    }
    FUZZ_CHECK(kept_by_ok_copy,
               "a file was left that no copy answered \"ok\" for");
  }

  for (const auto& entry :
       std::filesystem::directory_iterator(target->scratch)) {
    std::filesystem::remove_all(entry.path());
  }
}

// The engine keeps every message and response it saw; a new one now and
// then keeps a long run's memory flat.
constexpr int kInputsPerEngine = 2000;

void StartEngine() {
  target->controller.reset();
  engine_control::RunPendingMessages();
  target->controller = std::make_unique<flutter::FlutterViewController>(
      64, 48, flutter::EngineProject(L"data"));
  target->engine = engine_control::LatestEngine();
  FUZZ_CHECK(target->engine != nullptr, "the engine did not start");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceDiagnostics();
  target = new Target();
  target->scratch = fuzz::MakeScratchFolder("fuzz-channels");
  target->window = std::make_unique<channel_test::DrainWindow>();
  FUZZ_CHECK(target->window->hwnd() != nullptr, "the window did not start");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int inputs = 0;
  if (inputs++ % kInputsPerEngine == 0) StartEngine();
  engine_control::Reset();
  RunInput(data, size);
  return 0;
}
