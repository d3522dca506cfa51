// The in-process engine's test control surface.

#include <thread>

#include "platform/engine/engine_control.h"
#include "platform/engine/inprocess/engine.h"
#include "platform/engine/inprocess/script_player.h"

namespace engine_control {
namespace {

using engine_inprocess::GetRegistry;
using engine_inprocess::Registry;

template <typename Change>
void Update(Change change) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  change(registry);
}

}  // namespace

void Reset() {
  Update([](Registry& registry) {
    registry.counts = Counts();
    registry.last_properties.reset();
    registry.fail_engine_creation = false;
    registry.fail_view_controller_creation = false;
    registry.refuse_send_with_reply = false;
    registry.monitor_dpi = 0;
    registry.window_proc_hook = nullptr;
    registry.output = nullptr;
    registry.script_wait_timeout = std::chrono::milliseconds(10000);
  });
}

Counts GetCounts() {
  Counts counts;
  Update([&](Registry& registry) { counts = registry.counts; });
  return counts;
}

int LiveEngineCount() {
  int count = 0;
  Update([&](Registry& registry) {
    count = static_cast<int>(registry.live_engines.size());
  });
  return count;
}

int LiveControllerCount() {
  int count = 0;
  Update([&](Registry& registry) { count = registry.live_controllers; });
  return count;
}

std::optional<ReceivedProperties> LastProperties() {
  std::optional<ReceivedProperties> properties;
  Update([&](Registry& registry) { properties = registry.last_properties; });
  return properties;
}

FlutterDesktopEngineRef LatestEngine() {
  FlutterDesktopEngineRef engine = nullptr;
  Update([&](Registry& registry) {
    if (!registry.live_engines.empty()) engine = registry.live_engines.back();
  });
  return engine;
}

void FailEngineCreation(bool fail) {
  Update([&](Registry& registry) { registry.fail_engine_creation = fail; });
}

void FailViewControllerCreation(bool fail) {
  Update([&](Registry& registry) {
    registry.fail_view_controller_creation = fail;
  });
}

int ThreadsWaitingForMessengerLock(FlutterDesktopMessengerRef messenger) {
  return messenger != nullptr ? messenger->lock_waiters.load() : 0;
}

void RefuseSendWithReply(bool refuse) {
  Update([&](Registry& registry) { registry.refuse_send_with_reply = refuse; });
}

void SetMonitorDpi(UINT dpi) {
  Update([&](Registry& registry) { registry.monitor_dpi = dpi; });
}

void SetTopLevelWindowProcHook(WindowProcHook hook) {
  Update(
      [&](Registry& registry) { registry.window_proc_hook = std::move(hook); });
}

int DeliverMessage(FlutterDesktopEngineRef engine, const std::string& channel,
                   std::vector<uint8_t> bytes) {
  if (!engine_inprocess::IsLive(engine)) return 0;
  return engine->Deliver(channel, std::move(bytes), true, nullptr);
}

std::optional<std::vector<uint8_t>> ResponseTo(FlutterDesktopEngineRef engine,
                                               int number) {
  if (!engine_inprocess::IsLive(engine)) return std::nullopt;
  std::lock_guard<std::mutex> lock(engine->mutex);
  auto found = engine->handles_by_number.find(number);
  if (found == engine->handles_by_number.end() || !found->second->answered) {
    return std::nullopt;
  }
  return found->second->response;
}

std::optional<std::vector<uint8_t>> Call(FlutterDesktopEngineRef engine,
                                         const std::string& channel,
                                         std::vector<uint8_t> bytes) {
  const int number = DeliverMessage(engine, channel, std::move(bytes));
  if (number == 0) return std::nullopt;
  RunPendingMessages();
  return ResponseTo(engine, number);
}

std::vector<SentMessage> SentMessages(FlutterDesktopEngineRef engine) {
  if (!engine_inprocess::IsLive(engine)) return {};
  std::lock_guard<std::mutex> lock(engine->mutex);
  return engine->sent;
}

std::vector<std::string> RegisteredChannels(FlutterDesktopEngineRef engine) {
  std::vector<std::string> channels;
  if (!engine_inprocess::IsLive(engine)) return channels;
  for (const auto& entry : engine->callbacks) channels.push_back(entry.first);
  return channels;
}

std::vector<std::string> FileSelectorRegistrations(
    FlutterDesktopEngineRef engine) {
  if (!engine_inprocess::IsLive(engine)) return {};
  return engine->file_selector_registrations;
}

namespace {

// Dispatches one waiting message; false when none was waiting or the quit
// message came (which is put back for the caller's own loop).
bool DispatchOne() {
  MSG message;
  if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(message.wParam));
    return false;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return true;
}

}  // namespace

void RunPendingMessages() {
  while (DispatchOne()) {
  }
}

bool RunMessagesUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (!DispatchOne()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

void SetInterfaceOutput(std::function<void(const std::string& line)> output) {
  Update([&](Registry& registry) { registry.output = std::move(output); });
}

void SetScriptWaitTimeout(std::chrono::milliseconds timeout) {
  Update([&](Registry& registry) { registry.script_wait_timeout = timeout; });
}

int RunningScriptReaders() { return engine_inprocess::RunningScriptReaders(); }

}  // namespace engine_control
