// The program's entry point: console, COM, the engine project with the
// command-line arguments, the main window and its message loop.

#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/flutter_window.h"
#include "host/process_entry.h"
#include "messaging/engine_project.h"

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  // The parameters are not used: the command line and the module handle
  // are asked for again where they are needed.
  snapferry::AttachOrOpenConsole();

  // The result is not examined: the window and the engine need the
  // apartment, and nothing better can be done without it.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  flutter::EngineProject project(snapferry::kEngineDataDirectory);
  std::vector<std::string> command_line_arguments =
      snapferry::CommandLineArguments();
  project.set_entry_point_arguments(std::move(command_line_arguments));

  snapferry::FlutterWindow window(project);
  const snapferry::WindowPoint origin = snapferry::MainWindowOrigin();
  if (!window.Create(snapferry::kMainWindowTitle, origin,
                     snapferry::kMainWindowSize)) {
    return EXIT_FAILURE;
  }
  window.SetQuitWhenDestroyed(true);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  CoUninitialize();
  return EXIT_SUCCESS;
}
