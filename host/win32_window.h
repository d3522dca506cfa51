// The application's top-level window: a DPI-scaled overlapped window that
// follows the system's app theme in its title bar and hosts one child window
// (the engine's view) over its whole client area.
//
// UI thread only: the live-window count and the class registry are not
// locked.

#ifndef SNAPFERRY_HOST_WIN32_WINDOW_H_
#define SNAPFERRY_HOST_WIN32_WINDOW_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace snapferry {

// In logical pixels (96 per inch).
struct WindowPoint {
  int32_t x;
  int32_t y;
};
struct WindowSize {
  int32_t width;
  int32_t height;
};

// The class name every Win32Window registers and creates.
inline constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
// The application icon group in the executable's resources.
inline constexpr int kAppIconResourceId = 101;

class Win32Window {
 public:
  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the native window, hidden, at `origin` with `size` scaled to the
  // DPI of the monitor nearest to `origin`. A second call replaces the first
  // window. False when the window could not be created; otherwise what
  // OnCreated() answers.
  bool Create(const std::wstring& title, const WindowPoint& origin,
              const WindowSize& size);
  bool Show();
  // OnDestroyed(), then the native window goes; the window class goes too
  // once no Win32Window object is left.
  void Destroy();

  // Makes `child` the hosted window: it fills the client area and gets the
  // focus.
  void EmbedChild(HWND child);
  RECT ClientArea();
  HWND Handle() { return handle_; }
  // Whether destroying the native window ends the message loop.
  void SetQuitWhenDestroyed(bool quit_when_destroyed) {
    quit_when_destroyed_ = quit_when_destroyed;
  }

  // The window class's procedure: routes every message after WM_NCCREATE to
  // the object's HandleMessage.
  static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message,
                                          WPARAM wparam, LPARAM lparam);

  // Live Win32Window objects in the process.
  static int32_t LiveWindowCount();

 protected:
  virtual LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wparam,
                                LPARAM lparam);
  // Called by Create once the native window exists; false fails Create.
  virtual bool OnCreated();
  // Called by Destroy and when the native window is destroyed.
  virtual void OnDestroyed();

 private:
  bool quit_when_destroyed_ = false;
  HWND handle_ = nullptr;
  HWND child_ = nullptr;
};

// Darkens the title bar of `hwnd` when the user's app theme is dark; leaves
// it alone when the theme cannot be read.
void ApplySystemTheme(HWND hwnd);

}  // namespace snapferry

#endif  // SNAPFERRY_HOST_WIN32_WINDOW_H_
