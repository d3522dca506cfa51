// The in-process engine and its messenger.

#include "platform/engine/inprocess/engine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace engine_inprocess {
namespace {

constexpr wchar_t kTaskWindowClass[] = L"SnapferryEngineTasks";
// Private to the task window's class.
constexpr UINT kRunTasksMessage = WM_USER + 1;

std::string CopyNarrow(const char* text) { return text ? text : ""; }
std::wstring CopyWide(const wchar_t* text) { return text ? text : L""; }

}  // namespace

Registry& GetRegistry() {
  // Never destroyed: engines may outlive static destruction order.
  static Registry* registry = new Registry();
  return *registry;
}

void Count(const std::function<void(engine_control::Counts&)>& change) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  change(registry.counts);
}

bool IsLive(FlutterDesktopEngine* engine) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return std::find(registry.live_engines.begin(), registry.live_engines.end(),
                   engine) != registry.live_engines.end();
}

HINSTANCE ModuleInstance() { return GetModuleHandleW(nullptr); }

}  // namespace engine_inprocess

using engine_inprocess::Count;
using engine_inprocess::GetRegistry;

FlutterDesktopEngine::FlutterDesktopEngine(
    const FlutterDesktopEngineProperties& props) {
  properties.assets_path = engine_inprocess::CopyWide(props.assets_path);
  properties.icu_data_path = engine_inprocess::CopyWide(props.icu_data_path);
  properties.aot_library_path =
      engine_inprocess::CopyWide(props.aot_library_path);
  properties.entry_point_null = props.entry_point == nullptr;
  properties.entry_point = engine_inprocess::CopyNarrow(props.entry_point);
  properties.argument_count = props.entry_point_argc;
  properties.argument_array_null = props.entry_point_argv == nullptr;
  if (props.entry_point_argv != nullptr) {
    for (int32_t i = 0; i < props.entry_point_argc; ++i) {
      properties.arguments.push_back(
          engine_inprocess::CopyNarrow(props.entry_point_argv[i]));
    }
  }
  properties.engine_options[0] = props.engine_option_1;
  properties.engine_options[1] = props.engine_option_2;
  properties.engine_options[2] = props.engine_option_3;
  properties.reserved = props.reserved;

  messenger = new FlutterDesktopMessenger();
  messenger->engine = this;
}

FlutterDesktopEngine::~FlutterDesktopEngine() {
  {
    std::lock_guard<std::recursive_mutex> lock(messenger->lock);
    messenger->engine = nullptr;
  }
  FlutterDesktopMessengerRelease(messenger);
}

bool FlutterDesktopEngine::Initialize() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = TaskWindowProc;
    window_class.hInstance = engine_inprocess::ModuleInstance();
    window_class.lpszClassName = engine_inprocess::kTaskWindowClass;
    RegisterClassW(&window_class);
  });
  // A hidden top-level window: it carries the task queue and holds the view
  // until the program embeds it somewhere else.
  task_window = CreateWindowExW(0, engine_inprocess::kTaskWindowClass, L"",
                                WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                engine_inprocess::ModuleInstance(), this);
  return task_window != nullptr;
}

void FlutterDesktopEngine::Run(FlutterDesktopViewController* view_controller) {
  controller = view_controller;
  // A headless engine that runs already gets its view, not a second start.
  if (running) return;
  running = true;
  interface_ = engine_inprocess::CreateInterface(properties.arguments, *this);
  if (interface_) interface_->Start();
}

void FlutterDesktopEngine::Shutdown(FlutterDesktopEngine* engine) {
  // The interface first: its own thread may be about to post work.
  engine->interface_.reset();
  {
    // From here on responses are dropped; whoever holds the lock finishes
    // first.
    std::lock_guard<std::recursive_mutex> lock(engine->messenger->lock);
    engine->messenger->engine = nullptr;
  }
  {
    engine_inprocess::Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto& live = registry.live_engines;
    live.erase(std::remove(live.begin(), live.end(), engine), live.end());
    ++registry.counts.engines_destroyed;
  }
  *engine->alive_ = false;
  if (engine->task_window != nullptr) {
    SetWindowLongPtrW(engine->task_window, GWLP_USERDATA, 0);
    DestroyWindow(engine->task_window);
  }
  delete engine;
}

