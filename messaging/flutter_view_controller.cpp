#include "messaging/flutter_view_controller.h"

#include <iostream>

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height,
                                             const EngineProject& project) {
  engine_ = std::make_shared<FlutterEngine>(project);
  // From here on the controller handle owns the engine.
  controller_ = FlutterDesktopViewControllerCreate(width, height,
                                                   engine_->ReleaseOwnership());
  if (controller_ == nullptr) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  view_ = std::make_unique<FlutterView>(
      FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  // Destroys the engine too; the engine object, which no longer owns it,
  // only lets go of its messenger.
  if (controller_ != nullptr) FlutterDesktopViewControllerDestroy(controller_);
  view_.reset();
  engine_.reset();
}

void FlutterViewController::ForceRedraw() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerForceRedraw(controller_);
  }
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(
    HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  // A controller whose creation failed has no engine to ask.
  if (controller_ == nullptr) return std::nullopt;
  LRESULT result = 0;
  if (FlutterDesktopViewControllerHandleTopLevelWindowProc(
          controller_, hwnd, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
