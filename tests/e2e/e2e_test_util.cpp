#include "tests/e2e/e2e_test_util.h"

#include <chrono>
#include <random>
#include <utility>

namespace e2e {

using channel_test::DecodeReply;
using channel_test::PumpUntil;
using channel_test::Str;

void EndToEndTest::SetUp() {
  engine_control::Reset();
  controller_ = std::make_unique<flutter::FlutterViewController>(
      64, 48, flutter::EngineProject(L"data"));
  engine_ = engine_control::LatestEngine();
  ASSERT_NE(engine_, nullptr);
  ASSERT_NE(window_.hwnd(), nullptr);
  recorder_ =
      std::make_unique<RecordingMessenger>(controller_->engine()->messenger());
  handler_ = std::make_unique<snapferry::WpdChannelHandler>(recorder_.get(),
                                                            window_.hwnd());
  window_.set_handler(handler_.get());

  std::random_device random;
  staging_dir_ = std::filesystem::temp_directory_path() /
                 ("snapferry-e2e-" + std::to_string(random()));
  std::filesystem::create_directories(staging_dir_);
}

void EndToEndTest::TearDown() {
  window_.set_handler(nullptr);
  handler_.reset();
  controller_.reset();
  engine_control::RunPendingMessages();
  devices_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(staging_dir_, ignored);
  engine_control::Reset();
}

void EndToEndTest::StartDevices(wpd_sim::Fixture fixture) {
  devices_ = std::make_unique<wpd_sim::Simulator>(std::move(fixture));
  ASSERT_TRUE(devices_->ok()) << devices_->error();
}

int EndToEndTest::Send(const std::string& method,
                       std::unique_ptr<EncodableValue> arguments) {
  return engine_control::DeliverMessage(
      engine_, snapferry::kWpdChannelName,
      channel_test::EncodedCall(method, std::move(arguments)));
}

bool EndToEndTest::Answered(int number) {
  return engine_control::ResponseTo(engine_, number).has_value();
}

std::optional<Bytes> EndToEndTest::AwaitBytes(int number) {
  PumpUntil([&] { return Answered(number); });
  return engine_control::ResponseTo(engine_, number);
}

Reply EndToEndTest::Await(int number) {
  std::optional<Bytes> bytes = AwaitBytes(number);
  if (!bytes) {
    ADD_FAILURE() << "message " << number << " was not answered";
    return Reply();
  }
  return DecodeReply(*bytes);
}

void EndToEndTest::Listen() {
  const int number =
      engine_control::DeliverMessage(engine_, snapferry::kWpdEventChannelName,
                                     channel_test::EncodedCall("listen"));
  ASSERT_TRUE(AwaitBytes(number).has_value());
}

std::vector<EncodableValue> EndToEndTest::Events() {
  std::vector<EncodableValue> events;
  for (const auto& sent : engine_control::SentMessages(engine_)) {
    if (sent.channel != snapferry::kWpdEventChannelName) continue;
    Reply event = DecodeReply(sent.bytes);
    EXPECT_EQ(event.kind, Reply::Kind::kSuccess);
    events.push_back(event.value);
  }
  return events;
}

std::vector<EncodableValue> EndToEndTest::EventsFor(
    const std::string& object_id) {
  std::vector<EncodableValue> events;
  for (const EncodableValue& event : Events()) {
    if (channel_test::At(event, "objectId") == EncodableValue(object_id)) {
      events.push_back(event);
    }
  }
  return events;
}

std::unique_ptr<EncodableValue> EndToEndTest::CopyArgs(
    const std::string& device, const std::string& object_id,
    const std::string& file_name) {
  return channel_test::Args({
      {Str("id"), EncodableValue(device)},
      {Str("objectId"), EncodableValue(object_id)},
      {Str("tempPath"), EncodableValue(Staging(file_name).u8string())},
  });
}

}  // namespace e2e