int FlutterDesktopEngine::Deliver(
    std::string channel, std::vector<uint8_t> bytes, bool keep_response,
    std::function<void(const std::vector<uint8_t>&)> on_response) {
  FlutterDesktopMessageResponseHandle* handle = nullptr;
  int number = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    number = ++last_number;
    auto owned = std::make_unique<FlutterDesktopMessageResponseHandle>();
    handle = owned.get();
    handle->number = number;
    handle->keep_response = keep_response;
    handle->on_response = std::move(on_response);
    handles[handle] = handle;
    handles_by_number[number] = std::move(owned);
  }
  PostTask([this, handle, channel = std::move(channel),
            bytes = std::move(bytes)] { Dispatch(handle, channel, bytes); });
  return number;
}

void FlutterDesktopEngine::Dispatch(FlutterDesktopMessageResponseHandle* handle,
                                    const std::string& channel,
                                    const std::vector<uint8_t>& bytes) {
  auto found = callbacks.find(channel);
  if (found == callbacks.end()) {
    // Nobody listens on the channel: the message is answered empty.
    Respond(handle, nullptr, 0);
    return;
  }
  const Callback callback = found->second;
  FlutterDesktopMessage message = {};
  message.struct_size = sizeof(message);
  message.channel = channel.c_str();
  message.message = bytes.data();
  message.message_size = bytes.size();
  message.response_handle = handle;
  // The callback may unregister itself or even shut the engine down; nothing
  // of the engine is touched after it returns.
  callback.function(messenger, &message, callback.user_data);
}

void FlutterDesktopEngine::Respond(
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t size) {
  std::vector<uint8_t> bytes;
  if (data != nullptr) bytes.assign(data, data + size);
  std::function<void(const std::vector<uint8_t>&)> notify;
  bool valid = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = handles.find(handle);
    if (found != handles.end() && !found->second->answered) {
      valid = true;
      FlutterDesktopMessageResponseHandle* owned = found->second;
      owned->answered = true;
      if (owned->keep_response) owned->response = bytes;
      notify = owned->on_response;
    }
  }
  if (!valid) {
    Count([](engine_control::Counts& counts) { ++counts.invalid_responses; });
    return;
  }
  if (notify) {
    PostTask([notify = std::move(notify), bytes = std::move(bytes)] {
      notify(bytes);
    });
  }
}

void FlutterDesktopEngine::ReceiveFromProgram(const char* channel,
                                              const uint8_t* data, size_t size,
                                              FlutterDesktopBinaryReply reply,
                                              void* user_data) {
  engine_control::SentMessage message;
  message.channel = engine_inprocess::CopyNarrow(channel);
  if (data != nullptr) message.bytes.assign(data, data + size);
  message.wants_reply = reply != nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    sent.push_back(message);
  }
  // Through the task queue, so that the interface sees messages and
  // responses in the order the program produced them.
  PostTask([this, message = std::move(message)] {
    if (interface_)
      interface_->OnProgramMessage(message.channel, message.bytes);
  });
  if (reply != nullptr) {
    // The interface has no handlers of its own: every question gets an
    // empty answer.
    PostTask([reply, user_data] { reply(nullptr, 0, user_data); });
  }
}

void FlutterDesktopEngine::RequestFrame() {
  if (frame_pending) return;
  frame_pending = true;
  PostTask([this] { DrawFrame(); });
}

void FlutterDesktopEngine::DrawFrame() {
  frame_pending = false;
  Count([](engine_control::Counts& counts) { ++counts.frames_drawn; });
  FlutterDesktopOnNextFrameCallback callback = next_frame;
  next_frame = nullptr;
  if (callback != nullptr) callback(next_frame_user_data);
}

void FlutterDesktopEngine::PostTask(std::function<void()> task) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    tasks.push_back(std::move(task));
    wake = !wake_posted;
    wake_posted = true;
  }
  if (wake) PostMessageW(task_window, engine_inprocess::kRunTasksMessage, 0, 0);
}

void FlutterDesktopEngine::RunTasks() {
  std::vector<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> lock(mutex);
    batch.swap(tasks);
    wake_posted = false;
  }
  std::shared_ptr<bool> alive = alive_;
  for (auto& task : batch) {
    task();
    if (!*alive) return;
  }
}

void FlutterDesktopEngine::SendToProgram(
    const std::string& channel, std::vector<uint8_t> bytes,
    std::function<void(const std::vector<uint8_t>&)> on_response) {
  Deliver(channel, std::move(bytes), false, std::move(on_response));
}

void FlutterDesktopEngine::CloseTopLevelWindow() {
  if (controller == nullptr || controller->view.hwnd == nullptr) return;
  HWND root = controller->view.hwnd;
  while (HWND parent = GetParent(root)) root = parent;
  // Still parked under the engine's own window: nobody to close.
  if (root == task_window) return;
  PostMessageW(root, WM_CLOSE, 0, 0);
}

