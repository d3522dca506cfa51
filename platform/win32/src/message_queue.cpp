// Per-thread message queues: posted messages, the quit flag, timers, paint
// requests and messages sent from other threads, retrieved in Windows's
// order: sent messages are handled first, then posted messages, then the quit
// message, then WM_PAINT, then WM_TIMER.
#include <windows.h>

#include <algorithm>
#include <map>

#include "platform/win32/src/failure_injection.h"
#include "platform/win32/src/window_state.h"
#include "win32_standin/control.h"

namespace win32_standin::internal {

struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  LRESULT result = 0;
  // What lparam points at, for a message the system sends (SendFromSystem).
  std::vector<unsigned char> payload;
};

namespace {

std::mutex queues_mutex;
std::map<DWORD, std::shared_ptr<MessageQueue>>& Queues() {
  static auto* queues = new std::map<DWORD, std::shared_ptr<MessageQueue>>();
  return *queues;
}

// Observations for the control surface.
std::mutex observed_mutex;
std::vector<PostedMessage>& Posted() {
  static auto* posted = new std::vector<PostedMessage>();
  return *posted;
}
bool quit_posted = false;
int quit_code = 0;

// Posts a test asked to fail: which message (0 for any), how many more
// (negative: all), and the error.
struct PostFailure {
  UINT message = 0;
  int remaining = 0;
  DWORD error = 0;
};
PostFailure post_failure;  // observed_mutex

// True, with the error, when this post is to fail; counts it.
bool TakePostFailure(UINT message, DWORD* error) {
  std::lock_guard<std::mutex> lock(observed_mutex);
  PostFailure& failure = post_failure;
  if (failure.remaining == 0) return false;
  if (failure.message != 0 && failure.message != message) return false;
  if (failure.remaining > 0) --failure.remaining;
  *error = failure.error;
  return true;
}

InjectedFailure& GetMessageFailure() {
  static InjectedFailure failure;
  return failure;
}

bool Matches(const MSG& msg, HWND hwnd, UINT low, UINT high) {
  if (hwnd != nullptr && msg.hwnd != hwnd) return false;
  if (low == 0 && high == 0) return true;
  return msg.message >= low && msg.message <= high;
}

DWORD Now() { return static_cast<DWORD>(GetTickCount64()); }

// Runs messages that other threads sent to this thread's windows.
void HandleSentMessages(MessageQueue& queue) {
  for (;;) {
    std::shared_ptr<SentMessage> sent;
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      if (queue.sent.empty()) return;
      sent = queue.sent.front();
      queue.sent.pop_front();
    }
    const LRESULT result =
        Send(sent->hwnd, sent->message, sent->wparam, sent->lparam);
    std::lock_guard<std::mutex> lock(sent->mutex);
    sent->result = result;
    sent->done = true;
    sent->done_signal.notify_all();
  }
}

// A visible window of `thread` that waits to be painted.
HWND WindowToPaint(DWORD thread, HWND filter) {
  auto& table = Windows();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (auto& entry : table.windows) {
    const Window& window = *entry.second;
    if (window.thread != thread || !window.needs_paint || window.destroying)
      continue;
    if (filter != nullptr && window.handle != filter) continue;
    bool shown = true;
    for (const Window* at = &window; at != nullptr;
         at = FindWindowLocked(at->parent)) {
      if (!(at->style & WS_VISIBLE)) shown = false;
      if (at->parent == nullptr) break;
    }
    if (shown) return window.handle;
  }
  return nullptr;
}

enum class Found { kNone, kMessage, kQuit };

// One look at the queue, in retrieval order; `remove` takes what it finds.
Found LookOnce(MessageQueue& queue, MSG* msg, HWND hwnd, UINT low, UINT high,
               bool remove, ULONGLONG* next_timer) {
  const DWORD thread = GetCurrentThreadId();
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    auto it =
        std::find_if(queue.posted.begin(), queue.posted.end(),
                     [&](const MSG& m) { return Matches(m, hwnd, low, high); });
    if (it != queue.posted.end()) {
      *msg = *it;
      if (remove) queue.posted.erase(it);
      return Found::kMessage;
    }
    if (queue.quit) {
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quit_code),
                 0,       Now(),   {0, 0}};
      if (remove) queue.quit = false;
      return Found::kQuit;
    }
  }
  const MSG paint_probe{nullptr, WM_PAINT, 0, 0, 0, {0, 0}};
  if (low == 0 && high == 0 ? true : Matches(paint_probe, nullptr, low, high)) {
    if (HWND target = WindowToPaint(thread, hwnd)) {
      *msg = MSG{target, WM_PAINT, 0, 0, Now(), {0, 0}};
      return Found::kMessage;
    }
  }
  std::lock_guard<std::mutex> lock(queue.mutex);
  const ULONGLONG now = GetTickCount64();
  TimerEntry* due = nullptr;
  for (auto& timer : queue.timers) {
    if (hwnd != nullptr && timer.hwnd != hwnd) continue;
    if (timer.due <= now && (due == nullptr || timer.due < due->due))
      due = &timer;
    if (next_timer != nullptr && timer.due < *next_timer)
      *next_timer = timer.due;
  }
  const MSG timer_probe{nullptr, WM_TIMER, 0, 0, 0, {0, 0}};
  if (due != nullptr && Matches(timer_probe, nullptr, low, high)) {
    *msg =
        MSG{due->hwnd, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->proc),
            Now(),     {0, 0}};
    if (remove) due->due = now + due->elapse;
    return Found::kMessage;
  }
  return Found::kNone;
}

}  // namespace

