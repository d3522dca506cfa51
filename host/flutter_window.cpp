#include "host/flutter_window.h"

#include <optional>

#include "channel/jobs.h"
#include "messaging/plugin_registry.h"

namespace snapferry {

FlutterWindow::FlutterWindow(const flutter::EngineProject& project)
    : project_(project) {}

FlutterWindow::~FlutterWindow() {
  wpd_handler_.reset();
  controller_.reset();
}

bool FlutterWindow::OnCreated() {
  if (!Win32Window::OnCreated()) return false;

  RECT frame = ClientArea();
  // The view gets the client area in physical pixels.
  controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!controller_->engine() || !controller_->view()) return false;

  flutter::RegisterLinkedPlugins(controller_->engine().get());
  // The top-level window, not the view: the reply-ready message must reach
  // this window's HandleMessage.
  wpd_handler_ = std::make_unique<WpdChannelHandler>(
      controller_->engine()->messenger(), Handle());
  EmbedChild(controller_->view()->ViewWindow());

  // Registered before the redraw is asked for, so the frame that follows
  // shows the window.
  controller_->engine()->SetNextFrameCallback([this]() { this->Show(); });
  controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnDestroyed() {
  // Channels unregister while the engine's messenger still exists.
  std::unique_ptr<WpdChannelHandler> handler = std::move(wpd_handler_);
  handler.reset();
  std::unique_ptr<flutter::FlutterViewController> controller =
      std::move(controller_);
  controller.reset();
  Win32Window::OnDestroyed();
}

LRESULT FlutterWindow::HandleMessage(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam) {
  if (message == WM_GETMINMAXINFO) {
    const UINT dpi = GetDpiForWindow(hwnd);
    auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
    info->ptMinTrackSize.x = MulDiv(kMinimumWindowWidth, dpi, 96);
    info->ptMinTrackSize.y = MulDiv(kMinimumWindowHeight, dpi, 96);
    return 0;
  }
  if (message == kReplyReadyMessage) {
    // After destruction began there is no handler, and the completions the
    // message stood for go unrun.
    if (wpd_handler_) wpd_handler_->DrainReplyQueue();
    return 0;
  }
  if (message == WM_DEVICECHANGE && wpd_handler_) {
    // A WPD device came or went; the engine and the default handling still
    // see the message.
    wpd_handler_->HandleDeviceChange(wparam, lparam);
  }

  if (controller_) {
    std::optional<LRESULT> result =
        controller_->HandleTopLevelWindowProc(hwnd, message, wparam, lparam);
    if (result) return *result;
  }

  if (message == WM_FONTCHANGE && controller_) {
    controller_->engine()->ReloadSystemFonts();
  }
  return Win32Window::HandleMessage(hwnd, message, wparam, lparam);
}

}  // namespace snapferry
