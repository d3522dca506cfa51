// The console's output code page, and control events from POSIX signals: SIGINT
// is Ctrl+C, SIGTERM and SIGHUP the console being closed. The signal handler
// only writes the event to a pipe; a dispatcher thread turns each event into a
// new thread that runs the registered handlers, as Windows does.
#include <windows.h>
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Handlers {
  std::mutex mutex;
  std::vector<PHANDLER_ROUTINE> routines;  // in the order added
  bool ignore_ctrl_c = false;
  bool installed = false;
  int pipe_fds[2] = {-1, -1};
};

Handlers& GetHandlers() {
  // Never destroyed: the dispatcher may run while the process ends.
  static auto* handlers = new Handlers();
  return *handlers;
}

void OnSignal(int signal_number) {
  const int saved = errno;
  const char event = signal_number == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT;
  // Async-signal-safe; a full pipe drops the event.
  ssize_t ignored = write(GetHandlers().pipe_fds[1], &event, 1);
  (void)ignored;
  errno = saved;
}

// Ends the process as the signal's default action would.
[[noreturn]] void EndBySignal(int signal_number) {
  signal(signal_number, SIG_DFL);
  raise(signal_number);
  _exit(128 + signal_number);
}

void RunEvent(DWORD event) {
  Handlers& handlers = GetHandlers();
  std::vector<PHANDLER_ROUTINE> routines;
  bool ignore = false;
  {
    std::lock_guard<std::mutex> lock(handlers.mutex);
    routines = handlers.routines;
    ignore = handlers.ignore_ctrl_c;
  }
  if (event == CTRL_C_EVENT && ignore) return;
  bool handled = false;
  for (auto routine = routines.rbegin(); routine != routines.rend();
       ++routine) {
    if ((*routine)(event)) {
      handled = true;
      break;
    }
  }
  if (event == CTRL_CLOSE_EVENT) EndBySignal(SIGTERM);
  if (!handled) EndBySignal(SIGINT);
}

void Dispatch() {
  for (;;) {
    char event;
    const ssize_t count = read(GetHandlers().pipe_fds[0], &event, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count != 1) return;
    std::thread(RunEvent, static_cast<DWORD>(event)).detach();
  }
}

// Caller holds the mutex.
bool InstallLocked(Handlers& handlers) {
  if (handlers.installed) return true;
  if (pipe(handlers.pipe_fds) != 0) return false;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal_number, &action, nullptr);
  }
  std::thread(Dispatch).detach();
  handlers.installed = true;
  return true;
}

}  // namespace

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  Handlers& handlers = GetHandlers();
  std::lock_guard<std::mutex> lock(handlers.mutex);
  if (routine == nullptr) {
    handlers.ignore_ctrl_c = add != FALSE;
    return TRUE;
  }
  if (add) {
    if (!InstallLocked(handlers)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    handlers.routines.push_back(routine);
    return TRUE;
  }
  auto& routines = handlers.routines;
  auto found = std::find(routines.rbegin(), routines.rend(), routine);
  if (found == routines.rend()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  routines.erase(std::next(found).base());
  return TRUE;
}

namespace {
std::atomic<UINT> output_code_page{CP_UTF8};
}  // namespace

BOOL WINAPI SetConsoleOutputCP(UINT code_page) {
  if (code_page == 0 || code_page > 65535) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  output_code_page = code_page;
  return TRUE;
}

UINT WINAPI GetConsoleOutputCP() { return output_code_page; }