std::shared_ptr<MessageQueue> QueueOf(DWORD thread) {
  std::lock_guard<std::mutex> lock(queues_mutex);
  auto& queue = Queues()[thread];
  if (!queue) queue = std::make_shared<MessageQueue>();
  return queue;
}

void WakeQueue(DWORD thread) {
  auto queue = QueueOf(thread);
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->wake.notify_all();
}

void ForgetWindowMessages(DWORD thread, HWND hwnd) {
  auto queue = QueueOf(thread);
  std::lock_guard<std::mutex> lock(queue->mutex);
  auto& posted = queue->posted;
  posted.erase(std::remove_if(posted.begin(), posted.end(),
                              [&](const MSG& m) { return m.hwnd == hwnd; }),
               posted.end());
  auto& timers = queue->timers;
  timers.erase(
      std::remove_if(timers.begin(), timers.end(),
                     [&](const TimerEntry& t) { return t.hwnd == hwnd; }),
      timers.end());
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC proc;
  DWORD thread;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    proc = window->proc;
    thread = window->thread;
  }
  const DWORD self = GetCurrentThreadId();
  if (thread == self) return proc(hwnd, message, wparam, lparam);

  // Another thread's window: it runs the message when it next looks at its
  // queue; this thread waits, handling what is sent to it meanwhile.
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->message = message;
  sent->wparam = wparam;
  sent->lparam = lparam;
  auto target = QueueOf(thread);
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    target->sent.push_back(sent);
    target->wake.notify_all();
  }
  auto own = QueueOf(self);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(sent->mutex);
      if (sent->done_signal.wait_for(lock, std::chrono::milliseconds(5),
                                     [&] { return sent->done; })) {
        return sent->result;
      }
    }
    HandleSentMessages(*own);
  }
}

bool SendFromSystem(HWND hwnd, UINT message, WPARAM wparam,
                    std::vector<unsigned char> payload) {
  DWORD thread;
  {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr || window->destroying) return false;
    thread = window->thread;
  }
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->message = message;
  sent->wparam = wparam;
  sent->payload = std::move(payload);
  sent->lparam = reinterpret_cast<LPARAM>(sent->payload.data());
  // Nobody waits: the queue's reference keeps the payload until it has run.
  auto target = QueueOf(thread);
  std::lock_guard<std::mutex> lock(target->mutex);
  target->sent.push_back(std::move(sent));
  target->wake.notify_all();
  return true;
}

void RecordPosted(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  std::lock_guard<std::mutex> lock(observed_mutex);
  Posted().push_back({hwnd, message, wparam, lparam, GetCurrentThreadId()});
}

void RecordQuit(int code) {
  std::lock_guard<std::mutex> lock(observed_mutex);
  quit_posted = true;
  quit_code = code;
}

void ResetWindowObservations() {
  std::lock_guard<std::mutex> lock(observed_mutex);
  Posted().clear();
  quit_posted = false;
  quit_code = 0;
  post_failure = PostFailure();
  GetMessageFailure().Clear();
}

}  // namespace win32_standin::internal

namespace win32_standin {

void FailGetMessageW(DWORD error, int times) {
  internal::GetMessageFailure().Arm(static_cast<int32_t>(error), times);
}

std::vector<PostedMessage> PostedMessages() {
  std::lock_guard<std::mutex> lock(internal::observed_mutex);
  return internal::Posted();
}

void FailPostMessageW(DWORD error, int times, UINT message) {
  std::lock_guard<std::mutex> lock(internal::observed_mutex);
  internal::post_failure = {message, times, error};
}

bool QuitPosted(int* exit_code) {
  std::lock_guard<std::mutex> lock(internal::observed_mutex);
  if (internal::quit_posted && exit_code != nullptr)
    *exit_code = internal::quit_code;
  return internal::quit_posted;
}

}  // namespace win32_standin