void FlutterDesktopEngine::WriteLine(const std::string& line) {
  std::function<void(const std::string&)> output;
  {
    engine_inprocess::Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    output = registry.output;
  }
  if (output) {
    output(line);
    return;
  }
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

LRESULT CALLBACK FlutterDesktopEngine::TaskWindowProc(HWND hwnd, UINT message,
                                                      WPARAM wparam,
                                                      LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  auto* engine = reinterpret_cast<FlutterDesktopEngine*>(
      GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == engine_inprocess::kRunTasksMessage) {
    if (engine != nullptr) engine->RunTasks();
    return 0;
  }
  // Only the engine itself ends its window.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// The engine functions of the API.

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  Count([](engine_control::Counts& counts) { ++counts.engine_create_calls; });
  if (properties == nullptr) return nullptr;
  auto* engine = new FlutterDesktopEngine(*properties);
  bool fail = false;
  {
    engine_inprocess::Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.last_properties = engine->properties;
    fail = registry.fail_engine_creation;
  }
  if (fail || !engine->Initialize()) {
    delete engine;
    return nullptr;
  }
  engine_inprocess::Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.live_engines.push_back(engine);
  return engine;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  Count([](engine_control::Counts& counts) { ++counts.engine_destroy_calls; });
  if (engine == nullptr || !engine_inprocess::IsLive(engine)) return false;
  if (engine->controller != nullptr) engine->controller->engine = nullptr;
  FlutterDesktopEngine::Shutdown(engine);
  return true;
}

bool FlutterDesktopEngineRun(FlutterDesktopEngineRef engine,
                             const char* /*entry_point*/) {
  if (engine == nullptr || !engine_inprocess::IsLive(engine) ||
      engine->running) {
    return false;
  }
  engine->Run(nullptr);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  return engine != nullptr ? engine->messenger : nullptr;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  if (engine == nullptr) return nullptr;
  const std::string name = engine_inprocess::CopyNarrow(plugin_name);
  auto& registrar = engine->registrars[name];
  if (!registrar) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
    registrar->engine = engine;
    registrar->plugin_name = name;
  }
  return registrar.get();
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  if (engine == nullptr) return;
  Count([](engine_control::Counts& counts) { ++counts.font_reloads; });
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  if (engine == nullptr) return;
  engine->next_frame = callback;
  engine->next_frame_user_data = user_data;
}

// The messenger functions of the API.

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  if (messenger == nullptr) return false;
  std::lock_guard<std::recursive_mutex> lock(messenger->lock);
  FlutterDesktopEngine* engine = messenger->engine;
  if (engine == nullptr) return false;
  engine->ReceiveFromProgram(channel, message, message_size, nullptr, nullptr);
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  if (messenger == nullptr) return false;
  {
    engine_inprocess::Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (registry.refuse_send_with_reply) return false;
  }
  std::lock_guard<std::recursive_mutex> lock(messenger->lock);
  FlutterDesktopEngine* engine = messenger->engine;
  if (engine == nullptr) return false;
  engine->ReceiveFromProgram(channel, message, message_size, reply, user_data);
  return true;
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length) {
  if (messenger == nullptr) return;
  messenger->Acquire();
  std::lock_guard<std::recursive_mutex> lock(messenger->lock, std::adopt_lock);
  FlutterDesktopEngine* engine = messenger->engine;
  if (engine == nullptr) {
    Count([](engine_control::Counts& counts) { ++counts.late_responses; });
    return;
  }
  engine->Respond(handle, data, data_length);
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  if (messenger == nullptr || channel == nullptr) return;
  FlutterDesktopEngine* engine = messenger->engine;
  if (engine == nullptr) return;
  if (callback == nullptr) {
    engine->callbacks.erase(channel);
  } else {
    engine->callbacks[channel] = {callback, user_data};
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr && --messenger->references == 0) delete messenger;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  if (messenger == nullptr) return nullptr;
  messenger->Acquire();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) messenger->lock.unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger != nullptr && messenger->engine != nullptr;
}

// Process-wide services.

UINT FlutterDesktopGetDpiForMonitor(HMONITOR) {
  UINT dpi = 0;
  {
    engine_inprocess::Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    dpi = registry.monitor_dpi;
  }
  // The stand-in knows no monitors apart: every one has the system's DPI.
  return dpi != 0 ? dpi : GetDpiForSystem();
}

void FlutterDesktopResyncOutputStreams(void) {
  std::fflush(stdout);
  std::fflush(stderr);
  Count([](engine_control::Counts& counts) { ++counts.output_resyncs; });
}
