#include "host/win32_window.h"

#include <dwmapi.h>

#include "platform/engine/engine_api.h"

namespace snapferry {
namespace {

// Not in every SDK's dwmapi.h under this name; the value is fixed.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;

constexpr wchar_t kPersonalizeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kLightThemeValue[] = L"AppsUseLightTheme";

int32_t live_window_count = 0;

using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);

// Turns on the scaling of the title bar and borders where the system has it
// (it is missing before Windows 10 1607).
void EnableFullDpiSupportIfAvailable(HWND hwnd) {
  HMODULE user32 = LoadLibraryA("User32.dll");
  if (user32 == nullptr) return;
  auto enable = reinterpret_cast<EnableNonClientDpiScalingFunction>(
      reinterpret_cast<void*>(
          GetProcAddress(user32, "EnableNonClientDpiScaling")));
  if (enable != nullptr) enable(hwnd);
  FreeLibrary(user32);
}

// Truncates toward zero, as the window manager's own scaling does.
int Scale(int32_t source, double scale) {
  return static_cast<int>(source * scale);
}

// Whether the window class is registered; made on first use, kept for the
// life of the process.
class WindowClassRegistry {
 public:
  static WindowClassRegistry& Get() {
    static WindowClassRegistry* registry = new WindowClassRegistry();
    return *registry;
  }

  const wchar_t* GetWindowClass() {
    if (!registered_) {
      WNDCLASSW window_class = {};
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.lpfnWndProc = Win32Window::WindowProcedure;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.hIcon = LoadIconW(window_class.hInstance,
                                     MAKEINTRESOURCEW(kAppIconResourceId));
      window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      window_class.lpszClassName = kWindowClassName;
      // A failure shows as a failed CreateWindowExW; trying again would fail
      // the same way.
      RegisterClassW(&window_class);
      registered_ = true;
    }
    return kWindowClassName;
  }

  void UnregisterWindowClass() {
    UnregisterClassW(kWindowClassName, GetModuleHandleW(nullptr));
    registered_ = false;
  }

 private:
  bool registered_ = false;
};

}  // namespace

Win32Window::Win32Window() { ++live_window_count; }

Win32Window::~Win32Window() {
  --live_window_count;
  Destroy();
}

int32_t Win32Window::LiveWindowCount() { return live_window_count; }

bool Win32Window::Create(const std::wstring& title, const WindowPoint& origin,
                         const WindowSize& size) {
  Destroy();
  const wchar_t* window_class = WindowClassRegistry::Get().GetWindowClass();

  // The monitor is looked up with the logical origin: its DPI decides the
  // scale, so the physical position is not known yet.
  const POINT target_point = {static_cast<LONG>(origin.x),
                              static_cast<LONG>(origin.y)};
  HMONITOR monitor = MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale = dpi / 96.0;

  HWND window =
      CreateWindowExW(0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW,
                      Scale(origin.x, scale), Scale(origin.y, scale),
                      Scale(size.width, scale), Scale(size.height, scale),
                      nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window == nullptr) return false;

  ApplySystemTheme(window);
  return OnCreated();
}

bool Win32Window::Show() { return ShowWindow(handle_, SW_SHOWNORMAL) != 0; }

void Win32Window::Destroy() {
  OnDestroyed();
  if (handle_ != nullptr) {
    DestroyWindow(handle_);
    handle_ = nullptr;
  }
  if (live_window_count == 0) {
    WindowClassRegistry::Get().UnregisterWindowClass();
  }
}

void Win32Window::EmbedChild(HWND child) {
  child_ = child;
  RECT frame = ClientArea();
  SetParent(child, handle_);
  MoveWindow(child, frame.left, frame.top, frame.right - frame.left,
             frame.bottom - frame.top, TRUE);
  SetFocus(child);
}

RECT Win32Window::ClientArea() {
  RECT frame = {};
  GetClientRect(handle_, &frame);
  return frame;
}

LRESULT CALLBACK Win32Window::WindowProcedure(HWND hwnd, UINT message,
                                              WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    EnableFullDpiSupportIfAvailable(hwnd);
    auto* that = static_cast<Win32Window*>(create->lpCreateParams);
    that->handle_ = hwnd;
  } else if (auto* that = reinterpret_cast<Win32Window*>(
                 GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
    return that->HandleMessage(hwnd, message, wparam, lparam);
  }
  // WM_NCCREATE, and whatever comes before it (WM_GETMINMAXINFO).
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT Win32Window::HandleMessage(HWND hwnd, UINT message, WPARAM wparam,
                                   LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      // Cleared first, so that Destroy() does not destroy the window again.
      handle_ = nullptr;
      Destroy();
      if (quit_when_destroyed_) PostQuitMessage(0);
      return 0;

    case WM_DPICHANGED: {
      auto* suggested = reinterpret_cast<RECT*>(lparam);
      SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left,
                   suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_SIZE:
      if (child_ != nullptr) {
        RECT frame = ClientArea();
        MoveWindow(child_, frame.left, frame.top, frame.right - frame.left,
                   frame.bottom - frame.top, TRUE);
      }
      return 0;

    case WM_ACTIVATE:
      if (child_ != nullptr) SetFocus(child_);
      return 0;

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplySystemTheme(hwnd);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

bool Win32Window::OnCreated() { return true; }

void Win32Window::OnDestroyed() {}

void ApplySystemTheme(HWND hwnd) {
  DWORD light_mode = 0;
  DWORD light_mode_size = sizeof(light_mode);
  LSTATUS result =
      RegGetValueW(HKEY_CURRENT_USER, kPersonalizeKey, kLightThemeValue,
                   RRF_RT_REG_DWORD, nullptr, &light_mode, &light_mode_size);
  // No value (or one of another type): the title bar keeps its look.
  if (result != ERROR_SUCCESS) return;
  BOOL enable_dark_mode = light_mode == 0;
  DwmSetWindowAttribute(hwnd, kDwmUseImmersiveDarkMode, &enable_dark_mode,
                        sizeof(enable_dark_mode));
}

}  // namespace snapferry
