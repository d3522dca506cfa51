// The application's main window: hosts the engine's view, serves the device
// channels, and runs their completions when a worker signals one.

#ifndef SNAPFERRY_HOST_FLUTTER_WINDOW_H_
#define SNAPFERRY_HOST_FLUTTER_WINDOW_H_

#include <windows.h>

#include <memory>

#include "channel/wpd_channel_handler.h"
#include "host/win32_window.h"
#include "messaging/engine_project.h"
#include "messaging/flutter_view_controller.h"

namespace snapferry {

// The smallest window the layout still fits in, in logical pixels.
inline constexpr int kMinimumWindowWidth = 520;
inline constexpr int kMinimumWindowHeight = 480;

class FlutterWindow : public Win32Window {
 public:
  // Keeps a copy of `project`; the engine starts when the window is created.
  explicit FlutterWindow(const flutter::EngineProject& project);
  ~FlutterWindow() override;

 protected:
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wparam,
                        LPARAM lparam) override;
  // Starts the engine in the client area, registers the plugins and the
  // device channels, embeds the view and shows the window after the engine's
  // next frame. False when the engine or its view could not be made.
  bool OnCreated() override;
  // The channel handler goes before the engine it is registered with.
  void OnDestroyed() override;

 private:
  flutter::EngineProject project_;
  std::unique_ptr<flutter::FlutterViewController> controller_;
  std::unique_ptr<WpdChannelHandler> wpd_handler_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_HOST_FLUTTER_WINDOW_H_
