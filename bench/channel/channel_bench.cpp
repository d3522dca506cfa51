// The whole request path of "snapferry/wpd": encode, deliver through the
// in-process engine, dispatch, run the job on a worker, queue, wake the
// window, drain, answer, reply bytes. And the stretch that the reply queue
// owns: from a worker's finished job to its reply leaving the messenger.

#include <windows.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channel/wpd_channel_handler.h"
#include "messaging/binary_messenger.h"
#include "messaging/encodable_value.h"
#include "messaging/engine_project.h"
#include "messaging/flutter_engine.h"
#include "messaging/flutter_view_controller.h"
#include "messaging/method_call.h"
#include "messaging/method_channel.h"
#include "messaging/standard_method_codec.h"
#include "platform/engine/engine_control.h"
#include "platform/wpd/simulator/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableValue;

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::SharedInstance();
}

// Forwards to the engine's messenger and counts the replies going out on
// the channels it wraps, with the time each left.
class CountingMessenger : public flutter::BinaryMessenger {
 public:
  explicit CountingMessenger(flutter::BinaryMessenger* inner) : inner_(inner) {}

  void Send(const std::string& channel, const uint8_t* message, size_t size,
            flutter::ReplyCallback reply) override {
    inner_->Send(channel, message, size, std::move(reply));
  }
  void RegisterChannelHandler(const std::string& channel,
                              flutter::ChannelMessageHandler handler) override {
    if (!handler) {
      inner_->RegisterChannelHandler(channel, nullptr);
      return;
    }
    inner_->RegisterChannelHandler(
        channel, [this, handler](const uint8_t* message, size_t size,
                                 flutter::ReplyCallback reply) {
          handler(message, size,
                  [this, reply](const uint8_t* bytes, size_t count) {
                    reply(bytes, count);
                    const Clock::time_point sent_at = Clock::now();
                    ++replies;
                    if (on_reply) on_reply(bytes, count, sent_at);
                  });
        });
  }

  int64_t replies = 0;
  // Called with each reply's bytes and the time it was handed over.
  std::function<void(const uint8_t*, size_t, Clock::time_point)> on_reply;

 private:
  flutter::BinaryMessenger* inner_;
};

