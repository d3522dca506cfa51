// The stand-in's view controller and view: the view is a real child window.

#include <memory>
#include <mutex>

#include "platform/engine/inprocess/engine.h"

namespace {

constexpr wchar_t kViewWindowClass[] = L"SnapferryEngineView";

LRESULT CALLBACK ViewWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* view = static_cast<FlutterDesktopView*>(create->lpCreateParams);
    view->hwnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  } else if (message == WM_NCDESTROY) {
    // The window may go with its parent before the controller does.
    auto* view = reinterpret_cast<FlutterDesktopView*>(
        GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (view != nullptr) view->hwnd = nullptr;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void RegisterViewClass() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = ViewWindowProc;
    window_class.hInstance = engine_inprocess::ModuleInstance();
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kViewWindowClass;
    RegisterClassW(&window_class);
  });
}

}  // namespace

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  using engine_inprocess::GetRegistry;
  engine_inprocess::Count(
      [](engine_control::Counts& counts) { ++counts.controller_create_calls; });
  if (engine == nullptr || !engine_inprocess::IsLive(engine)) return nullptr;
  bool fail = false;
  {
    std::lock_guard<std::mutex> lock(GetRegistry().mutex);
    fail = GetRegistry().fail_view_controller_creation;
  }
  auto controller = std::make_unique<FlutterDesktopViewController>();
  controller->engine = engine;
  if (!fail) {
    RegisterViewClass();
    // Parked under the engine's hidden window until the program embeds it.
    HWND hwnd =
        CreateWindowExW(0, kViewWindowClass, L"", WS_CHILD | WS_VISIBLE, 0, 0,
                        width, height, engine->task_window, nullptr,
                        engine_inprocess::ModuleInstance(), &controller->view);
    if (hwnd != nullptr) controller->view.hwnd = hwnd;
  }
  if (controller->view.hwnd == nullptr) {
    // The engine was handed over with the call: it goes with the failure.
    FlutterDesktopEngine::Shutdown(engine);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(GetRegistry().mutex);
    ++GetRegistry().live_controllers;
  }
  engine->Run(controller.get());
  return controller.release();
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  using engine_inprocess::GetRegistry;
  engine_inprocess::Count([](engine_control::Counts& counts) {
    ++counts.controller_destroy_calls;
  });
  if (controller == nullptr) return;
  if (controller->view.hwnd != nullptr) DestroyWindow(controller->view.hwnd);
  if (controller->engine != nullptr) {
    FlutterDesktopEngine::Shutdown(controller->engine);
  }
  {
    std::lock_guard<std::mutex> lock(GetRegistry().mutex);
    --GetRegistry().live_controllers;
  }
  delete controller;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  return controller != nullptr ? &controller->view : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  if (controller != nullptr && controller->engine != nullptr) {
    controller->engine->RequestFrame();
  }
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (controller == nullptr) return false;
  engine_control::WindowProcHook hook;
  {
    engine_inprocess::Registry& registry = engine_inprocess::GetRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    hook = registry.window_proc_hook;
  }
  if (!hook) return false;
  std::optional<LRESULT> consumed = hook(hwnd, message, wparam, lparam);
  if (!consumed) return false;
  if (result != nullptr) *result = *consumed;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view != nullptr ? view->hwnd : nullptr;
}
