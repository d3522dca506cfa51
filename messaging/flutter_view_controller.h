// The engine's view and the controller that owns the view and the engine.

#ifndef SNAPFERRY_MESSAGING_FLUTTER_VIEW_CONTROLLER_H_
#define SNAPFERRY_MESSAGING_FLUTTER_VIEW_CONTROLLER_H_

#include <windows.h>

#include <memory>
#include <optional>

#include "messaging/engine_project.h"
#include "messaging/flutter_engine.h"
#include "platform/engine/engine_api.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  // The view's child window.
  HWND ViewWindow() const { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopViewRef view_;
};

class FlutterViewController {
 public:
  // Creates the engine from `project` and its view, `width` by `height`
  // physical pixels, which starts the engine. On failure there is no view.
  FlutterViewController(int width, int height, const EngineProject& project);
  // Destroys the view and the engine.
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  std::shared_ptr<FlutterEngine> engine() const { return engine_; }
  // Null when creation failed.
  FlutterView* view() const { return view_.get(); }

  void ForceRedraw();

  // Offers a message of the top-level window to the engine: its result when
  // the engine consumed it, else none.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd, UINT message,
                                                  WPARAM wparam, LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // SNAPFERRY_MESSAGING_FLUTTER_VIEW_CONTROLLER_H_
