// The in-process engine library's objects. The handle types of the engine API
// are defined here; everything else in the stand-in builds on them.
//
// Threads: an engine belongs to the thread that created it (its UI thread),
// which must run a window message loop. Work reaches that thread through the
// engine's task queue: lock, append, post one wake-up message to the engine's
// hidden window, and on the UI thread take the whole queue and run it
// unlocked.

#ifndef PLATFORM_ENGINE_INPROCESS_ENGINE_H_
#define PLATFORM_ENGINE_INPROCESS_ENGINE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/engine/engine_api.h"
#include "platform/engine/engine_control.h"
#include "platform/engine/inprocess/interface.h"

// Reference counted so that a pending reply can outlive the engine and still
// ask whether the engine is there.
struct FlutterDesktopMessenger {
  std::atomic<int> references{1};
  // Held between FlutterDesktopMessengerLock and Unlock, and while the engine
  // detaches itself, so that "is it available, then respond" is one step.
  // Recursive: the engine's own functions take it too, and a caller may
  // already hold it.
  std::recursive_mutex lock;
  std::atomic<FlutterDesktopEngine*> engine{nullptr};
  // Threads waiting in Acquire now: a test learns from it that a reply is
  // held up by the lock.
  std::atomic<int> lock_waiters{0};

  // Takes `lock` where a replying thread takes it.
  void Acquire() {
    if (lock.try_lock()) return;
    ++lock_waiters;
    lock.lock();
    --lock_waiters;
  }
};

struct FlutterDesktopMessageResponseHandle {
  int number = 0;
  bool answered = false;  // engine mutex
  bool keep_response = false;
  std::vector<uint8_t> response;
  // Runs on the UI thread with the response.
  std::function<void(const std::vector<uint8_t>&)> on_response;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
  std::string plugin_name;
};

struct FlutterDesktopView {
  HWND hwnd = nullptr;  // cleared when the window goes
};

struct FlutterDesktopViewController {
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopView view;
};

struct FlutterDesktopEngine : engine_inprocess::InterfaceHost {
  explicit FlutterDesktopEngine(const FlutterDesktopEngineProperties& props);
  ~FlutterDesktopEngine() override;

  // Creates the hidden window that carries the task queue; false on failure.
  bool Initialize();
  // Runs the engine, once: the interface starts. `controller` is null for an
  // engine run without a view (FlutterDesktopEngineRun).
  void Run(FlutterDesktopViewController* controller);
  // Stops the interface, detaches the messenger and frees everything.
  static void Shutdown(FlutterDesktopEngine* engine);

  // Interface side. Thread-safe. Queues one message for the program; the
  // response is kept (for the control surface) and/or handed to on_response.
  int Deliver(std::string channel, std::vector<uint8_t> bytes,
              bool keep_response,
              std::function<void(const std::vector<uint8_t>&)> on_response);
  // Program side: a response for a handle this engine gave out.
  void Respond(const FlutterDesktopMessageResponseHandle* handle,
               const uint8_t* data, size_t size);
  // Program side: a message for the interface.
  void ReceiveFromProgram(const char* channel, const uint8_t* data, size_t size,
                          FlutterDesktopBinaryReply reply, void* user_data);
  void RequestFrame();

  // InterfaceHost.
  void PostTask(std::function<void()> task) override;
  void SendToProgram(
      const std::string& channel, std::vector<uint8_t> bytes,
      std::function<void(const std::vector<uint8_t>&)> on_response) override;
  void CloseTopLevelWindow() override;
  void WriteLine(const std::string& line) override;

  struct Callback {
    FlutterDesktopMessageCallback function = nullptr;
    void* user_data = nullptr;
  };

  // Copies of the start-up settings.
  engine_control::ReceivedProperties properties;

  HWND task_window = nullptr;
  FlutterDesktopMessenger* messenger = nullptr;
  FlutterDesktopViewController* controller = nullptr;
  // UI thread only.
  std::map<std::string, Callback> callbacks;
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>>
      registrars;
  std::vector<std::string> file_selector_registrations;
  FlutterDesktopOnNextFrameCallback next_frame = nullptr;
  void* next_frame_user_data = nullptr;
  bool frame_pending = false;
  bool running = false;

  // Guards everything below; never held while calling out.
  std::mutex mutex;
  std::vector<std::function<void()>> tasks;
  bool wake_posted = false;
  int last_number = 0;
  std::map<int, std::unique_ptr<FlutterDesktopMessageResponseHandle>>
      handles_by_number;
  std::map<const FlutterDesktopMessageResponseHandle*,
           FlutterDesktopMessageResponseHandle*>
      handles;
  std::vector<engine_control::SentMessage> sent;

 private:
  void Dispatch(FlutterDesktopMessageResponseHandle* handle,
                const std::string& channel, const std::vector<uint8_t>& bytes);
  void DrawFrame();
  void RunTasks();
  static LRESULT CALLBACK TaskWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                         LPARAM lparam);

  std::unique_ptr<engine_inprocess::EngineInterface> interface_;
  // False once the engine is gone; a task batch checks it between tasks.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

namespace engine_inprocess {

// Process-wide state behind the control surface.
struct Registry {
  std::mutex mutex;
  engine_control::Counts counts;
  std::vector<FlutterDesktopEngine*> live_engines;
  int live_controllers = 0;
  std::optional<engine_control::ReceivedProperties> last_properties;
  bool fail_engine_creation = false;
  bool fail_view_controller_creation = false;
  bool refuse_send_with_reply = false;
  UINT monitor_dpi = 0;
  engine_control::WindowProcHook window_proc_hook;
  std::function<void(const std::string&)> output;
  std::chrono::milliseconds script_wait_timeout{10000};
};
Registry& GetRegistry();

// Applies `change` to the counts under the registry's lock.
void Count(const std::function<void(engine_control::Counts&)>& change);

// True when `engine` is alive (it may be a dangling pointer otherwise).
bool IsLive(FlutterDesktopEngine* engine);

HINSTANCE ModuleInstance();

}  // namespace engine_inprocess

#endif  // PLATFORM_ENGINE_INPROCESS_ENGINE_H_
