// A program with a Unicode GUI entry point: prints what wWinMain was given
// and how the command line splits, for the process-entry test.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line,
                    int show) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::printf("instance=%d previous=%d show=%d argc=%d", instance != nullptr,
              previous != nullptr, show, count);
  for (int i = 1; i < count; ++i) std::printf(" [%ls]", arguments[i]);
  std::printf(" tail=[%ls]\n", command_line);
  LocalFree(arguments);
  return count == 3 ? 0 : 1;
}
