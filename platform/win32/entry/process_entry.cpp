// The process entry Windows provides for a Unicode GUI program: calls
// wWinMain with the module, the command line after the program name, and
// SW_SHOWDEFAULT.
#include <windows.h>

int main() {
  LPWSTR line = GetCommandLineW();
  // Skip the program name as Windows does: quoted, or up to a blank.
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return wWinMain(GetModuleHandleW(nullptr), nullptr, line, SW_SHOWDEFAULT);
}
