// The window manager's state: classes, windows, per-thread focus and
// activation, and message queues. One lock guards classes, windows and
// per-thread state; each queue has its own. Neither is held while a window
// procedure runs.
#ifndef SNAPFERRY_PLATFORM_WIN32_SRC_WINDOW_STATE_H_
#define SNAPFERRY_PLATFORM_WIN32_SRC_WINDOW_STATE_H_

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace win32_standin::internal {

struct WindowClass {
  std::wstring name;
  ATOM atom;
  WNDCLASSW info;
};

struct Window {
  HWND handle;
  DWORD thread;
  ATOM class_atom;
  WNDPROC proc;
  HINSTANCE instance;
  std::wstring title;
  DWORD style;
  DWORD ex_style;
  HWND parent = nullptr;       // for child windows
  std::vector<HWND> children;  // top of the z-order first
  RECT rect;                   // screen coordinates, or the parent's client
                               // coordinates for a child
  LONG_PTR user_data = 0;
  LONG_PTR id = 0;
  bool needs_paint = false;
  bool destroying = false;
  // DestroyWindow was called on this window itself (not only on an
  // ancestor): a child can still be destroyed on its own from its parent's
  // WM_DESTROY, as on Windows.
  bool destroy_called = false;
  bool non_client_dpi_scaling = false;
  std::map<DWORD, std::vector<BYTE>> dwm_attributes;
};

struct ThreadUi {
  HWND focus = nullptr;
  HWND active = nullptr;
};

struct WindowTable {
  std::mutex mutex;
  std::vector<WindowClass> classes;
  ATOM next_atom = 0xC000;
  std::map<HWND, std::unique_ptr<Window>> windows;
  uintptr_t next_handle = 0x10010;
  std::map<DWORD, ThreadUi> threads;
};

WindowTable& Windows();

// Lookups with Windows().mutex held.
Window* FindWindowLocked(HWND hwnd);
WindowClass* FindClassLocked(LPCWSTR name);

// The frame around the client area for a style at a DPI.
RECT FrameInsets(DWORD style, UINT dpi);
// The window's DPI (its monitor's); lock held.
UINT WindowDpiLocked(const Window& window);
// Client area size; lock held.
SIZE ClientSizeLocked(const Window& window);
// The top-level ancestor; lock held.
HWND TopLevelLocked(HWND hwnd);

struct SentMessage;

struct TimerEntry {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC proc;
  ULONGLONG due;
};

struct MessageQueue {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<MSG> posted;
  bool quit = false;
  int quit_code = 0;
  std::vector<TimerEntry> timers;
  std::deque<std::shared_ptr<SentMessage>> sent;
};

std::shared_ptr<MessageQueue> QueueOf(DWORD thread);
void WakeQueue(DWORD thread);

// Sends a message to a window of the calling thread, or through its owner
// thread's queue otherwise.
LRESULT Send(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Queues `message` for the thread of `hwnd` as a message another process
// sent (the system's broadcasts): it runs when that thread next looks at its
// queue, before posted messages, and the caller does not wait for it. lParam
// points at `payload`, which lives until the message has run. False when the
// window does not exist or is being destroyed.
bool SendFromSystem(HWND hwnd, UINT message, WPARAM wparam,
                    std::vector<unsigned char> payload);

// Removes posted messages and timers of a window that is going away.
void ForgetWindowMessages(DWORD thread, HWND hwnd);

// Makes `top` the calling thread's active window, with WM_ACTIVATE to the
// previous one and to it.
void Activate(HWND top);

void ResetWindowObservations();
void RecordPosted(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
void RecordQuit(int code);

}  // namespace win32_standin::internal

#endif  // SNAPFERRY_PLATFORM_WIN32_SRC_WINDOW_STATE_H_