// The top-level window that drains the handler's queue, as the host's does.
class DrainWindow {
 public:
  DrainWindow() {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = &DrainWindow::Proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"SnapferryBenchDrainWindow";
    RegisterClassW(&window_class);
    hwnd_ = CreateWindowExW(0, L"SnapferryBenchDrainWindow", L"bench",
                            WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~DrainWindow() {
    handler_ = nullptr;
    DestroyWindow(hwnd_);
  }
  HWND hwnd() const { return hwnd_; }
  static void SetHandler(snapferry::WpdChannelHandler* handler) {
    handler_ = handler;
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam,
                               LPARAM lparam) {
    if (message == snapferry::kReplyReadyMessage) {
      if (handler_ != nullptr) handler_->DrainReplyQueue();
      return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  static snapferry::WpdChannelHandler* handler_;
  HWND hwnd_ = nullptr;
};
snapferry::WpdChannelHandler* DrainWindow::handler_ = nullptr;

// Blocks in the message loop until `done` holds.
void PumpUntil(const std::function<bool()>& done) {
  MSG message;
  while (!done() && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// One engine, window, handler and (empty) device set per benchmark run.
struct Path {
  Path() : devices(wpd_sim::Fixture()) {
    engine_control::Reset();
    controller = std::make_unique<flutter::FlutterViewController>(
        64, 48, flutter::EngineProject(L"data"));
    engine = engine_control::LatestEngine();
    messenger =
        std::make_unique<CountingMessenger>(controller->engine()->messenger());
    handler = std::make_unique<snapferry::WpdChannelHandler>(messenger.get(),
                                                             window.hwnd());
    DrainWindow::SetHandler(handler.get());
  }
  ~Path() {
    DrainWindow::SetHandler(nullptr);
    handler.reset();
    controller.reset();
    engine_control::RunPendingMessages();
    engine_control::Reset();
  }

  wpd_sim::Simulator devices;
  DrainWindow window;
  std::unique_ptr<flutter::FlutterViewController> controller;
  FlutterDesktopEngineRef engine = nullptr;
  std::unique_ptr<CountingMessenger> messenger;
  std::unique_ptr<snapferry::WpdChannelHandler> handler;
};

// listDevices over no devices: the cheapest request that still goes
// through a worker (it joins COM, creates the device manager and asks it
// for its devices). `range(0)` requests are kept in flight; each iteration
// is one finished round trip.
void BM_RoundTrip(benchmark::State& state) {
  Path path;
  if (!path.devices.ok() || path.engine == nullptr) {
    state.SkipWithError("set-up failed");
    return;
  }
  const int64_t in_flight = state.range(0);
  int64_t sent = 0;
  int64_t consumed = 0;
  for (auto _ : state) {
    // Encoding is part of the path: each request is encoded anew.
    while (sent - path.messenger->replies < in_flight) {
      engine_control::DeliverMessage(
          path.engine, snapferry::kWpdChannelName,
          *Codec().EncodeCall(flutter::MethodCall("listDevices", nullptr)));
      ++sent;
    }
    PumpUntil([&] { return path.messenger->replies > consumed; });
    ++consumed;
  }
  PumpUntil([&] { return path.messenger->replies == sent; });
  state.SetItemsProcessed(consumed);
  state.counters["round_trips_per_s"] = benchmark::Counter(
      static_cast<double>(consumed), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RoundTrip)->Arg(1)->Arg(8)->Arg(64)->UseRealTime();

// From the end of a worker's job (the moment before its completion is
// queued) to the reply leaving the messenger: queue, wake-up message, drain,
// encoding and sending. Jobs are started through the handler's RunJob for a
// call on a channel of this benchmark, so the completion answers a real
// engine result; `range(0)` requests in flight.
void BM_CompletionToReply(benchmark::State& state) {
  Path path;
  if (path.engine == nullptr) {
    state.SkipWithError("set-up failed");
    return;
  }
  const char* const kChannel = "bench/latency";
  flutter::MethodCallChannel channel(path.messenger.get(), kChannel, &Codec());
  std::vector<double> latencies_us;
  channel.SetCallHandler([&](const flutter::MethodCall&,
                             std::unique_ptr<flutter::MethodResult> result) {
    std::shared_ptr<flutter::MethodResult> shared(std::move(result));
    path.handler->RunJob([shared]() -> snapferry::Completion {
      const int64_t finished =
          std::chrono::duration_cast<std::chrono::nanoseconds>(
              Clock::now().time_since_epoch())
              .count();
      return
          [shared, finished]() { shared->Success(EncodableValue(finished)); };
    });
  });
  // Each reply's latency: its bytes carry the job's finishing time.
  path.messenger->on_reply = [&](const uint8_t* bytes, size_t count,
                                 Clock::time_point sent_at) {
    // Success envelope: 0, then the int64 tag 4, then 8 little-endian bytes.
    if (bytes == nullptr || count != 10 || bytes[0] != 0 || bytes[1] != 4) {
      return;
    }
    int64_t finished = 0;
    for (int i = 7; i >= 0; --i) finished = (finished << 8) | bytes[2 + i];
    const int64_t at = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           sent_at.time_since_epoch())
                           .count();
    latencies_us.push_back(static_cast<double>(at - finished) / 1000.0);
  };

  const int64_t in_flight = state.range(0);
  int64_t sent = 0;
  int64_t consumed = 0;
  for (auto _ : state) {
    while (sent - path.messenger->replies < in_flight) {
      engine_control::DeliverMessage(
          path.engine, kChannel,
          *Codec().EncodeCall(flutter::MethodCall("ping", nullptr)));
      ++sent;
    }
    PumpUntil([&] { return path.messenger->replies > consumed; });
    ++consumed;
  }
  PumpUntil([&] { return path.messenger->replies == sent; });
  path.messenger->on_reply = nullptr;
  channel.SetCallHandler(nullptr);

  std::sort(latencies_us.begin(), latencies_us.end());
  if (!latencies_us.empty()) {
    const auto at = [&](double q) {
      const size_t index = std::min(
          latencies_us.size() - 1,
          static_cast<size_t>(q * static_cast<double>(latencies_us.size())));
      return latencies_us[index];
    };
    state.counters["median_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["samples"] = static_cast<double>(latencies_us.size());
  }
}
BENCHMARK(BM_CompletionToReply)->Arg(1)->Arg(64)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