using namespace win32_standin::internal;

BOOL WINAPI PostMessageW(HWND hwnd, UINT message, WPARAM wparam,
                         LPARAM lparam) {
  DWORD thread = GetCurrentThreadId();
  if (hwnd != nullptr) {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    // A window being destroyed still takes messages, as on Windows; they are
    // dropped with it.
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    thread = window->thread;
  }
  DWORD error = 0;
  if (TakePostFailure(message, &error)) {
    SetLastError(error);
    return FALSE;
  }
  auto queue = QueueOf(thread);
  std::lock_guard<std::mutex> lock(queue->mutex);
  if (queue->posted.size() >= win32_standin::kPostedMessageQuota) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  RecordPosted(hwnd, message, wparam, lparam);
  queue->posted.push_back(MSG{hwnd,
                              message,
                              wparam,
                              lparam,
                              static_cast<DWORD>(GetTickCount64()),
                              {0, 0}});
  queue->wake.notify_all();
  return TRUE;
}

LRESULT WINAPI SendMessageW(HWND hwnd, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  return Send(hwnd, message, wparam, lparam);
}

BOOL WINAPI GetMessageW(LPMSG msg, HWND hwnd, UINT low, UINT high) {
  if (msg == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return -1;
  }
  if (hwnd != nullptr && !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  int32_t injected;
  if (GetMessageFailure().Take(&injected)) {
    SetLastError(static_cast<DWORD>(injected));
    return -1;
  }
  auto queue = QueueOf(GetCurrentThreadId());
  for (;;) {
    HandleSentMessages(*queue);
    ULONGLONG next_timer = ~0ull;
    switch (LookOnce(*queue, msg, hwnd, low, high, true, &next_timer)) {
      case Found::kMessage:
        return TRUE;
      case Found::kQuit:
        return FALSE;
      case Found::kNone:
        break;
    }
    std::unique_lock<std::mutex> lock(queue->mutex);
    // Anything that arrived since the look wakes us at once; otherwise sleep
    // until something is posted or sent, or the next timer is due.
    if (!queue->posted.empty() || queue->quit || !queue->sent.empty()) continue;
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG wait =
        next_timer == ~0ull ? 50 : (next_timer > now ? next_timer - now : 0);
    queue->wake.wait_for(
        lock, std::chrono::milliseconds(std::min<ULONGLONG>(wait, 50)));
  }
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND hwnd, UINT low, UINT high,
                         UINT remove) {
  if (msg == nullptr) return FALSE;
  auto queue = QueueOf(GetCurrentThreadId());
  HandleSentMessages(*queue);
  return LookOnce(*queue, msg, hwnd, low, high, (remove & PM_REMOVE) != 0,
                  nullptr) != Found::kNone
             ? TRUE
             : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  // No keyboard here: nothing to translate into characters.
  return msg != nullptr &&
                 (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP)
             ? TRUE
             : FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* msg) {
  if (msg == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(
        msg->hwnd, WM_TIMER, msg->wParam, static_cast<DWORD>(GetTickCount64()));
    return 0;
  }
  if (msg->hwnd == nullptr) return 0;
  return Send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int code) {
  RecordQuit(code);
  auto queue = QueueOf(GetCurrentThreadId());
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->quit = true;
  queue->quit_code = code;
  queue->wake.notify_all();
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  DWORD thread = GetCurrentThreadId();
  if (hwnd != nullptr) {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    thread = window->thread;
  }
  elapse = std::max<UINT>(elapse, USER_TIMER_MINIMUM);
  auto queue = QueueOf(thread);
  std::lock_guard<std::mutex> lock(queue->mutex);
  if (hwnd == nullptr) {
    // A thread timer gets an id of the system's choosing.
    static UINT_PTR next_id = 0x7F00;
    id = ++next_id;
  }
  auto& timers = queue->timers;
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [&](const TimerEntry& t) {
                                return t.hwnd == hwnd && t.id == id;
                              }),
               timers.end());
  timers.push_back({hwnd, id, elapse, proc, GetTickCount64() + elapse});
  queue->wake.notify_all();
  return id == 0 ? 1 : id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  DWORD thread = GetCurrentThreadId();
  if (hwnd != nullptr) {
    auto& table = Windows();
    std::lock_guard<std::mutex> lock(table.mutex);
    Window* window = FindWindowLocked(hwnd);
    if (window == nullptr) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    thread = window->thread;
  }
  auto queue = QueueOf(thread);
  std::lock_guard<std::mutex> lock(queue->mutex);
  auto& timers = queue->timers;
  const auto before = timers.size();
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [&](const TimerEntry& t) {
                                return t.hwnd == hwnd && t.id == id;
                              }),
               timers.end());
  if (timers.size() == before) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
