#include "importer/run_import.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "channel/jobs.h"
#include "channel/wpd_channel_handler.h"
#include "importer/console_page.h"
#include "importer/device_report.h"
#include "importer/import_session.h"
#include "messaging/binary_messenger.h"
#include "platform/engine/engine_api.h"
#include "platform/engine/inprocess/interface.h"

namespace importer {
namespace {

constexpr wchar_t kWindowClass[] = L"SnapferryImporter";
// Private to the importer's window: Ctrl+C or the console closing.
constexpr UINT kInterruptMessage = WM_APP + 0x43;

// The window of the import running now, for the console control handler,
// which Windows calls on a thread of its own.
std::atomic<HWND> running_window{nullptr};
// Ctrl+C events of the import running now.
std::atomic<int> interrupts{0};

struct Loop {
  snapferry::WpdChannelHandler* handler = nullptr;
  ConsoleSession* session = nullptr;
  std::shared_ptr<const CallCounts> counts;
  std::map<UINT_PTR, std::function<void()>> timers;
  UINT_PTR last_timer = 0;
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  auto* loop = reinterpret_cast<Loop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (loop != nullptr) {
    if (message == snapferry::kReplyReadyMessage) {
      if (loop->handler != nullptr) loop->handler->DrainReplyQueue();
      return 0;
    }
    if (message == WM_DEVICECHANGE && loop->handler != nullptr) {
      loop->handler->HandleDeviceChange(wparam, lparam);
      return TRUE;
    }
    if (message == kInterruptMessage) {
      if (loop->session != nullptr) loop->session->Interrupt();
      return 0;
    }
    if (message == WM_TIMER) {
      KillTimer(hwnd, wparam);
      auto found = loop->timers.find(wparam);
      if (found != loop->timers.end()) {
        std::function<void()> task = std::move(found->second);
        loop->timers.erase(found);
        task();
      }
      return 0;
    }
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  HWND window = running_window.load();
  if (window == nullptr) return FALSE;
  // The first Ctrl+C stops the import cleanly. A second one, or the console
  // closing, ends the process at once: a read that does not heed the
  // cancel must not keep it. What can be left then is a complete staging
  // file between its copy and its move, which the next import into the
  // folder removes; a copy still running goes with its handle.
  if (event == CTRL_CLOSE_EVENT || interrupts.fetch_add(1) > 0) {
    RestoreConsoleOutput();
    std::fflush(stdout);
    ExitProcess(kExitInterrupted);
  }
  InterruptRunningImport();
  return TRUE;
}

HWND CreateMessageWindow(Loop* loop) {
  static const bool registered = [] {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    return RegisterClassW(&window_class) != 0;
  }();
  if (!registered) return nullptr;
  HWND window =
      CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                      nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) {
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(loop));
  }
  return window;
}

}  // namespace

void InterruptRunningImport() {
  HWND window = running_window.load();
  if (window != nullptr) PostMessageW(window, kInterruptMessage, 0, 0);
}

int RunImport(const Options& options, const Output& output,
              CallCounts* counts) {
  interrupts = 0;
  // The result is not examined, as in the windowed program: the engine's
  // window needs the apartment and nothing better can be done without it.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  Loop loop;
  HWND window = CreateMessageWindow(&loop);
  int exit_code = kExitNotStarted;
  if (window == nullptr) {
    output.write_line("Cannot create the importer's message window.");
    if (SUCCEEDED(com)) CoUninitialize();
    return exit_code;
  }

  Environment environment;
  environment.write_line = output.write_line;
  environment.show_status = output.show_status;
  environment.after = [&loop, window](int milliseconds,
                                      std::function<void()> task) {
    const UINT_PTR id = ++loop.last_timer;
    loop.timers[id] = std::move(task);
    SetTimer(window, id, static_cast<UINT>(milliseconds), nullptr);
  };
  environment.finished = [](int code) { PostQuitMessage(code); };

  // The engine starts the session as its interface when it runs.
  engine_inprocess::SetDefaultInterface(
      [&loop, &options, &environment](const std::vector<std::string>&,
                                      engine_inprocess::InterfaceHost& host) {
        std::unique_ptr<ConsoleSession> session;
        if (options.report.empty()) {
          session = std::make_unique<ImportSession>(options, environment, host);
        } else {
          session = std::make_unique<DeviceReport>(options, environment, host);
        }
        loop.session = session.get();
        loop.counts = session->call_counts();
        return session;
      });
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = L"";
  properties.icu_data_path = L"";
  properties.aot_library_path = L"";
  properties.entry_point = "";
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  if (engine == nullptr) {
    output.write_line("Cannot start the in-process engine.");
  } else {
    auto messenger = std::make_unique<flutter::BinaryMessengerImpl>(
        FlutterDesktopEngineGetMessenger(engine));
    auto handler =
        std::make_unique<snapferry::WpdChannelHandler>(messenger.get(), window);
    handler->SetUnplugNoticePause(
        std::chrono::milliseconds(options.unplug_notice_milliseconds));
    loop.handler = handler.get();
    running_window = window;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    FlutterDesktopEngineRun(engine, nullptr);
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (message.message == WM_QUIT)
      exit_code = static_cast<int>(message.wParam);

    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    running_window = nullptr;
    // The channels go before the engine's messenger; the session goes with
    // the engine.
    loop.handler = nullptr;
    handler.reset();
    messenger.reset();
    loop.session = nullptr;
    FlutterDesktopEngineDestroy(engine);
  }
  if (counts != nullptr && loop.counts != nullptr) *counts = *loop.counts;
  engine_inprocess::SetDefaultInterface(nullptr);
  for (const auto& timer : loop.timers) KillTimer(window, timer.first);
  DestroyWindow(window);
  if (SUCCEEDED(com)) CoUninitialize();
  return exit_code;
}

}  // namespace importer
