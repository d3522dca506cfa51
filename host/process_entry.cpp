#include "host/process_entry.h"

#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>

#include "platform/engine/engine_api.h"

namespace snapferry {
namespace {

// The longest argument taken whole; longer ones are cut, not rejected.
constexpr size_t kMaxArgumentLength = 32767;

}  // namespace

void AttachOrOpenConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && IsDebuggerPresent()) {
    OpenDebugConsole();
  }
}

void OpenDebugConsole() {
  if (!AllocConsole()) return;
  FILE* unused = nullptr;
  if (freopen_s(&unused, "CONOUT$", "w", stdout) != 0) {
    _dup2(_fileno(stdout), 1);
  }
  if (freopen_s(&unused, "CONOUT$", "w", stderr) != 0) {
    _dup2(_fileno(stdout), 2);
  }
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}

std::vector<std::string> CommandLineArguments() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return {};
  std::vector<std::string> arguments;
  // The program name is not an argument.
  for (int i = 1; i < argc; ++i) arguments.push_back(ArgumentToUtf8(argv[i]));
  LocalFree(argv);
  return arguments;
}

std::string ArgumentToUtf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  const int length = static_cast<int>(wcsnlen(text, kMaxArgumentLength));
  // Strict: an unpaired surrogate fails the conversion instead of turning
  // into a replacement character.
  const int target_length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, nullptr,
                          0, nullptr, nullptr);
  if (target_length == 0) return std::string();
  std::string utf8(static_cast<size_t>(target_length), '\0');
  const int converted =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, &utf8[0],
                          target_length, nullptr, nullptr);
  if (converted == 0) return std::string();
  return utf8;
}

WindowPoint CenteredOrigin(const RECT& work_area, UINT dpi,
                           const WindowSize& size) {
  const double scale = dpi / 96.0;
  const int32_t width =
      static_cast<int32_t>((work_area.right - work_area.left) / scale);
  const int32_t height =
      static_cast<int32_t>((work_area.bottom - work_area.top) / scale);
  const int32_t x_offset = width > size.width ? (width - size.width) / 2 : 0;
  const int32_t y_offset =
      height > size.height ? (height - size.height) / 2 : 0;
  return {static_cast<int32_t>(work_area.left / scale + x_offset),
          static_cast<int32_t>(work_area.top / scale + y_offset)};
}

int RunMessageLoop() {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return EXIT_SUCCESS;
    if (got == -1) return EXIT_FAILURE;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

WindowPoint MainWindowOrigin() {
  RECT work_area = {0, 0, 1280, 720};
  // On failure the default area above stays.
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0);
  return CenteredOrigin(work_area, GetDpiForSystem(), kMainWindowSize);
}

}  // namespace snapferry
