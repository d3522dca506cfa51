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

  // The window and the engine need the apartment, and nothing better can be
  // done without it; but only a join that succeeded is left again.
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  int exit_code = EXIT_SUCCESS;
  {
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
    exit_code = snapferry::RunMessageLoop();
  }
  // The window, its engine and its channels, and every COM object they held,
  // are gone before the apartment is left.
  if (SUCCEEDED(joined)) CoUninitialize();
  return exit_code;
}
