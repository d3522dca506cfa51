#include "importer/console_page.h"

#include <windows.h>

#include <atomic>

namespace importer {
namespace {

// 0: nothing to give back (no console, or nothing changed yet).
std::atomic<UINT> found_page{0};

}  // namespace

void UseUtf8ConsoleOutput() {
  found_page = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
}

void RestoreConsoleOutput() {
  const UINT page = found_page.exchange(0);
  if (page != 0) SetConsoleOutputCP(page);
}

}  // namespace importer
