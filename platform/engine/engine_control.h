// Test control surface of the in-process engine library. Tests use it to play
// the interface's side of the channels, to see what the program did with the
// engine, and to make the engine fail. The program itself never calls it.

#ifndef PLATFORM_ENGINE_ENGINE_CONTROL_H_
#define PLATFORM_ENGINE_ENGINE_CONTROL_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/engine/engine_api.h"

namespace engine_control {

// What FlutterDesktopEngineCreate was handed, copied during the call.
struct ReceivedProperties {
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  bool entry_point_null = false;
  std::string entry_point;
  int32_t argument_count = 0;
  bool argument_array_null = true;
  // The argument_count strings of the array, in order (none when it is null).
  std::vector<std::string> arguments;
  int32_t engine_options[3] = {0, 0, 0};
  int32_t reserved = 0;
};

// Calls and lifetimes since the last Reset().
struct Counts {
  int engine_create_calls = 0;      // FlutterDesktopEngineCreate, failed or not
  int engine_destroy_calls = 0;     // FlutterDesktopEngineDestroy
  int controller_create_calls = 0;  // FlutterDesktopViewControllerCreate
  int controller_destroy_calls = 0;  // FlutterDesktopViewControllerDestroy
  int engines_destroyed = 0;         // engines shut down, by whichever call
  int font_reloads = 0;
  int output_resyncs = 0;
  int frames_drawn = 0;
  // Responses that reached the engine after it had shut down.
  int late_responses = 0;
  // A response for a handle already answered or never given out by that
  // engine (a fault of the caller).
  int invalid_responses = 0;
};

// A message the program sent to the interface.
struct SentMessage {
  std::string channel;
  std::vector<uint8_t> bytes;
  bool wants_reply = false;
};

// Forgets counts and properties and turns every injected behaviour off.
// Engines that are alive stay alive.
void Reset();
Counts GetCounts();
int LiveEngineCount();
int LiveControllerCount();
// The properties of the last FlutterDesktopEngineCreate call, if any.
std::optional<ReceivedProperties> LastProperties();
// The newest engine that is still alive, or null.
FlutterDesktopEngineRef LatestEngine();

// Failures to inject. Creation failures hold until turned off.
void FailEngineCreation(bool fail);
// FlutterDesktopViewControllerCreate returns null (and shuts down the engine
// it was handed, which it owns from the call on).
void FailViewControllerCreation(bool fail);
// FlutterDesktopMessengerSendWithReply returns false.
void RefuseSendWithReply(bool refuse);

// Threads now waiting for the lock of `messenger` (the lock that
// FlutterDesktopMessengerLock takes), in that call or in
// FlutterDesktopMessengerSendResponse.
int ThreadsWaitingForMessengerLock(FlutterDesktopMessengerRef messenger);

// What the engine reports for every monitor; 0 asks the system.
void SetMonitorDpi(UINT dpi);
// Decides, for each message offered to
// FlutterDesktopViewControllerHandleTopLevelWindowProc, whether the engine
// consumes it (a value) or not (none). Without a hook nothing is consumed.
using WindowProcHook =
    std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;
void SetTopLevelWindowProcHook(WindowProcHook hook);

// Channel traffic, from the interface's side. Messages are delivered on the
// engine's thread by its window message loop, in the order given. A channel
// without a callback answers at once with no bytes.
//
// Queues `bytes` as one message on `channel`; returns its number on this
// engine (from 1), or 0 when the engine is not alive.
int DeliverMessage(FlutterDesktopEngineRef engine, const std::string& channel,
                   std::vector<uint8_t> bytes);
// The response to message `number` once the program answered it.
std::optional<std::vector<uint8_t>> ResponseTo(FlutterDesktopEngineRef engine,
                                               int number);
// DeliverMessage, then RunPendingMessages, then ResponseTo.
std::optional<std::vector<uint8_t>> Call(FlutterDesktopEngineRef engine,
                                         const std::string& channel,
                                         std::vector<uint8_t> bytes);
// Everything the program sent on this engine's messenger, in order.
std::vector<SentMessage> SentMessages(FlutterDesktopEngineRef engine);
// Channels that have a message callback now, in name order.
std::vector<std::string> RegisteredChannels(FlutterDesktopEngineRef engine);
// The registrar names the file-selector plugin registered itself with.
std::vector<std::string> FileSelectorRegistrations(
    FlutterDesktopEngineRef engine);

// Runs the calling thread's window messages until none is waiting.
void RunPendingMessages();
// Runs window messages until `done` returns true or `timeout` passes;
// returns the last answer of `done`.
bool RunMessagesUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout);

// Where the headless interface writes its lines (standard output when
// empty) and how long its `wait` waits for a new answer.
void SetInterfaceOutput(std::function<void(const std::string& line)> output);
void SetScriptWaitTimeout(std::chrono::milliseconds timeout);
// Script readers whose thread has not ended yet.
int RunningScriptReaders();

}  // namespace engine_control

#endif  // PLATFORM_ENGINE_ENGINE_CONTROL_H_
