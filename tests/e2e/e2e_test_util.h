// The whole path for the end-to-end tests: the in-process engine under a view
// controller, its messenger seen through a recorder, the handler, the
// top-level window that drains the reply queue, and simulated devices.

#ifndef SNAPFERRY_TESTS_E2E_E2E_TEST_UTIL_H_
#define SNAPFERRY_TESTS_E2E_E2E_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/wpd_channel_handler.h"
#include "messaging/binary_messenger.h"
#include "messaging/engine_project.h"
#include "messaging/flutter_engine.h"
#include "messaging/flutter_view_controller.h"
#include "platform/engine/engine_control.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/channel/channel_test_util.h"

namespace e2e {

using channel_test::Bytes;
using channel_test::EncodableValue;
using channel_test::Reply;

// Sits between the channels and the engine's messenger. It forwards every
// byte unchanged and writes down, in one sequence, the replies on
// "snapferry/wpd" (with the request they answer) and the events sent on
// "snapferry/wpd_events" and "snapferry/wpd_media", so tests can check their
// relative order. It also
// counts the reply callbacks of "snapferry/wpd" still alive, which tells
// when every MethodResult has gone, answered or not.
class RecordingMessenger : public flutter::BinaryMessenger {
 public:
  struct Entry {
    bool is_event = false;
    Bytes request;  // replies: the call they answer
    Bytes bytes;
    std::string channel;  // events: the channel they went on
  };

  explicit RecordingMessenger(flutter::BinaryMessenger* inner)
      : inner_(inner), live_(std::make_shared<std::atomic<int>>(0)) {}

  void Send(const std::string& channel, const uint8_t* message, size_t size,
            flutter::ReplyCallback reply) override {
    if (channel == snapferry::kWpdEventChannelName ||
        channel == snapferry::kWpdMediaChannelName) {
      timeline.push_back({true, {}, Bytes(message, message + size), channel});
    }
    inner_->Send(channel, message, size, std::move(reply));
  }

  void RegisterChannelHandler(const std::string& channel,
                              flutter::ChannelMessageHandler handler) override {
    if (!handler || channel != snapferry::kWpdChannelName) {
      inner_->RegisterChannelHandler(channel, std::move(handler));
      return;
    }
    inner_->RegisterChannelHandler(channel, [this, handler](
                                                const uint8_t* message,
                                                size_t size,
                                                flutter::ReplyCallback reply) {
      auto token = std::make_shared<LiveToken>(live_);
      Bytes request(message, message + size);
      handler(
          message, size,
          [this, token, request, reply](const uint8_t* bytes, size_t count) {
            timeline.push_back({false, request,
                                bytes ? Bytes(bytes, bytes + count) : Bytes(),
                                std::string()});
            reply(bytes, count);
          });
    });
  }

  // Reply callbacks of "snapferry/wpd" not yet destroyed.
  int LiveReplies() const { return live_->load(); }

  // Written on the UI thread only.
  std::vector<Entry> timeline;

 private:
  struct LiveToken {
    explicit LiveToken(std::shared_ptr<std::atomic<int>> live)
        : live(std::move(live)) {
      ++*this->live;
    }
    ~LiveToken() { --*live; }
    std::shared_ptr<std::atomic<int>> live;
  };

  flutter::BinaryMessenger* inner_;
  std::shared_ptr<std::atomic<int>> live_;
};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Registers the simulated devices; call before the first device request.
  void StartDevices(wpd_sim::Fixture fixture);

  // Queues a call on "snapferry/wpd"; returns the message's number.
  int Send(const std::string& method,
           std::unique_ptr<EncodableValue> arguments = nullptr);
  // Runs the loop until message `number` is answered; its bytes.
  std::optional<Bytes> AwaitBytes(int number);
  Reply Await(int number);
  Reply Call(const std::string& method,
             std::unique_ptr<EncodableValue> arguments = nullptr) {
    return Await(Send(method, std::move(arguments)));
  }
  bool Answered(int number);

  // Subscribes to "snapferry/wpd_events" and runs the loop until answered.
  void Listen();
  // The event payloads sent so far, in order.
  std::vector<EncodableValue> Events();
  std::vector<EncodableValue> EventsFor(const std::string& object_id);

  // The arguments of a copyObject of `object_id` on `device` into the
  // staging folder under `file_name`.
  std::unique_ptr<EncodableValue> CopyArgs(const std::string& device,
                                           const std::string& object_id,
                                           const std::string& file_name);
  std::filesystem::path Staging(const std::string& file_name) const {
    return staging_dir_ / file_name;
  }

  std::unique_ptr<flutter::FlutterViewController> controller_;
  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<RecordingMessenger> recorder_;
  channel_test::DrainWindow window_;
  std::unique_ptr<wpd_sim::Simulator> devices_;
  std::unique_ptr<snapferry::WpdChannelHandler> handler_;
  std::filesystem::path staging_dir_;
};

}  // namespace e2e

#endif  // SNAPFERRY_TESTS_E2E_E2E_TEST_UTIL_H_
