// The command line, its splitting into arguments, and LocalFree.
#include <windows.h>
#include <shellapi.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/src/environment.h"
#include "platform/win32/src/wide_text.h"

namespace {

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() &&
      argument.find_first_of(L" \t\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

// The process's own arguments, as Windows would have received them.
std::wstring CommandLineOfThisProcess() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), {});
  std::wstring line;
  size_t start = 0;
  while (start < raw.size()) {
    const size_t end = raw.find('\0', start);
    const std::string argument = raw.substr(start, end - start);
    if (!line.empty()) line.push_back(L' ');
    line += Quote(win32_standin::internal::WideFromNarrow(argument));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return line;
}

}  // namespace

LPWSTR WINAPI GetCommandLineW() {
  // Windows hands out one buffer for the life of the process; it changes
  // here only when a test sets another command line.
  static std::mutex buffer_mutex;
  static auto* buffer = new std::wstring();
  std::wstring wanted;
  {
    auto& env = win32_standin::internal::Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    wanted = env.command_line;
  }
  if (wanted.empty()) wanted = CommandLineOfThisProcess();
  std::lock_guard<std::mutex> lock(buffer_mutex);
  if (*buffer != wanted) *buffer = wanted;
  return &(*buffer)[0];
}

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR line, int* count) {
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::wstring> arguments;
  if (line == nullptr || *line == L'\0') {
    // Windows answers the executable's path.
    arguments.push_back(win32_standin::internal::WideFromNarrow([] {
      char path[4096];
      const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
      return std::string(path, n > 0 ? static_cast<size_t>(n) : 0);
    }()));
  } else {
    const wchar_t* at = line;
    // The program name: up to the next blank, or within quotes; no escapes.
    std::wstring program;
    if (*at == L'"') {
      ++at;
      while (*at != L'\0' && *at != L'"') program.push_back(*at++);
      if (*at == L'"') ++at;
    } else {
      while (*at != L'\0' && *at != L' ' && *at != L'\t')
        program.push_back(*at++);
    }
    arguments.push_back(program);
    // The others: 2n backslashes before a quote give n and the quote
    // toggles quoting; 2n+1 give n and a literal quote; other backslashes are
    // literal. Inside quotes, a doubled quote is a literal quote.
    while (*at == L' ' || *at == L'\t') ++at;
    while (*at != L'\0') {
      std::wstring argument;
      bool quoted = false;
      while (*at != L'\0' && (quoted || (*at != L' ' && *at != L'\t'))) {
        if (*at == L'\\') {
          size_t backslashes = 0;
          while (*at == L'\\') {
            ++backslashes;
            ++at;
          }
          if (*at == L'"') {
            argument.append(backslashes / 2, L'\\');
            if (backslashes % 2 == 1) {
              argument.push_back(L'"');
              ++at;
            }
          } else {
            argument.append(backslashes, L'\\');
          }
        } else if (*at == L'"') {
          ++at;
          if (quoted && *at == L'"') {
            argument.push_back(L'"');
            ++at;
          } else {
            quoted = !quoted;
          }
        } else {
          argument.push_back(*at++);
        }
      }
      arguments.push_back(argument);
      while (*at == L' ' || *at == L'\t') ++at;
    }
  }
  size_t bytes = (arguments.size() + 1) * sizeof(LPWSTR);
  for (const auto& argument : arguments)
    bytes += (argument.size() + 1) * sizeof(wchar_t);
  auto* block = static_cast<LPWSTR*>(std::malloc(bytes));
  auto* text = reinterpret_cast<wchar_t*>(block + arguments.size() + 1);
  for (size_t i = 0; i < arguments.size(); ++i) {
    block[i] = text;
    std::memcpy(text, arguments[i].c_str(),
                (arguments[i].size() + 1) * sizeof(wchar_t));
    text += arguments[i].size() + 1;
  }
  block[arguments.size()] = nullptr;
  *count = static_cast<int>(arguments.size());
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}
