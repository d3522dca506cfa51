// The pieces of the process entry: console, command line and the main
// window's placement.

#ifndef SNAPFERRY_HOST_PROCESS_ENTRY_H_
#define SNAPFERRY_HOST_PROCESS_ENTRY_H_

#include <windows.h>

#include <string>
#include <vector>

#include "host/win32_window.h"

namespace snapferry {

inline constexpr wchar_t kMainWindowTitle[] = L"Snapferry";
inline constexpr WindowSize kMainWindowSize = {640, 640};
// The engine's files, relative to the working directory.
inline constexpr wchar_t kEngineDataDirectory[] = L"data";

// Attaches to the console of the process that started this one. Without
// one, a process run under a debugger opens a console of its own, so that
// what goes to standard output and error can be seen.
void AttachOrOpenConsole();

// Gives the process a new console and points standard output and error at
// it. Nothing happens when no console can be made.
void OpenDebugConsole();

// The command-line arguments after the program name, in UTF-8.
std::vector<std::string> CommandLineArguments();

// `text` (NUL-terminated UTF-16, at most its first 32767 units) in UTF-8; ""
// for a null pointer or text that is not valid UTF-16.
std::string ArgumentToUtf8(const wchar_t* text);

// Where the main window goes, in logical pixels: centred in `work_area`
// (physical pixels at `dpi`) along each axis where `size` fits, else at the
// work area's edge.
WindowPoint CenteredOrigin(const RECT& work_area, UINT dpi,
                           const WindowSize& size);

// Runs the calling thread's message loop until the quit message: 0 then, 1
// when GetMessageW fails (the loop ends rather than spin on a message it
// did not get).
int RunMessageLoop();

// CenteredOrigin of the primary work area at the system DPI (a 1280 by 720
// area when the system cannot tell).
WindowPoint MainWindowOrigin();

}  // namespace snapferry

#endif  // SNAPFERRY_HOST_PROCESS_ENTRY_H_
